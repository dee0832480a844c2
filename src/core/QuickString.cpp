#include "core/QuickString.h"

#include <xxhash.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>

namespace qm {

namespace detail {
// The hash is quickHash's fixed value for no bytes.
constinit EmptyQuickString emptyQuickString{{{1}, 0, 0, {1}, {nullptr}}, {}};
}  // namespace detail

namespace {

uint64_t processSeed() {
    static const uint64_t seed = [] {
        std::random_device rd;
        return (uint64_t(rd()) << 32) ^ rd();
    }();
    return seed;
}

bool validUtf8(std::string_view s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    size_t n = s.size(), i = 0;
    while (i < n) {
        // Paths are mostly ASCII: skip it eight bytes at a time.
        uint64_t chunk;
        if (i + 8 <= n && (std::memcpy(&chunk, p + i, 8), (chunk & 0x8080808080808080ull) == 0)) {
            i += 8;
            continue;
        }
        unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t len;
        uint32_t cp;
        if ((c & 0xE0) == 0xC0) {
            len = 2;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4;
            cp = c & 0x07;
        } else
            return false;
        if (i + len > n) return false;
        for (size_t k = 1; k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) ||
            (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += len;
    }
    return true;
}

// Decodes bytes, replacing each maximal invalid subpart with U+FFFD.
std::string repairUtf8(std::string_view s) {
    std::string out;
    out.reserve(s.size() + 8);
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    size_t n = s.size(), i = 0;
    while (i < n) {
        unsigned char c = p[i];
        if (c < 0x80) {
            out.push_back(char(c));
            ++i;
            continue;
        }
        size_t len = 0;
        unsigned char lo = 0x80, hi = 0xBF;
        if (c >= 0xC2 && c <= 0xDF)
            len = 2;
        else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            if (c == 0xE0) lo = 0xA0;
            if (c == 0xED) hi = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            if (c == 0xF0) lo = 0x90;
            if (c == 0xF4) hi = 0x8F;
        }
        if (len == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        size_t k = 1;
        for (; k < len && i + k < n; ++k) {
            unsigned char b = p[i + k];
            unsigned char l = k == 1 ? lo : 0x80, h = k == 1 ? hi : 0xBF;
            if (b < l || b > h) break;
        }
        if (k == len)
            out.append(s.substr(i, len));
        else
            out += "\xEF\xBF\xBD";
        i += k;
    }
    return out;
}

}  // namespace

int64_t quickHash(std::string_view bytes) noexcept {
    if (bytes.empty()) return 0;
    return static_cast<int64_t>(XXH3_64bits_withSeed(bytes.data(), bytes.size(), processSeed()));
}

QuickString QuickString::make(std::string_view bytes, bool textKnownValid) {
    if (bytes.empty()) return QuickString();
    void* mem = ::operator new(sizeof(Rep) + bytes.size() + 1);
    auto* r = new (mem)
        Rep{{1}, static_cast<uint32_t>(bytes.size()), quickHash(bytes), {textKnownValid ? 1 : 0}, {nullptr}};
    std::memcpy(r->data(), bytes.data(), bytes.size());
    r->data()[bytes.size()] = 0;
    return QuickString(r);
}

QuickString QuickString::path(std::string_view text) {
    while (text.size() >= 2 && text.back() == '/')
        text.remove_suffix(1);
    return make(text, validUtf8(text));
}

QuickString QuickString::literal(std::string_view text) {
    return make(text, validUtf8(text));
}
QuickString QuickString::bytes(std::string_view b) {
    return make(b, false);
}
QuickString QuickString::bytes(const unsigned char* data, size_t size) {
    return make(std::string_view(reinterpret_cast<const char*>(data), size), false);
}

void QuickString::destroy(Rep* rep) noexcept {
    delete rep->repaired.load(std::memory_order_acquire);
    rep->~Rep();
    ::operator delete(rep);
}

std::string_view QuickString::string() const {
    int state = rep_->textState.load(std::memory_order_acquire);
    if (state == 0) {
        if (validUtf8(utf8())) {
            state = 1;
        } else {
            auto* fixed = new std::string(repairUtf8(utf8()));
            std::string* expected = nullptr;
            if (!rep_->repaired.compare_exchange_strong(expected, fixed, std::memory_order_acq_rel))
                delete fixed;
            state = 2;
        }
        rep_->textState.store(state, std::memory_order_release);
    }
    if (state == 1) return utf8();
    return *rep_->repaired.load(std::memory_order_acquire);
}

std::vector<QuickString> QuickString::components() const {
    std::vector<QuickString> out;
    std::string_view s = utf8();
    out.reserve(static_cast<size_t>(std::count(s.begin(), s.end(), '/')) + 1);
    size_t start = 0;
    for (;;) {
        size_t slash = s.find('/', start);
        if (slash == std::string_view::npos) {
            out.push_back(bytes(s.substr(start)));
            break;
        }
        out.push_back(bytes(s.substr(start, slash - start)));
        start = slash + 1;
    }
    return out;
}

std::string QuickString::description() const {
    std::string out = "\"";
    out += string();
    out += '"';
    return out;
}

bool operator==(const QuickString& a, const QuickString& b) noexcept {
    if (a.rep_ == b.rep_) return true;
    return a.rep_->hash == b.rep_->hash && a.rep_->size == b.rep_->size &&
           std::memcmp(a.rep_->data(), b.rep_->data(), a.rep_->size) == 0;
}

bool operator<(const QuickString& a, const QuickString& b) noexcept {
    return naturalLess(a.utf8(), b.utf8());
}

namespace {

inline bool isDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}

// 0 for other bytes, 1 for digits, 2 for letters.
inline int charClass(unsigned char c) {
    if (isDigit(c)) return 1;
    if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') return 2;
    return 0;
}

inline unsigned char foldCase(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? c + 32 : c;
}

// Index of the first byte where a and b differ, or n.
inline size_t firstMismatch(const unsigned char* a, const unsigned char* b, size_t n) {
    size_t i = 0;
    if constexpr (std::endian::native == std::endian::little) {
        while (i + 8 <= n) {
            uint64_t x, y;
            std::memcpy(&x, a + i, 8);
            std::memcpy(&y, b + i, 8);
            if (x != y) return i + (static_cast<size_t>(std::countr_zero(x ^ y)) >> 3);
            i += 8;
        }
    }
    while (i < n && a[i] == b[i])
        ++i;
    return i;
}

// The digit runs starting at index `at` of both sequences, compared as
// numbers (right-aligned, missing leading digits counting as "0"), then the
// shorter run first: <0, 0 (identical runs) or >0.
inline int compareDigitRuns(const unsigned char* a, size_t na, const unsigned char* b, size_t nb, size_t at) {
    size_t ei = at, ej = at;
    while (ei < na && isDigit(a[ei]))
        ++ei;
    while (ej < nb && isDigit(b[ej]))
        ++ej;
    // Right-aligned with leading zeros is the same as: more significant digits
    // is larger, then the digits from the left.
    size_t zi = at, zj = at;
    while (zi < ei && a[zi] == '0')
        ++zi;
    while (zj < ej && b[zj] == '0')
        ++zj;
    size_t sa = ei - zi, sb = ej - zj;
    if (sa != sb) return sa < sb ? -1 : 1;
    for (size_t k = 0; k < sa; ++k)
        if (a[zi + k] != b[zj + k]) return a[zi + k] < b[zj + k] ? -1 : 1;
    size_t la = ei - at, lb = ej - at;
    if (la != lb) return la < lb ? -1 : 1;  // 7 before 07
    return 0;
}

}  // namespace

// Both passes in one scan. Bytes that are equal are equal in both passes, so
// the scan jumps from one byte difference to the next. Up to the first
// deciding difference both sequences stay aligned (identical digit runs have
// equal lengths), so one index serves both. A difference of letter case alone
// does not decide the folding pass; the first one is remembered, since it is
// what the exact pass would decide when the folding pass finds no difference.
bool naturalLess(std::string_view as, std::string_view bs) noexcept {
    const auto* a = reinterpret_cast<const unsigned char*>(as.data());
    const auto* b = reinterpret_cast<const unsigned char*>(bs.data());
    const size_t na = as.size(), nb = bs.size();
    const size_t n = na < nb ? na : nb;
    int caseTie = 0;
    size_t i = 0;
    for (;;) {
        const size_t k = i + firstMismatch(a + i, b + i, n - i);
        if (k == n) {
            // A proper prefix is less: a digit run it ends early is the smaller
            // number, or an equal one with fewer digits.
            if (na != nb) return na < nb;
            return caseTie < 0;
        }
        const unsigned char ca = a[k], cb = b[k];
        if (isDigit(ca) || isDigit(cb)) {
            // Digit runs are compared whole: back up to where this one starts.
            // It cannot start before i, which follows a letter or a run's end.
            size_t start = k;
            while (start > i && isDigit(a[start - 1]))
                --start;
            // Both sequences have a run here, and they differ at k, so this
            // decides. (A digit against a non-digit with no shared digits
            // before it is a difference of class, below.)
            if (start < k || (isDigit(ca) && isDigit(cb))) {
                if (a[start] != '0' && b[start] != '0') {
                    // No leading zeros: the longer run is the larger number;
                    // of two as long, the digit at k decides (the runs agree
                    // before it).
                    size_t ea = k, eb = k;
                    while (ea < na && isDigit(a[ea]))
                        ++ea;
                    while (eb < nb && isDigit(b[eb]))
                        ++eb;
                    if (ea != eb) return ea < eb;
                    return ca < cb;
                }
                return compareDigitRuns(a, na, b, nb, start) < 0;
            }
        }
        const unsigned char fa = foldCase(ca), fb = foldCase(cb);
        if (fa != fb) {
            int ka = charClass(fa), kb = charClass(fb);
            if (ka != kb) return ka < kb;
            return fa < fb;
        }
        // Upper- against lower-case letter: the upper-case one is less.
        if (caseTie == 0) caseTie = ca < cb ? -1 : 1;
        i = k + 1;
    }
}

namespace {

// Order-preserving encoding of the case-folding pass: comparing two encodings
// as bytes (shorter first on a common prefix) gives the folding pass's
// verdict. Bytes other than digits and letters map to 1..220 in byte order,
// letters (folded) to 222..247, and a digit run to the marker 221, its count of
// significant digits, those digits and its count of leading zeros (so that,
// of equal numbers, fewer digits come first). Counts below 250 take one byte,
// others 250 and four big-endian bytes. A run's fields have fixed sizes once
// the count is known, so no run's encoding is a prefix of another's.
struct FoldedKeyTable {
    unsigned char other[256] = {};
    FoldedKeyTable() {
        unsigned char next = 1;
        for (int c = 0; c < 256; ++c)
            if (charClass(static_cast<unsigned char>(c)) == 0) other[c] = next++;
    }
};
const FoldedKeyTable& foldedKeyTable() {
    static const FoldedKeyTable table;
    return table;
}
constexpr unsigned char digitRunMarker = 221;
constexpr unsigned char firstLetterCode = 222;

void appendCount(std::string& out, size_t count) {
    if (count < 250) {
        out.push_back(static_cast<char>(count));
        return;
    }
    uint32_t c = count > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(count);
    out.push_back(static_cast<char>(250));
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<char>((c >> shift) & 0xFF));
}

void appendFoldedKey(std::string& out, std::string_view text) {
    const auto& table = foldedKeyTable();
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        unsigned char c = s[i];
        if (isDigit(c)) {
            size_t e = i;
            while (e < n && isDigit(s[e]))
                ++e;
            size_t z = i;
            while (z < e && s[z] == '0')
                ++z;
            out.push_back(static_cast<char>(digitRunMarker));
            appendCount(out, e - z);
            out.append(reinterpret_cast<const char*>(s + z), e - z);
            appendCount(out, z - i);
            i = e;
            continue;
        }
        unsigned char f = foldCase(c);
        if (f >= 'a' && f <= 'z')
            out.push_back(static_cast<char>(firstLetterCode + (f - 'a')));
        else
            out.push_back(static_cast<char>(table.other[c]));
        ++i;
    }
}

struct SortEntry {
    uint64_t chunk;   // 8 key bytes from the current depth, big-endian, zero-padded
    uint32_t left;    // key bytes from the current depth on, capped at 9
    uint32_t offset;  // of the key in the arena
    uint32_t size;    // of the key
    const QuickString* value;
};

// Sorts entries whose keys agree before `depth`: by the next 8 key bytes
// (with the number of bytes left, so that a key ending inside them sorts
// before one with zero bytes there), then each group that agrees on them one
// level deeper. Groups whose keys are equal throughout go by their bytes.
void sortByKeys(SortEntry* begin, SortEntry* end, const unsigned char* arena, size_t depth) {
    while (end - begin > 1) {
        for (SortEntry* e = begin; e != end; ++e) {
            size_t left = e->size > depth ? e->size - depth : 0;
            const unsigned char* p = arena + e->offset + depth;
            uint64_t c = 0;
            if (left >= 8) {
                std::memcpy(&c, p, 8);
                if constexpr (std::endian::native == std::endian::little) c = __builtin_bswap64(c);
            } else {
                for (size_t k = 0; k < 8; ++k)
                    c = (c << 8) | (k < left ? p[k] : 0);
            }
            e->chunk = c;
            e->left = static_cast<uint32_t>(left > 8 ? 9 : left);
        }
        std::sort(begin, end, [](const SortEntry& a, const SortEntry& b) {
            return a.chunk != b.chunk ? a.chunk < b.chunk : a.left < b.left;
        });
        // Recurse into every group but the last, and loop on the last one.
        SortEntry* groupStart = begin;
        SortEntry* last = nullptr;
        while (groupStart != end) {
            SortEntry* groupEnd = groupStart + 1;
            while (groupEnd != end && groupEnd->chunk == groupStart->chunk &&
                   groupEnd->left == groupStart->left)
                ++groupEnd;
            if (groupEnd - groupStart > 1) {
                if (groupStart->left <= 8) {
                    // Equal when folded: the exact pass puts the first
                    // upper-case letter of a case difference first, which is
                    // plain byte order here.
                    std::sort(groupStart, groupEnd, [](const SortEntry& a, const SortEntry& b) {
                        return a.value->utf8() < b.value->utf8();
                    });
                } else if (groupEnd == end) {
                    last = groupStart;
                } else {
                    sortByKeys(groupStart, groupEnd, arena, depth + 8);
                }
            }
            groupStart = groupEnd;
        }
        if (!last) return;
        begin = last;
        depth += 8;
    }
}

}  // namespace

void sortNatural(std::vector<QuickString>& list) {
    if (list.size() < 64) {
        std::sort(list.begin(), list.end());
        return;
    }
    // Bytes every value begins with decide nothing; skip them, but never into
    // the middle of a digit run.
    std::string_view first = list.front().utf8();
    size_t common = first.size();
    for (const QuickString& q : list) {
        std::string_view s = q.utf8();
        size_t limit = std::min(common, s.size());
        common = firstMismatch(reinterpret_cast<const unsigned char*>(first.data()),
                               reinterpret_cast<const unsigned char*>(s.data()), limit);
        if (common == 0) break;
    }
    while (common > 0 && isDigit(static_cast<unsigned char>(first[common - 1])))
        --common;

    std::string arena;
    std::vector<SortEntry> entries;
    entries.reserve(list.size());
    for (const QuickString& q : list) {
        size_t at = arena.size();
        appendFoldedKey(arena, q.utf8().substr(common));
        if (arena.size() > 0xFFFFFFFFu) {  // beyond what the entries can address
            std::sort(list.begin(), list.end());
            return;
        }
        entries.push_back({0, 0, static_cast<uint32_t>(at), static_cast<uint32_t>(arena.size() - at), &q});
    }
    sortByKeys(entries.data(), entries.data() + entries.size(),
               reinterpret_cast<const unsigned char*>(arena.data()), 0);
    std::vector<QuickString> sorted;
    sorted.reserve(list.size());
    for (const SortEntry& e : entries)
        sorted.push_back(std::move(*const_cast<QuickString*>(e.value)));
    list = std::move(sorted);
}

const QuickString& emptyString() {
    static const QuickString s;
    return s;
}
const QuickString& starString() {
    static const QuickString s = QuickString::literal("\xE2\x98\x85");
    return s;
}
const QuickString& homeDirectory() {
    static const QuickString s = [] {
        const char* h = std::getenv("HOME");
        return QuickString::path(h && *h ? h : "/");
    }();
    return s;
}
const std::string& homeDirectoryWithSlash() {
    // The bytes, so that a home directory that is not UTF-8 still prefixes
    // the byte paths below it.
    static const std::string s = std::string(homeDirectory().utf8()) + "/";
    return s;
}

}  // namespace qm
