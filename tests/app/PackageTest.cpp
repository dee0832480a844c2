// The Debian package, made by CPack from this build tree's programs (nothing
// is built again): it holds exactly what `cmake --install` places, under
// /usr and owned by root, with the control fields apt needs and dependencies
// covering every library the programs load.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/ShellCommand.h"
#include "support/TempDir.h"

namespace qm::test {
namespace {

namespace fs = std::filesystem;

// The package names of a Depends field, alternatives included, without versions.
std::set<std::string> dependedOn(const std::string& field) {
    std::set<std::string> out;
    std::string name;
    bool inVersion = false;
    for (char c : field + ",") {
        if (c == '(') inVersion = true;
        if (c == ')') inVersion = false;
        if (inVersion) continue;
        if (c == ',' || c == '|' || c == ' ') {
            if (!name.empty() && name != ")") out.insert(name);
            name.clear();
        } else if (c != ')') {
            name += c;
        }
    }
    return out;
}

// The Debian packages owning the shared libraries a program names itself
// (its NEEDED entries), found where the loader finds them (ldd).
std::set<std::string> libraryPackages(const fs::path& program) {
    std::set<std::string> needed;
    for (const std::string& line : outputLines(runShell("objdump -p " + shellQuoted(program)).second)) {
        std::istringstream words(line);
        std::string key, name;
        if (words >> key >> name && key == "NEEDED") needed.insert(name);
    }
    std::set<std::string> out;
    for (const std::string& line : outputLines(runShell("ldd " + shellQuoted(program)).second)) {
        std::istringstream words(line);
        std::string name, arrow, path;
        if (!(words >> name >> arrow)) continue;
        // The loader, named when a library's code asks it for thread-local storage,
        // is listed by its path alone.
        if (name.front() == '/' && needed.contains(fs::path(name).filename().string())) {
            path = name;
            name = fs::path(name).filename().string();
        } else if (arrow != "=>" || !(words >> path) || !needed.contains(name)) {
            continue;
        }
        // A library reached through /lib is registered under /usr/lib (merged /usr).
        std::string owner = runShell("dpkg -S " + shellQuoted(fs::path(path)) + " 2>/dev/null || dpkg -S " +
                                shellQuoted(fs::canonical(path)) + " 2>/dev/null").second;
        owner = owner.substr(0, owner.find_first_of(":\n"));
        EXPECT_FALSE(owner.empty()) << path << " belongs to no package";
        if (!owner.empty()) out.insert(owner);
        needed.erase(name);
    }
    EXPECT_TRUE(needed.empty()) << "not found by ldd: " << *needed.begin();
    return out;
}

TEST(PackageTest, HoldsWhatInstallPlacesUnderUsrWithItsDependencies) {
    const fs::path build = QM_BUILD_DIR;
    TempDir work("qm-package");

    auto [status, output] = runShell("cd " + shellQuoted(work.path()) + " && cpack --config " +
                                shellQuoted(build / "CPackConfig.cmake") + " -B " + shellQuoted(work.path()) + " 2>&1");
    ASSERT_EQ(status, 0) << output;
    const fs::path deb = work / ("quillomere_" QM_VERSION "_amd64.deb");
    ASSERT_TRUE(fs::is_regular_file(deb)) << output;

    // Control fields.
    auto field = [&](const char* name) { return runShell("dpkg-deb -f " + shellQuoted(deb) + " " + name).second; };
    EXPECT_EQ(field("Package"), "quillomere\n");
    EXPECT_EQ(field("Version"), QM_VERSION "\n");
    EXPECT_EQ(field("Architecture"), "amd64\n");
    EXPECT_EQ(field("Section"), "utils\n");
    EXPECT_EQ(field("Priority"), "optional\n");
    EXPECT_NE(field("Maintainer").find('@'), std::string::npos);
    const std::string description = field("Description");
    EXPECT_TRUE(description.starts_with("browse and organise files by their tags\n")) << description;
    EXPECT_GT(outputLines(description).size(), 4u) << "a long description too";

    // Every library the programs load comes with the package's dependencies,
    // and so do the plugins and data no binary names.
    const std::set<std::string> depends = dependedOn(field("Depends"));
    std::set<std::string> needed;
    for (const char* program : {QM_PROGRAM, QM_TAG_TOOL, QM_INDEX_TOOL})
        needed.merge(libraryPackages(program));
    EXPECT_TRUE(needed.contains("libqt6widgets6")) << "ldd found too little";
    needed.insert({"qt6-image-formats-plugins", "hicolor-icon-theme", "adwaita-icon-theme", "shared-mime-info",
                   "gstreamer1.0-plugins-good"});
    for (const std::string& package : needed)
        EXPECT_TRUE(depends.contains(package)) << package << " missing from Depends: " << field("Depends");

    // The files: exactly what `cmake --install` places under /usr, owned
    // by root, programs executable, nothing writable by others.
    const fs::path root = work / "root";
    auto [installStatus, installOutput] =
        runShell("DESTDIR=" + shellQuoted(root) + " cmake --install " + shellQuoted(build) + " --prefix /usr 2>&1");
    ASSERT_EQ(installStatus, 0) << installOutput;
    std::set<std::string> installed;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (!entry.is_directory()) installed.insert("./" + fs::relative(entry.path(), root).string());

    auto [listStatus, listing] = runShell("dpkg-deb -c " + shellQuoted(deb));
    ASSERT_EQ(listStatus, 0);
    std::set<std::string> packaged;
    for (const std::string& line : outputLines(listing)) {
        if (line.empty()) continue;
        // "-rwxr-xr-x root/root 1234 2026-01-01 00:00 ./usr/bin/quillomere"
        std::istringstream fieldsOf(line);
        std::string mode, owner, size, date, time, path;
        fieldsOf >> mode >> owner >> size >> date >> time >> path;
        EXPECT_EQ(owner, "root/root") << line;
        EXPECT_TRUE(path.starts_with("./usr/")) << line;
        EXPECT_NE(mode[8], 'w') << line;
        if (mode[0] == 'd') continue;
        packaged.insert(path);
        const bool isProgram = path.starts_with("./usr/bin/");
        EXPECT_EQ(mode, isProgram ? "-rwxr-xr-x" : "-rw-r--r--") << line;
    }
    EXPECT_EQ(packaged, installed);
    for (const char* expected : {"./usr/bin/quillomere", "./usr/bin/quillomere-tag", "./usr/bin/quillomere-index",
                                 "./usr/share/man/man1/quillomere.1.gz", "./usr/share/doc/quillomere/copyright",
                                 "./usr/share/applications/org.quillomere.Quillomere.desktop"})
        EXPECT_TRUE(packaged.contains(expected)) << expected;

    // The bus starts the installed program, not one in the staging folder.
    auto [serviceStatus, service] = runShell("dpkg-deb --fsys-tarfile " + shellQuoted(deb) +
                                        " | tar -xO ./usr/share/dbus-1/services/org.quillomere.Quillomere.service");
    EXPECT_EQ(service, "[D-BUS Service]\nName=org.quillomere.Quillomere\nExec=/usr/bin/quillomere --service\n");
}

}  // namespace
}  // namespace qm::test
