// The manual pages say what the programs' --help says: each page lists the
// same options (and quillomere-tag's the same commands), with the same
// arguments, and every page renders without a warning.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/ShellCommand.h"

namespace qm::test {
namespace {

namespace fs = std::filesystem;

std::string collapseBlanks(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == ' ' && (out.empty() || out.back() == ' ')) continue;
        out += c;
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

// ---- --help ----

// The entries of a --help text: lines indented by exactly two blanks, up to
// the first run of two blanks (where the description starts).
std::string entryOf(const std::string& line) {
    std::string text = line.substr(2);
    const size_t gap = text.find("  ");
    return collapseBlanks(gap == std::string::npos ? text : text.substr(0, gap));
}

bool isEntry(const std::string& line) {
    return line.size() > 2 && line.starts_with("  ") && line[2] != ' ';
}

std::vector<std::string> helpOptions(const std::string& help) {
    std::vector<std::string> out;
    for (const std::string& line : outputLines(help))
        if (isEntry(line) && line[2] == '-') out.push_back(entryOf(line));
    std::sort(out.begin(), out.end());
    return out;
}

// The entries under "Commands:", up to the next blank line.
std::vector<std::string> helpCommands(const std::string& help) {
    std::vector<std::string> out;
    bool inside = false;
    for (const std::string& line : outputLines(help)) {
        if (line == "Commands:") {
            inside = true;
        } else if (line.empty()) {
            inside = false;
        } else if (inside && isEntry(line)) {
            out.push_back(entryOf(line));
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

// ---- manual pages ----

std::vector<std::string> splitArguments(const std::string& s) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && s[i] == ' ')
            ++i;
        if (i >= s.size()) break;
        std::string arg;
        if (s[i] == '"') {
            ++i;
            while (i < s.size() && s[i] != '"')
                arg += s[i++];
            ++i;
        } else {
            while (i < s.size() && s[i] != ' ')
                arg += s[i++];
        }
        out.push_back(arg);
    }
    return out;
}

std::string unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 >= s.size()) {
            out += s[i];
            continue;
        }
        const char next = s[++i];
        if (next == '-') {
            out += '-';
        } else if (next == 'f' && i + 1 < s.size()) {
            ++i;  // a font change prints nothing
        } else if (next == 'e') {
            out += '\\';
        } else if (next == '&') {
        } else {
            out += '\\';
            out += next;
        }
    }
    return out;
}

// What a line of roff prints: the font macros join their arguments (the
// alternating ones without blanks), other text is as written.
std::string printed(const std::string& line) {
    for (const char* joined : {".B ", ".I "})
        if (line.starts_with(joined)) {
            std::string out;
            for (const std::string& a : splitArguments(line.substr(3)))
                out += (out.empty() ? "" : " ") + a;
            return collapseBlanks(unescape(out));
        }
    for (const char* alternating : {".BR ", ".BI ", ".IB ", ".IR ", ".RB ", ".RI "})
        if (line.starts_with(alternating)) {
            std::string out;
            for (const std::string& a : splitArguments(line.substr(4)))
                out += a;
            return collapseBlanks(unescape(out));
        }
    return collapseBlanks(unescape(line));
}

// The tags of the .TP paragraphs of one section.
std::vector<std::string> pageEntries(const std::string& page, const std::string& section) {
    std::vector<std::string> out;
    const std::vector<std::string> all = outputLines(page);
    bool inside = false;
    for (size_t i = 0; i < all.size(); ++i) {
        if (all[i].starts_with(".SH ")) inside = all[i] == ".SH " + section;
        if (inside && all[i] == ".TP" && i + 1 < all.size()) out.push_back(printed(all[i + 1]));
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::string readAll(const fs::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct Program {
    const char* path;
    const char* page;
    bool hasCommands;
};

TEST(ManualPagesTest, EachPageListsTheOptionsAndCommandsOfItsProgramsHelp) {
    const fs::path manuals = QM_MANUALS;
    for (const Program& p : {Program{QM_PROGRAM, "quillomere.1", false},
                             Program{QM_INDEX_TOOL, "quillomere-index.1", false},
                             Program{QM_TAG_TOOL, "quillomere-tag.1", true}}) {
        SCOPED_TRACE(p.page);
        // --help needs no display: a terminal without one still gets it.
        auto [status, help] = runShell(std::string("env -u DISPLAY -u WAYLAND_DISPLAY '") + p.path + "' --help");
        ASSERT_EQ(status, 0) << help;
        const std::string page = readAll(manuals / p.page);
        ASSERT_FALSE(page.empty());

        const std::vector<std::string> options = helpOptions(help);
        EXPECT_GE(options.size(), 2u) << help;
        EXPECT_EQ(pageEntries(page, "OPTIONS"), options);
        if (p.hasCommands) {
            const std::vector<std::string> commands = helpCommands(help);
            EXPECT_EQ(commands.size(), 5u) << help;
            EXPECT_EQ(pageEntries(page, "COMMANDS"), commands);
        }
        // The page's header names the version the programs are.
        EXPECT_NE(outputLines(page).at(0).find("\"Quillomere " QM_VERSION "\""), std::string::npos) << outputLines(page).at(0);

        // Rendered as man(1) does, with every warning on: none.
        auto [groffStatus, warnings] = runShell("groff -man -ww -z -Tutf8 '" + (manuals / p.page).string() + "' 2>&1");
        EXPECT_EQ(groffStatus, 0);
        EXPECT_EQ(warnings, "");
    }
}

TEST(ManualPagesTest, TheProgramsVersionAndUsageErrors) {
    auto [status, version] = runShell(std::string("'") + QM_PROGRAM + "' --version");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(version, "quillomere " QM_VERSION "\n");
    auto [badStatus, bad] = runShell(std::string("'") + QM_PROGRAM + "' --frobnicate 2>&1");
    EXPECT_EQ(badStatus, 2);
    EXPECT_EQ(bad, "quillomere: unknown option --frobnicate\nTry 'quillomere --help'.\n");
    // Qt's own options are not ours: refused, not taken as a display setting.
    EXPECT_EQ(runShell(std::string("'") + QM_PROGRAM + "' -platform offscreen 2>&1").first, 2);
    EXPECT_EQ(runShell(std::string("'") + QM_PROGRAM + "' --service /tmp 2>&1").first, 2);
}

}  // namespace
}  // namespace qm::test
