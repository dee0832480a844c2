#include "platform/DesktopThumbnailers.h"

#include "core/XdgDirectories.h"
#include "platform/LimitedProcess.h"

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>

#include <sys/stat.h>

namespace qm {
namespace fs = std::filesystem;
namespace {

std::string trimmed(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(" \t\r");
    return std::string(s.substr(first, last - first + 1));
}

// The escapes of a desktop entry's string values.
std::string unescapedValue(std::string_view v) {
    std::string out;
    for (size_t i = 0; i < v.size(); ++i) {
        if (v[i] != '\\' || i + 1 == v.size()) {
            out += v[i];
            continue;
        }
        switch (char c = v[++i]) {
            case 's':
                out += ' ';
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            case '\\':
                out += '\\';
                break;
            default:
                out += '\\', out += c;
        }
    }
    return out;
}

std::vector<std::string> splitList(std::string_view v) {
    std::vector<std::string> out;
    std::string item;
    for (char c : v) {
        if (c == ';') {
            if (auto t = trimmed(item); !t.empty()) out.push_back(t);
            item.clear();
        } else {
            item += c;
        }
    }
    if (auto t = trimmed(item); !t.empty()) out.push_back(t);
    return out;
}

bool isSymlink(const char* path) {
    struct stat st {};
    return ::lstat(path, &st) == 0 && S_ISLNK(st.st_mode);
}

}  // namespace

std::vector<fs::path> DesktopThumbnailers::defaultDirectories() {
    std::vector<fs::path> out{fs::path(xdgDataHome()) / "thumbnailers"};
    for (const auto& d : xdgDataDirs())
        out.push_back(fs::path(d) / "thumbnailers");
    return out;
}

std::optional<std::vector<std::string>> DesktopThumbnailers::splitExec(std::string_view value) {
    std::vector<std::string> args;
    std::string current;
    bool inArgument = false, quoted = false;
    for (size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (quoted) {
            if (c == '"') {
                quoted = false;
            } else if (c == '\\' && i + 1 < value.size() &&
                       std::string_view("\"`$\\").find(value[i + 1]) != std::string_view::npos) {
                current += value[++i];
            } else {
                current += c;
            }
        } else if (c == '"') {
            quoted = inArgument = true;
        } else if (c == ' ' || c == '\t' || c == '\n') {
            if (inArgument) args.push_back(std::move(current));
            current.clear();
            inArgument = false;
        } else {
            current += c;
            inArgument = true;
        }
    }
    if (quoted) return std::nullopt;
    if (inArgument) args.push_back(std::move(current));
    if (args.empty()) return std::nullopt;
    return args;
}

std::optional<DesktopThumbnailers::Entry> DesktopThumbnailers::parse(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    Entry entry;
    entry.file = file.string();
    std::string line, group, exec, tryExec;
    bool sawMimeTypes = false;
    while (std::getline(in, line)) {
        std::string t = trimmed(line);
        if (t.empty() || t[0] == '#') continue;
        if (t.front() == '[') {
            group = t;
            continue;
        }
        if (group != "[Thumbnailer Entry]") continue;
        const auto eq = t.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = trimmed(std::string_view(t).substr(0, eq));
        const std::string value = unescapedValue(trimmed(std::string_view(t).substr(eq + 1)));
        if (key == "Exec")
            exec = value;
        else if (key == "TryExec")
            tryExec = value;
        else if (key == "MimeType")
            entry.mimeTypes = splitList(value), sawMimeTypes = true;
    }
    if (exec.empty() || !sawMimeTypes || entry.mimeTypes.empty()) return std::nullopt;
    if (!tryExec.empty() && LimitedProcess::findExecutable(tryExec).empty()) return std::nullopt;
    auto args = splitExec(exec);
    if (!args) return std::nullopt;
    entry.exec = std::move(*args);
    return entry;
}

DesktopThumbnailers::DesktopThumbnailers(const std::vector<fs::path>& directories) {
    std::set<std::string> seenNames;
    for (const auto& dir : directories) {
        std::error_code ec;
        std::vector<fs::path> files;
        for (const auto& e : fs::directory_iterator(dir, ec)) {
            if (e.path().extension() == ".thumbnailer") files.push_back(e.path());
        }
        std::sort(files.begin(), files.end());
        for (const auto& f : files) {
            if (!seenNames.insert(f.filename().string()).second) continue;
            auto entry = parse(f);
            if (!entry) continue;
            entries_.push_back(std::move(*entry));
            for (const auto& type : entries_.back().mimeTypes)
                byType_.try_emplace(type, entries_.size() - 1);
        }
    }
}

const DesktopThumbnailers::Entry* DesktopThumbnailers::find(std::string_view mimeType) const {
    auto it = byType_.find(std::string(mimeType));
    return it == byType_.end() ? nullptr : &entries_[it->second];
}

std::vector<std::string> DesktopThumbnailers::commandLine(const Entry& entry, const Input& input) {
    std::vector<std::string> out;
    for (const auto& arg : entry.exec) {
        std::string expanded;
        for (size_t i = 0; i < arg.size(); ++i) {
            if (arg[i] != '%' || i + 1 == arg.size()) {
                expanded += arg[i];
                continue;
            }
            switch (arg[++i]) {
                case 'i':
                    expanded += input.path;
                    break;
                case 'u':
                    expanded += input.uri;
                    break;
                case 'o':
                    expanded += input.outputPath;
                    break;
                case 's':
                    expanded += std::to_string(input.size);
                    break;
                case '%':
                    expanded += '%';
                    break;
                default:
                    break;  // codes of other entry kinds mean nothing here
            }
        }
        out.push_back(std::move(expanded));
    }
    return out;
}

std::vector<std::string> DesktopThumbnailers::sandboxed(const std::string& bwrap,
                                                        const std::vector<std::string>& argv,
                                                        const Input& input) {
    std::vector<std::string> out{bwrap, "--ro-bind", "/usr", "/usr"};
    // Merged /usr: the top-level folders are links into it; elsewhere bound as they are.
    for (const char* top : {"/bin", "/sbin", "/lib", "/lib32", "/lib64", "/libx32"}) {
        if (isSymlink(top)) {
            std::error_code ec;
            fs::path target = fs::read_symlink(top, ec);
            if (!ec) out.insert(out.end(), {"--symlink", target.string(), top});
        } else {
            out.insert(out.end(), {"--ro-bind-try", top, top});
        }
    }
    // What programs read to start and to draw text, never the user's settings.
    for (const char* etc : {"/etc/ld.so.cache", "/etc/alternatives", "/etc/fonts", "/var/cache/fontconfig"})
        out.insert(out.end(), {"--ro-bind-try", etc, etc});
    out.insert(out.end(), {"--proc", "/proc", "--dev", "/dev", "--tmpfs", "/tmp", "--chdir", "/", "--setenv",
                           "GIO_USE_VFS", "local", "--unshare-all", "--die-with-parent", "--new-session"});
    // A program installed outside /usr (the user's own entries) is bound where it is.
    if (!argv.empty() && argv[0].rfind("/usr/", 0) != 0)
        out.insert(out.end(), {"--ro-bind", argv[0], argv[0]});
    out.insert(out.end(), {"--ro-bind", input.path, input.path});
    const std::string outputDir = fs::path(input.outputPath).parent_path().string();
    out.insert(out.end(), {"--bind", outputDir, outputDir, "--"});
    out.insert(out.end(), argv.begin(), argv.end());
    return out;
}

}  // namespace qm
