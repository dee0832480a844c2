#include "platform/LimitedProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>

extern char** environ;

namespace qm {
namespace {

bool isExecutableFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// Only async-signal-safe calls between fork and exec: the parent has other threads,
// whose locks the child inherits held.
[[noreturn]] void becomeChild(const char* program, char* const* argv, const LimitedProcess::Limits& limits) {
    ::setsid();
    auto limit = [](int resource, std::uint64_t value) {
        struct rlimit r {
            static_cast<rlim_t>(value), static_cast<rlim_t>(value)
        };
        ::setrlimit(resource, &r);
    };
    limit(RLIMIT_AS, limits.addressSpaceBytes);
    // The soft limit sends SIGXCPU, the hard one a second later SIGKILL.
    struct rlimit cpu {
        static_cast<rlim_t>(limits.cpuSeconds), static_cast<rlim_t>(limits.cpuSeconds + 1)
    };
    ::setrlimit(RLIMIT_CPU, &cpu);
    limit(RLIMIT_FSIZE, limits.fileSizeBytes);
    limit(RLIMIT_CORE, 0);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int sig : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGCHLD})
        ::signal(sig, SIG_DFL);
    int null = ::open("/dev/null", O_RDWR);
    if (null >= 0) {
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
    }
    // Every other descriptor of ours (sockets, the index, files being written).
    ::syscall(SYS_close_range, 3u, ~0u, 0u);
    ::execve(program, argv, environ);
    ::_exit(127);
}

LimitedProcess::Result resultOf(int status) {
    if (WIFEXITED(status)) return {LimitedProcess::Outcome::exited, WEXITSTATUS(status)};
    if (WIFSIGNALED(status)) return {LimitedProcess::Outcome::signalled, WTERMSIG(status)};
    return {LimitedProcess::Outcome::failedToStart, -1};
}

}  // namespace

std::string LimitedProcess::findExecutable(const std::string& name) {
    if (name.empty()) return {};
    if (name.find('/') != std::string::npos) return isExecutableFile(name) ? name : std::string();
    const char* path = std::getenv("PATH");
    std::string dirs = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        std::string dir = dirs.substr(start, end - start);
        if (!dir.empty() && dir.front() == '/') {
            std::string candidate = dir + "/" + name;
            if (isExecutableFile(candidate)) return candidate;
        }
        start = end + 1;
    }
    return {};
}

LimitedProcess::Result LimitedProcess::run(const std::vector<std::string>& argv, const Limits& limits) {
    if (argv.empty()) return {};
    const std::string program = findExecutable(argv[0]);
    if (program.empty()) return {};
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid < 0) return {};
    if (pid == 0) becomeChild(program.c_str(), args.data(), limits);

    // Woken by the child's end through a pidfd; polled where the kernel has none.
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    const auto deadline = std::chrono::steady_clock::now() + limits.timeout;
    auto reap = [&] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        if (pidfd >= 0) ::close(pidfd);
        return status;
    };
    for (;;) {
        // Not reaped yet: while the leader is a zombie its session's id cannot be
        // reused, so the kill below reaches only what the program left behind.
        siginfo_t info{};
        const int waited = ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
        if (waited == 0 && info.si_pid == pid) break;
        if (waited < 0 && errno != EINTR) {
            ::kill(-pid, SIGKILL);
            reap();
            return {};
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            ::kill(-pid, SIGKILL);
            reap();
            return {Outcome::timedOut, SIGKILL};
        }
        if (pidfd >= 0) {
            struct pollfd p {
                pidfd, POLLIN, 0
            };
            ::poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 1000)));
        } else {
            struct timespec nap {
                0, 2'000'000
            };
            ::nanosleep(&nap, nullptr);
        }
    }
    // Helpers the program left running in its session are not ours to keep.
    ::kill(-pid, SIGKILL);
    const int status = reap();
    return resultOf(status);
}

}  // namespace qm
