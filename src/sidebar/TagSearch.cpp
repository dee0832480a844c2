#include "sidebar/TagSearch.h"

#include <QString>

#include <algorithm>

namespace qm {

bool operator<(const SearchResult& a, const SearchResult& b) {
    if (a.score != b.score) return a.score > b.score;
    return a.node->fullName < b.node->fullName;
}

namespace {

bool isAscii(std::string_view s) {
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// First case-insensitive occurrence of a lower-case ASCII token at or after `from`.
size_t findAscii(std::string_view text, std::string_view token, size_t from) {
    if (token.size() > text.size()) return std::string_view::npos;
    const char first = token[0];
    for (size_t i = from, end = text.size() - token.size(); i <= end; ++i) {
        if (lowerAscii(text[i]) != first) continue;
        size_t k = 1;
        while (k < token.size() && lowerAscii(text[i + k]) == token[k]) ++k;
        if (k == token.size()) return i;
    }
    return std::string_view::npos;
}

bool endsWord(char c) {
    return c == '/' || c == ' ';
}

// The matching walk over a text, by byte offsets (ASCII) or by UTF-16 offsets
// (anything else); `slice` turns a range back into UTF-8.
template <typename Find, typename At, typename Slice>
std::optional<SearchResult> matchWith(const NodePtr& node, const std::vector<std::string>& tokens, size_t start,
                                      size_t length, Find find, At at, Slice slice) {
    SearchResult result{node, 0, {}};
    size_t position = start;
    for (const std::string& token : tokens) {
        auto [occurrence, tokenLength] = find(token, position);
        if (occurrence == std::string::npos) return std::nullopt;
        bool wordStart = occurrence == position || endsWord(at(occurrence - 1));
        if (occurrence > position) result.spans.push_back(SearchSpan{slice(position, occurrence), false});
        size_t end = occurrence + tokenLength;
        if (wordStart) {
            result.score += 1;
            if (end == length || endsWord(at(end))) result.score += 1;
        }
        result.spans.push_back(SearchSpan{slice(occurrence, end), true});
        position = end;
    }
    if (position < length) result.spans.push_back(SearchSpan{slice(position, length), false});
    return result;
}

bool allAscii(const std::vector<std::string>& tokens) {
    return std::all_of(tokens.begin(), tokens.end(), [](const std::string& t) { return isAscii(t); });
}

std::optional<SearchResult> matchNode(const NodePtr& node, const std::vector<std::string>& tokens, bool asciiTokens) {
    std::string_view text = node->fullName.utf8();
    // One pass finds both whether the name is ASCII and where it starts
    // after the section prefix: the name is cold, read once.
    size_t start = 0;
    bool slashSeen = false, asciiText = true;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        asciiText &= c < 0x80;
        if (c == '/' && !slashSeen) {
            slashSeen = true;
            start = i + 1;
        }
    }
    if (asciiTokens && asciiText) {
        return matchWith(
            node, tokens, start, text.size(),
            [&](const std::string& token, size_t from) { return std::pair(findAscii(text, token, from), token.size()); },
            [&](size_t i) { return text[i]; },
            [&](size_t a, size_t b) { return text.substr(a, b - a); });
    }
    // Other scripts: Qt's case folding, on the decoded text (undecodable bytes as U+FFFD).
    std::string_view decoded = node->fullName.string();
    const QString q = QString::fromUtf8(decoded.data(), qsizetype(decoded.size()));
    qsizetype qStart = q.indexOf(QLatin1Char('/'));
    qStart = qStart < 0 ? 0 : qStart + 1;
    std::vector<QString> qTokens;
    for (const std::string& t : tokens) qTokens.push_back(QString::fromUtf8(t.data(), qsizetype(t.size())));
    size_t tokenIndex = 0;
    // UTF-16 offsets back to byte offsets of the decoded text, for the spans.
    auto utf8Offset = [&](size_t i) { return size_t(QStringView(q).left(qsizetype(i)).toUtf8().size()); };
    return matchWith(
        node, tokens, size_t(qStart), size_t(q.size()),
        [&](const std::string&, size_t from) {
            const QString& t = qTokens[tokenIndex++];
            qsizetype i = q.indexOf(t, qsizetype(from), Qt::CaseInsensitive);
            return std::pair(i < 0 ? std::string::npos : size_t(i), size_t(t.size()));
        },
        [&](size_t i) { return char(q.at(qsizetype(i)).unicode() < 0x80 ? q.at(qsizetype(i)).unicode() : 0x7f); },
        [&](size_t a, size_t b) { return decoded.substr(utf8Offset(a), utf8Offset(b) - utf8Offset(a)); });
}

// The walk waits on memory far more than it matches: the nodes of the
// siblings a few steps ahead, and their names a little nearer, are fetched
// while the current one is matched.
constexpr size_t nodeAhead = 8;
constexpr size_t nameAhead = 4;

// A node's kind, flags and full name, and its children's tables.
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

// How many nodes the walk could report.
size_t searchableCount(const Node& node) {
    size_t n = 0;
    const std::vector<NodePtr>& children = node.sortedChildren();
    prefetchFirst(children);
    for (size_t i = 0; i < children.size(); ++i) {
        prefetchAhead(children, i);
        const Node& child = *children[i];
        if (child.isHidden() || has(child.kind, NodeKind::directory)) continue;
        n += (has(child.kind, NodeKind::tag) ? 1 : 0) + searchableCount(child);
    }
    return n;
}

struct Walk {
    const Node& root;
    const std::vector<std::string>& tokens;
    bool asciiTokens;
    std::vector<SearchResult>& out;

    void add(SearchResult&& result) {
        // Most keys find a few hundred tags; past the first room, room for
        // every tag at once: growing by doubling moved and faulted in the
        // results again and again, most of a key's time when nearly every
        // tag matches. Untouched room costs no memory.
        if (out.size() == out.capacity()) out.reserve(std::max(2 * out.capacity(), searchableCount(root)));
        out.push_back(std::move(result));
    }

    void visit(const Node& node) {
        const std::vector<NodePtr>& children = node.sortedChildren();
        prefetchFirst(children);
        for (size_t i = 0; i < children.size(); ++i) {
            prefetchAhead(children, i);
            const NodePtr& child = children[i];
            if (child->isHidden()) continue;
            if (has(child->kind, NodeKind::tag)) {
                if (auto result = matchNode(child, tokens, asciiTokens)) {
                    add(std::move(*result));
                    continue;
                }
                visit(*child);
            } else if (!has(child->kind, NodeKind::directory)) {
                visit(*child);
            }
        }
    }
};

}  // namespace

std::optional<SearchResult> TagSearch::match(const NodePtr& node, const std::vector<std::string>& tokens) {
    return matchNode(node, tokens, allAscii(tokens));
}

void TagSearch::sort(std::vector<SearchResult>& results) {
    if (results.empty()) return;
    auto byScore = [](const SearchResult& a, const SearchResult& b) { return a.score > b.score; };
    if (!std::is_sorted(results.begin(), results.end(), byScore)) countingSortByScore(results);
    sortNamesWithinScores(results);
}

void TagSearch::countingSortByScore(std::vector<SearchResult>& results) {
    // Scores are small, so a counting pass orders them, keeping walk order
    // within a score.
    int top = 0;
    for (const SearchResult& r : results) top = std::max(top, r.score);
    std::vector<size_t> start(size_t(top) + 2, 0);
    for (const SearchResult& r : results) ++start[size_t(top - r.score) + 1];
    for (size_t i = 1; i < start.size(); ++i) start[i] += start[i - 1];
    std::vector<SearchResult> byScore(results.size());
    for (SearchResult& r : results) byScore[start[size_t(top - r.score)]++] = std::move(r);
    results = std::move(byScore);
}

void TagSearch::sortNamesWithinScores(std::vector<SearchResult>& results) {
    // The walk visits siblings in natural order, and siblings' full names
    // sort as their names do, so only neighbours from different parents need
    // comparing; a score's results are sorted again only when one is out of
    // order, which keeps a keystroke over a big library cheap.
    auto byName = [](const SearchResult& a, const SearchResult& b) { return a.node->fullName < b.node->fullName; };
    auto sameParent = [](const Node& a, const Node& b) { return a.sharesParentWith(b); };
    for (auto first = results.begin(); first != results.end();) {
        auto last = first + 1;
        bool ordered = true;
        for (; last != results.end() && last->score == first->score; ++last)
            if (ordered && !sameParent(*(last - 1)->node, *last->node) && byName(*last, *(last - 1))) ordered = false;
        if (!ordered) std::sort(first, last, byName);
        first = last;
    }
}

std::vector<SearchResult> TagSearch::search(const Node& root, const std::vector<std::string>& tokens) {
    std::vector<SearchResult> out;
    if (tokens.empty()) return out;
    out.reserve(1024);
    Walk{root, tokens, allAscii(tokens), out}.visit(root);
    sort(out);
    return out;
}

TagSearchRun::TagSearchRun(NodePtr root, std::vector<std::string> tokens)
    : tokens_(std::move(tokens)), asciiTokens_(allAscii(tokens_)) {
    if (root && !tokens_.empty()) stack_.push_back(Frame{std::move(root), 0});
}

bool TagSearchRun::step(std::chrono::steady_clock::time_point deadline) {
    size_t visited = 0;
    while (!stack_.empty()) {
        // The clock is read every so many nodes: reading it costs more than a match.
        if ((++visited & 1023) == 0 && std::chrono::steady_clock::now() >= deadline) return false;
        Frame& top = stack_.back();
        const std::vector<NodePtr>& children = top.node->sortedChildren();
        if (top.next == children.size()) {
            stack_.pop_back();
            continue;
        }
        if (top.next == 0) prefetchFirst(children);
        prefetchAhead(children, top.next);
        const NodePtr& child = children[top.next++];
        if (child->isHidden()) continue;
        if (has(child->kind, NodeKind::tag)) {
            if (auto result = matchNode(child, tokens_, asciiTokens_)) {
                out_.push_back(std::move(*result));
                continue;
            }
            stack_.push_back(Frame{child, 0});
        } else if (!has(child->kind, NodeKind::directory)) {
            stack_.push_back(Frame{child, 0});
        }
    }
    return true;
}

std::vector<SearchResult> TagSearchRun::takeResults() {
    TagSearch::sort(out_);
    return std::move(out_);
}

}  // namespace qm
