#include "app/WindowStateArchiver.h"

#include <QTabBar>
#include <QTabWidget>

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "app/AppDelegate.h"
#include "app/AppWindow.h"
#include "app/BrowserFrame.h"
#include "platform/AtomicFileWriter.h"

namespace qm {

WindowStateArchiver::WindowStateArchiver(AppDelegate& delegate, std::string path, Log log)
    : QObject(&delegate), delegate_(delegate), path_(std::move(path)), log_(std::move(log)) {
    if (!log_)
        log_ = [](const std::string& line) {
            std::printf("%s\n", line.c_str());
            std::fflush(stdout);
        };
    timer_.setSingleShot(true);
    timer_.setInterval(coalescingMilliseconds);
    connect(&timer_, &QTimer::timeout, this, [this] { write(false); });
}

WindowStateArchiver::~WindowStateArchiver() {
    queue_.sync([] {});
}

std::string WindowStateArchiver::defaultPath() {
    auto set = [](const char* name) -> const char* {
        const char* v = std::getenv(name);
        return v && *v == '/' ? v : nullptr;
    };
    std::string folder;
    if (const char* state = set("XDG_STATE_HOME")) folder = state;
    else if (const char* home = set("HOME")) folder = std::string(home) + "/.local/state";
    else folder = "/tmp";
    return folder + "/quillomere/state.json";
}

void WindowStateArchiver::say(const std::string& line) {
    log_(line);
}

int WindowStateArchiver::restoreWindows() {
    AtomicFileWriter::removeLeftovers(path_);
    const std::string prefix = "[setup] The window state " + path_ + " restores nothing";
    struct stat info {};
    if (::stat(path_.c_str(), &info) != 0) {
        if (errno != ENOENT) say(prefix + " (" + std::strerror(errno) + ")");
        return 0;  // no file: the first launch
    }
    if (static_cast<uint64_t>(info.st_size) > StateArchive::maximumFileSize) {
        say(prefix + " (it is too large)");
        return 0;
    }
    std::ifstream in(path_, std::ios::binary);
    std::ostringstream bytes;
    if (!in || !(bytes << in.rdbuf())) {
        // An empty file makes the stream report failure too; the decoder names it.
        if (!in || info.st_size > 0) {
            say(prefix + " (it cannot be read)");
            return 0;
        }
    }
    const StateArchiveReading reading = decodeStateArchive(bytes.view());
    if (!reading.archive) {
        say(prefix + " (" + reading.problems.front() + ")");
        return 0;
    }
    for (const auto& problem : reading.problems)
        say("[setup] The window state " + path_ + ": " + problem);  // each problem says what follows from it

    int made = 0;
    for (const auto& frame : reading.archive->frames) {
        AppWindow* previous = nullptr;
        AppWindow* current = nullptr;
        for (size_t t = 0; t < frame.tabs.size(); ++t) {
            AppWindow* window = previous ? delegate_.makeWindowInTabOf(previous) : delegate_.makeWindowInNewFrame(false);
            if (!previous && frame.width > 0 && frame.height > 0) {
                window->frame()->setGeometry(frame.x, frame.y, frame.width, frame.height);
                if (frame.isMaximized) window->frame()->setWindowState(Qt::WindowMaximized);
            }
            if (frame.tabs[t].state) window->restoreState(*frame.tabs[t].state);
            if (static_cast<int>(t) == frame.currentTab) current = window;
            previous = window;
            ++made;
        }
        if (current) current->frame()->selectTab(current->frame()->indexOf(current));
        if (previous) {
            previous->frame()->show();
            previous->frame()->raise();
            previous->frame()->activateWindow();
        }
    }
    if (made > 0) delegate_.didRestoreState = true;
    return made;
}

void WindowStateArchiver::watchWindow(AppWindow* window) {
    connect(window, &AppWindow::restorableStateInvalidated, this, &WindowStateArchiver::invalidate);
    connect(window, &QObject::destroyed, this, &WindowStateArchiver::invalidate);
    if (BrowserFrame* frame = window->frame()) {
        // Tab order and which tab is in front.
        connect(frame->tabs()->tabBar(), &QTabBar::tabMoved, this, &WindowStateArchiver::invalidate,
                Qt::UniqueConnection);
        connect(frame->tabs(), &QTabWidget::currentChanged, this, &WindowStateArchiver::invalidate,
                Qt::UniqueConnection);
    }
    invalidate();
}

void WindowStateArchiver::invalidate() {
    writeSoon();
}

void WindowStateArchiver::writeSoon() {
    // The first change starts the timer; later ones ride along with it.
    if (isStopped_ || timer_.isActive()) return;
    timer_.start();
}

StateArchive WindowStateArchiver::capture() const {
    StateArchive archive;
    for (BrowserFrame* frame : delegate_.frames()) {
        // A closed frame lingers until its deferred deletion; it is gone for the user.
        const bool isClosed = frame->isHidden() && frame->testAttribute(Qt::WA_WState_ExplicitShowHide);
        if (frame->tabCount() == 0 || isClosed) continue;
        StateArchive::Frame out;
        const QRect geometry = frame->isMaximized() || frame->isFullScreen() ? frame->normalGeometry() : frame->geometry();
        out.x = geometry.x();
        out.y = geometry.y();
        out.width = geometry.width();
        out.height = geometry.height();
        out.isMaximized = frame->isMaximized();
        out.currentTab = std::max(0, frame->indexOf(frame->currentWindow()));
        for (int i = 0; i < frame->tabCount(); ++i)
            if (AppWindow* window = frame->windowAt(i)) out.tabs.push_back({window->encodeRestorableState()});
        archive.frames.push_back(std::move(out));
    }
    return archive;
}

void WindowStateArchiver::write(bool wait) {
    timer_.stop();
    ++writeCount_;
    // The destructor waits for the queue, so `this` outlives every task.
    auto task = [archive = capture(), path = path_, failureLogged = writeFailureLogged_, wait, this]() {
        const std::string error = AtomicFileWriter::write(path, encodeStateArchive(archive));
        if (error.empty()) {
            *failureLogged = false;
            return;
        }
        if (*failureLogged) return;  // once until a write succeeds again
        *failureLogged = true;
        const std::string line = "[fs] Cannot save the window state: " + error;
        if (wait) {
            say(line);  // the main thread waits for this task
            return;
        }
        QMetaObject::invokeMethod(this, [this, line] { say(line); }, Qt::QueuedConnection);
    };
    if (wait) queue_.sync(task);
    else queue_.async(std::move(task));
}

void WindowStateArchiver::writeAtQuit() {
    if (isStopped_) return;
    write(true);
    isStopped_ = true;
}

void WindowStateArchiver::waitForWrites() {
    queue_.sync([] {});
}

}  // namespace qm
