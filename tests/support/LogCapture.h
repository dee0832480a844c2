#pragma once

// Collects the program's log lines while it lives, instead of standard output.

#include <mutex>
#include <string>

#include "core/Log.h"

namespace qm::test {

class LogCapture {
public:
    LogCapture()
        : previous_(setLogSink([this](LogArea, std::string_view line) {
              std::lock_guard lock(mutex_);
              text_.append(line);
              text_ += '\n';
          })) {}
    ~LogCapture() { release(); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // The lines so far, each ending in a newline, as standard output had them.
    std::string text() const {
        std::lock_guard lock(mutex_);
        return text_;
    }
    // Puts the sink before back (idempotent) and returns what was collected.
    std::string release() {
        if (active_) {
            setLogSink(std::move(previous_));
            active_ = false;
        }
        return text();
    }

private:
    mutable std::mutex mutex_;
    std::string text_;
    LogSink previous_;
    bool active_ = true;
};

}  // namespace qm::test
