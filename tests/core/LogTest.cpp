#include "core/Log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/TempDir.h"

namespace qm {
namespace {

// Points this process's standard output (the descriptor, as a terminal or a
// pipe would see it) at a file until finish(), which returns what arrived.
class StdoutToFile {
public:
    explicit StdoutToFile(std::string path) : path_(std::move(path)) {
        std::fflush(stdout);
        saved_ = ::dup(STDOUT_FILENO);
        const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ::dup2(fd, STDOUT_FILENO);
        ::close(fd);
    }
    std::string finish() {
        std::fflush(stdout);
        ::dup2(saved_, STDOUT_FILENO);
        ::close(saved_);
        return test::readFile(path_);
    }

private:
    std::string path_;
    int saved_ = -1;
};

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

constexpr int kThreads = 8;
constexpr int kLinesEach = 1500;

// Long enough that a line written in pieces would show it.
std::string padding(int thread) {
    return std::string(200 + thread * 37, char('a' + thread));
}

TEST(Log, LinesFromManyThreadsReachStandardOutputWholeInOrderAndWithTheirTags) {
    test::TempDir dir;
    StdoutToFile redirect((dir / "out").string());
    logLine(LogArea::setup, "Index crawl: 0.125 seconds (3 files and folders)");
    logFormat(LogArea::run, "%s %d", "Undo", 3);
    logTaggedLine("[watch] Reached the limit");
    logTaggedLine("no tag at all");
    const std::string longMessage(3000, 'x');
    logFormat(LogArea::tree, "%s", longMessage.c_str());
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            const std::string pad = padding(t);
            for (int i = 0; i < kLinesEach; ++i) {
                if (i % 3 == 0) logLine(LogArea::fs, "t" + std::to_string(t) + " n" + std::to_string(i) + " " + pad);
                else if (i % 3 == 1) logFormat(LogArea::fs, "t%d n%d %s", t, i, pad.c_str());
                else logTaggedLine("[fs] t" + std::to_string(t) + " n" + std::to_string(i) + " " + pad);
            }
        });
    for (auto& th : threads) th.join();
    const std::vector<std::string> lines = linesOf(redirect.finish());

    ASSERT_EQ(lines.size(), size_t(5 + kThreads * kLinesEach));
    EXPECT_EQ(lines[0], "[setup] Index crawl: 0.125 seconds (3 files and folders)");
    EXPECT_EQ(lines[1], "[run] Undo 3");
    EXPECT_EQ(lines[2], "[watch] Reached the limit");
    EXPECT_EQ(lines[3], "no tag at all");
    EXPECT_EQ(lines[4], "[tree] " + longMessage);
    std::vector<int> next(kThreads, 0);
    for (size_t k = 5; k < lines.size(); ++k) {
        int t = -1, i = -1, used = 0;
        ASSERT_EQ(std::sscanf(lines[k].c_str(), "[fs] t%d n%d %n", &t, &i, &used), 2) << lines[k];
        ASSERT_TRUE(t >= 0 && t < kThreads) << lines[k];
        EXPECT_EQ(i, next[t]++) << lines[k];
        EXPECT_EQ(lines[k].substr(size_t(used)), padding(t)) << lines[k];
    }
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[t], kLinesEach);
}

TEST(Log, ASinkTakesEveryLineAloneWithItsAreaAndThenGivesStandardOutputBack) {
    test::TempDir dir;
    struct Seen {
        std::vector<std::pair<LogArea, std::string>> lines;
        std::atomic<int> inside{0};
        bool overlapped = false;
    } seen;
    StdoutToFile redirect((dir / "out").string());
    LogSink before = setLogSink([&seen](LogArea area, std::string_view line) {
        if (seen.inside.fetch_add(1) != 0) seen.overlapped = true;
        seen.lines.emplace_back(area, std::string(line));
        seen.inside.fetch_sub(1);
    });
    const bool hadSink = bool(before);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 500; ++i) logLine(LogArea::run, "step");
        });
    logTaggedLine("[tree] Added \"Tags/a\" to \"/p\"");
    logTaggedLine("[setupx] not the setup tag");
    logLine(LogArea::setup, "First window: 0.100 seconds");
    for (auto& th : threads) th.join();
    LogSink mine = setLogSink(std::move(before));
    logLine(LogArea::fs, "Moved \"a\" to \"b\"");
    const std::string out = redirect.finish();

    EXPECT_FALSE(hadSink);  // the test main installs none
    EXPECT_TRUE(mine);
    EXPECT_FALSE(seen.overlapped);
    ASSERT_EQ(seen.lines.size(), 2003u);
    size_t runs = 0;
    for (const auto& [area, line] : seen.lines) {
        if (area != LogArea::run) continue;
        ++runs;
        EXPECT_EQ(line, "[run] step");
    }
    EXPECT_EQ(runs, 2000u);
    auto has = [&](LogArea area, const std::string& line) {
        return std::find(seen.lines.begin(), seen.lines.end(), std::pair(area, line)) != seen.lines.end();
    };
    EXPECT_TRUE(has(LogArea::tree, "[tree] Added \"Tags/a\" to \"/p\""));
    EXPECT_TRUE(has(LogArea::other, "[setupx] not the setup tag"));
    EXPECT_TRUE(has(LogArea::setup, "[setup] First window: 0.100 seconds"));
    // Nothing went to standard output while the sink was in; afterwards it does again.
    EXPECT_EQ(out, "[fs] Moved \"a\" to \"b\"\n");
}

}  // namespace
}  // namespace qm
