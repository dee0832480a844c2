#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

class FileIndex;

// The tagged and located files as the program would show them now, for
// one-shot readers such as the command-line tool. By default it opens the
// saved index of the program, reconciles it with the disk exactly as a warm
// start does (the crawl, without a watcher) and stores what changed; with a
// folder it reads that folder from the disk alone and keeps nothing.
class LibraryReader {
public:
    struct Options {
        std::optional<std::string> folder;  // absolute; none: the saved index over the home folder
        // Test seam: the saved index's file (none: the program's default).
        std::optional<std::string> databasePath;
        // False: answer from the saved index as it was last written, without
        // the crawl. Fast, and current while a program with a live index runs;
        // changes made while none was watching are missed. Ignored with a folder.
        bool reconcile = true;
        // Receives the index's "[setup]" lines; none: they are dropped.
        std::function<void(const std::string&)> log;
    };

    explicit LibraryReader(Options options);  // runs the index until it has settled
    ~LibraryReader();
    LibraryReader(const LibraryReader&) = delete;
    LibraryReader& operator=(const LibraryReader&) = delete;

    // Every tagged file with its tags, in no particular order.
    void forEachTagged(const std::function<void(std::string_view path, const std::vector<std::string>& tags)>&
                           visit) const;
    // Every file with a position, in no particular order.
    void forEachLocated(
        const std::function<void(std::string_view path, double latitude, double longitude)>& visit) const;

private:
    struct Saved {
        std::string path;
        std::vector<std::string> tags;
        std::optional<double> latitude, longitude;
    };
    void readSaved(const Options& options);

    std::unique_ptr<FileIndex> index_;
    std::vector<Saved> saved_;  // without reconciling
};

}  // namespace qm
