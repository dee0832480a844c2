#pragma once

#include <functional>
#include <string_view>

namespace qm {

// The areas of the program's log; each line starts with its area's tag.
enum class LogArea {
    setup,  // "[setup] ": start-up timings and problems with saved state
    tree,   // "[tree] ": tag changes in the tree
    fs,     // "[fs] ": what file commands did to files
    run,    // "[run] ": commands run, undone and redone
    watch,  // "[watch] ": following file changes
    other,  // a line handed on whole that names none of the above
};

// "[setup] " and so on; "" for other.
std::string_view logAreaTag(LogArea area);
// The area a whole line's tag names; other when it names none.
LogArea logAreaOfLine(std::string_view line);

// Where lines go: standard output unless a program or a test says otherwise.
// A sink gets each line whole, without its newline, one at a time (calls are
// serialised, so it needs no lock of its own); it must not log itself.
using LogSink = std::function<void(LogArea area, std::string_view line)>;
// Installs `sink` (none: standard output again) and returns the one before.
LogSink setLogSink(LogSink sink);

// Logs "<tag><message>" as one line, from any thread.
void logLine(LogArea area, std::string_view message);
// The same with printf formatting of the message.
void logFormat(LogArea area, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Logs a line that already begins with its tag, such as one a component
// handed to its owner's log callback; its area is read from the tag.
void logTaggedLine(std::string_view line);

}  // namespace qm
