#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "library/Node.h"
#include "sidebar/TagSearch.h"

namespace qm {

// The tags a search can report, in the order the search walks them, with
// their full names side by side in one buffer. A key scans that buffer
// instead of visiting every node and its name scattered over the heap: the
// walk over the tree waited on memory far more than it matched. Made once
// per library state; whoever keeps one makes a new one when the tree
// changes. Results keep their own nodes, so they outlive the index.
class TagSearchIndex {
public:
    // Collects an index in slices, so that making it again after a library
    // change never holds the main thread for long. The tree must not change
    // between steps: its owner starts a new builder when it does.
    class Builder {
    public:
        explicit Builder(const Node& root);
        // Walks until the deadline; true when the walk is complete.
        bool step(std::chrono::steady_clock::time_point deadline);
        bool isComplete() const { return stack_.empty(); }
        // The index of a complete walk.
        std::unique_ptr<TagSearchIndex> take();

    private:
        struct Frame {
            const Node* node;
            uint32_t entry;   // the tag this frame walks below, or none
            uint32_t parent;  // the id its children's entries carry
            size_t next = 0;
        };
        std::shared_ptr<const Node> root_;  // the frames point into its tree
        std::vector<Frame> stack_;
        std::unique_ptr<TagSearchIndex> index_;
        uint32_t parents_ = 0;
    };

    // At once.
    static std::unique_ptr<TagSearchIndex> build(const Node& root);

    // Every match, best first (see SearchResult's order).
    std::vector<SearchResult> search(const std::vector<std::string>& tokens) const;
    size_t size() const { return nodes_.size(); }

private:
    struct Entry {
        uint32_t nameBegin;  // in names_
        uint32_t nameSize;
        uint32_t start;   // where the name starts after its section prefix
        uint32_t end;     // the first entry past this tag's subtags
        uint32_t parent;  // equal for siblings and only for them
        bool ascii;
    };
    // A match: its entry and score, and where its runs are: the first of its
    // tokens' (begin, end) pairs in `marks`, or for a match made on the
    // node's decoded text (other scripts), its place among those results.
    struct Hit {
        uint32_t entry;
        uint32_t score;
        uint32_t where;
        bool decoded;
    };

    std::string_view nameOf(const Entry& e) const { return {names_.data() + e.nameBegin, e.nameSize}; }
    void sortHits(std::vector<Hit>& hits) const;

    std::vector<NodePtr> nodes_;  // parallel to entries_
    std::vector<Entry> entries_;
    std::string names_;
};

}  // namespace qm
