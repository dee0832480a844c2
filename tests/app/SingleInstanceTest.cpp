// One program per session, with the real program on a private session bus:
// a later start hands its folder or files to the running one, which opens a
// window on them; refused places never reach it; a start on the same home
// that no bus connects to the first is refused; and the bus itself starts
// the program for the desktop's request.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QTest>

#include <nlohmann/json.hpp>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/FileURL.h"
#include "support/ShellCommand.h"
#include "support/TempDir.h"

namespace qm::test {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

constexpr const char* busName = "org.quillomere.Quillomere";
constexpr int patience = 60000;  // milliseconds; the sanitizer build starts slowly

// A session bus of the test's own, with its own name table and activation
// from $XDG_DATA_HOME/dbus-1/services; ended with the test.
class PrivateBus {
public:
    PrivateBus() {
        auto [status, out] = runShell("dbus-daemon --session --fork --print-address=1 --print-pid=1");
        const size_t newline = out.find('\n');
        if (status != 0 || newline == std::string::npos) return;
        address_ = out.substr(0, newline);
        pid_ = std::atoi(out.c_str() + newline + 1);
        connection_ = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(QString::fromStdString(address_), QString::fromStdString(address_)));
    }
    ~PrivateBus() {
        // A program the bus started is no child of ours.
        if (connection_ && isOwned()) ::kill(ownerPid(), SIGTERM);
        connection_.reset();
        QDBusConnection::disconnectFromBus(QString::fromStdString(address_));
        if (pid_ > 0) ::kill(pid_, SIGTERM);
    }
    const std::string& address() const { return address_; }
    QDBusConnection& connection() { return *connection_; }
    bool isOwned() { return connection_->interface()->isServiceRegistered(QString::fromLatin1(busName)).value(); }
    pid_t ownerPid() { return static_cast<pid_t>(connection_->interface()->servicePid(QString::fromLatin1(busName)).value()); }

private:
    std::string address_;
    pid_t pid_ = 0;
    std::unique_ptr<QDBusConnection> connection_;
};

// The program, running until the test ends it.
class RunningProgram {
public:
    RunningProgram(const std::string& busAddress, const fs::path& log) {
        pid_ = ::fork();
        if (pid_ == 0) {
            ::setenv("DBUS_SESSION_BUS_ADDRESS", busAddress.c_str(), 1);
            std::freopen(log.c_str(), "w", stdout);
            std::freopen(log.c_str(), "a", stderr);
            ::execl(QM_PROGRAM, QM_PROGRAM, static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    ~RunningProgram() { end(); }
    void end() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
        pid_ = 0;
    }
    bool hasExited() {
        int status = 0;
        return pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == pid_;
    }

private:
    pid_t pid_ = 0;
};

// A start that ends by itself: its exit status and everything it printed.
std::pair<int, std::string> start(const std::string& busAddress, const std::vector<std::string>& arguments,
                                  const fs::path& workingDirectory) {
    std::string command = "cd " + shellQuoted(workingDirectory.string()) +
                          " && DBUS_SESSION_BUS_ADDRESS=" + shellQuoted(busAddress) + " timeout 60 " + shellQuoted(QM_PROGRAM);
    for (const std::string& a : arguments)
        command += " " + shellQuoted(a);
    return runShell(command + " 2>&1");
}

fs::path stateFile() {
    return fs::path(std::getenv("XDG_STATE_HOME")) / "quillomere/state.json";
}

// Every tab of the state file as the program last wrote it.
std::vector<json> tabsInStateFile() {
    std::vector<json> out;
    const json root = json::parse(readFile(stateFile()), nullptr, false);
    if (!root.is_object() || !root.contains("frames")) return out;
    for (const json& frame : root["frames"])
        for (const json& tab : frame.value("tabs", json::array()))
            out.push_back(tab);
    return out;
}

bool waitFor(const std::function<bool()>& condition) {
    return QTest::qWaitFor(condition, patience);
}

// Whether some tab shows the folder with exactly these files selected.
bool someTabShows(const std::vector<std::string>& node, const std::vector<std::string>& selection) {
    for (const json& tab : tabsInStateFile()) {
        if (tab.value("currentNode", json()) != json(node)) continue;
        std::vector<std::string> selected = tab.value("currentSelection", std::vector<std::string>{});
        std::sort(selected.begin(), selected.end());
        if (selected == selection) return true;
    }
    return false;
}

TEST(SingleInstanceTest, ALaterStartHandsItsPlaceToTheRunningProgramAndEnds) {
    const fs::path home = testHome();
    fs::remove(stateFile());
    writeFile(home / "Photos/a.jpg", "x");
    writeFile(home / "Photos/b.jpg", "x");
    writeFile(home / "Photos/c.jpg", "x");
    TempDir logs("qm-logs");
    PrivateBus bus;
    ASSERT_FALSE(bus.address().empty());

    RunningProgram first(bus.address(), logs / "first.log");
    ASSERT_TRUE(waitFor([&] { return bus.isOwned() || first.hasExited(); }));
    ASSERT_TRUE(bus.isOwned()) << readFile(logs / "first.log");
    ASSERT_TRUE(waitFor([] { return tabsInStateFile().size() == 1; })) << readFile(logs / "first.log");

    // Files, named from the start's own working directory.
    auto [status, output] = start(bus.address(), {"a.jpg", "c.jpg"}, home / "Photos");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(output, "");
    EXPECT_TRUE(waitFor([&] {
        return someTabShows({"Folders", "Photos"}, {(home / "Photos/a.jpg").string(), (home / "Photos/c.jpg").string()});
    })) << readFile(stateFile());

    // Refused before the hand-over: one line, no window.
    auto [refusedStatus, refused] = start(bus.address(), {"/etc"}, home);
    EXPECT_EQ(refusedStatus, 1);
    EXPECT_EQ(std::count(refused.begin(), refused.end(), '\n'), 1) << refused;
    EXPECT_NE(refused.find("/etc"), std::string::npos) << refused;

    // No argument: one more window. Requests are served in order, so three
    // windows means the refused start opened none.
    auto [plainStatus, plain] = start(bus.address(), {}, home);
    EXPECT_EQ(plainStatus, 0) << plain;
    EXPECT_TRUE(waitFor([] { return tabsInStateFile().size() == 3; })) << readFile(stateFile());

    // A start on this home that reaches no bus would write the same files:
    // refused, naming the lock, while the first goes on.
    auto [aloneStatus, alone] = start("unix:path=" + (logs / "no-bus").string(), {}, home);
    EXPECT_EQ(aloneStatus, 1) << alone;
    EXPECT_NE(alone.find("another Quillomere is running"), std::string::npos) << alone;
    EXPECT_FALSE(first.hasExited());
    EXPECT_EQ(tabsInStateFile().size(), 3u);

    // Once the first has ended, a start without a bus runs on its own.
    first.end();
    RunningProgram solo("unix:path=" + (logs / "no-bus").string(), logs / "solo.log");
    EXPECT_TRUE(waitFor([&] { return readFile(logs / "solo.log").find("[setup] First window") != std::string::npos; }))
        << readFile(logs / "solo.log");
    EXPECT_FALSE(solo.hasExited());
}

TEST(SingleInstanceTest, TheBusStartsTheProgramForTheDesktopsRequest) {
    const fs::path home = testHome();
    fs::remove(stateFile());
    writeFile(home / "Pictures/Trip/p.jpg", "x");
    // The service file as installed, naming this build's program.
    writeFile(fs::path(std::getenv("XDG_DATA_HOME")) / "dbus-1/services/org.quillomere.Quillomere.service",
              std::string("[D-BUS Service]\nName=org.quillomere.Quillomere\nExec=") + QM_PROGRAM + " --service\n");
    PrivateBus bus;
    ASSERT_FALSE(bus.address().empty());
    ASSERT_FALSE(bus.isOwned());

    // What a file manager's "Open With" sends for a folder.
    QDBusMessage open = QDBusMessage::createMethodCall(busName, "/org/quillomere/Quillomere",
                                                       "org.freedesktop.Application", "Open");
    open << QStringList{QString::fromStdString(fileURLForPath((home / "Pictures/Trip").string()))} << QVariantMap{};
    const QDBusMessage reply = bus.connection().call(open, QDBus::Block, patience);
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    const pid_t started = bus.ownerPid();
    ASSERT_GT(started, 0);

    // Started for the request, it opens the one window the request asked for.
    EXPECT_TRUE(waitFor([&] { return someTabShows({"Folders", "Pictures", "Trip"}, {}); })) << readFile(stateFile());
    EXPECT_EQ(tabsInStateFile().size(), 1u);

    // Actions are not offered: an error, and the program goes on.
    QDBusMessage action = QDBusMessage::createMethodCall(busName, "/org/quillomere/Quillomere",
                                                         "org.freedesktop.Application", "ActivateAction");
    action << QString("new-window") << QVariantList{} << QVariantMap{};
    EXPECT_EQ(bus.connection().call(action, QDBus::Block, patience).type(), QDBusMessage::ErrorMessage);
    EXPECT_EQ(bus.ownerPid(), started);
}

}  // namespace
}  // namespace qm::test
