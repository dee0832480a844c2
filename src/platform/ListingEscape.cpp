#include "platform/ListingEscape.h"

#include <charconv>
#include <cstdint>

namespace qm {

namespace {

// Length of the well-formed UTF-8 sequence at `p` (RFC 3629 table), 0 when the
// bytes there do not start one.
size_t sequenceLength(const unsigned char* p, size_t left) {
    const unsigned char b = p[0];
    if (b < 0x80) return 1;
    size_t n;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
        n = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        n = 3;
        if (b == 0xE0) lo = 0xA0;       // overlong
        else if (b == 0xED) hi = 0x9F;  // surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
        n = 4;
        if (b == 0xF0) lo = 0x90;       // overlong
        else if (b == 0xF4) hi = 0x8F;  // above U+10FFFF
    } else {
        return 0;
    }
    if (left < n) return 0;
    if (p[1] < lo || p[1] > hi) return 0;
    for (size_t i = 2; i < n; ++i)
        if ((p[i] & 0xC0) != 0x80) return 0;
    return n;
}

}  // namespace

std::string escapeListingField(std::string_view bytes) {
    static const char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size());
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t size = bytes.size();
    auto escapeByte = [&](unsigned char b) {
        out += "\\x";
        out += hex[b >> 4];
        out += hex[b & 0xF];
    };
    size_t i = 0;
    while (i < size) {
        const unsigned char b = p[i];
        if (b == '\\') {
            out += "\\\\";
            ++i;
        } else if (b == '\t') {
            out += "\\t";
            ++i;
        } else if (b == '\n') {
            out += "\\n";
            ++i;
        } else if (b < 0x20 || b == 0x7F) {
            escapeByte(b);  // C0 controls and DEL: ESC, CR and kin
            ++i;
        } else if (b == 0xC2 && i + 1 < size && p[i + 1] >= 0x80 && p[i + 1] <= 0x9F) {
            escapeByte(p[i]);  // C1 controls (CSI and kin), U+0080..U+009F
            escapeByte(p[i + 1]);
            i += 2;
        } else if (size_t n = sequenceLength(p + i, size - i); n > 0) {
            out.append(bytes.data() + i, n);
            i += n;
        } else {
            // One byte at a time: what follows a bad lead byte is judged on its own.
            escapeByte(b);
            ++i;
        }
    }
    return out;
}

size_t utf8SequenceLength(std::string_view bytes) {
    if (bytes.empty()) return 0;
    return sequenceLength(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

std::string formatCoordinate(double degrees) {
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, degrees, std::chars_format::fixed, 7);
    if (ec != std::errc()) return "nan";
    std::string out(buf, end);
    // A tiny negative value rounds to zero; a sign there only confuses readers.
    if (out == "-0.0000000") out.erase(0, 1);
    return out;
}

}  // namespace qm
