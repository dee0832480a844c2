#pragma once

#include <absl/container/flat_hash_map.h>

#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "core/QuickString.h"
#include "core/TagFormat.h"
#include "library/FileTags.h"
#include "library/Node.h"
#include "library/NodePath.h"
#include "library/TreeQueries.h"
#include "library/WhatChanged.h"

namespace qm {

// The library tree: a root with the sections Pinned, Colors, Folders, Tags, ★
// (hidden) and Map, plus the tag bookkeeping of every tagged file. Changed by
// one thread at a time; every change returns what it touched.
class Tree {
public:
    // A file's tag node names (see FileTags.h); the ingest's own
    // bookkeeping shares the sets too.
    using TagSet = FileTagSet;
    using Tags = FileTags;
    // New tag sets by path, as a change reports them (empty: no tags now).
    using TagChanges = absl::flat_hash_map<QuickString, QuickStringSet>;

    Tree();
    Tree(const Tree&) = delete;
    Tree& operator=(const Tree&) = delete;
    Tree(Tree&&) = default;
    Tree& operator=(Tree&&) = default;

    const NodePtr& rootNode() const { return rootNode_; }      // kind none, name and full name empty
    const NodePtr& pinnedNode() const { return pinnedNode_; }  // "Pinned", kind none
    const NodePtr& colorsNode() const { return colorsNode_; }  // "Colors", kind none
    const NodePtr& directoriesNode() const { return directoriesNode_; }  // "Folders", kind directory
    const NodePtr& tagsNode() const { return tagsNode_; }                // "Tags", kind tagContainer
    const NodePtr& starsNode() const { return starsNode_; }              // "★", kind tag, hidden
    const NodePtr& mapNode() const { return mapNode_; }                  // "Map", kind none
    // For every tagged file, the tag node names that list it; in step with
    // the nodes' paths.
    const Tags& tags() const { return *tags_; }
    // The tags as they are now, for a reader on another thread: the tree
    // copies its map before the next change while a snapshot is held, so
    // the snapshot never changes. Take and drop snapshots on the tree's
    // thread only (the copy is decided by their count).
    std::shared_ptr<const Tags> tagsSnapshot() const { return tags_; }

    // One child of Colors of kind tag per colour label, carrying its colour.
    void addColorNodes(const TagFormat& format);

    // Files that carry the same tags, for the first build of a tree.
    struct TagGroup {
        TagSet names;
        std::span<const QuickString> paths;
    };
    // The first build: lists each group's paths under each of its tag nodes
    // (made when missing) and notes the tags, without log lines. The paths'
    // strings must be ones only this thread can reach (see
    // QuickString::unsharedCopy). A path in several groups carries all their
    // tags; those paths come back, each with its merged set.
    std::vector<std::pair<QuickString, TagSet>> addTagGroups(std::span<const TagGroup> groups);

    // The node a node path leads to from the root (null when missing).
    NodePtr lookup(const NodePath& path) const { return rootNode_->lookup(path); }

    // The path's tag node names, or the empty set.
    const QuickStringSet& tagsFor(const QuickString& path) const;

    // Whether Pinned has a pin for a full name under Tags (or Queries).
    bool isPinned(const QuickString& fullName) const;

    // Lists the path under the tag node (made when missing) and notes the tag,
    // logging "[tree] Added ..."; nothing when the path has the tag already.
    WhatChanged addTag(const QuickString& tagNodeName, const QuickString& path);
    // The inverse, logging "[tree] Removed ..."; emptied sub-tags vanish
    // unless their full name is in `keep`.
    WhatChanged removeTag(const QuickString& tagNodeName, const QuickString& path,
                          const QuickStringSet& keep);
    // Makes the path's tag node names exactly `tagNodeNames`.
    WhatChanged setTags(const QuickStringSet& tagNodeNames, const QuickString& path);

    // The query nodes under "Queries" (made with the first query); every
    // tag change below keeps their lists in step.
    const TreeQueries& queries() const { return queries_; }
    // The query node of an expression text, made and filled when missing;
    // null when it does not parse. Making one changes no visible row; the
    // bits say what an older unsaved query's removal changed.
    NodePtr openQuery(std::string_view text, WhatChanged* changed = nullptr) {
        return queries_.open(*this, text, changed);
    }
    bool saveQuery(std::string_view text, std::string_view name) { return queries_.save(*this, text, name); }
    bool unsaveQuery(std::string_view text) { return queries_.unsave(*this, text); }
    // Evaluations handed away (see TreeQueries::setEvaluator) and their files.
    void setQueryEvaluator(TreeQueries::Evaluator evaluator, size_t syncLimit) {
        queries_.setEvaluator(std::move(evaluator), syncLimit);
    }
    WhatChanged deliverQuery(uint64_t id, Node::Paths found) { return queries_.deliver(*this, id, std::move(found)); }

    // Pins a full name under Tags ("Tags/a/b" gives the pin "a/b"), or a
    // query ("Queries/a or b" gives a pin of kind queryPin named "a or b",
    // its whole text one name); false for
    // other full names and when the pin exists. The tag need not exist.
    bool addPin(const QuickString& fullName);
    // True when a pin was removed.
    bool removePin(const QuickString& fullName);

private:
    NodePtr rootNode_;
    NodePtr pinnedNode_;
    NodePtr colorsNode_;
    NodePtr directoriesNode_;
    NodePtr tagsNode_;
    NodePtr starsNode_;
    NodePtr mapNode_;
    // Shared with snapshots; writableTags() copies it while one is held.
    std::shared_ptr<Tags> tags_ = std::make_shared<Tags>();
    Tags& writableTags();
    TreeQueries queries_;
    // setTags moves a file through the queries once, after all its changes.
    bool deferQueries_ = false;
    WhatChanged queryChange(const QuickString& path);
};

}  // namespace qm
