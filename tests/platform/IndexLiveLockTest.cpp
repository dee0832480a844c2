// The lock by which a live index tells readers that its saved state is
// current: seen from other processes, shared by several holders, gone with
// its holder even when that one is killed.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "platform/IndexLiveLock.h"
#include "support/TempDir.h"

using namespace qm;
namespace fs = std::filesystem;

TEST(IndexLiveLock, HeldWhileAnyHolderLivesAcrossProcesses) {
    test::TempDir dir;
    const std::string db = (dir / "index.sqlite3").string();
    EXPECT_FALSE(IndexLiveLock::isHeld(db));  // no lock file yet

    {
        IndexLiveLock first, second;
        ASSERT_TRUE(first.acquire(db));
        ASSERT_TRUE(second.acquire(db));  // two live indexes at once
        EXPECT_TRUE(IndexLiveLock::isHeld(db));
        first.release();
        EXPECT_TRUE(IndexLiveLock::isHeld(db));
    }
    EXPECT_FALSE(IndexLiveLock::isHeld(db));
    EXPECT_TRUE(fs::exists(IndexLiveLock::lockPath(db)));  // the file stays; only the lock counts

    // Another process holds it, then dies without a word.
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        IndexLiveLock lock;
        const char ok = lock.acquire(db) ? 'y' : 'n';
        (void)!::write(ready[1], &ok, 1);
        ::pause();
        ::_exit(0);
    }
    char got = 0;
    ASSERT_EQ(::read(ready[0], &got, 1), 1);
    EXPECT_EQ(got, 'y');
    EXPECT_TRUE(IndexLiveLock::isHeld(db));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_FALSE(IndexLiveLock::isHeld(db));
    ::close(ready[0]);
    ::close(ready[1]);

    // A folder where the lock file cannot be made: nothing is held.
    IndexLiveLock nowhere;
    EXPECT_FALSE(nowhere.acquire((dir / "missing/index.sqlite3").string()));
    EXPECT_FALSE(nowhere.holds());
}
