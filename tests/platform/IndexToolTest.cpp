// quillomere-index run as a user runs it: its listings, and what it prints
// when a watch ends.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

void tagged(const fs::path& p, const std::string& tags) {
    test::writeFile(p, "x");
    ASSERT_EQ(0, ::lsetxattr(p.c_str(), "user.xdg.tags", tags.data(), tags.size(), 0));
}

// The tool with its standard output on a pipe, read line by line.
class Tool {
public:
    explicit Tool(std::vector<std::string> args) {
        int fds[2];
        if (::pipe(fds) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(fds[1], STDOUT_FILENO);
            ::close(fds[0]);
            ::close(fds[1]);
            std::vector<char*> argv{const_cast<char*>(QM_INDEX_TOOL)};
            for (std::string& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(QM_INDEX_TOOL, argv.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        fd_ = fds[0];
    }
    ~Tool() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (fd_ >= 0) ::close(fd_);
    }

    // Reads until a line containing `needle` (true) or the end (false).
    bool readUntil(const std::string& needle) {
        for (;;) {
            for (size_t nl; (nl = buffer_.find('\n', scanned_)) != std::string::npos;) {
                std::string line = buffer_.substr(scanned_, nl - scanned_);
                scanned_ = nl + 1;
                lines.push_back(line);
                if (line.find(needle) != std::string::npos) return true;
            }
            if (!readMore()) return false;
        }
    }
    // Ends the tool with `signal` and returns its exit status.
    int end(int signal) {
        ::kill(pid_, signal);
        readUntil("\x01never");
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::vector<std::string> lines;

private:
    bool readMore() {
        // Bounded so that a hung tool fails the test instead of the run.
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 30000) <= 0) return false;
        char chunk[4096];
        ssize_t n = ::read(fd_, chunk, sizeof chunk);
        if (n <= 0) return false;
        buffer_.append(chunk, size_t(n));
        return true;
    }

    pid_t pid_ = -1;
    int fd_ = -1;
    std::string buffer_;
    size_t scanned_ = 0;
};

TEST(IndexTool, WatchPrintsTheListingsAgainWhenItEnds) {
    test::TempDir dir;
    const fs::path root = dir / "home";
    tagged(root / "old.jpg", "a");
    for (int signal : {SIGTERM, SIGINT}) {
        Tool tool({"--root", root.string(), "--memory", "--watch", "--list-tags"});
        ASSERT_TRUE(tool.readUntil("[watch] Watching"));
        EXPECT_EQ(std::count(tool.lines.begin(), tool.lines.end(), root.string() + "/old.jpg\ta"), 1);
        const fs::path added = root / ("new" + std::to_string(signal) + ".jpg");
        tagged(added, "b");
        ASSERT_TRUE(tool.readUntil("added\t" + added.string()));
        EXPECT_EQ(tool.end(signal), 0);
        auto end = std::find(tool.lines.begin(), tool.lines.end(), "[watch] Listings at the end");
        ASSERT_NE(end, tool.lines.end());
        std::vector<std::string> final(end + 1, tool.lines.end());
        EXPECT_NE(std::find(final.begin(), final.end(), root.string() + "/old.jpg\ta"), final.end());
        EXPECT_NE(std::find(final.begin(), final.end(), added.string() + "\tb"), final.end());
    }
}

TEST(IndexTool, FileNamesCannotDriveTheTerminal) {
    test::TempDir dir;
    const fs::path root = dir / "home";
    tagged(root / "evil\x1b[2J\rname.jpg", "x\x1b]0;title\x07");
    Tool tool({"--root", root.string(), "--memory", "--list-tags"});
    EXPECT_EQ(tool.end(0), 0);  // signal 0: just wait for it to finish
    bool found = false;
    for (const std::string& line : tool.lines) {
        for (char c : line) EXPECT_FALSE(c == '\x1b' || c == '\r' || c == '\x07') << line;
        found = found || line == root.string() + "/evil\\x1b[2J\\x0dname.jpg\tx\\x1b]0;title\\x07";
    }
    EXPECT_TRUE(found);
}

}  // namespace
}  // namespace qm
