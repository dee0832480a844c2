#include "sidebar/TagSearchIndex.h"

#include <algorithm>
#include <limits>

#include "core/QuickString.h"

namespace qm {

namespace {

constexpr uint32_t none = std::numeric_limits<uint32_t>::max();

// The builder's walk waits on memory far more than it reads: the nodes of
// the siblings a few steps ahead, and their names a little nearer, are
// fetched while the current one is copied.
constexpr size_t nodeAhead = 8;
constexpr size_t nameAhead = 4;
// Results are made from hits this many ahead of the node being read.
constexpr size_t resultAhead = 8;

void prefetchNode(const Node& node) {
    __builtin_prefetch(&node);
    __builtin_prefetch(&node.children());
}

void prefetchAhead(const std::vector<NodePtr>& siblings, size_t i) {
    if (i + nodeAhead < siblings.size()) prefetchNode(*siblings[i + nodeAhead]);
    if (i + nameAhead < siblings.size()) siblings[i + nameAhead]->fullName.prefetch();
}

void prefetchFirst(const std::vector<NodePtr>& siblings) {
    for (size_t i = 0; i < nodeAhead && i < siblings.size(); ++i) prefetchNode(*siblings[i]);
}

}  // namespace

TagSearchIndex::Builder::Builder(const Node& root)
    : root_(root.shared_from_this()), index_(std::make_unique<TagSearchIndex>()) {
    stack_.push_back(Frame{&root, none, parents_++});
}

bool TagSearchIndex::Builder::step(std::chrono::steady_clock::time_point deadline) {
    TagSearchIndex& index = *index_;
    size_t visited = 0;
    while (!stack_.empty()) {
        // The clock is read every so many nodes: reading it costs more than a node.
        if ((++visited & 1023) == 0 && std::chrono::steady_clock::now() >= deadline) return false;
        Frame& top = stack_.back();
        const std::vector<NodePtr>& children = top.node->sortedChildren();
        if (top.next == children.size()) {
            if (top.entry != none) index.entries_[top.entry].end = uint32_t(index.entries_.size());
            stack_.pop_back();
            continue;
        }
        if (top.next == 0) prefetchFirst(children);
        prefetchAhead(children, top.next);
        const NodePtr& child = children[top.next++];
        const uint32_t parent = top.parent;  // `top` goes when a frame is pushed
        if (child->isHidden()) continue;
        if (has(child->kind, NodeKind::tag)) {
            const std::string_view name = child->fullName.utf8();
            const TagSearch::NameShape shape = TagSearch::shapeOf(name);
            const auto entry = uint32_t(index.entries_.size());
            index.entries_.push_back(Entry{uint32_t(index.names_.size()), uint32_t(name.size()),
                                           uint32_t(shape.start), entry + 1, parent, shape.ascii});
            index.names_.append(name);
            index.nodes_.push_back(child);
            // Its subtags are searched when it does not match.
            stack_.push_back(Frame{child.get(), entry, parents_++});
        } else if (!has(child->kind, NodeKind::directory)) {
            stack_.push_back(Frame{child.get(), none, parents_++});
        }
    }
    return true;
}

std::unique_ptr<TagSearchIndex> TagSearchIndex::Builder::take() {
    return std::move(index_);
}

std::unique_ptr<TagSearchIndex> TagSearchIndex::build(const Node& root) {
    Builder builder(root);
    builder.step(std::chrono::steady_clock::time_point::max());
    return builder.take();
}

std::vector<SearchResult> TagSearchIndex::search(const std::vector<std::string>& tokens) const {
    std::vector<SearchResult> out;
    if (tokens.empty()) return out;
    const bool asciiTokens = TagSearch::allAscii(tokens);
    std::vector<Hit> hits;
    TagSearch::Marks marks;
    std::vector<SearchResult> decoded;
    for (size_t i = 0, n = entries_.size(); i < n;) {
        const Entry& e = entries_[i];
        if (e.ascii && asciiTokens) {
            const auto where = uint32_t(marks.size());
            const int score = TagSearch::matchAscii(nameOf(e), e.start, tokens, marks);
            if (score >= 0) {
                hits.push_back(Hit{uint32_t(i), uint32_t(score), where, false});
                i = e.end;  // a matching tag hides its subtags
                continue;
            }
        } else if (auto result = TagSearch::matchDecoded(nodes_[i], tokens)) {
            hits.push_back(Hit{uint32_t(i), uint32_t(result->score), uint32_t(decoded.size()), true});
            decoded.push_back(std::move(*result));
            i = e.end;
            continue;
        }
        ++i;
    }
    sortHits(hits);

    // The results hold their nodes and point into the nodes' own names, so
    // each hit's node is read: fetched a few hits ahead.
    out.reserve(hits.size());
    const size_t pairs = 2 * tokens.size();
    for (size_t k = 0; k < hits.size(); ++k) {
        if (k + resultAhead < hits.size()) __builtin_prefetch(nodes_[hits[k + resultAhead].entry].get());
        const Hit& hit = hits[k];
        if (hit.decoded) {
            out.push_back(std::move(decoded[hit.where]));
            continue;
        }
        const NodePtr& node = nodes_[hit.entry];
        const Entry& e = entries_[hit.entry];
        SearchResult& result = out.emplace_back(SearchResult{node, int(hit.score), {}});
        // The same bytes as the index's copy, but the node's: the result outlives the index.
        TagSearch::addSpans(std::string_view(node->fullName.utf8().data(), e.nameSize), e.start,
                            std::span<const uint32_t>(marks.data() + hit.where, pairs), result);
    }
    return out;
}

void TagSearchIndex::sortHits(std::vector<Hit>& hits) const {
    if (hits.empty()) return;
    // Scores are small, so a counting pass orders them best first, keeping
    // walk order within a score.
    uint32_t top = 0;
    for (const Hit& h : hits) top = std::max(top, h.score);
    std::vector<size_t> start(size_t(top) + 2, 0);
    for (const Hit& h : hits) ++start[size_t(top - h.score) + 1];
    for (size_t i = 1; i < start.size(); ++i) start[i] += start[i - 1];
    std::vector<Hit> byScore(hits.size());
    for (const Hit& h : hits) byScore[start[size_t(top - h.score)]++] = h;
    hits = std::move(byScore);

    // The walk visits siblings in natural order, and siblings' full names
    // sort as their names do, so only neighbours from different parents need
    // comparing; a score's hits are sorted again only when one is out of order.
    auto byName = [&](const Hit& a, const Hit& b) {
        return naturalLess(nameOf(entries_[a.entry]), nameOf(entries_[b.entry]));
    };
    auto sameParent = [&](const Hit& a, const Hit& b) { return entries_[a.entry].parent == entries_[b.entry].parent; };
    for (auto first = hits.begin(); first != hits.end();) {
        auto last = first + 1;
        bool ordered = true;
        for (; last != hits.end() && last->score == first->score; ++last)
            if (ordered && !sameParent(*(last - 1), *last) && byName(*last, *(last - 1))) ordered = false;
        if (!ordered) std::sort(first, last, byName);
        first = last;
    }
}

}  // namespace qm
