#include "core/DirectoryReader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <set>
#include <string>

#include "core/UniqueFd.h"
#include "support/TempDir.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

// The descriptors this process has open, as the kernel lists them.
size_t openDescriptorCount() {
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

std::set<std::string> listed(DirectoryReader& reader) {
    std::set<std::string> names;
    while (const dirent* e = reader.next()) names.insert(e->d_name);
    return names;
}

TEST(DirectoryReaderTest, ListsEveryEntryButDotAndDotDotAsTheFileSystemDoes) {
    test::TempDir dir;
    const std::set<std::string> made = {".hidden", "..x", "plain", "with space", "new\nline",
                                        std::string("\xff\xfe not utf-8"), "sub"};
    for (const std::string& name : made)
        if (name != "sub") test::writeFile(dir.path() / name, "x");
    fs::create_directory(dir / "sub");
    fs::create_symlink("plain", dir / "link");

    std::set<std::string> expected;
    for (const auto& e : fs::directory_iterator(dir.path())) expected.insert(e.path().filename().string());
    ASSERT_EQ(expected.size(), made.size() + 1);

    const size_t before = openDescriptorCount();
    {
        DirectoryReader reader = DirectoryReader::open(dir.path().string());
        ASSERT_TRUE(reader.isOpen());
        EXPECT_EQ(listed(reader), expected);
        EXPECT_EQ(reader.error(), 0);
        EXPECT_EQ(reader.next(), nullptr);  // stays at the end

        // The descriptor serves *at calls on the entries.
        struct stat st;
        ASSERT_EQ(::fstatat(reader.fd(), "sub", &st, AT_SYMLINK_NOFOLLOW), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode));

        // Moving hands the folder over; nothing is closed twice.
        DirectoryReader moved = std::move(reader);
        EXPECT_FALSE(reader.isOpen());  // NOLINT(bugprone-use-after-move): checking the moved-from state
        EXPECT_TRUE(moved.isOpen());
        DirectoryReader other = DirectoryReader::open(dir.path().string());
        other = std::move(moved);
        EXPECT_TRUE(other.isOpen());
    }
    EXPECT_EQ(openDescriptorCount(), before);
}

TEST(DirectoryReaderTest, FailedOpensTellWhy) {
    test::TempDir dir;
    test::writeFile(dir / "file", "x");
    fs::create_directory(dir / "folder");
    fs::create_directory_symlink("folder", dir / "link");

    const size_t before = openDescriptorCount();
    DirectoryReader missing = DirectoryReader::open((dir / "missing").string());
    EXPECT_FALSE(missing.isOpen());
    EXPECT_EQ(missing.error(), ENOENT);
    EXPECT_EQ(missing.next(), nullptr);
    EXPECT_EQ(missing.fd(), -1);

    EXPECT_EQ(DirectoryReader::open((dir / "file").string()).error(), ENOTDIR);
    // Links to folders are followed unless asked not to.
    EXPECT_TRUE(DirectoryReader::open((dir / "link").string()).isOpen());
    const int notFollowed = DirectoryReader::open((dir / "link").string(), O_NOFOLLOW).error();
    EXPECT_TRUE(notFollowed == ENOTDIR || notFollowed == ELOOP) << notFollowed;  // Linux says ENOTDIR
    EXPECT_EQ(DirectoryReader::duplicate(-1).error(), EBADF);

    // An unreadable folder (unless this runs as root, who reads anything).
    fs::create_directory(dir / "locked");
    ::chmod((dir / "locked").c_str(), 0);
    if (::geteuid() != 0) {
        EXPECT_EQ(DirectoryReader::open((dir / "locked").string()).error(), EACCES);
    }
    EXPECT_EQ(openDescriptorCount(), before);
}

TEST(DirectoryReaderTest, ADuplicateListsFromTheStartAndLeavesTheCallersDescriptorOpen) {
    test::TempDir dir;
    for (int i = 0; i < 50; ++i) test::writeFile(dir / ("f" + std::to_string(i)), "x");
    UniqueFd folder(::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    ASSERT_TRUE(folder);
    const size_t before = openDescriptorCount();
    std::set<std::string> first;
    {
        DirectoryReader reader = DirectoryReader::duplicate(folder.get());
        ASSERT_TRUE(reader.isOpen());
        EXPECT_NE(reader.fd(), folder.get());
        EXPECT_TRUE(::fcntl(reader.fd(), F_GETFD) & FD_CLOEXEC);
        // Half a listing moves the offset the two descriptors share.
        for (int i = 0; i < 20; ++i) ASSERT_TRUE(reader.next());
    }
    EXPECT_EQ(openDescriptorCount(), before);
    DirectoryReader again = DirectoryReader::duplicate(folder.get());
    EXPECT_EQ(listed(again).size(), 50u);
    struct stat st;
    EXPECT_EQ(::fstat(folder.get(), &st), 0);
}

TEST(UniqueFdTest, OwnsOneDescriptorAndClosesItOnce) {
    test::TempDir dir;
    test::writeFile(dir / "f", "x");
    const size_t before = openDescriptorCount();
    {
        UniqueFd none;
        EXPECT_FALSE(none);
        EXPECT_EQ(none.close(), 0);
        EXPECT_FALSE(UniqueFd(-1).valid());

        UniqueFd a(::open((dir / "f").c_str(), O_RDONLY | O_CLOEXEC));
        ASSERT_TRUE(a);
        const int raw = a.get();
        UniqueFd b = std::move(a);
        EXPECT_FALSE(a);  // NOLINT(bugprone-use-after-move): checking the moved-from state
        EXPECT_EQ(b.get(), raw);
        // Assigning over an owner closes what it held.
        UniqueFd c(::open((dir / "f").c_str(), O_RDONLY | O_CLOEXEC));
        const int closedByAssignment = c.get();
        c = std::move(b);
        EXPECT_EQ(::fcntl(closedByAssignment, F_GETFD), -1);
        EXPECT_EQ(errno, EBADF);
        EXPECT_EQ(c.get(), raw);

        const int released = c.release();
        EXPECT_FALSE(c);
        EXPECT_EQ(::fcntl(released, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);  // still open
        c.reset(released);
        EXPECT_EQ(c.close(), 0);
        EXPECT_EQ(::fcntl(released, F_GETFD), -1);
    }
    EXPECT_EQ(openDescriptorCount(), before);
}

}  // namespace
}  // namespace qm
