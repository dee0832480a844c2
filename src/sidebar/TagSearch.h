#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <absl/container/inlined_vector.h>

#include "library/Node.h"

namespace qm {

// A run of a result's name: matched by a query token (drawn bold) or not.
// The text points into the node's full name (or its decoded text), which the
// result keeps alive through its node. The drawn width is measured by the
// view when the span is first drawn.
struct SearchSpan {
    std::string_view text;
    bool isMatch = false;
    mutable float width = -1;  // unmeasured
    friend bool operator==(const SearchSpan& a, const SearchSpan& b) {
        return a.isMatch == b.isMatch && a.text == b.text;
    }
};

// One matching tag: its score and its name after the section prefix as spans.
// Ordered best first: higher score, then the natural order of full names.
struct SearchResult {
    NodePtr node;
    int score = 0;
    // Inline room for the usual few runs: a keystroke may make 100,000 results.
    absl::InlinedVector<SearchSpan, 3> spans;
    friend bool operator==(const SearchResult& a, const SearchResult& b) {
        return a.node == b.node && a.score == b.score && a.spans == b.spans;
    }
    friend bool operator<(const SearchResult& a, const SearchResult& b);
};

// Finds tags by their full names. Each token must occur in order after the
// section prefix ("Tags/", "Colors/", "Pinned/"), case-insensitively; a token
// at a word start (after "/", " " or the previous token) scores 1, and 2 when
// it also ends a word. Folders and the hidden stars are never searched; a
// matching tag hides its own subtags.
struct TagSearch {
    // The result for one node, or none when it does not match.
    static std::optional<SearchResult> match(const NodePtr& node, const std::vector<std::string>& tokens);
    // Every match below the root, sorted.
    static std::vector<SearchResult> search(const Node& root, const std::vector<std::string>& tokens);
    static void sort(std::vector<SearchResult>& results);

private:
    friend class TagSearchRun;
    static void countingSortByScore(std::vector<SearchResult>& results);
    static void sortNamesWithinScores(std::vector<SearchResult>& results);
};

// A search run in slices, so that searching again after a library change
// never holds the main thread for long. The tree must not change between
// slices: its owner starts a new run when it does.
class TagSearchRun {
public:
    TagSearchRun(NodePtr root, std::vector<std::string> tokens);
    // Walks until the deadline; true when the walk is complete.
    bool step(std::chrono::steady_clock::time_point deadline);
    bool isComplete() const { return stack_.empty(); }
    // The sorted results of a complete walk.
    std::vector<SearchResult> takeResults();

private:
    struct Frame {
        NodePtr node;
        size_t next = 0;
    };
    std::vector<std::string> tokens_;
    bool asciiTokens_;
    std::vector<Frame> stack_;
    std::vector<SearchResult> out_;
};

}  // namespace qm
