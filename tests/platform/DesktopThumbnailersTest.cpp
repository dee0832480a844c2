// The desktop's thumbnailer entries and the limited runs of their programs. The
// shell is the oracle for arguments: "$@" shows exactly what a program received.
#include "platform/DesktopThumbnailers.h"
#include "platform/LimitedProcess.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/TempDir.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

void writeEntry(const fs::path& file, const std::string& body) {
    fs::create_directories(file.parent_path());
    test::writeFile(file, body);
}

// What a program got as arguments, written by the shell NUL-separated.
Args receivedBy(const Args& args, const fs::path& out) {
    Args argv{"/bin/sh", "-c", "printf '%s\\0' \"$@\" > \"$0\"", out.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    EXPECT_TRUE(LimitedProcess::run(argv, {}).succeeded());
    Args got;
    std::string bytes = test::readFile(out), item;
    for (char c : bytes) {
        if (c == '\0')
            got.push_back(item), item.clear();
        else
            item += c;
    }
    return got;
}

TEST(DesktopThumbnailers, EntriesAreFoundByTypeWithTheDirectoriesPrecedence) {
    test::TempDir dir;
    const fs::path home = dir / "data home/thumbnailers", system = dir / "system/thumbnailers";
    // The user's own entry hides the system's of the same file name; another system
    // entry for the same type comes after it.
    writeEntry(
        home / "office.thumbnailer",
        "[Thumbnailer Entry]\nExec=/usr/bin/mine %i %o\nMimeType=application/vnd.oasis.opendocument.text;\n");
    writeEntry(system / "office.thumbnailer",
               "[Thumbnailer Entry]\nTryExec=sh\nExec=/usr/bin/system %u %o\n"
               "MimeType=application/vnd.oasis.opendocument.text;text/csv;\n");
    writeEntry(system / "other.thumbnailer",
               "# comment\n[Other Group]\nExec=wrong\n[Thumbnailer Entry]\nExec=\"/opt/my tools/thumb\" -s "
               "%s %u %o\n"
               "MimeType=text/csv;application/x-font-ttf;font/ttf\n");
    writeEntry(system / "not installed.thumbnailer",
               "[Thumbnailer Entry]\nTryExec=/nonexistent/program\nExec=/nonexistent/program %i %o\n"
               "MimeType=application/epub+zip;\n");
    writeEntry(system / "broken.thumbnailer",
               "[Thumbnailer Entry]\nExec=\"unterminated %i\nMimeType=text/x-broken;\n");
    writeEntry(system / "no types.thumbnailer", "[Thumbnailer Entry]\nExec=/usr/bin/x %i %o\n");
    writeEntry(system / "ignored.txt", "[Thumbnailer Entry]\nExec=/usr/bin/x\nMimeType=text/plain;\n");

    DesktopThumbnailers entries({home, dir / "missing/thumbnailers", system});
    ASSERT_NE(entries.find("application/vnd.oasis.opendocument.text"), nullptr);
    EXPECT_EQ(entries.find("application/vnd.oasis.opendocument.text")->exec,
              (Args{"/usr/bin/mine", "%i", "%o"}));
    ASSERT_NE(entries.find("text/csv"), nullptr);
    EXPECT_EQ(entries.find("text/csv")->exec, (Args{"/opt/my tools/thumb", "-s", "%s", "%u", "%o"}))
        << "the hidden system entry gives up its other types too";
    EXPECT_NE(entries.find("font/ttf"), nullptr);
    EXPECT_EQ(entries.find("application/epub+zip"), nullptr) << "TryExec not installed";
    EXPECT_EQ(entries.find("text/x-broken"), nullptr);
    EXPECT_EQ(entries.find("text/plain"), nullptr);
    EXPECT_EQ(entries.entries().size(), 2u);

    // The quoting rules of the desktop's entries.
    EXPECT_EQ(DesktopThumbnailers::splitExec("a  \"b c\" \"f\\\"g\\\\h\\$i\" \"\" x\"y z\""),
              (Args{"a", "b c", "f\"g\\h$i", "", "xy z"}));
    EXPECT_FALSE(DesktopThumbnailers::splitExec("\"open"));
    EXPECT_FALSE(DesktopThumbnailers::splitExec("   "));
}

TEST(DesktopThumbnailers, CodesAreReplacedAndEveryNameStaysOneArgument) {
    test::TempDir dir;
    DesktopThumbnailers::Entry entry;
    entry.exec = {"prog", "--size=%s", "%i", "%u", "%o", "100%%", "%f%k", "pre%ipost"};
    const std::string hostile = "/home/u/a \"quoted\" $(touch pwned) `x` 'single';\nline\xff.odt";
    DesktopThumbnailers::Input input{hostile, "file:///home/u/a%20%22quoted%22", "/tmp/out dir/t.png", 128};
    const Args line = DesktopThumbnailers::commandLine(entry, input);
    EXPECT_EQ(line, (Args{"prog", "--size=128", hostile, input.uri, input.outputPath, "100%", "",
                          "pre" + hostile + "post"}));
    // Run with no shell in between: the program gets them byte for byte.
    Args args(line.begin() + 1, line.end());
    EXPECT_EQ(receivedBy(args, dir / "args"), args);
    EXPECT_FALSE(fs::exists("pwned"));
}

TEST(LimitedProcess, RunsWithLimitsNoInheritedDescriptorsAndATimeout) {
    test::TempDir dir;
    const fs::path out = dir / "out";
    // A descriptor of ours without close-on-exec, as a library might leave one.
    int leaked = ::open(out.parent_path().c_str(), O_RDONLY);
    ASSERT_GE(leaked, 0);
    ASSERT_EQ(::dup2(leaked, 200), 200);
    LimitedProcess::Limits limits;
    limits.addressSpaceBytes = std::uint64_t{1} << 30;
    limits.cpuSeconds = 7;
    const std::string script =
        "exec 3>\"$0\"; ls /proc/$$/fd >&3; echo \"v=$(ulimit -v) t=$(ulimit -t)\" >&3; "
        "echo \"in=$(readlink /proc/$$/fd/0) sid=$(cut -d' ' -f6 /proc/$$/stat) pid=$$\" >&3";
    auto r = LimitedProcess::run({"sh", "-c", script, out.string()}, limits);
    EXPECT_TRUE(r.succeeded());
    const std::string seen = test::readFile(out);
    EXPECT_EQ(seen.find("\n200\n"), std::string::npos) << seen;
    EXPECT_NE(seen.find("v=1048576 t=7"), std::string::npos) << seen;
    EXPECT_NE(seen.find("in=/dev/null"), std::string::npos) << seen;
    // Its own session, so that a timeout ends everything it started.
    auto sid = seen.substr(seen.find("sid=") + 4);
    auto pid = seen.substr(seen.find("pid=") + 4);
    EXPECT_EQ(sid.substr(0, sid.find(' ')), pid.substr(0, pid.find('\n')));
    ::close(200);
    ::close(leaked);

    EXPECT_EQ(LimitedProcess::run({"sh", "-c", "exit 3"}, {}).outcome, LimitedProcess::Outcome::exited);
    EXPECT_EQ(LimitedProcess::run({"sh", "-c", "exit 3"}, {}).code, 3);
    EXPECT_EQ(LimitedProcess::run({"sh", "-c", "kill -SEGV $$"}, {}).outcome,
              LimitedProcess::Outcome::signalled);
    EXPECT_EQ(LimitedProcess::run({"/nonexistent/program"}, {}).outcome,
              LimitedProcess::Outcome::failedToStart);
    EXPECT_EQ(LimitedProcess::run({}, {}).outcome, LimitedProcess::Outcome::failedToStart);

    // A program that hangs, with a helper of its own: both end at the timeout.
    limits.timeout = std::chrono::milliseconds(300);
    const fs::path helperPid = dir / "helper.pid";
    r = LimitedProcess::run({"sh", "-c", "sleep 600 & echo $! > \"$0\"; sleep 600", helperPid.string()},
                            limits);
    EXPECT_EQ(r.outcome, LimitedProcess::Outcome::timedOut);
    const pid_t helper = std::stoi(test::readFile(helperPid));
    bool gone = false;
    for (int i = 0; i < 200 && !gone; ++i) {
        std::ifstream stat("/proc/" + std::to_string(helper) + "/stat");
        std::string pidField, name, state;
        gone = !(stat >> pidField >> name >> state) || state == "Z";
        if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(gone) << "the helper outlived the timeout";

    // CPU time is limited even within the wall-clock time.
    limits.timeout = std::chrono::seconds(60);
    limits.cpuSeconds = 1;
    r = LimitedProcess::run({"sh", "-c", "while :; do :; done"}, limits);
    EXPECT_EQ(r.outcome, LimitedProcess::Outcome::signalled);
    EXPECT_TRUE(r.code == SIGXCPU || r.code == SIGKILL) << r.code;
}

}  // namespace
}  // namespace qm
