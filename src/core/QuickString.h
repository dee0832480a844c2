#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
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
    // Path constructor: drops a leading "/System/Volumes/Data" and trailing "/".
    static QuickString path(std::string_view text);
    // Literal constructor: the text as it is.
    static QuickString literal(std::string_view text);
    // Byte constructor: the bytes as they are, text decoded on first request.
    static QuickString bytes(std::string_view bytes);
    static QuickString bytes(const unsigned char* data, size_t size);

    QuickString(const QuickString& o) noexcept;
    QuickString(QuickString&& o) noexcept;
    QuickString& operator=(const QuickString& o) noexcept;
    QuickString& operator=(QuickString&& o) noexcept;
    ~QuickString();

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
    Rep* rep_;
};

// Natural order of two byte sequences: case folded first, then exact; digit
// runs compared as numbers. Used by QuickString's `<` and by sorting code.
bool naturalLess(std::string_view a, std::string_view b) noexcept;

// Sorts by the natural order (the same result as std::sort with `<`), faster
// for large lists: each value is encoded once into bytes whose plain order is
// the case-folded natural order, and the list is sorted by those.
void sortNatural(std::vector<QuickString>& list);

// The hash QuickString uses for a byte sequence (seeded once per process).
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
