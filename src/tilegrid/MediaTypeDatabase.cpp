#include "tilegrid/MediaTypeDatabase.h"

#include <charconv>
#include <cstdlib>
#include <fstream>

namespace qm {

namespace {

std::string lowerAscii(std::string_view s) {
    std::string out(s);
    for (char& ch : out)
        if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
    return out;
}

std::vector<std::filesystem::path> defaultGlobsFiles() {
    std::vector<std::filesystem::path> files;
    // Earlier directories take precedence, as in the XDG base directory rules.
    if (const char* home = std::getenv("XDG_DATA_HOME"); home && *home)
        files.emplace_back(std::filesystem::path(home) / "mime/globs2");
    else if (const char* h = std::getenv("HOME"); h && *h)
        files.emplace_back(std::filesystem::path(h) / ".local/share/mime/globs2");
    std::string dirs = "/usr/local/share:/usr/share";
    if (const char* d = std::getenv("XDG_DATA_DIRS"); d && *d) dirs = d;
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t colon = dirs.find(':', start);
        if (colon == std::string::npos) colon = dirs.size();
        if (colon > start)
            files.emplace_back(std::filesystem::path(dirs.substr(start, colon - start)) / "mime/globs2");
        start = colon + 1;
    }
    return files;
}

}  // namespace

const MediaTypeDatabase& MediaTypeDatabase::shared() {
    static const MediaTypeDatabase database(defaultGlobsFiles());
    return database;
}

void MediaTypeDatabase::add(std::unordered_map<std::string, Entry>& into, std::string key, int weight,
                            std::string_view type) {
    auto [it, inserted] = into.try_emplace(std::move(key));
    // A pattern already given by an earlier (higher-precedence) file keeps that file's type.
    if (inserted || weight > it->second.weight) it->second = Entry{weight, std::string(type)};
}

MediaTypeDatabase::MediaTypeDatabase(const std::vector<std::filesystem::path>& globsFiles) {
    for (const auto& file : globsFiles) {
        std::ifstream in(file);
        std::unordered_map<std::string, Entry> sensitive, folded;
        std::string line;
        while (std::getline(in, line)) {
            // weight:type:pattern[:flags[:...]]
            if (line.empty() || line[0] == '#') continue;
            std::string_view rest(line);
            std::size_t a = rest.find(':');
            if (a == std::string_view::npos) continue;
            std::size_t b = rest.find(':', a + 1);
            if (b == std::string_view::npos) continue;
            int weight = 0;
            if (std::from_chars(rest.data(), rest.data() + a, weight).ec != std::errc()) continue;
            std::string_view type = rest.substr(a + 1, b - a - 1);
            std::string_view pattern = rest.substr(b + 1);
            std::string_view flags;
            if (std::size_t c = pattern.find(':'); c != std::string_view::npos) {
                flags = pattern.substr(c + 1);
                pattern = pattern.substr(0, c);
            }
            // Only plain "*.ext" patterns: the ones that name an extension.
            if (pattern.size() < 3 || pattern.substr(0, 2) != "*.") continue;
            std::string_view extension = pattern.substr(2);
            if (extension.find_first_of("*?[.") != std::string_view::npos) continue;
            if (flags.find("cs") != std::string_view::npos)
                add(sensitive, std::string(extension), weight, type);
            else
                add(folded, lowerAscii(extension), weight, type);
        }
        for (auto& [k, e] : sensitive)
            caseSensitive_.try_emplace(k, e);
        for (auto& [k, e] : folded)
            folded_.try_emplace(k, e);
    }
}

std::string MediaTypeDatabase::typeForFileName(std::string_view fileName) const {
    std::size_t dot = fileName.rfind('.');
    if (dot == std::string_view::npos || dot + 1 == fileName.size()) return {};
    std::string_view extension = fileName.substr(dot + 1);
    if (auto it = caseSensitive_.find(std::string(extension)); it != caseSensitive_.end())
        return it->second.type;
    if (auto it = folded_.find(lowerAscii(extension)); it != folded_.end()) return it->second.type;
    return {};
}

}  // namespace qm
