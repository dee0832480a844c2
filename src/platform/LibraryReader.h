#pragma once

#include <chrono>
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
// start does (the crawl, without a watcher) and stores what changed; while a
// live index (the program, or quillomere-index --watch) keeps that saved
// index current it answers from it at once. With a folder it reads that
// folder from the disk alone and keeps nothing.
class LibraryReader {
public:
    struct Options {
        std::optional<std::string> folder;  // absolute; none: the saved index over the home folder
        // Test seam: the saved index's file (none: the program's default).
        std::optional<std::string> databasePath;
        // False: answer from the saved index as it was last written, without
        // the crawl, even when no live index keeps it current (changes made
        // while none was watching are then missed). Ignored with a folder.
        bool reconcile = true;
        // Receives the index's "[setup]" lines; none: they are dropped.
        std::function<void(const std::string&)> log;
    };

    explicit LibraryReader(Options options);  // runs the index until it has settled
    ~LibraryReader();
    LibraryReader(const LibraryReader&) = delete;
    LibraryReader& operator=(const LibraryReader&) = delete;

    // True when the answer came from the saved index without a crawl.
    bool answeredFromSavedIndex() const { return !index_; }

    // After the tags of files were changed: while a live index keeps the
    // saved index current, waits (at most `timeout`) until it has stored the
    // new tags of the files it knows, so that a query made right after sees
    // them. Files it does not know (new, hidden, outside the home folder)
    // are not waited for.
    static void awaitLiveIndex(const std::vector<std::string>& changedFiles, std::chrono::milliseconds timeout,
                               const std::optional<std::string>& databasePath = std::nullopt);

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
