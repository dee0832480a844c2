#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "core/XdgDirectories.h"

namespace qm {
namespace {

// Sets a variable for the scope, then puts the test main's value back.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedVariable() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(XdgDirectories, AbsoluteValuesWinAndOthersFallBackToHome) {
    ScopedVariable home("HOME", "/home/someone");
    struct Case {
        const char* variable;
        std::string (*lookup)();
        const char* fallback;
    };
    for (const Case& c : {Case{"XDG_DATA_HOME", xdgDataHome, "/home/someone/.local/share"},
                          Case{"XDG_CONFIG_HOME", xdgConfigHome, "/home/someone/.config"},
                          Case{"XDG_CACHE_HOME", xdgCacheHome, "/home/someone/.cache"},
                          Case{"XDG_STATE_HOME", xdgStateHome, "/home/someone/.local/state"}}) {
        {
            ScopedVariable v(c.variable, "/elsewhere/x");
            EXPECT_EQ(c.lookup(), "/elsewhere/x") << c.variable;
        }
        for (const char* ignored : {static_cast<const char*>(nullptr), "", "relative/dir", "./dir", "~/dir"}) {
            ScopedVariable v(c.variable, ignored);
            EXPECT_EQ(c.lookup(), c.fallback) << c.variable << "=" << (ignored ? ignored : "(unset)");
        }
    }
    EXPECT_EQ(homeDirectory(), "/home/someone");
}

// The user's own home from the password database, as getent reports it.
std::string passwordDatabaseHome() {
    const std::string command = "getent passwd " + std::to_string(::getuid()) + " | cut -d: -f6";
    FILE* pipe = ::popen(command.c_str(), "r");
    std::string out;
    char buffer[512];
    while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
    ::pclose(pipe);
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

TEST(XdgDirectories, WithoutAnAbsoluteHomeTheUsersEntryIsUsedNeverASharedFolder) {
    const std::string expected = passwordDatabaseHome();
    ASSERT_FALSE(expected.empty());
    for (const char* home : {static_cast<const char*>(nullptr), "", "relative"}) {
        ScopedVariable h("HOME", home);
        ScopedVariable state("XDG_STATE_HOME", nullptr);
        EXPECT_EQ(homeDirectory(), expected) << (home ? home : "(unset)");
        EXPECT_EQ(xdgStateHome(), expected + "/.local/state");
    }
}

TEST(XdgDirectories, DataDirsKeepOrderAndDropRelativeEntries) {
    const std::vector<std::string> defaults = {"/usr/local/share", "/usr/share"};
    {
        ScopedVariable v("XDG_DATA_DIRS", nullptr);
        EXPECT_EQ(xdgDataDirs(), defaults);
    }
    {
        ScopedVariable v("XDG_DATA_DIRS", "");
        EXPECT_EQ(xdgDataDirs(), defaults);
    }
    {
        ScopedVariable v("XDG_DATA_DIRS", "/opt/b::rel/dir:/opt/a:");
        EXPECT_EQ(xdgDataDirs(), (std::vector<std::string>{"/opt/b", "/opt/a"}));
    }
    {
        ScopedVariable v("XDG_DATA_DIRS", "only/relative");
        EXPECT_EQ(xdgDataDirs(), defaults);
    }
}

}  // namespace
}  // namespace qm
