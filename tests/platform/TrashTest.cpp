#include "platform/Trash.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/FileURL.h"
#include "platform/FileOperationsPosix.h"
#include "platform/LinuxFileOperations.h"
#include "support/TempDir.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

fs::path homeTrash() {
    return fs::path(std::getenv("XDG_DATA_HOME")) / "Trash";
}

fs::path infoOf(const fs::path& place) {
    return homeTrash() / "info" / (place.filename().string() + ".trashinfo");
}

// Checks a record against the freedesktop.org format: the group header, an
// absolute percent-encoded Path naming `original`, and a local DeletionDate.
void expectRecord(const fs::path& info, const std::string& original) {
    std::string text = qm::test::readFile(info);
    std::istringstream lines(text);
    std::string header, path, date;
    std::getline(lines, header);
    std::getline(lines, path);
    std::getline(lines, date);
    EXPECT_EQ(header, "[Trash Info]");
    ASSERT_TRUE(path.starts_with("Path=")) << text;
    std::string value = path.substr(5);
    EXPECT_TRUE(value.starts_with("/"));
    EXPECT_EQ(value.find_first_of(" \"#?"), std::string::npos) << value;
    for (unsigned char c : value) EXPECT_TRUE(c > 0x20 && c < 0x7f) << value;
    EXPECT_EQ(percentDecode(value), original);
    // sscanf rather than std::regex: GCC 12 warns inside <regex> under the
    // sanitizer build.
    int y = 0, mo = 0, da = 0, h = 0, mi = 0, se = 0, used = 0;
    ASSERT_EQ(std::sscanf(date.c_str(), "DeletionDate=%4d-%2d-%2dT%2d:%2d:%2d%n", &y, &mo, &da, &h, &mi, &se, &used), 6)
        << date;
    EXPECT_EQ(size_t(used), date.size()) << date;
    EXPECT_EQ(date.size(), std::string("DeletionDate=2000-01-01T00:00:00").size()) << date;
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = da;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = se;
    tm.tm_isdst = -1;
    EXPECT_LT(std::abs(std::difftime(std::time(nullptr), std::mktime(&tm))), 120.0);  // local time, now
}

TEST(TrashTest, FolderCopiedButNotFullyRemovedIsTrashedOnceWithItsRecord) {
    // As across two mounts of one file system: the rename fails, the folder
    // is copied, and a file added meanwhile keeps the source from going.
    test::TempDir d;
    struct EmptyTrashAfter {
        ~EmptyTrashAfter() { fs::remove_all(homeTrash()); }
    } emptyTrashAfter;
    fs::create_directories(d / "folder");
    test::writeFile(d / "folder" / "kept.txt", "K");
    int moves = 0;
    Trash::Mover mover = [&](const std::string& from, const std::string& to, bool* leftRemnant) {
        ++moves;
        return posix::copyThenRemove(from, to, leftRemnant, [&] {
            if (moves == 1) test::writeFile(d / "folder" / "late.txt", "L");
        });
    };
    FileResult r = Trash::trashItem((d / "folder").string(), mover);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(moves, 1);
    std::vector<fs::path> placed;
    for (const auto& e : fs::directory_iterator(homeTrash() / "files")) placed.push_back(e.path());
    ASSERT_EQ(placed.size(), 1u);
    EXPECT_EQ(test::readFile(placed[0] / "kept.txt"), "K");
    ASSERT_TRUE(fs::exists(infoOf(placed[0])));
    expectRecord(infoOf(placed[0]), (d / "folder").string());
    // The remnant stays where it was.
    EXPECT_EQ(test::readFile(d / "folder" / "late.txt"), "L");
    EXPECT_FALSE(fs::exists(d / "folder" / "kept.txt"));
}

TEST(TrashTest, HomeTrashRecordsAndRestores) {
    fs::path dir = test::testHome() / "trash-test";
    fs::create_directories(dir);
    EXPECT_EQ(fs::path(Trash::homeTrashDirectory()), homeTrash());

    std::string hostile = "a b%\xE2\x98\x85\n\"x\".txt";
    fs::path f = dir / hostile;
    test::writeFile(f, "first");
    FileResult r = Trash::trashItem(f.string());
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_TRUE(r.resultingPath);
    fs::path place = *r.resultingPath;
    EXPECT_EQ(place, homeTrash() / "files" / hostile);
    EXPECT_FALSE(fs::exists(f));
    EXPECT_EQ(qm::test::readFile(place), "first");
    expectRecord(infoOf(place), f.string());
    EXPECT_EQ(Trash::infoPathFor(place.string()), infoOf(place).string());
    struct stat st;
    ASSERT_EQ(0, ::stat(homeTrash().c_str(), &st));
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // The same name again gets its own place and record.
    test::writeFile(f, "second");
    FileResult r2 = Trash::trashItem(f.string() + "/");  // a trailing slash is fine
    ASSERT_TRUE(r2.ok) << r2.error;
    ASSERT_NE(*r2.resultingPath, place.string());
    EXPECT_EQ(qm::test::readFile(*r2.resultingPath), "second");
    expectRecord(infoOf(*r2.resultingPath), f.string());

    // Restoring never replaces: the first goes back, the second cannot follow.
    ASSERT_TRUE(Trash::restoreItem(place.string(), f.string()).ok);
    EXPECT_EQ(qm::test::readFile(f), "first");
    EXPECT_FALSE(fs::exists(infoOf(place)));
    FileResult blocked = Trash::restoreItem(*r2.resultingPath, f.string());
    EXPECT_FALSE(blocked.ok);
    EXPECT_TRUE(fs::exists(*r2.resultingPath));
    EXPECT_TRUE(fs::exists(infoOf(*r2.resultingPath)));  // still a proper Trash entry
    fs::path elsewhere = dir / "second.txt";
    ASSERT_TRUE(Trash::restoreItem(*r2.resultingPath, elsewhere.string()).ok);
    EXPECT_EQ(qm::test::readFile(elsewhere), "second");
    EXPECT_TRUE(fs::is_empty(homeTrash() / "info"));
    EXPECT_TRUE(fs::is_empty(homeTrash() / "files"));
    fs::remove_all(dir);
}

TEST(TrashTest, FoldersLinksLongNamesAndFailures) {
    fs::path dir = test::testHome() / "trash-test2";
    fs::create_directories(dir / "folder" / "sub");
    test::writeFile(dir / "folder" / "sub" / "f", "f");
    fs::path link = dir / "dangling";
    ASSERT_EQ(0, ::symlink("/nonexistent/target", link.c_str()));
    std::string longName(240, 'x');
    longName += ".jpeg";
    test::writeFile(dir / longName, "long");

    LinuxFileOperations ops;
    FileResult folder = ops.trashItem((dir / "folder").string());
    ASSERT_TRUE(folder.ok) << folder.error;
    EXPECT_EQ(qm::test::readFile(fs::path(*folder.resultingPath) / "sub" / "f"), "f");
    FileResult l = ops.trashItem(link.string());
    ASSERT_TRUE(l.ok) << l.error;
    EXPECT_TRUE(fs::is_symlink(*l.resultingPath));  // the link itself, not its target
    FileResult lr = ops.trashItem((dir / longName).string());
    ASSERT_TRUE(lr.ok) << lr.error;
    EXPECT_LE(infoOf(*lr.resultingPath).filename().string().size(), 255u);
    expectRecord(infoOf(*lr.resultingPath), (dir / longName).string());

    EXPECT_FALSE(ops.trashItem((dir / "missing").string()).ok);
    EXPECT_FALSE(ops.trashItem("relative/path").ok);
    EXPECT_FALSE(ops.trashItem("/").ok);

    ASSERT_TRUE(ops.restoreItem(*folder.resultingPath, (dir / "folder").string()).ok);
    ASSERT_TRUE(ops.restoreItem(*l.resultingPath, link.string()).ok);
    ASSERT_TRUE(ops.restoreItem(*lr.resultingPath, (dir / longName).string()).ok);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(qm::test::readFile(dir / "folder" / "sub" / "f"), "f");
    EXPECT_TRUE(fs::is_empty(homeTrash() / "info"));
    fs::remove_all(dir);
}

}  // namespace
}  // namespace qm
