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

    // The MIME type for the last extension of a file name or path ("" when unknown).
    std::string typeForFileName(std::string_view fileName) const;

    // Every extension (lower case) whose name pattern gives `type`.
    std::vector<std::string> extensionsForType(std::string_view type) const;

private:
    struct Entry {
        int weight = -1;
        std::string type;
    };
    void add(std::unordered_map<std::string, Entry>& into, std::string key, int weight,
             std::string_view type);

    std::unordered_map<std::string, Entry> caseSensitive_;
    std::unordered_map<std::string, Entry> folded_;  // keys in lower case
};

}  // namespace qm
