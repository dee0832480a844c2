#include "core/UriList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "core/DirectoryReader.h"
#include "core/FileURL.h"
#include "support/ShellCommand.h"
#include "support/TempDir.h"

namespace qm {
namespace {

// Names other programs hand us: not UTF-8, control bytes, URI punctuation,
// and a literal "%25" beside the "%" it would decode to.
const std::vector<std::string> kHostileNames = {
    "a b.jpg",     "x#y.png",   "50%.gif",      "50%25.gif", "line\nbreak.txt", "cr\r.txt",
    "caf\xE9.jpg", "\xFF\xFE",  " lead trail ", "tab\t",     "q?uery",          "\xC3\xA9t\xC3\xA9.jpg",
    "#first",      "a;b&c=d+e", "back\\slash",  "'quote\"",  "~tilde",          "semi:colon",
};

// Each file holds as many bytes as its place in the list plus one, so a size
// says which file a program found.
std::vector<std::string> makeFiles(const test::TempDir& dir) {
    std::vector<std::string> paths;
    for (size_t i = 0; i < kHostileNames.size(); ++i) {
        paths.push_back((dir.path() / kHostileNames[i]).string());
        test::writeFile(paths.back(), std::string(i + 1, 'x'));
    }
    return paths;
}

std::set<std::string> pathsOf(const std::vector<std::string>& uris) {
    std::set<std::string> out;
    for (const std::string& uri : uris)
        if (auto p = pathForFileURL(uri)) out.insert(*p);
    return out;
}

TEST(UriList, HostileNamesMakeOneCleanLineEachThatGioFindsAgain) {
    test::TempDir dir;
    const std::vector<std::string> paths = makeFiles(dir);
    const std::string list = UriList::forPaths(paths);

    // Only printable ASCII but the line ends, and every line ends in CRLF.
    size_t lines = 0;
    for (size_t i = 0; i < list.size(); ++i) {
        const unsigned char c = list[i];
        if (c == '\r') {
            ASSERT_LT(i + 1, list.size());
            EXPECT_EQ(list[i + 1], '\n');
            ++lines;
            ++i;
            continue;
        }
        EXPECT_TRUE(c > ' ' && c < 0x7F) << "byte " << int(c) << " at " << i;
    }
    EXPECT_TRUE(list.ends_with("\r\n"));
    EXPECT_EQ(lines, paths.size());

    // Read back: the same paths in the same order, byte for byte.
    const std::vector<std::string> uris = UriList::uris(list);
    ASSERT_EQ(uris.size(), paths.size());
    for (size_t i = 0; i < paths.size(); ++i)
        EXPECT_EQ(pathForFileURL(uris[i]), paths[i]) << uris[i];

    // GLib, reading each URL as a file manager would, reaches that same file.
    for (size_t i = 0; i < uris.size(); ++i) {
        auto [status, out] =
            test::runShell("gio info -a standard::size " + test::shellQuoted(uris[i]) + " 2>&1");
        EXPECT_EQ(status, 0) << uris[i] << "\n" << out;
        EXPECT_NE(out.find("standard::size: " + std::to_string(i + 1) + "\n"), std::string::npos)
            << uris[i] << "\n"
            << out;
    }

    // QuickStrings make the same list.
    std::vector<QuickString> quick;
    for (const std::string& p : paths)
        quick.push_back(QuickString::path(p));
    EXPECT_EQ(UriList::forPaths(quick), list);
}

TEST(UriList, ReadsTheListsOtherProgramsWrite) {
    test::TempDir dir;
    const std::vector<std::string> paths = makeFiles(dir);
    std::set<std::string> onDisk;
    DirectoryReader reader = DirectoryReader::open(dir.path().string());
    while (const dirent* e = reader.next())
        onDisk.insert((dir.path() / e->d_name).string());
    ASSERT_EQ(onDisk.size(), kHostileNames.size());

    // GLib's URIs, one per line with bare LF ends, escaped its own way
    // ("+", "=", "&" and ":" left as they are).
    auto [status, out] = test::runShell("gio list -u " + test::shellQuoted(dir.path().string()));
    ASSERT_EQ(status, 0);
    const std::vector<std::string> gioLines = test::outputLines(out);
    ASSERT_EQ(gioLines.size(), onDisk.size());
    EXPECT_EQ(pathsOf(UriList::uris(out)), onDisk);

    // The same as a drag carries it: CRLF ends, comments, blank lines, stray
    // white space around a line, a bare LF and no end on the last line.
    std::string dragged = "# dragged from the file manager\r\n\r\n";
    for (size_t i = 0; i < gioLines.size(); ++i) {
        if (i == 3) dragged += "#" + gioLines[i] + "\r\n";  // a commented-out copy counts for nothing
        if (i == 5)
            dragged += "  \t" + gioLines[i] + " \r\n";
        else if (i == 7)
            dragged += gioLines[i] + "\n";
        else
            dragged += gioLines[i] + (i + 1 == gioLines.size() ? "" : "\r\n");
        if (i == 9) dragged += "\r\n# a comment between\r\n";
    }
    const std::vector<std::string> uris = UriList::uris(dragged);
    EXPECT_EQ(uris.size(), gioLines.size());
    EXPECT_EQ(pathsOf(uris), onDisk);
    EXPECT_TRUE(std::none_of(uris.begin(), uris.end(), [](const std::string& u) {
        return u.empty() || u.front() == ' ' || u.back() == '\r' || u.back() == ' ';
    }));

    EXPECT_TRUE(UriList::uris("").empty());
    EXPECT_TRUE(UriList::uris("# only a comment\r\n\r\n   \r\n").empty());
}

}  // namespace
}  // namespace qm
