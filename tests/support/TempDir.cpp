#include "support/TempDir.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

#include <utility>

namespace fs = std::filesystem;

namespace qm::test {

void useAsHome(const fs::path& h) {
    for (auto [var, sub] : {std::pair{"XDG_CONFIG_HOME", ".config"}, {"XDG_CACHE_HOME", ".cache"},
                            {"XDG_DATA_HOME", ".local/share"}, {"XDG_STATE_HOME", ".local/state"}}) {
        fs::create_directories(h / sub);
        setenv(var, (h / sub).c_str(), 1);
    }
    fs::create_directories(h / "runtime");
    fs::permissions(h / "runtime", fs::perms::owner_all);
    setenv("XDG_RUNTIME_DIR", (h / "runtime").c_str(), 1);
    setenv("HOME", h.c_str(), 1);
}

TempDir::TempDir(const std::string& prefix) {
    std::string tmpl = (fs::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Tests chmod directories to 000; give them back so removal can descend.
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    ec.clear();
    fs::remove_all(path_, ec);
}

fs::path testHome() {
    const char* h = std::getenv("HOME");
    return h ? fs::path(h) : fs::path();
}

void writeFile(const fs::path& p, const std::string& bytes) {
    fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + p.string());
}

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace qm::test
