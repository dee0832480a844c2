#include "app/WindowStateArchiver.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "app/AppDelegate.h"
#include "app/AppWindow.h"
#include "app/BrowserFrame.h"
#include "app/CascadePlacement.h"
#include "core/Log.h"
#include "core/UniqueFd.h"
#include "platform/AtomicFileWriter.h"

namespace qm {

WindowStateArchiver::WindowStateArchiver(AppDelegate& delegate, std::string path, Log log)
    : QObject(&delegate), delegate_(delegate), path_(std::move(path)), log_(std::move(log)) {
    if (!log_) log_ = [](const std::string& line) { logTaggedLine(line); };
    timer_.setSingleShot(true);
    timer_.setInterval(coalescingMilliseconds);
    connect(&timer_, &QTimer::timeout, this, [this] { write(false); });
}

WindowStateArchiver::~WindowStateArchiver() {
    queue_.sync([] {});
}

// From core/XdgDirectories.h, which cannot be included here: its
// homeDirectory() and the model's (QuickString.h) share a name.
std::string xdgStateHome();

std::string WindowStateArchiver::defaultPath() {
    return xdgStateHome() + "/quillomere/state.json";
}

void WindowStateArchiver::say(const std::string& line) {
    log_(line);
}

namespace {

// The file's bytes, at most `limit` + 1 of them (so that a larger file shows
// as such), or why it cannot be used; nothing when there is no file. Opened
// without following a symbolic link and without blocking, so that a FIFO or
// a device in its place cannot hold the start.
std::optional<std::string> readStateFile(const std::string& path, size_t limit, std::string& error) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!fd) {
        if (errno == ENOENT) return std::nullopt;  // no file: the first launch
        error = errno == ELOOP ? "it is a symbolic link" : std::strerror(errno);
        return std::nullopt;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        error = std::strerror(errno);
        return std::nullopt;
    }
    if (!S_ISREG(info.st_mode)) {
        error = "it is not a regular file";
        return std::nullopt;
    }
    if (static_cast<uint64_t>(info.st_size) > limit) {
        error = "it is too large";
        return std::nullopt;
    }
    std::string bytes;
    bytes.resize(static_cast<size_t>(info.st_size) + 1);
    size_t length = 0;
    // The size may change while it is read: never more than the limit and one.
    while (length <= limit) {
        if (length == bytes.size()) bytes.resize(std::min(bytes.size() * 2, limit + 1));
        const ssize_t n = ::read(fd.get(), bytes.data() + length, bytes.size() - length);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = std::strerror(errno);
            return std::nullopt;
        }
        if (n == 0) break;
        length += static_cast<size_t>(n);
    }
    bytes.resize(length);
    return bytes;
}

}  // namespace

int WindowStateArchiver::restoreWindows() {
    AtomicFileWriter::removeLeftovers(path_);
    const std::string prefix = "[setup] The window state " + path_ + " restores nothing";
    std::string error;
    const std::optional<std::string> bytes = readStateFile(path_, StateArchive::maximumFileSize, error);
    if (!bytes) {
        if (!error.empty()) say(prefix + " (" + error + ")");
        return 0;
    }
    const StateArchiveReading reading = decodeStateArchive(*bytes);
    if (!reading.archive) {
        say(prefix + " (" + reading.problems.front() + ")");
        return 0;
    }
    for (const auto& problem : reading.problems)
        say("[setup] The window state " + path_ + ": " + problem);  // each problem says what follows from it

    std::vector<QRect> screens;
    if (QScreen* primary = QGuiApplication::primaryScreen()) screens.push_back(primary->availableGeometry());
    for (QScreen* screen : QGuiApplication::screens())
        if (screen != QGuiApplication::primaryScreen()) screens.push_back(screen->availableGeometry());

    int made = 0;
    for (const auto& frame : reading.archive->frames) {
        AppWindow* previous = nullptr;
        AppWindow* current = nullptr;
        for (size_t t = 0; t < frame.tabs.size(); ++t) {
            AppWindow* window = previous ? delegate_.makeWindowInTabOf(previous) : delegate_.makeWindowInNewFrame(false);
            if (!previous) {
                // On a screen that exists, no larger than it; without a saved
                // size, the usual size in the middle of the main screen.
                QRect saved(frame.x, frame.y, frame.width, frame.height);
                if (frame.width <= 0 || frame.height <= 0) {
                    saved = QRect(QPoint(0, 0), window->frame()->size());
                    if (!screens.empty()) saved.moveCenter(screens.front().center());
                }
                window->frame()->setGeometry(placedOnScreen(saved, screens));
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
    // A window made after the last one closed (another start's request)
    // is kept again, in place of the closed ones.
    if (stop_ == Stop::lastWindowClosed) stop_ = Stop::running;
    connect(window, &AppWindow::restorableStateInvalidated, this, &WindowStateArchiver::invalidate);
    connect(window, &QObject::destroyed, this, &WindowStateArchiver::invalidate);
    if (BrowserFrame* frame = window->frame()) {
        // Tab order and which tab is in front.
        connect(frame->tabs()->tabBar(), &QTabBar::tabMoved, this, &WindowStateArchiver::invalidate,
                Qt::UniqueConnection);
        connect(frame->tabs(), &QTabWidget::currentChanged, this, &WindowStateArchiver::invalidate,
                Qt::UniqueConnection);
        // Moved, resized, maximised.
        connect(frame, &BrowserFrame::geometryChanged, this, &WindowStateArchiver::invalidate, Qt::UniqueConnection);
    }
    invalidate();
}

void WindowStateArchiver::invalidate() {
    writeSoon();
}

void WindowStateArchiver::writeSoon() {
    // The first change starts the timer; later ones ride along with it.
    if (stop_ != Stop::running || timer_.isActive()) return;
    timer_.start();
}

bool WindowStateArchiver::isOpen(const BrowserFrame* frame) {
    // A closed frame lingers until its deferred deletion; it is gone for the user.
    const bool isClosed = frame->isHidden() && frame->testAttribute(Qt::WA_WState_ExplicitShowHide);
    return frame->tabCount() > 0 && !isClosed;
}

void WindowStateArchiver::frameClosing(const BrowserFrame* frame) {
    if (stop_ != Stop::running) return;
    for (const BrowserFrame* other : delegate_.frames())
        if (other != frame && isOpen(other)) return;  // others stay: their state is saved as usual
    // Closing the last window is how a person quits here: keep everything as
    // it is now, this window included, as Quit does.
    write(true);
    stop_ = Stop::lastWindowClosed;
}

StateArchive WindowStateArchiver::capture() const {
    StateArchive archive;
    for (BrowserFrame* frame : delegate_.frames()) {
        if (!isOpen(frame)) continue;
        // No more than a start restores.
        if (archive.frames.size() == StateArchive::maximumFrames) break;
        StateArchive::Frame out;
        const QRect geometry = frame->isMaximized() || frame->isFullScreen() ? frame->normalGeometry() : frame->geometry();
        out.x = geometry.x();
        out.y = geometry.y();
        out.width = geometry.width();
        out.height = geometry.height();
        out.isMaximized = frame->isMaximized();
        out.currentTab = std::max(0, frame->indexOf(frame->currentWindow()));
        const int tabs = std::min(frame->tabCount(), static_cast<int>(StateArchive::maximumTabsPerFrame));
        for (int i = 0; i < tabs; ++i)
            if (AppWindow* window = frame->windowAt(i)) out.tabs.push_back({window->encodeRestorableState()});
        if (out.currentTab >= static_cast<int>(out.tabs.size())) out.currentTab = 0;
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
    if (stop_ == Stop::quitting) return;
    // After the last window closed, the file already holds what to keep.
    if (stop_ == Stop::running) write(true);
    stop_ = Stop::quitting;
}

void WindowStateArchiver::waitForWrites() {
    queue_.sync([] {});
}

}  // namespace qm
