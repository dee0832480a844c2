#pragma once

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>

#include "commands/StateArchive.h"
#include "core/SerialQueue.h"

namespace qm {

class AppDelegate;
class AppWindow;
class BrowserFrame;

// Keeps the browser windows across relaunches: reads the state file at
// launch and reopens its windows with their tabs, and writes the file again
// whenever a window's state changes (a few times a second at most) and at
// quit. Only the capture runs on the main thread; encoding and the atomic
// write run on a serial queue.
class WindowStateArchiver : public QObject {
    Q_OBJECT
public:
    // Writes are at least this far apart.
    static constexpr int coalescingMilliseconds = 300;

    using Log = std::function<void(const std::string&)>;
    // `log` gets one line per problem, always on the main thread; null prints to standard output.
    WindowStateArchiver(AppDelegate& delegate, std::string path, Log log = nullptr);
    ~WindowStateArchiver() override;

    // $XDG_STATE_HOME/quillomere/state.json (~/.local/state when unset).
    static std::string defaultPath();
    const std::string& path() const { return path_; }

    // Opens the archived windows; returns how many tabs it made. A damaged
    // file or tab restores nothing of what it covers and logs one line.
    int restoreWindows();
    // Every window made anywhere goes through here, so its changes are saved.
    void watchWindow(AppWindow* window);

    // Something to save changed: write soon.
    void invalidate();
    // The state of every window now.
    StateArchive capture() const;
    // Captures and writes at once, returning when the file is on disk; later
    // changes (the windows closing at quit) are not saved.
    void writeAtQuit();
    // A frame is about to close. When it is the last one open, the program
    // is quitting: everything is written as by writeAtQuit, the closing frame
    // included, and the closes that follow are not saved (until a new window
    // is made).
    void frameClosing(const BrowserFrame* frame);
    // Waits for writes in flight (tests).
    void waitForWrites();
    int writeCount() const { return writeCount_; }

private:
    void writeSoon();
    void write(bool wait);
    void say(const std::string& line);
    // Shown or not yet shown, with tabs, and not closed by the user.
    static bool isOpen(const BrowserFrame* frame);

    enum class Stop { running, lastWindowClosed, quitting };

    AppDelegate& delegate_;
    std::string path_;
    Log log_;
    QTimer timer_;
    Stop stop_ = Stop::running;
    int writeCount_ = 0;
    std::shared_ptr<bool> writeFailureLogged_ = std::make_shared<bool>(false);  // touched on queue_ only
    SerialQueue queue_{"StateArchive"};  // last: it finishes its tasks before the rest goes
};

}  // namespace qm
