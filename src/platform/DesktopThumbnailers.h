#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace qm {

// The thumbnailer entries the desktop's file managers share: files
// thumbnailers/*.thumbnailer under the XDG data directories, each naming a
// program (Exec, with %i %o %s %u for the input path, output PNG, size and input
// URI) and the MIME types it draws. An entry in an earlier directory hides one of
// the same file name in a later one; for each type the first entry found wins.
class DesktopThumbnailers {
public:
    struct Entry {
        std::string file;               // the .thumbnailer file
        std::vector<std::string> exec;  // the Exec line split into arguments, codes kept
        std::vector<std::string> mimeTypes;
    };

    // $XDG_DATA_HOME/thumbnailers, then each of $XDG_DATA_DIRS/thumbnailers.
    static std::vector<std::filesystem::path> defaultDirectories();

    DesktopThumbnailers() : DesktopThumbnailers(defaultDirectories()) {}
    explicit DesktopThumbnailers(const std::vector<std::filesystem::path>& directories);

    // The entry for a MIME type; none when no usable entry draws it.
    const Entry* find(std::string_view mimeType) const;
    const std::vector<Entry>& entries() const { return entries_; }

    // Parses one entry file; absent when it is not a usable entry (no Exec or
    // MimeType, a TryExec program that is not installed, bad quoting).
    static std::optional<Entry> parse(const std::filesystem::path& file);
    // Splits an Exec value into arguments by the desktop entry quoting rules.
    static std::optional<std::vector<std::string>> splitExec(std::string_view value);

    struct Input {
        std::string path;        // absolute
        std::string uri;         // file URI of path
        std::string outputPath;  // where the PNG must go
        int size = 256;
    };
    // The program's arguments with the codes replaced: each argument stays one
    // argument whatever the names hold, as no shell reads them.
    static std::vector<std::string> commandLine(const Entry& entry, const Input& input);

    // The same run inside bubblewrap: the system's programs and libraries read-only,
    // the input file read-only, the output's folder writable, nothing else of the
    // home, no network. argv[0] must be an absolute path.
    static std::vector<std::string> sandboxed(const std::string& bwrap, const std::vector<std::string>& argv,
                                              const Input& input);

private:
    std::vector<Entry> entries_;
    std::unordered_map<std::string, size_t> byType_;
};

}  // namespace qm
