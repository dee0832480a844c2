// The real program started on damaged and hostile state files, as a person
// finds them after a crash, a full disk, another program or an unplugged
// monitor: each start must show the library within moments, and windows
// saved off every screen come back on one.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QGuiApplication>
#include <QScreen>
#include <QTest>

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "support/ShellCommand.h"
#include "support/TempDir.h"

namespace qm::test {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using Clock = std::chrono::steady_clock;

// A hang or minutes of work never get there; a sanitizer build's start does.
constexpr std::chrono::seconds patience{60};

fs::path stateFile() {
    return fs::path(std::getenv("XDG_STATE_HOME")) / "quillomere/state.json";
}

bool waitFor(const std::function<bool()>& condition) {
    const auto end = Clock::now() + patience;
    while (Clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return condition();
}

// The program, alone (no session bus reaches it), printing into a log.
class Program {
public:
    explicit Program(const fs::path& log) : log_(log) {
        pid_ = ::fork();
        if (pid_ == 0) {
            ::setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + (log.parent_path() / "no-bus").string()).c_str(), 1);
            std::freopen(log.c_str(), "w", stdout);
            std::freopen(log.c_str(), "a", stderr);
            ::execl(QM_PROGRAM, QM_PROGRAM, static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    ~Program() {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    std::string log() const { return readFile(log_); }
    bool showedTheLibrary() const {
        return waitFor([&] { return log().find("[setup] Library shown") != std::string::npos; });
    }

private:
    fs::path log_;
    pid_t pid_ = 0;
};

void run(const std::string& command) {
    auto [status, out] = runShell(command + " 2>&1");
    ASSERT_EQ(status, 0) << command << "\n" << out;
}

json savedFrame(size_t index = 0) {
    const json root = json::parse(readFile(stateFile()), nullptr, false);
    if (!root.is_object() || !root.contains("frames") || root["frames"].size() <= index) return json();
    return root["frames"][index];
}

TEST(DamagedStateStartTest, EveryDamagedStateFileStillShowsTheLibraryAtOnce) {
    TempDir logs("qm-damaged-state");
    fs::create_directories(stateFile().parent_path());
    // A file as the program writes it, on the map with a circle.
    json good;
    {
        Program first(logs / "first.log");
        ASSERT_TRUE(first.showedTheLibrary()) << first.log();
        ASSERT_TRUE(waitFor([] { return savedFrame().is_object(); })) << first.log();
        good = json::parse(readFile(stateFile()));
    }
    json& tab = good["frames"][0]["tabs"][0];
    tab["currentNode"] = {"Map"};
    tab["placedCircle"] = {{"x", 12.5}, {"y", 41.9}, {"r", 0.05}};
    const fs::path saved = logs / "good.json";
    writeFile(saved, good.dump());

    json huge = good;  // numbers no view can take
    for (const char* key : {"x", "y", "width", "height"}) huge["frames"][0][key] = 1e20;
    json& hugeTab = huge["frames"][0]["tabs"][0];
    hugeTab["sidebarThickness"] = 1e20;
    hugeTab["placedCircle"] = {{"x", 1e20}, {"y", -1e20}, {"r", 1e20}};
    hugeTab["scrollState"]["map"] = {{"x", 1e20}, {"y", 1e20}, {"w", 1e-20}, {"h", 1e20}};
    hugeTab["scrollState"]["sidebar"] = {{"relativeScrollOffset", 1e20}};
    json manyTabs = good;
    manyTabs["frames"][0]["tabs"] = json::array();
    for (int i = 0; i < 60000; ++i) manyTabs["frames"][0]["tabs"].push_back(tab);
    json offScreen = good;  // saved on a monitor that is gone, larger than any screen here
    offScreen["frames"][0].update({{"x", 30000}, {"y", 20000}, {"width", 5000}, {"height", 4000}});

    const std::string state = shellQuoted(stateFile().string());
    struct Case {
        const char* name;
        std::string prepare;  // a shell command
        const char* saying;   // what the one line about the file says
    };
    const Case cases[] = {
        {"a FIFO", "rm -f " + state + " && mkfifo " + state, "restores nothing (it is not a regular file)"},
        {"a symbolic link", "rm -f " + state + " && ln -s " + shellQuoted(saved.string()) + " " + state,
         "restores nothing (it is a symbolic link)"},
        {"a file past the size limit", "rm -f " + state + " && truncate -s 67108865 " + state,
         "restores nothing (it is too large)"},
        {"numbers of 1e20", "", nullptr},
        {"60,000 tabs", "", "are left out"},
        {"a window off every screen", "", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (std::string(c.name) == "numbers of 1e20") writeFile(stateFile(), huge.dump());
        else if (std::string(c.name) == "60,000 tabs") writeFile(stateFile(), manyTabs.dump());
        else if (std::string(c.name) == "a window off every screen") writeFile(stateFile(), offScreen.dump());
        else run(c.prepare);

        // A log of its own: the last start's would show its library before this one began.
        Program program(logs / (std::string(c.name) + ".log"));
        ASSERT_TRUE(program.showedTheLibrary()) << program.log();
        if (c.saying) {
            EXPECT_NE(program.log().find(c.saying), std::string::npos) << program.log();
        }
        if (std::string(c.name) == "a window off every screen") {
            // Written again within moments of the start, as the window now is.
            ASSERT_TRUE(waitFor([] { return savedFrame().value("x", 30000) != 30000; })) << readFile(stateFile());
            const json frame = savedFrame();
            const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
            // The window's own area, which the platform sets inside its frame's
            // border: it starts on the screen and is no larger than it.
            EXPECT_TRUE(screen.contains(QPoint(frame["x"].get<int>(), frame["y"].get<int>()))) << frame.dump();
            EXPECT_LE(frame["width"].get<int>(), screen.width()) << frame.dump();
            EXPECT_LE(frame["height"].get<int>(), screen.height()) << frame.dump();
        }
    }
}

}  // namespace
}  // namespace qm::test
