#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qm {

// Immutable shared string of bytes (normally UTF-8) with a hash computed once.
// Every path, tag name and node name of the model is one, so copies must be
// cheap: the handle is one pointer to a reference-counted block that holds the
// hash, the bytes and, for bytes that are not valid UTF-8, the repaired text.
// Equality and hashing use the bytes only; `<` is the natural order.
class QuickString {
public:
    // The empty string.
    QuickString() noexcept;
    // Path constructor: drops trailing "/" (a lone "/" stays); nothing else
    // is rewritten, so the value names the same file as the text.
    static QuickString path(std::string_view text);
    // Literal constructor: the text as it is.
    static QuickString literal(std::string_view text);
    // Byte constructor: the bytes as they are, text decoded on first request.
    static QuickString bytes(std::string_view bytes);
    static QuickString bytes(const unsigned char* data, size_t size);

    // Copies share the block; the empty string's block is never counted, so
    // moves and empty values touch no shared memory.
    QuickString(const QuickString& o) noexcept : rep_(o.rep_) { retain(); }
    QuickString(QuickString&& o) noexcept : rep_(o.rep_) { o.rep_ = emptyRep(); }
    QuickString& operator=(const QuickString& o) noexcept {
        QuickString copy(o);
        std::swap(rep_, copy.rep_);
        return *this;
    }
    QuickString& operator=(QuickString&& o) noexcept {
        std::swap(rep_, o.rep_);
        return *this;
    }
    ~QuickString() { release(); }

    // The raw bytes; what identifies the value.
    std::string_view utf8() const noexcept;
    size_t size() const noexcept;
    bool empty() const noexcept { return size() == 0; }
    int64_t hash() const noexcept;

    // The decoded text: the bytes when they are valid UTF-8, otherwise a copy
    // with each invalid sequence replaced by U+FFFD (made once, then kept).
    std::string_view string() const;

    // Split at every "/" byte, keeping empty pieces; byte-constructed parts.
    std::vector<QuickString> components() const;

    // Text between double quotation marks, for log lines.
    std::string description() const;

    // A copy for a builder that alone can reach this string's block: one
    // that made it on this thread and has not handed it to another yet. The
    // reference is counted without a locked instruction, which otherwise is
    // most of the cost of filling big tables with a million fresh strings.
    QuickString unsharedCopy() const noexcept;

    // Starts loading the shared block, for loops over many cold strings.
    void prefetch() const noexcept { __builtin_prefetch(rep_); }

    bool startsWith(std::string_view prefix) const noexcept { return utf8().starts_with(prefix); }

    friend bool operator==(const QuickString& a, const QuickString& b) noexcept;
    friend bool operator!=(const QuickString& a, const QuickString& b) noexcept { return !(a == b); }
    friend bool operator<(const QuickString& a, const QuickString& b) noexcept;
    friend bool operator>(const QuickString& a, const QuickString& b) noexcept { return b < a; }
    friend bool operator<=(const QuickString& a, const QuickString& b) noexcept { return !(b < a); }
    friend bool operator>=(const QuickString& a, const QuickString& b) noexcept { return !(a < b); }

    template <typename H>
    friend H AbslHashValue(H h, const QuickString& s) {
        return H::combine(std::move(h), s.hash());
    }

    struct Rep;

private:
    explicit QuickString(Rep* rep) noexcept : rep_(rep) {}
    static QuickString make(std::string_view bytes, bool textKnownValid);
    static Rep* emptyRep() noexcept;
    void retain() const noexcept;
    void release() noexcept;
    static void destroy(Rep* rep) noexcept;
    Rep* rep_;
};

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

namespace detail {
// The empty string's block, made at compile time and never freed.
struct EmptyQuickString {
    QuickString::Rep rep;
    char bytes[8];  // the terminating zero data() points at
};
extern EmptyQuickString emptyQuickString;
}  // namespace detail

inline QuickString::Rep* QuickString::emptyRep() noexcept {
    return &detail::emptyQuickString.rep;
}
inline QuickString::QuickString() noexcept : rep_(emptyRep()) {}
inline void QuickString::retain() const noexcept {
    if (rep_ != emptyRep()) rep_->refs.fetch_add(1, std::memory_order_relaxed);
}
inline void QuickString::release() noexcept {
    if (rep_ != emptyRep() && rep_->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) destroy(rep_);
}
inline QuickString QuickString::unsharedCopy() const noexcept {
    if (rep_ != emptyRep())
        rep_->refs.store(rep_->refs.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    return QuickString(rep_);
}
inline std::string_view QuickString::utf8() const noexcept {
    return {rep_->data(), rep_->size};
}
inline size_t QuickString::size() const noexcept {
    return rep_->size;
}
inline int64_t QuickString::hash() const noexcept {
    return rep_->hash;
}

// Natural order of two byte sequences: case folded first, then exact; digit
// runs compared as numbers. Used by QuickString's `<` and by sorting code.
bool naturalLess(std::string_view a, std::string_view b) noexcept;

// Sorts by the natural order (the same result as std::sort with `<`), faster
// for large lists: each value is encoded once into bytes whose plain order is
// the case-folded natural order, and the list is sorted by those.
void sortNatural(std::vector<QuickString>& list);

// The hash QuickString uses for a byte sequence (seeded once per process;
// the empty sequence has a fixed one, so the empty string can be constant).
int64_t quickHash(std::string_view bytes) noexcept;

// Process-wide constants, made on first use.
const QuickString& emptyString();
const QuickString& starString();     // "★"
const QuickString& homeDirectory();  // $HOME through the path constructor
const std::string& homeDirectoryWithSlash();

}  // namespace qm

template <>
struct std::hash<qm::QuickString> {
    size_t operator()(const qm::QuickString& s) const noexcept { return static_cast<size_t>(s.hash()); }
};
