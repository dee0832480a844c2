#include "core/QuickString.h"

#include <xxhash.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <random>

namespace qm {

// Header of the shared block; the bytes follow it in the same allocation.
struct QuickString::Rep {
    std::atomic<uint32_t> refs;
    uint32_t size;
    int64_t hash;
    // 0 unknown, 1 valid UTF-8 (the text is the bytes), 2 repaired copy in `repaired`.
    mutable std::atomic<int> textState;
    mutable std::atomic<std::string*> repaired;

    const char* data() const { return reinterpret_cast<const char*>(this + 1); }
    char* data() { return reinterpret_cast<char*>(this + 1); }
};

namespace {

uint64_t processSeed() {
    static const uint64_t seed = [] {
        std::random_device rd;
        return (uint64_t(rd()) << 32) ^ rd();
    }();
    return seed;
}

QuickString::Rep* emptyRep() {
    // Never freed: the reference count starts high and every handle to it is
    // counted as usual, so it cannot reach zero.
    static QuickString::Rep* rep = [] {
        void* mem = ::operator new(sizeof(QuickString::Rep) + 1);
        auto* r = new (mem) QuickString::Rep{{1u << 30}, 0, quickHash({}), {1}, {nullptr}};
        r->data()[0] = 0;
        return r;
    }();
    return rep;
}

bool validUtf8(std::string_view s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    size_t n = s.size(), i = 0;
    while (i < n) {
        unsigned char c = p[i];
        if (c < 0x80) { ++i; continue; }
        size_t len;
        uint32_t cp;
        if ((c & 0xE0) == 0xC0) { len = 2; cp = c & 0x1F; }
        else if ((c & 0xF0) == 0xE0) { len = 3; cp = c & 0x0F; }
        else if ((c & 0xF8) == 0xF0) { len = 4; cp = c & 0x07; }
        else return false;
        if (i + len > n) return false;
        for (size_t k = 1; k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
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
        if (c < 0x80) { out.push_back(char(c)); ++i; continue; }
        size_t len = 0;
        unsigned char lo = 0x80, hi = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) len = 2;
        else if (c >= 0xE0 && c <= 0xEF) { len = 3; if (c == 0xE0) lo = 0xA0; if (c == 0xED) hi = 0x9F; }
        else if (c >= 0xF0 && c <= 0xF4) { len = 4; if (c == 0xF0) lo = 0x90; if (c == 0xF4) hi = 0x8F; }
        if (len == 0) { out += "\xEF\xBF\xBD"; ++i; continue; }
        size_t k = 1;
        for (; k < len && i + k < n; ++k) {
            unsigned char b = p[i + k];
            unsigned char l = k == 1 ? lo : 0x80, h = k == 1 ? hi : 0xBF;
            if (b < l || b > h) break;
        }
        if (k == len) out.append(s.substr(i, len));
        else out += "\xEF\xBF\xBD";
        i += k;
    }
    return out;
}

}  // namespace

int64_t quickHash(std::string_view bytes) noexcept {
    return static_cast<int64_t>(XXH3_64bits_withSeed(bytes.data(), bytes.size(), processSeed()));
}

QuickString QuickString::make(std::string_view bytes, bool textKnownValid) {
    if (bytes.empty()) return QuickString();
    void* mem = ::operator new(sizeof(Rep) + bytes.size() + 1);
    auto* r = new (mem) Rep{{1}, static_cast<uint32_t>(bytes.size()), quickHash(bytes), {textKnownValid ? 1 : 0},
                            {nullptr}};
    std::memcpy(r->data(), bytes.data(), bytes.size());
    r->data()[bytes.size()] = 0;
    return QuickString(r);
}

QuickString::QuickString() noexcept : rep_(emptyRep()) { rep_->refs.fetch_add(1, std::memory_order_relaxed); }

QuickString QuickString::path(std::string_view text) {
    constexpr std::string_view dataVolume = "/System/Volumes/Data/";
    if (text.starts_with(dataVolume)) text.remove_prefix(dataVolume.size() - 1);
    while (text.size() >= 2 && text.back() == '/') text.remove_suffix(1);
    return make(text, validUtf8(text));
}

QuickString QuickString::literal(std::string_view text) { return make(text, validUtf8(text)); }
QuickString QuickString::bytes(std::string_view b) { return make(b, false); }
QuickString QuickString::bytes(const unsigned char* data, size_t size) {
    return make(std::string_view(reinterpret_cast<const char*>(data), size), false);
}

QuickString::QuickString(const QuickString& o) noexcept : rep_(o.rep_) {
    rep_->refs.fetch_add(1, std::memory_order_relaxed);
}
QuickString::QuickString(QuickString&& o) noexcept : rep_(o.rep_) {
    o.rep_ = emptyRep();
    o.rep_->refs.fetch_add(1, std::memory_order_relaxed);
}
QuickString& QuickString::operator=(const QuickString& o) noexcept {
    QuickString copy(o);
    std::swap(rep_, copy.rep_);
    return *this;
}
QuickString& QuickString::operator=(QuickString&& o) noexcept {
    std::swap(rep_, o.rep_);
    return *this;
}
QuickString::~QuickString() {
    if (rep_->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        delete rep_->repaired.load(std::memory_order_acquire);
        rep_->~Rep();
        ::operator delete(rep_);
    }
}

std::string_view QuickString::utf8() const noexcept { return {rep_->data(), rep_->size}; }
size_t QuickString::size() const noexcept { return rep_->size; }
int64_t QuickString::hash() const noexcept { return rep_->hash; }

std::string_view QuickString::string() const {
    int state = rep_->textState.load(std::memory_order_acquire);
    if (state == 0) {
        if (validUtf8(utf8())) {
            state = 1;
        } else {
            auto* fixed = new std::string(repairUtf8(utf8()));
            std::string* expected = nullptr;
            if (!rep_->repaired.compare_exchange_strong(expected, fixed, std::memory_order_acq_rel)) delete fixed;
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

bool operator<(const QuickString& a, const QuickString& b) noexcept { return naturalLess(a.utf8(), b.utf8()); }

namespace {

inline bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }
inline int charClass(unsigned char c) {
    if (isDigit(c)) return 1;
    if (c >= 'a' && c <= 'z') return 2;
    if (c >= 'A' && c <= 'Z') return 2;
    return 0;
}

}  // namespace

bool naturalLess(std::string_view as, std::string_view bs) noexcept {
    const auto* a = reinterpret_cast<const unsigned char*>(as.data());
    const auto* b = reinterpret_cast<const unsigned char*>(bs.data());
    const size_t na = as.size(), nb = bs.size();
    for (int pass = 0; pass < 2; ++pass) {
        size_t i = 0, j = 0;
        while (i < na && j < nb) {
            unsigned char ca = a[i], cb = b[j];
            if (pass == 0) {
                if (ca >= 'A' && ca <= 'Z') ca += 32;
                if (cb >= 'A' && cb <= 'Z') cb += 32;
            }
            if (isDigit(ca) && isDigit(cb)) {
                size_t ei = i, ej = j;
                while (ei < na && isDigit(a[ei])) ++ei;
                while (ej < nb && isDigit(b[ej])) ++ej;
                size_t la = ei - i, lb = ej - j, len = la > lb ? la : lb;
                for (size_t k = 0; k < len; ++k) {
                    unsigned char da = k + la >= len ? a[i + k + la - len] : '0';
                    unsigned char db = k + lb >= len ? b[j + k + lb - len] : '0';
                    if (da != db) return da < db;
                }
                if (la != lb) return la < lb;
                i = ei;
                j = ej;
                continue;
            }
            if (ca != cb) {
                int ka = charClass(ca), kb = charClass(cb);
                if (ka != kb) return ka < kb;
                return ca < cb;
            }
            ++i;
            ++j;
        }
        size_t ra = na - i, rb = nb - j;
        if (ra != rb) return ra < rb;
    }
    return false;
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
    static const std::string s = std::string(homeDirectory().string()) + "/";
    return s;
}

}  // namespace qm
