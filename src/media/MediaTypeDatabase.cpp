#include "media/MediaTypeDatabase.h"

#include "core/XdgDirectories.h"

#include <charconv>
#include <fstream>
#include <utility>

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
    files.emplace_back(std::filesystem::path(xdgDataHome()) / "mime/globs2");
    for (const std::string& dir : xdgDataDirs())
        files.emplace_back(std::filesystem::path(dir) / "mime/globs2");
    return files;
}

// Types of the formats with a readable position, for systems whose database lacks them.
constexpr std::pair<const char*, const char*> kBuiltIn[] = {
    {"jpg", "image/jpeg"},         {"jpeg", "image/jpeg"},         {"jpe", "image/jpeg"},
    {"png", "image/png"},          {"tif", "image/tiff"},          {"tiff", "image/tiff"},
    {"webp", "image/webp"},        {"heic", "image/heif"},         {"heif", "image/heif"},
    {"avif", "image/avif"},        {"dng", "image/x-adobe-dng"},   {"cr2", "image/x-canon-cr2"},
    {"cr3", "image/x-canon-cr3"},  {"crw", "image/x-canon-crw"},   {"nef", "image/x-nikon-nef"},
    {"nrw", "image/x-nikon-nrw"},  {"arw", "image/x-sony-arw"},    {"sr2", "image/x-sony-sr2"},
    {"orf", "image/x-olympus-orf"}, {"rw2", "image/x-panasonic-rw2"}, {"raf", "image/x-fuji-raf"},
    {"pef", "image/x-pentax-pef"}, {"srw", "image/x-samsung-srw"}, {"mrw", "image/x-minolta-mrw"},
    {"3fr", "image/x-hasselblad-3fr"}, {"erf", "image/x-epson-erf"}, {"kdc", "image/x-kodak-kdc"},
    {"mp4", "video/mp4"},          {"mov", "video/quicktime"},     {"m4v", "video/mp4"},
    {"3gp", "video/3gpp"},         {"3g2", "video/3gpp2"},
};

}  // namespace

const MediaTypeDatabase& MediaTypeDatabase::shared() {
    static const MediaTypeDatabase database(defaultGlobsFiles());
    return database;
}

void MediaTypeDatabase::add(Map& into, std::string key, int weight, std::string_view type) {
    auto [it, inserted] = into.try_emplace(std::move(key));
    // A pattern already given by an earlier (higher-precedence) file keeps that file's type.
    if (inserted || weight > it->second.weight) it->second = Entry{weight, std::string(type)};
}

MediaTypeDatabase::MediaTypeDatabase(const std::vector<std::filesystem::path>& globsFiles) {
    for (const auto& file : globsFiles) {
        std::ifstream in(file);
        Map sensitive, folded;
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
    for (const auto& [extension, type] : kBuiltIn)
        folded_.try_emplace(extension, Entry{0, type});
}

std::string_view MediaTypeDatabase::typeForFileName(std::string_view fileName) const {
    if (std::size_t slash = fileName.rfind('/'); slash != std::string_view::npos)
        fileName.remove_prefix(slash + 1);
    std::size_t dot = fileName.rfind('.');
    if (dot == std::string_view::npos || dot + 1 == fileName.size()) return {};
    std::string_view extension = fileName.substr(dot + 1);
    if (auto it = caseSensitive_.find(extension); it != caseSensitive_.end()) return it->second.type;
    // Extensions are short: folded on the stack.
    char lower[32];
    if (extension.size() > sizeof lower) return {};
    for (std::size_t i = 0; i < extension.size(); ++i) {
        const char ch = extension[i];
        lower[i] = ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch - 'A' + 'a') : ch;
    }
    if (auto it = folded_.find(std::string_view(lower, extension.size())); it != folded_.end())
        return it->second.type;
    return {};
}

std::vector<std::string> MediaTypeDatabase::extensionsForType(std::string_view type) const {
    std::vector<std::string> out;
    if (type.empty()) return out;
    for (const auto* map : {&caseSensitive_, &folded_})
        for (const auto& [extension, entry] : *map)
            if (entry.type == type) out.push_back(lowerAscii(extension));
    return out;
}

}  // namespace qm
