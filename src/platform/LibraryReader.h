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
// one-shot readers such as the command-line tool. While a live index (the
// program, or quillomere-index --watch) keeps the saved index current it
// answers from that file at once, reading it only: the live index owns it.
// Otherwise, having checked that none does, it reconciles the saved index
// with the disk exactly as a warm start does (the crawl, without a watcher)
// and stores what changed. With a folder it reads that folder from the disk
// alone and keeps nothing.
//
// A saved index that cannot answer (missing, damaged, of another layout)
// is never repaired by a reader: the disk is read instead, in memory, or,
// when the caller asked for the saved index alone, the answer is marked
// incomplete. Every such problem is one line of problems().
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
        // Receives the index's timing lines; none: they are dropped.
        std::function<void(const std::string&)> log;
    };

    explicit LibraryReader(Options options);  // runs the index until it has settled
    ~LibraryReader();
    LibraryReader(const LibraryReader&) = delete;
    LibraryReader& operator=(const LibraryReader&) = delete;

    // True when the answer came from the saved index without a crawl.
    bool answeredFromSavedIndex() const { return !index_ && complete_; }
    // False when files may be missing from the answer (see problems()).
    bool isComplete() const { return complete_; }
    // What kept the saved index from answering, or went wrong with it, one
    // sentence each (no area word), for standard error.
    std::vector<std::string> problems() const;

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
    // False, with the reason in problems_, when the saved index cannot answer.
    bool readSaved(const std::string& path);
    void runIndex(const Options& options, bool memoryOnly);

    std::unique_ptr<FileIndex> index_;
    std::vector<Saved> saved_;  // without reconciling
    std::vector<std::string> problems_;
    bool complete_ = true;
};

}  // namespace qm
