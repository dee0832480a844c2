#include "core/Log.h"

#include <array>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <utility>

namespace qm {

namespace {

constexpr std::array<std::string_view, 6> kTags = {"[setup] ", "[tree] ", "[fs] ", "[run] ", "[watch] ", ""};

struct LogState {
    std::mutex mutex;
    LogSink sink;
    std::string line;  // reused, so a line costs no allocation once warm
};

// Never destroyed: threads and static destructors may still log at exit.
LogState& state() {
    static LogState* s = new LogState;
    return *s;
}

void write(LogArea area, std::string_view tag, std::string_view message) {
    LogState& s = state();
    std::lock_guard lock(s.mutex);
    s.line.assign(tag);
    s.line.append(message);
    if (s.sink) {
        s.sink(area, s.line);
        return;
    }
    s.line += '\n';
    // One write per line, flushed at once so a reader of a pipe (the tests,
    // the benchmarks, a person's terminal) sees it when it happens.
    std::fwrite(s.line.data(), 1, s.line.size(), stdout);
    std::fflush(stdout);
}

}  // namespace

std::string_view logAreaTag(LogArea area) {
    return kTags[size_t(area)];
}

LogArea logAreaOfLine(std::string_view line) {
    for (size_t i = 0; i + 1 < kTags.size(); ++i)
        if (line.starts_with(kTags[i])) return LogArea(i);
    return LogArea::other;
}

LogSink setLogSink(LogSink sink) {
    LogState& s = state();
    std::lock_guard lock(s.mutex);
    return std::exchange(s.sink, std::move(sink));
}

void logLine(LogArea area, std::string_view message) {
    write(area, logAreaTag(area), message);
}

void logFormat(LogArea area, const char* format, ...) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n < 0) return;
    if (size_t(n) < sizeof buffer) return logLine(area, std::string_view(buffer, size_t(n)));
    std::string longer(size_t(n) + 1, '\0');
    va_start(args, format);
    std::vsnprintf(longer.data(), longer.size(), format, args);
    va_end(args);
    longer.pop_back();
    logLine(area, longer);
}

void logTaggedLine(std::string_view line) {
    write(logAreaOfLine(line), {}, line);
}

}  // namespace qm
