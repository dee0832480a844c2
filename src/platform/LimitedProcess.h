#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace qm {

// Runs another program the way a desktop runs helpers it does not trust: without
// a shell, in a session of its own, with standard input and output on /dev/null,
// no other inherited descriptor, limits on memory, CPU time and file size, and a
// wall-clock timeout after which the whole session is killed.
class LimitedProcess {
public:
    struct Limits {
        std::chrono::milliseconds timeout{10000};
        std::uint64_t addressSpaceBytes = std::uint64_t{2} << 30;
        std::uint64_t cpuSeconds = 10;
        std::uint64_t fileSizeBytes = std::uint64_t{256} << 20;
    };
    enum class Outcome { exited, signalled, timedOut, failedToStart };
    struct Result {
        Outcome outcome = Outcome::failedToStart;
        int code = -1;  // exit status, or the signal's number
        bool succeeded() const { return outcome == Outcome::exited && code == 0; }
    };

    // argv[0] is an absolute path or a name looked up in PATH. Blocks the calling
    // thread until the program ends or its time is up.
    static Result run(const std::vector<std::string>& argv, const Limits& limits);

    // The absolute path of an executable: `name` itself when it holds a "/", else
    // the first match in PATH. Empty when none.
    static std::string findExecutable(const std::string& name);
};

}  // namespace qm
