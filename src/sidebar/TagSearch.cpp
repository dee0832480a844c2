#include "sidebar/TagSearch.h"

#include <QString>

#include <algorithm>

#include "sidebar/TagSearchIndex.h"

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
// (anything else): the score, with each token's (begin, end) in `marks`, or
// -1 when a token is missing.
template <typename Find, typename At>
int scoreWith(const std::vector<std::string>& tokens, size_t start, size_t length, Find find, At at,
              TagSearch::Marks& marks) {
    const size_t before = marks.size();
    int score = 0;
    size_t position = start;
    for (const std::string& token : tokens) {
        auto [occurrence, tokenLength] = find(token, position);
        if (occurrence == std::string::npos) {
            marks.resize(before);
            return -1;
        }
        bool wordStart = occurrence == position || endsWord(at(occurrence - 1));
        size_t end = occurrence + tokenLength;
        if (wordStart) {
            score += 1;
            if (end == length || endsWord(at(end))) score += 1;
        }
        marks.push_back(uint32_t(occurrence));
        marks.push_back(uint32_t(end));
        position = end;
    }
    return score;
}

// The runs of a match: the text between tokens plain, each token's own in bold.
template <typename Slice>
void addSpansWith(size_t start, size_t length, std::span<const uint32_t> marks, Slice slice, SearchResult& result) {
    size_t position = start;
    for (size_t i = 0; i + 1 < marks.size(); i += 2) {
        if (marks[i] > position) result.spans.push_back(SearchSpan{slice(position, marks[i]), false});
        result.spans.push_back(SearchSpan{slice(marks[i], marks[i + 1]), true});
        position = marks[i + 1];
    }
    if (position < length) result.spans.push_back(SearchSpan{slice(position, length), false});
}

}  // namespace

TagSearch::NameShape TagSearch::shapeOf(std::string_view text) {
    NameShape shape;
    bool slashSeen = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        shape.ascii &= c < 0x80;
        if (c == '/' && !slashSeen) {
            slashSeen = true;
            shape.start = i + 1;
        }
    }
    return shape;
}

bool TagSearch::allAscii(const std::vector<std::string>& tokens) {
    return std::all_of(tokens.begin(), tokens.end(), [](const std::string& t) { return isAscii(t); });
}

int TagSearch::matchAscii(std::string_view text, size_t start, const std::vector<std::string>& tokens, Marks& marks) {
    return scoreWith(
        tokens, start, text.size(),
        [&](const std::string& token, size_t from) { return std::pair(findAscii(text, token, from), token.size()); },
        [&](size_t i) { return text[i]; }, marks);
}

void TagSearch::addSpans(std::string_view text, size_t start, std::span<const uint32_t> marks,
                         SearchResult& result) {
    addSpansWith(start, text.size(), marks, [&](size_t a, size_t b) { return text.substr(a, b - a); }, result);
}

// Undecodable bytes read as U+FFFD.
std::optional<SearchResult> TagSearch::matchDecoded(const NodePtr& node, const std::vector<std::string>& tokens) {
    std::string_view decoded = node->fullName.string();
    const QString q = QString::fromUtf8(decoded.data(), qsizetype(decoded.size()));
    qsizetype qStart = q.indexOf(QLatin1Char('/'));
    qStart = qStart < 0 ? 0 : qStart + 1;
    std::vector<QString> qTokens;
    for (const std::string& t : tokens) qTokens.push_back(QString::fromUtf8(t.data(), qsizetype(t.size())));
    size_t tokenIndex = 0;
    Marks marks;
    const int score = scoreWith(
        tokens, size_t(qStart), size_t(q.size()),
        [&](const std::string&, size_t from) {
            const QString& t = qTokens[tokenIndex++];
            qsizetype i = q.indexOf(t, qsizetype(from), Qt::CaseInsensitive);
            return std::pair(i < 0 ? std::string::npos : size_t(i), size_t(t.size()));
        },
        [&](size_t i) { return char(q.at(qsizetype(i)).unicode() < 0x80 ? q.at(qsizetype(i)).unicode() : 0x7f); },
        marks);
    if (score < 0) return std::nullopt;
    // UTF-16 offsets back to byte offsets of the decoded text, for the spans.
    auto utf8Offset = [&](size_t i) { return size_t(QStringView(q).left(qsizetype(i)).toUtf8().size()); };
    SearchResult result{node, score, {}};
    addSpansWith(
        size_t(qStart), size_t(q.size()), marks,
        [&](size_t a, size_t b) { return decoded.substr(utf8Offset(a), utf8Offset(b) - utf8Offset(a)); }, result);
    return result;
}

std::optional<SearchResult> TagSearch::match(const NodePtr& node, const std::vector<std::string>& tokens) {
    const std::string_view text = node->fullName.utf8();
    const NameShape shape = shapeOf(text);
    if (!shape.ascii || !allAscii(tokens)) return matchDecoded(node, tokens);
    Marks marks;
    const int score = matchAscii(text, shape.start, tokens, marks);
    if (score < 0) return std::nullopt;
    SearchResult result{node, score, {}};
    addSpans(text, shape.start, marks, result);
    return result;
}

std::vector<SearchResult> TagSearch::search(const Node& root, const std::vector<std::string>& tokens) {
    if (tokens.empty()) return {};
    return TagSearchIndex::build(root)->search(tokens);
}

}  // namespace qm
