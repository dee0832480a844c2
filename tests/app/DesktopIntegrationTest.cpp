// The desktop entry and the AppStream description pass the desktop's own
// validators, and installing puts the program, the index tool and these
// files where desktops look for them.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/ShellCommand.h"
#include "support/TempDir.h"

namespace qm::test {
namespace {

namespace fs = std::filesystem;

// The build tree: the test programs live in its tests/ folder.
fs::path buildDir() {
    return fs::read_symlink("/proc/self/exe").parent_path().parent_path();
}

// The source tree's desktop folder, as the build tree's cache names it.
fs::path desktopDir() {
    std::ifstream cache(buildDir() / "CMakeCache.txt");
    const std::string key = "CMAKE_HOME_DIRECTORY:INTERNAL=";
    for (std::string line; std::getline(cache, line);)
        if (line.starts_with(key)) return fs::path(line.substr(key.size())) / "src/app/desktop";
    return {};
}

TEST(DesktopIntegrationTest, DesktopEntryAndMetainfoValidate) {
    const fs::path entry = desktopDir() / "org.quillomere.Quillomere.desktop";
    const fs::path metainfo = desktopDir() / "org.quillomere.Quillomere.metainfo.xml";
    ASSERT_TRUE(fs::exists(entry)) << entry;
    auto [entryStatus, entryOutput] = runShell("desktop-file-validate " + shellQuoted(entry) + " 2>&1");
    EXPECT_EQ(entryStatus, 0) << entryOutput;
    EXPECT_EQ(entryOutput, "");
    // Offered for folders by file managers, with URIs, and started over the bus.
    const std::string text = readFile(entry);
    for (const char* line : {"\nExec=quillomere %U\n", "\nMimeType=inode/directory;\n", "\nDBusActivatable=true\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line;
    auto [metaStatus, metaOutput] = runShell("appstreamcli validate --no-net " + shellQuoted(metainfo) + " 2>&1");
    EXPECT_EQ(metaStatus, 0) << metaOutput;
}

TEST(DesktopIntegrationTest, InstallPlacesProgramToolAndDesktopFiles) {
    TempDir prefix("qm-prefix");
    auto [status, output] = runShell("cmake --install " + shellQuoted(buildDir()) + " --prefix " + shellQuoted(prefix.path()) + " 2>&1");
    ASSERT_EQ(status, 0) << output;
    for (const char* rel : {"bin/quillomere", "bin/quillomere-index"}) {
        const fs::path p = prefix.path() / rel;
        EXPECT_TRUE(fs::exists(p)) << rel;
        EXPECT_NE(fs::status(p).permissions() & fs::perms::owner_exec, fs::perms::none) << rel;
    }
    for (const char* rel : {"share/applications/org.quillomere.Quillomere.desktop",
                            "share/metainfo/org.quillomere.Quillomere.metainfo.xml",
                            "share/icons/hicolor/scalable/apps/org.quillomere.Quillomere.svg",
                            "share/man/man1/quillomere.1.gz", "share/man/man1/quillomere-tag.1.gz",
                            "share/man/man1/quillomere-index.1.gz", "share/doc/quillomere/copyright",
                            "share/doc/quillomere/changelog.gz"})
        EXPECT_TRUE(fs::is_regular_file(prefix.path() / rel)) << rel;
    // The pages are the repository's, compressed.
    auto [pageStatus, page] = runShell("gzip -dc " + shellQuoted(prefix.path() / "share/man/man1/quillomere-tag.1.gz"));
    EXPECT_EQ(pageStatus, 0);
    EXPECT_EQ(page, readFile(desktopDir() / "../../../data/man/quillomere-tag.1"));
    // The bus starts the program where this install put it.
    EXPECT_EQ(readFile(prefix.path() / "share/dbus-1/services/org.quillomere.Quillomere.service"),
              "[D-BUS Service]\nName=org.quillomere.Quillomere\nExec=" + (prefix.path() / "bin/quillomere").string() +
                  " --service\n");
}

TEST(DesktopIntegrationTest, WithoutADisplayTheProgramSaysSoInOneLineAndFails) {
    const fs::path program = buildDir() / "src/app/quillomere";
    ASSERT_TRUE(fs::exists(program));
    auto [status, output] = runShell("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + shellQuoted(program) + " 2>&1");
    EXPECT_NE(status, 0);
    EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 1) << output;
    EXPECT_NE(output.find("no display"), std::string::npos) << output;
}

}  // namespace
}  // namespace qm::test
