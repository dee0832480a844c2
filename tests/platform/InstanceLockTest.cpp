// The lock that keeps two programs off one state file and one index: taken
// by one holder at a time, in this process or another, all or nothing, and
// gone with its holder even when that one is killed.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "platform/InstanceLock.h"
#include "support/TempDir.h"

using namespace qm;
namespace fs = std::filesystem;

TEST(InstanceLock, OneHolderAtATimeAllOrNothingAndGoneWithItsProcess) {
    test::TempDir dir;
    const std::string state = (dir / "state/quillomere/state.json").string();
    const std::string db = (dir / "cache/quillomere/index.sqlite3").string();

    InstanceLock first;
    ASSERT_EQ(first.acquire({state, "", db}), std::nullopt);  // folders made, empty paths skipped
    EXPECT_TRUE(first.holds());
    EXPECT_TRUE(fs::exists(InstanceLock::lockPath(state)));
    EXPECT_TRUE(fs::exists(InstanceLock::lockPath(db)));

    // A second holder is refused, naming the lock it could not take, and
    // keeps none: the state file's lock must not stay taken by a loser.
    InstanceLock second;
    EXPECT_EQ(second.acquire({state, db}), InstanceLock::lockPath(state));
    EXPECT_EQ(second.acquire({(dir / "other.json").string(), db}), InstanceLock::lockPath(db));
    EXPECT_FALSE(second.holds());
    InstanceLock third;
    EXPECT_EQ(third.acquire({(dir / "other.json").string()}), std::nullopt);

    first.release();
    EXPECT_EQ(second.acquire({state, db}), std::nullopt);
    second.release();

    // Another process holds it, then dies without a word.
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        InstanceLock lock;
        const char ok = lock.acquire({state}) ? 'n' : 'y';
        (void)!::write(ready[1], &ok, 1);
        ::pause();
        ::_exit(0);
    }
    char got = 0;
    ASSERT_EQ(::read(ready[0], &got, 1), 1);
    EXPECT_EQ(got, 'y');
    EXPECT_EQ(first.acquire({state}), InstanceLock::lockPath(state));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_EQ(first.acquire({state}), std::nullopt);
    ::close(ready[0]);
    ::close(ready[1]);

    // A lock file that cannot be made (its folder is a file) guards nothing
    // writable: skipped, the others still taken.
    test::writeFile(dir / "plain", "x");
    first.release();
    InstanceLock partly;
    EXPECT_EQ(partly.acquire({(dir / "plain/state.json").string(), db}), std::nullopt);
    EXPECT_TRUE(partly.holds());
    EXPECT_EQ(second.acquire({db}), InstanceLock::lockPath(db));
}

TEST(InstanceLock, WaitsForAHolderThatLetsGo) {
    test::TempDir dir;
    const std::string state = (dir / "state.json").string();
    int toChild[2], toParent[2];
    ASSERT_EQ(::pipe(toChild), 0);
    ASSERT_EQ(::pipe(toParent), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        InstanceLock lock;
        const char ok = lock.acquire({state}) ? 'n' : 'y';
        (void)!::write(toParent[1], &ok, 1);
        char go;
        (void)!::read(toChild[0], &go, 1);  // a program quitting: it lets go
        ::_exit(0);
    }
    char got = 0;
    ASSERT_EQ(::read(toParent[0], &got, 1), 1);
    ASSERT_EQ(got, 'y');
    InstanceLock impatient;
    EXPECT_EQ(impatient.acquire({state}), InstanceLock::lockPath(state));
    (void)!::write(toChild[1], "g", 1);
    InstanceLock patient;
    EXPECT_EQ(patient.acquire({state}, std::chrono::seconds(60)), std::nullopt);
    ::waitpid(child, nullptr, 0);
    for (int fd : {toChild[0], toChild[1], toParent[0], toParent[1]})
        ::close(fd);
}
