#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace qm {

// The program's one lookup of a file's type by its name: the "*.ext" patterns of the
// freedesktop shared MIME database's globs2 files, so that this Qt-free code
// classifies names the way QMimeDatabase does (sounds are audio/*, movies video/*).
// The image and movie formats whose positions the crawl reads are known even where
// the system's database lacks them.
class MediaTypeDatabase {
public:
    // Reads $XDG_DATA_HOME/mime/globs2 and <dir>/mime/globs2 for $XDG_DATA_DIRS.
    static const MediaTypeDatabase& shared();

    explicit MediaTypeDatabase(const std::vector<std::filesystem::path>& globsFiles);

    // The MIME type for the last extension of a file name or path ("" when
    // unknown); valid as long as the database.
    std::string_view typeForFileName(std::string_view fileName) const;

    // Every extension (lower case) whose name pattern gives `type`.
    std::vector<std::string> extensionsForType(std::string_view type) const;

private:
    struct Entry {
        int weight = -1;
        std::string type;
    };
    // Looked up by string_view without making a string: the crawl asks once per file.
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    using Map = std::unordered_map<std::string, Entry, Hash, std::equal_to<>>;
    void add(Map& into, std::string key, int weight, std::string_view type);

    Map caseSensitive_;
    Map folded_;  // keys in lower case
};

}  // namespace qm
