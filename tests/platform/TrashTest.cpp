#include "platform/Trash.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "core/FileURL.h"
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
    std::smatch m;
    ASSERT_TRUE(std::regex_match(date, m, std::regex(R"(DeletionDate=(\d{4})-(\d\d)-(\d\d)T(\d\d):(\d\d):(\d\d))")))
        << date;
    std::tm tm{};
    tm.tm_year = std::stoi(m[1]) - 1900;
    tm.tm_mon = std::stoi(m[2]) - 1;
    tm.tm_mday = std::stoi(m[3]);
    tm.tm_hour = std::stoi(m[4]);
    tm.tm_min = std::stoi(m[5]);
    tm.tm_sec = std::stoi(m[6]);
    tm.tm_isdst = -1;
    EXPECT_LT(std::abs(std::difftime(std::time(nullptr), std::mktime(&tm))), 120.0);  // local time, now
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
