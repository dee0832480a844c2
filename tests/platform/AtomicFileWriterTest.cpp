#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "commands/StateArchive.h"
#include "platform/AtomicFileWriter.h"
#include "support/TempDir.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::TempDir;

// A state file whose size depends on `round`, so that consecutive writes differ.
std::string archiveText(int round) {
    StateArchive a;
    auto& frame = a.frames.emplace_back();
    for (int t = 0; t < 1 + round % 3; ++t) {
        AppWindowState s;
        s.currentNode = {QuickString::literal("Tags"), QuickString::literal("round " + std::to_string(round))};
        for (int i = 0; i < 4000 + 1000 * (round % 5); ++i)
            s.currentSelection.push_back(QuickString::bytes("/home/u/Pictures/file " + std::to_string(i) + ".jpg"));
        frame.tabs.push_back({s});
    }
    return encodeStateArchive(a);
}

size_t entriesIn(const fs::path& folder) {
    return static_cast<size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

TEST(AtomicFileWriter, ReplacesTheFileAndLeavesNothingElse) {
    TempDir dir;
    const fs::path file = dir / "deep/er/state.json";
    EXPECT_EQ(AtomicFileWriter::write(file, "first"), "");
    EXPECT_EQ(readFile(file), "first");
    EXPECT_EQ(AtomicFileWriter::write(file, "second, longer"), "");
    EXPECT_EQ(AtomicFileWriter::write(file, ""), "");
    EXPECT_EQ(readFile(file), "");
    EXPECT_EQ(entriesIn(file.parent_path()), 1u);
}

TEST(AtomicFileWriter, AnUnwritableFolderFailsWithAReasonAndKeepsTheOldFile) {
    TempDir dir;
    // A file where the folder should be.
    test::writeFile(dir / "blocked", "x");
    EXPECT_NE(AtomicFileWriter::write(dir / "blocked/state.json", "new"), "");
    EXPECT_EQ(readFile(dir / "blocked"), "x");
    // A folder where the file should be.
    fs::create_directory(dir / "folder");
    EXPECT_NE(AtomicFileWriter::write(dir / "folder", "new"), "");
    EXPECT_EQ(entriesIn(dir.path()), 2u);

    if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
    const fs::path file = dir / "state/state.json";
    ASSERT_EQ(AtomicFileWriter::write(file, "old"), "");
    fs::permissions(dir / "state", fs::perms::owner_read | fs::perms::owner_exec);
    const std::string error = AtomicFileWriter::write(file, "new");
    EXPECT_NE(error.find("Permission denied"), std::string::npos) << error;
    fs::permissions(dir / "state", fs::perms::owner_all);
    EXPECT_EQ(readFile(file), "old");
    EXPECT_EQ(entriesIn(dir / "state"), 1u);
}

// A writer killed at any moment leaves the previous file or the new one,
// each whole. The child writes in a loop and reports each finished write
// through a pipe; the parent kills it after a random number of them, so the
// signal lands somewhere inside the next write.
TEST(AtomicFileWriter, KillingTheWriterNeverLeavesAnUnreadableFile) {
    TempDir dir;
    const fs::path file = dir / "state.json";
    // Made before the child starts, so that the child spends its time writing.
    std::vector<std::string> texts;
    for (int i = 0; i < 5; ++i) texts.push_back(archiveText(i));
    ASSERT_EQ(AtomicFileWriter::write(file, texts[0]), "");
    std::mt19937 random(20);
    for (int round = 0; round < 25; ++round) {
        int pipeFds[2];
        ASSERT_EQ(pipe(pipeFds), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(pipeFds[0]);
            for (int i = 1;; ++i) {
                if (!AtomicFileWriter::write(file, texts[static_cast<size_t>(i) % texts.size()]).empty()) _exit(2);
                const char done = 'w';
                if (::write(pipeFds[1], &done, 1) != 1) _exit(3);
            }
        }
        ::close(pipeFds[1]);
        const int writes = static_cast<int>(random() % 3);
        for (int i = 0; i < writes; ++i) {
            char done;
            ASSERT_EQ(::read(pipeFds[0], &done, 1), 1);
        }
        ASSERT_EQ(kill(child, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ::close(pipeFds[0]);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself with " << status;

        const auto reading = decodeStateArchive(readFile(file));
        ASSERT_TRUE(reading.archive) << "round " << round << ": " << reading.problems.front();
        ASSERT_EQ(reading.archive->frames.size(), 1u);
    }
    // The temporary files of the cut-off writes go once they are old; a fresh one stays.
    for (const auto& entry : fs::directory_iterator(dir.path()))
        if (entry.path() != file) fs::last_write_time(entry.path(), fs::file_time_type::clock::now() - std::chrono::hours(1));
    test::writeFile(file.string() + ".tmp-abcdef", "in progress elsewhere");
    test::writeFile(file.string() + ".tmp-old", "not ours");
    fs::last_write_time(file.string() + ".tmp-old", fs::file_time_type::clock::now() - std::chrono::hours(1));
    AtomicFileWriter::removeLeftovers(file);
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(dir.path())) left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"state.json", "state.json.tmp-abcdef", "state.json.tmp-old"}));
}

}  // namespace
}  // namespace qm
