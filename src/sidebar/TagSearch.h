#pragma once

#include <cstdint>
#include <optional>
#include <span>
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
// matching tag hides its own subtags. A window keeps a TagSearchIndex and
// searches that; `search` makes one for a single search.
struct TagSearch {
    // Where each token matched: its (begin, end) byte offsets, in order.
    using Marks = std::vector<uint32_t>;

    // The result for one node, or none when it does not match.
    static std::optional<SearchResult> match(const NodePtr& node, const std::vector<std::string>& tokens);
    // The same for a name or tokens not all ASCII: Qt's case folding on the
    // decoded text.
    static std::optional<SearchResult> matchDecoded(const NodePtr& node, const std::vector<std::string>& tokens);
    // Every match below the root, sorted.
    static std::vector<SearchResult> search(const Node& root, const std::vector<std::string>& tokens);

    // The matching of an ASCII name by lower-case ASCII tokens, from `start`
    // (past the section prefix): the score, with each token's place appended
    // to `marks`; -1 when a token is missing (`marks` as it was).
    static int matchAscii(std::string_view name, size_t start, const std::vector<std::string>& tokens, Marks& marks);
    // The runs of such a match over `name`, from the marks of its tokens.
    static void addSpans(std::string_view name, size_t start, std::span<const uint32_t> marks,
                         SearchResult& result);
    static bool allAscii(const std::vector<std::string>& tokens);
    // Where a full name starts past its section prefix, and whether it is
    // all ASCII, found in one pass: names are cold, read once.
    struct NameShape {
        size_t start = 0;
        bool ascii = true;
    };
    static NameShape shapeOf(std::string_view fullName);
};

}  // namespace qm
