#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/QuickString.h"
#include "library/FolderContents.h"
#include "library/Node.h"
#include "library/Tree.h"
#include "library/WhatChanged.h"

namespace qm {

class SerialQueue;

// What reading a folder did to its sub-folder nodes.
enum class SubfolderSync : uint8_t {
    unchanged,  // the same sub-folders as before
    changed,    // sub-folders added or removed
    mustRead,   // and some new one, below an opened folder, must be read now
};

// The folder pass: keeps the Folders section of the live tree in step with
// the home directory, lazily. Folders are marked stale (by events, by being
// opened) and the pass reads the stale ones one at a time: each directory is
// listed on "FolderQueue" and its result applied on the main thread in a
// later turn of the main queue, after which the pass goes on. A big
// directory thus never blocks the main thread while it is listed, and only
// folders the user opened (and home itself) are read.
//
// Main thread only, apart from the reads on its queue, which own copies of
// what they need. Owned by the database.
class FolderScanner : public std::enable_shared_from_this<FolderScanner> {
public:
    // The live tree at each step (the database replaces it once, when the
    // first full tree arrives); where the changes of each read go.
    using LiveTree = std::function<Tree&()>;
    using Apply = std::function<void(WhatChanged)>;

    static std::shared_ptr<FolderScanner> create(LiveTree tree, Apply apply);
    // A read still in flight finishes; its result finds the pass gone.
    ~FolderScanner();
    FolderScanner(const FolderScanner&) = delete;
    FolderScanner& operator=(const FolderScanner&) = delete;

    // Starts a pass unless one is running.
    void scheduleDirectoryUpdate();
    // Marks the folder of a directory path stale (its whole subtree when
    // recursive) and schedules a pass; paths outside home or without a node
    // are ignored.
    void directoryChanged(const QuickString& path, bool recursive);
    // Opens the folders with these full names and their ancestors, in that
    // order, ahead of the rest of the pass: each stale one is read first,
    // then marked opened and its found sub-folders scheduled.
    void openDirectories(const std::vector<QuickString>& fullNames);

    // True from the first scheduling of a pass until a pass finds nothing
    // stale, including while a directory is being read.
    bool isUpdatingDirectories() const { return isUpdatingDirectories_; }
    // True while a directory is read on the folder queue and its result has
    // not been applied yet.
    bool isReadingDirectory() const { return readingNode_ != nullptr; }
    // The queue directories are read on; tests hold it to catch a read in
    // flight, or sync on it to wait for one.
    SerialQueue& folderQueue() const { return *folderQueue_; }

private:
    FolderScanner(LiveTree tree, Apply apply);

    // One turn of the pass: finishes pending opens, else starts the read of
    // the next stale directory; re-posts itself until nothing is stale.
    // Nothing while a read is in flight (its result continues the pass).
    void updateDirectories();
    // Starts reading the first stale directory at or below the node
    // (children first, natural order); whether one was found.
    bool scanNext(const NodePtr& node);
    // Starts rereading the node's directory when it is stale; whether it
    // was. While another read is in flight the node stays stale for the
    // pass to read next.
    bool refreshDirectory(const NodePtr& node);
    void startDirectoryRead(const NodePtr& node, const std::string& directory);
    void directoryRead(std::optional<FolderContents> contents);
    void applyDirectoryContents(const NodePtr& node, FolderContents& contents);
    // Makes the node's sub-folders exactly `names`.
    static SubfolderSync syncSubfolders(Node& node, const QuickStringSet& names);
    // Opens pending folders in order; a stale one is read first when
    // mayRead, else left for the pass. Whether a read is in flight.
    bool continueOpening(bool mayRead);
    void postTurn();

    const LiveTree tree_;
    const Apply apply_;
    bool isUpdatingDirectories_ = false;
    // The folder whose directory is being read (at most one at a time).
    NodePtr readingNode_;
    // Full names still to open, in order; the front waits for its read.
    std::deque<QuickString> pendingOpens_;
    // Last: destroyed first, so a read in flight ends while the rest exists.
    std::unique_ptr<SerialQueue> folderQueue_;
};

}  // namespace qm
