#include "platform/FileOperationsPosix.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/LinuxFileOperations.h"
#include "support/TempDir.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

std::string attr(const fs::path& p, const char* name = "user.xdg.tags") {
    char buf[256];
    ssize_t n = ::lgetxattr(p.c_str(), name, buf, sizeof buf);
    return n < 0 ? "<none>" : std::string(buf, size_t(n));
}

// A tree with contents, a tag attribute, an odd mode, an old time, a link
// and a pipe.
void makeTree(const fs::path& root) {
    fs::create_directories(root / "sub");
    test::writeFile(root / "sub" / "photo.jpg", std::string(300000, '\x7f') + "end");
    ASSERT_EQ(0, ::setxattr((root / "sub" / "photo.jpg").c_str(), "user.xdg.tags", "a,b", 3, 0));
    ASSERT_EQ(0, ::setxattr(root.c_str(), "user.xdg.tags", "dir", 3, 0));
    ::chmod((root / "sub" / "photo.jpg").c_str(), 0640);
    struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(0, ::utimensat(AT_FDCWD, (root / "sub" / "photo.jpg").c_str(), times, 0));
    ASSERT_EQ(0, ::symlink("sub/photo.jpg", (root / "link").c_str()));
    ASSERT_EQ(0, ::mkfifo((root / "pipe").c_str(), 0600));
}

void expectTree(const fs::path& root) {
    EXPECT_EQ(qm::test::readFile(root / "sub" / "photo.jpg"), std::string(300000, '\x7f') + "end");
    EXPECT_EQ(attr(root / "sub" / "photo.jpg"), "a,b");
    EXPECT_EQ(attr(root), "dir");
    struct stat st;
    ASSERT_EQ(0, ::stat((root / "sub" / "photo.jpg").c_str(), &st));
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);
    EXPECT_EQ(fs::read_symlink(root / "link"), "sub/photo.jpg");
    EXPECT_TRUE(fs::is_fifo(fs::symlink_status(root / "pipe")));
}

size_t count(const fs::path& dir) {
    return size_t(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

TEST(FileOperationsPosixTest, MovesNeverReplace) {
    test::TempDir d;
    test::writeFile(d / "a", "A");
    test::writeFile(d / "b", "B");
    fs::create_directories(d / "emptyDir");
    fs::create_directories(d / "otherDir");
    ASSERT_EQ(0, ::symlink("nowhere", (d / "dangling").c_str()));

    EXPECT_FALSE(posix::moveNoReplace((d / "a").string(), (d / "b").string()).ok);
    EXPECT_FALSE(posix::moveNoReplace((d / "a").string(), (d / "dangling").string()).ok);
    // A plain rename would silently replace an empty folder.
    EXPECT_FALSE(posix::moveNoReplace((d / "otherDir").string(), (d / "emptyDir").string()).ok);
    EXPECT_EQ(qm::test::readFile(d / "a"), "A");
    EXPECT_EQ(qm::test::readFile(d / "b"), "B");
    EXPECT_TRUE(fs::is_directory(d / "otherDir"));
    EXPECT_FALSE(posix::moveNoReplace((d / "otherDir").string(), (d / "otherDir" / "in").string()).ok);

    FileResult ok = posix::moveNoReplace((d / "a").string(), (d / "emptyDir" / "a").string());
    ASSERT_TRUE(ok.ok) << ok.error;
    EXPECT_EQ(qm::test::readFile(d / "emptyDir" / "a"), "A");
    EXPECT_FALSE(fs::exists(d / "a"));
    EXPECT_FALSE(posix::moveNoReplace((d / "missing").string(), (d / "c").string()).ok);
    FileResult linkMove = posix::moveNoReplace((d / "dangling").string(), (d / "moved-link").string());
    ASSERT_TRUE(linkMove.ok);
    EXPECT_EQ(fs::read_symlink(d / "moved-link"), "nowhere");
}

TEST(FileOperationsPosixTest, CopyThenRemoveKeepsEverythingAndCleansUp) {
    // The cross-file-system path, driven directly on one file system.
    test::TempDir d;
    makeTree(d / "src");
    fs::create_directories(d / "dst");
    FileResult r = posix::copyThenRemove((d / "src").string(), (d / "dst" / "moved").string());
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_FALSE(fs::exists(d / "src"));
    expectTree(d / "dst" / "moved");
    EXPECT_EQ(count(d / "dst"), 1u);

    // A file that cannot be copied (a socket) fails the move: the partial
    // copy goes, the source stays whole.
    makeTree(d / "src2");
    int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(s, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::string sock = (d / "src2" / "zz.sock").string();
    ASSERT_LT(sock.size(), sizeof addr.sun_path);
    std::strcpy(addr.sun_path, sock.c_str());
    ASSERT_EQ(0, ::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
    ::close(s);
    FileResult bad = posix::copyThenRemove((d / "src2").string(), (d / "dst" / "moved2").string());
    EXPECT_FALSE(bad.ok);
    EXPECT_FALSE(bad.error.empty());
    EXPECT_EQ(count(d / "dst"), 1u);  // no copy, no hidden partial copy
    expectTree(d / "src2");
    EXPECT_TRUE(fs::is_socket(d / "src2" / "zz.sock"));

    // An existing destination is never replaced, even by a copy.
    test::writeFile(d / "dst" / "taken", "T");
    test::writeFile(d / "one", "1");
    EXPECT_FALSE(posix::copyThenRemove((d / "one").string(), (d / "dst" / "taken").string()).ok);
    EXPECT_EQ(qm::test::readFile(d / "dst" / "taken"), "T");
    EXPECT_EQ(qm::test::readFile(d / "one"), "1");
    ASSERT_TRUE(posix::copyThenRemove((d / "one").string(), (d / "dst" / "one").string()).ok);
    EXPECT_EQ(qm::test::readFile(d / "dst" / "one"), "1");
    EXPECT_FALSE(fs::exists(d / "one"));

    // Without permission to remove the source the copy is taken back.
    if (::geteuid() != 0) {
        fs::create_directories(d / "locked");
        test::writeFile(d / "locked" / "f", "F");
        ::chmod((d / "locked").c_str(), 0555);
        EXPECT_FALSE(posix::copyThenRemove((d / "locked" / "f").string(), (d / "dst" / "f").string()).ok);
        EXPECT_FALSE(fs::exists(d / "dst" / "f"));
        EXPECT_EQ(qm::test::readFile(d / "locked" / "f"), "F");
        ::chmod((d / "locked").c_str(), 0755);
    }
}

TEST(FileOperationsPosixTest, CopyThenRemoveDeletesOnlyWhatItCopiedUnchanged) {
    // Items added to or rewritten in the source between the copy and the
    // removal are not in the copy: they must stay in the source.
    test::TempDir d;
    fs::create_directories(d / "src" / "sub");
    fs::create_directories(d / "src" / "done");
    fs::create_directories(d / "dst");
    test::writeFile(d / "src" / "a.txt", "A");
    test::writeFile(d / "src" / "sub" / "c.txt", "old");
    test::writeFile(d / "src" / "done" / "d.txt", "D");
    bool remnant = false;
    FileResult r = posix::copyThenRemove((d / "src").string(), (d / "dst" / "moved").string(), &remnant, [&] {
        test::writeFile(d / "src" / "late.txt", "late");
        std::ofstream(d / "src" / "sub" / "c.txt", std::ios::app) << " and new";
    });
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(remnant);
    EXPECT_NE(r.error.find("2 items"), std::string::npos) << r.error;  // the file and its folder
    // The copy is complete as of the copy.
    EXPECT_EQ(test::readFile(d / "dst" / "moved" / "a.txt"), "A");
    EXPECT_EQ(test::readFile(d / "dst" / "moved" / "sub" / "c.txt"), "old");
    EXPECT_EQ(test::readFile(d / "dst" / "moved" / "done" / "d.txt"), "D");
    EXPECT_FALSE(fs::exists(d / "dst" / "moved" / "late.txt"));
    // The source keeps exactly what the copy lacks.
    EXPECT_EQ(test::readFile(d / "src" / "late.txt"), "late");
    EXPECT_EQ(test::readFile(d / "src" / "sub" / "c.txt"), "old and new");
    EXPECT_FALSE(fs::exists(d / "src" / "a.txt"));
    EXPECT_FALSE(fs::exists(d / "src" / "done"));
    EXPECT_EQ(count(d / "src"), 2u);
    EXPECT_EQ(count(d / "src" / "sub"), 1u);

    // A lone file written after its copy stays whole; the stale copy goes.
    test::writeFile(d / "one", "1");
    remnant = true;
    FileResult lone = posix::copyThenRemove((d / "one").string(), (d / "dst" / "one").string(), &remnant,
                                            [&] { std::ofstream(d / "one", std::ios::app) << "2"; });
    EXPECT_FALSE(lone.ok);
    EXPECT_FALSE(remnant);
    EXPECT_EQ(test::readFile(d / "one"), "12");
    EXPECT_FALSE(fs::exists(d / "dst" / "one"));

    // A whole untouched folder still moves completely.
    remnant = true;
    ASSERT_TRUE(posix::copyThenRemove((d / "src").string(), (d / "dst" / "rest").string(), &remnant).ok);
    EXPECT_FALSE(remnant);
    EXPECT_FALSE(fs::exists(d / "src"));
    EXPECT_EQ(test::readFile(d / "dst" / "rest" / "sub" / "c.txt"), "old and new");
}

TEST(FileOperationsPosixTest, RealCrossDeviceMove) {
    // /dev/shm is a separate tmpfs on most Linux systems.
    struct stat a, b;
    test::TempDir d;
    if (::stat("/dev/shm", &b) != 0 || ::stat(d.path().c_str(), &a) != 0 || a.st_dev == b.st_dev ||
        ::access("/dev/shm", W_OK) != 0)
        GTEST_SKIP() << "no second file system at hand";
    char tmpl[] = "/dev/shm/qm-xdev-XXXXXX";
    ASSERT_TRUE(::mkdtemp(tmpl));
    fs::path other = tmpl;
    makeTree(d / "tree");
    FileResult r = posix::moveNoReplace((d / "tree").string(), (other / "tree").string());
    EXPECT_TRUE(r.ok) << r.error;
    EXPECT_FALSE(fs::exists(d / "tree"));
    if (attr(other) != "<none>" || ::setxattr(other.c_str(), "user.probe", "1", 1, 0) == 0)
        expectTree(other / "tree");
    test::writeFile(d / "f", "F");
    test::writeFile(other / "f", "other");
    EXPECT_FALSE(posix::moveNoReplace((d / "f").string(), (other / "f").string()).ok);
    EXPECT_EQ(qm::test::readFile(d / "f"), "F");
    ASSERT_TRUE(posix::moveNoReplace((other / "tree").string(), (d / "back").string()).ok);
    expectTree(d / "back");
    fs::remove_all(other);
}

TEST(FileOperationsPosixTest, FoldersAndExistence) {
    test::TempDir d;
    LinuxFileOperations ops;
    fs::path deep = d / "a" / "b" / "c";
    EXPECT_TRUE(ops.createDirectory(deep.string()).ok);
    EXPECT_TRUE(fs::is_directory(deep));
    EXPECT_TRUE(ops.createDirectory(deep.string() + "/").ok);  // existing is fine
    test::writeFile(d / "file", "");
    EXPECT_FALSE(ops.createDirectory((d / "file" / "x").string()).ok);
    EXPECT_FALSE(ops.createDirectory((d / "file").string()).ok);
    test::writeFile(deep / "f", "");
    EXPECT_FALSE(ops.removeDirectory(deep.string()).ok);  // not empty
    EXPECT_TRUE(fs::exists(deep / "f"));
    fs::remove(deep / "f");
    EXPECT_TRUE(ops.removeDirectory(deep.string()).ok);
    EXPECT_FALSE(fs::exists(deep));
    ASSERT_EQ(0, ::symlink("nowhere", (d / "dangling").c_str()));
    EXPECT_TRUE(ops.fileExists((d / "dangling").string()));
    EXPECT_FALSE(ops.fileExists((d / "nothing").string()));
}

}  // namespace
}  // namespace qm
