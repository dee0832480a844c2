#include "library/FolderScanner.h"

#include <utility>

#include "core/MainQueue.h"
#include "core/SerialQueue.h"
#include "library/TreeNames.h"

namespace qm {

namespace {

bool isFolder(const Node& node) {
    return has(node.kind, NodeKind::directory);
}

}  // namespace

std::shared_ptr<FolderScanner> FolderScanner::create(LiveTree tree, Apply apply) {
    return std::shared_ptr<FolderScanner>(new FolderScanner(std::move(tree), std::move(apply)));
}

FolderScanner::FolderScanner(LiveTree tree, Apply apply)
    : tree_(std::move(tree)),
      apply_(std::move(apply)),
      folderQueue_(std::make_unique<SerialQueue>("FolderQueue")) {}

FolderScanner::~FolderScanner() = default;

void FolderScanner::postTurn() {
    mainQueue().postWeak(weak_from_this(), [](FolderScanner& pass) { pass.updateDirectories(); });
}

void FolderScanner::scheduleDirectoryUpdate() {
    if (isUpdatingDirectories_) return;
    isUpdatingDirectories_ = true;
    postTurn();
}

void FolderScanner::updateDirectories() {
    // The read's result re-posts the pass once it is applied.
    if (readingNode_) return;
    if (continueOpening(true) || scanNext(tree_().rootNode())) {
        if (!readingNode_) postTurn();
    } else {
        isUpdatingDirectories_ = false;
    }
}

bool FolderScanner::scanNext(const NodePtr& node) {
    if (node->hasFlag(NodeFlags::descendantStale)) {
        // A copy: the cache must not be relied on across a read.
        const std::vector<NodePtr> children = node->sortedChildren();
        for (const NodePtr& child : children)
            if (scanNext(child)) return true;
        node->markDescendantsRead();
    }
    return refreshDirectory(node);
}

bool FolderScanner::refreshDirectory(const NodePtr& node) {
    if (!node->hasFlag(NodeFlags::stale)) return false;
    if (readingNode_) {
        // One read at a time: leave the node stale and let the pass, which
        // goes on once the current read is applied, find it.
        node->markStale();
        scheduleDirectoryUpdate();
        return true;
    }
    node->markRead();

    auto directory = folderPathForNode(node->fullName);
    if (!directory) return true;
    startDirectoryRead(node, *directory);
    return true;
}

void FolderScanner::startDirectoryRead(const NodePtr& node, const std::string& directory) {
    readingNode_ = node;
    // The result continues the pass, which must be known to be running.
    isUpdatingDirectories_ = true;
    folderQueue_->async([weak = weak_from_this(), directory, isHome = node == tree_().directoriesNode()] {
        // The listing and the path table are built here, off the main
        // thread; the main thread only swaps them in.
        auto contents = readFolderContents(directory, isHome);
        mainQueue().postWeak(weak, [contents = std::move(contents)](FolderScanner& pass) mutable {
            pass.directoryRead(std::move(contents));
        });
    });
}

void FolderScanner::directoryRead(std::optional<FolderContents> contents) {
    NodePtr node = std::move(readingNode_);
    readingNode_.reset();
    // A folder removed, or a tree replaced, while its directory was read has
    // nothing to update.
    if (node && tree_().lookup(node->nodePath()) == node) {
        if (contents) {
            applyDirectoryContents(node, *contents);
            // Freeing a table of 100,000 paths takes longer than a frame:
            // the folder queue does it.
            folderQueue_->async([unused = std::make_shared<FolderContents>(std::move(*contents))] {
                FolderContents freedHere = std::move(*unused);
            });
        } else {
            // The directory may have gone: have the parent read again, which
            // drops this node if so.
            NodePtr parent = node->parent();
            if (parent && isFolder(*parent)) parent->markStale();
        }
    }
    // The pass goes on in a turn of its own. A new event for the node while
    // it was read left it stale, so the pass reads it again.
    postTurn();
}

void FolderScanner::applyDirectoryContents(const NodePtr& node, FolderContents& contents) {
    const SubfolderSync sync = syncSubfolders(*node, contents.subfolderNames);
    // New sub-folders of an opened folder are stale already; the pass reads them.
    if (sync == SubfolderSync::mustRead) scheduleDirectoryUpdate();
    WhatChanged bits = sync != SubfolderSync::unchanged ? WhatChanged::children : WhatChanged::none;
    if (node->paths() != contents.files) {
        // What `contents` holds from here on is thrown away by the caller.
        contents.files = node->replacePaths(std::move(contents.files));
        bits |= WhatChanged::paths;
    }
    apply_(bits);
}

SubfolderSync FolderScanner::syncSubfolders(Node& node, const QuickStringSet& names) {
    if (node.isPinReference()) return SubfolderSync::unchanged;
    SubfolderSync result = SubfolderSync::unchanged;
    for (const QuickString& name : names) {
        if (node.children().contains(name)) continue;
        NodePtr child = node.addFoundSubfolder(name);
        if (child->hasFlag(NodeFlags::stale))
            result = SubfolderSync::mustRead;
        else if (result == SubfolderSync::unchanged)
            result = SubfolderSync::changed;
    }
    std::vector<QuickString> gone;
    for (const auto& [name, child] : node.children())
        if (!names.contains(name)) gone.push_back(name);
    for (const QuickString& name : gone)
        node.removeChild(name);
    if (!gone.empty() && result == SubfolderSync::unchanged) result = SubfolderSync::changed;
    return result;
}

void FolderScanner::directoryChanged(const QuickString& path, bool recursive) {
    auto fullName = nodeNameForFolder(path);
    if (!fullName) return;
    NodePtr node = tree_().lookup(nodePathForFullName(*fullName));
    if (!node) return;
    node->markStale();
    if (recursive) node->markSubtreeStale();
    scheduleDirectoryUpdate();
}

void FolderScanner::openDirectories(const std::vector<QuickString>& fullNames) {
    QuickStringSet seen(pendingOpens_.begin(), pendingOpens_.end());
    for (const QuickString& fullName : fullNames) {
        std::string prefix;
        for (const QuickString& component : nodePathForFullName(fullName)) {
            if (!prefix.empty()) prefix += '/';
            prefix += component.utf8();
            QuickString p = QuickString::literal(prefix);
            if (seen.insert(p).second) pendingOpens_.push_back(std::move(p));
        }
    }
    // What needs no read is opened now; the pass's next turn starts the
    // first read, and the rest are opened as their reads are applied.
    continueOpening(false);
    if (!pendingOpens_.empty()) scheduleDirectoryUpdate();
}

bool FolderScanner::continueOpening(bool mayRead) {
    while (!pendingOpens_.empty()) {
        if (readingNode_) return true;
        NodePtr node = tree_().lookup(nodePathForFullName(pendingOpens_.front()));
        if (node && isFolder(*node)) {
            // Read first; the node is opened once its read is applied.
            if (node->hasFlag(NodeFlags::stale) && !mayRead) return false;
            if (refreshDirectory(node) && readingNode_) return true;
            if (node->markOpened()) scheduleDirectoryUpdate();
        }
        pendingOpens_.pop_front();
    }
    return false;
}

}  // namespace qm
