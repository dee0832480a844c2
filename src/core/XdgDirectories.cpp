#include "core/XdgDirectories.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>

namespace qm {

namespace {

std::string fromVariable(const char* variable, const char* belowHome) {
    if (const char* v = std::getenv(variable); v && v[0] == '/') return v;
    return homeDirectory() + belowHome;
}

}  // namespace

std::string homeDirectory() {
    if (const char* home = std::getenv("HOME"); home && home[0] == '/') return home;
    // A session started without HOME (a service, a cron job) still has a home
    // of its own; a shared fallback such as /tmp would mix users' files.
    std::vector<char> buffer(16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir &&
        found->pw_dir[0] == '/')
        return found->pw_dir;
    return "";
}

std::string xdgDataHome() { return fromVariable("XDG_DATA_HOME", "/.local/share"); }
std::string xdgConfigHome() { return fromVariable("XDG_CONFIG_HOME", "/.config"); }
std::string xdgCacheHome() { return fromVariable("XDG_CACHE_HOME", "/.cache"); }
std::string xdgStateHome() { return fromVariable("XDG_STATE_HOME", "/.local/state"); }

std::vector<std::string> xdgDataDirs() {
    std::vector<std::string> dirs;
    if (const char* v = std::getenv("XDG_DATA_DIRS")) {
        std::string_view rest(v);
        while (!rest.empty()) {
            const std::size_t colon = rest.find(':');
            const std::string_view entry = rest.substr(0, colon);
            if (entry.starts_with('/')) dirs.emplace_back(entry);
            if (colon == std::string_view::npos) break;
            rest.remove_prefix(colon + 1);
        }
    }
    if (dirs.empty()) dirs = {"/usr/local/share", "/usr/share"};
    return dirs;
}

}  // namespace qm
