#include "desktop/TypeAhead.h"

#include <QChar>
#include <QList>
#include <QString>

namespace qm {

namespace {

bool isAscii(std::string_view s) {
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

bool asciiAlnum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool asciiUpper(char c) {
    return c >= 'A' && c <= 'Z';
}

bool sameLetter(char32_t a, char32_t b) {
    if (a == b) return true;
    bool aUpper = QChar::isUpper(a), bUpper = QChar::isUpper(b);
    return (aUpper || bUpper) && QChar::toLower(a) == QChar::toLower(b);
}

// Most names are ASCII; a list of 100,000 files is walked without decoding.
bool matchesAscii(std::string_view pattern, std::string_view name) {
    size_t at = 0;
    for (char pc : pattern) {
        while (at < name.size() && !asciiAlnum(name[at])) ++at;
        if (at == name.size()) return false;
        char nc = name[at++];
        if (pc != nc && !((asciiUpper(pc) || asciiUpper(nc)) && asciiLower(pc) == asciiLower(nc))) return false;
    }
    return true;
}

}  // namespace

TypeAhead::TypeAhead(Clock clock) : clock_(std::move(clock)) {
    if (!clock_) clock_ = [] { return std::chrono::steady_clock::now(); };
}

bool TypeAhead::matches(std::string_view pattern, std::string_view name) {
    if (pattern.empty()) return false;
    if (isAscii(pattern) && isAscii(name)) return matchesAscii(pattern, name);
    const QList<uint> p = QString::fromUtf8(pattern.data(), qsizetype(pattern.size())).toUcs4();
    const QList<uint> n = QString::fromUtf8(name.data(), qsizetype(name.size())).toUcs4();
    qsizetype at = 0;
    for (uint pc : p) {
        while (at < n.size() && !QChar::isLetterOrNumber(n[at])) ++at;
        if (at == n.size() || !sameLetter(char32_t(pc), char32_t(n[at]))) return false;
        ++at;
    }
    return true;
}

std::optional<size_t> TypeAhead::type(std::string_view characters, size_t count, const NameAt& nameAt,
                                      std::optional<size_t> from) {
    if (count == 0) return std::nullopt;
    size_t start = from && *from < count ? *from : 0;
    const TimePoint now = clock_();
    if (!latestDate_ || now - *latestDate_ > pause) {
        pattern_.clear();
        if (from) start = (start + 1) % count;
    }
    pattern_ += characters;
    std::optional<size_t> hit;
    for (size_t k = 0; k < count; ++k) {
        size_t i = (start + k) % count;
        if (matches(pattern_, nameAt(i))) {
            hit = i;
            break;
        }
    }
    latestDate_ = now;
    return hit;
}

}  // namespace qm
