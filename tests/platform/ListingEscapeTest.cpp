#include "platform/ListingEscape.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <optional>
#include <random>
#include <string>

namespace qm {
namespace {

// Reference decoder: computes the code point arithmetically and rejects what
// Unicode forbids (overlong forms, surrogates, > U+10FFFF). Returns the length
// of the valid sequence at `i`, or nothing.
std::optional<size_t> referenceSequence(const std::string& s, size_t i) {
    auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char lead = b(i);
    size_t n;
    uint32_t cp;
    if (lead < 0x80) return 1;
    if ((lead & 0xE0) == 0xC0) n = 2, cp = lead & 0x1F;
    else if ((lead & 0xF0) == 0xE0) n = 3, cp = lead & 0x0F;
    else if ((lead & 0xF8) == 0xF0) n = 4, cp = lead & 0x07;
    else return std::nullopt;
    if (i + n > s.size()) return std::nullopt;
    for (size_t k = 1; k < n; ++k) {
        if ((b(i + k) & 0xC0) != 0x80) return std::nullopt;
        cp = (cp << 6) | (b(i + k) & 0x3F);
    }
    const uint32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < minimum[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
    return n;
}

bool referenceValid(const std::string& s) {
    for (size_t i = 0; i < s.size();) {
        auto n = referenceSequence(s, i);
        if (!n) return false;
        i += *n;
    }
    return true;
}

// Valid UTF-8 without control characters (C0, DEL, C1): text a terminal
// shows as it is.
bool referencePlain(const std::string& s) {
    if (!referenceValid(s)) return false;
    for (size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x20 || c == 0x7F) return false;
        // U+0080..U+009F is C2 80..C2 9F; C2 only ever leads.
        if (c == 0xC2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) <= 0x9F) return false;
    }
    return true;
}

// What a reader of the listings does; nullopt for a malformed escape.
std::optional<std::string> unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\') {
            out += s[i];
            continue;
        }
        if (++i >= s.size()) return std::nullopt;
        switch (s[i]) {
            case '\\': out += '\\'; break;
            case 't': out += '\t'; break;
            case 'n': out += '\n'; break;
            case 'x': {
                std::string hex = s.substr(i + 1, 2);
                if (hex.size() != 2 || hex.find_first_not_of("0123456789abcdef") != std::string::npos)
                    return std::nullopt;
                out += static_cast<char>(std::stoi(hex, nullptr, 16));
                i += 2;
                break;
            }
            default: return std::nullopt;
        }
    }
    return out;
}

std::string bytes(std::initializer_list<int> list) {
    std::string s;
    for (int c : list) s += static_cast<char>(c);
    return s;
}

TEST(ListingEscape, SeparatorsAndBackslashAreEscapedAndTextIsKept) {
    EXPECT_EQ(escapeListingField(""), "");
    EXPECT_EQ(escapeListingField("/home/a b/c.jpg"), "/home/a b/c.jpg");
    EXPECT_EQ(escapeListingField("a\tb\nc\\d"), "a\\tb\\nc\\\\d");
    EXPECT_EQ(escapeListingField("\\x41"), "\\\\x41");  // a literal "\x41" stays readable as such
    // Two, three and four byte characters, including the star and an emoji.
    const std::string text = "Ünïcødé/★ 東京 \xF0\x9F\x93\xB7 \xF4\x8F\xBF\xBF";
    EXPECT_EQ(escapeListingField(text), text);
    // C0 controls other than tab and newline, DEL and the C1 controls (valid
    // UTF-8 as U+0080..U+009F) cannot reach the terminal: ESC [ 2 J would
    // clear it, CR would overwrite the line, CSI (U+009B) starts a sequence too.
    const std::string controls = bytes({0x01, 0x0D, 0x1B, 0x7F, 0xC2, 0x80, 0xC2, 0x9B, 0xC2, 0x9F});
    EXPECT_EQ(escapeListingField(controls), "\\x01\\x0d\\x1b\\x7f\\xc2\\x80\\xc2\\x9b\\xc2\\x9f");
    EXPECT_EQ(escapeListingField(std::string("a\0b", 3)), "a\\x00b");
    EXPECT_EQ(escapeListingField("evil\x1b[2J\rname.jpg"), "evil\\x1b[2J\\x0dname.jpg");
    // U+00A0 and up are text again.
    EXPECT_EQ(escapeListingField(bytes({0xC2, 0xA0, 0xC2, 0xBF})), bytes({0xC2, 0xA0, 0xC2, 0xBF}));
}

TEST(ListingEscape, IllFormedBytesBecomeHexEscapes) {
    EXPECT_EQ(escapeListingField(bytes({0xFF})), "\\xff");
    EXPECT_EQ(escapeListingField(bytes({0xFE, 'a'})), "\\xfea");
    // Raw C1 bytes (Latin-1 style) are not UTF-8.
    EXPECT_EQ(escapeListingField(bytes({0x85, 0x9F})), "\\x85\\x9f");
    // Overlong forms of "/" and NUL, and an overlong three-byte form.
    EXPECT_EQ(escapeListingField(bytes({0xC0, 0xAF})), "\\xc0\\xaf");
    EXPECT_EQ(escapeListingField(bytes({0xC1, 0xBF})), "\\xc1\\xbf");
    EXPECT_EQ(escapeListingField(bytes({0xE0, 0x80, 0xAF})), "\\xe0\\x80\\xaf");
    EXPECT_EQ(escapeListingField(bytes({0xF0, 0x80, 0x80, 0xAF})), "\\xf0\\x80\\x80\\xaf");
    // A surrogate (U+D800) and a code point above U+10FFFF.
    EXPECT_EQ(escapeListingField(bytes({0xED, 0xA0, 0x80})), "\\xed\\xa0\\x80");
    EXPECT_EQ(escapeListingField(bytes({0xF4, 0x90, 0x80, 0x80})), "\\xf4\\x90\\x80\\x80");
    EXPECT_EQ(escapeListingField(bytes({0xF5, 0x80, 0x80, 0x80})), "\\xf5\\x80\\x80\\x80");
    // Sequences cut short at the end, and by an ASCII byte in the middle.
    EXPECT_EQ(escapeListingField("ab" + bytes({0xE2, 0x98})), "ab\\xe2\\x98");
    EXPECT_EQ(escapeListingField(bytes({0xF0, 0x9F, 0x93})), "\\xf0\\x9f\\x93");
    EXPECT_EQ(escapeListingField(bytes({0xC3})), "\\xc3");
    EXPECT_EQ(escapeListingField(bytes({0xE2, 'x', 0x85})), "\\xe2x\\x85");
    // A bad byte does not swallow the valid character after it.
    EXPECT_EQ(escapeListingField(bytes({0xE2, 0x98, 0xE2, 0x98, 0x85})), "\\xe2\\x98★");
    // The Latin-1 name a camera card or an old archive leaves behind.
    EXPECT_EQ(escapeListingField("caf" + bytes({0xE9}) + ".jpg"), "caf\\xe9.jpg");
}

TEST(ListingEscape, AgreesWithReferenceDecoderOnAllShortSequences) {
    // Every two-byte string and every three-byte string with a three-byte lead:
    // copied unchanged exactly when the reference decoder accepts it.
    for (int a = 0x80; a < 0x100; ++a)
        for (int b = 0; b < 0x100; ++b) {
            std::string s = bytes({a, b});
            if (b == '\\' || b == '\t' || b == '\n') continue;
            ASSERT_EQ(escapeListingField(s) == s, referencePlain(s)) << a << " " << b;
        }
    for (int a = 0xE0; a < 0xF0; ++a)
        for (int b = 0x00; b < 0x100; ++b)
            for (int c : {0x00, 0x41, 0x7F, 0x80, 0x9F, 0xA0, 0xBF, 0xC0, 0xFF}) {
                std::string s = bytes({a, b, c});
                ASSERT_EQ(escapeListingField(s) == s, referencePlain(s)) << a << " " << b << " " << c;
            }
    for (int a = 0xF0; a < 0x100; ++a)
        for (int b = 0x00; b < 0x100; ++b)
            for (int c : {0x41, 0x80, 0xBF, 0xC0})
                for (int d : {0x41, 0x80, 0xBF, 0xC0}) {
                    std::string s = bytes({a, b, c, d});
                    ASSERT_EQ(escapeListingField(s) == s, referencePlain(s))
                        << a << " " << b << " " << c << " " << d;
                }
}

TEST(ListingEscape, RandomBytesRoundTripAndKeepLinesParseable) {
    std::mt19937 rng(20261207);
    // Mix raw bytes with pieces of valid UTF-8 so both paths are exercised.
    const std::string pieces[] = {"★", "é", "\xF0\x9F\x93\xB7", "\\", "\t", "\n", "/", ",", "a", "\x1b[31m", "\r", "\xC2\x9B"};
    for (int round = 0; round < 20000; ++round) {
        std::string s;
        const int length = static_cast<int>(rng() % 24);
        for (int i = 0; i < length; ++i) {
            if (rng() % 3 == 0)
                s += pieces[rng() % std::size(pieces)];
            else
                s += static_cast<char>(rng() & 0xFF);
        }
        const std::string e = escapeListingField(s);
        ASSERT_EQ(e.find('\t'), std::string::npos);
        ASSERT_EQ(e.find('\n'), std::string::npos);
        ASSERT_TRUE(referenceValid(e));
        auto back = unescape(e);
        ASSERT_TRUE(back.has_value()) << e;
        ASSERT_EQ(*back, s);
        for (size_t i = 0; i < e.size(); ++i) {
            const auto c = static_cast<unsigned char>(e[i]);
            ASSERT_TRUE(c >= 0x20 && c != 0x7F) << e;  // nothing a terminal acts on
            ASSERT_FALSE(c == 0xC2 && i + 1 < e.size() && static_cast<unsigned char>(e[i + 1]) <= 0x9F) << e;
        }
        if (referencePlain(s)) {
            // Plain text: only the separators change.
            std::string plain;
            for (char c : s)
                plain += c == '\\' ? "\\\\" : std::string(1, c);
            ASSERT_EQ(e, plain);
        }
    }
}

TEST(ListingEscape, CoordinatesHaveSevenDecimalsInAnyLocale) {
    EXPECT_EQ(formatCoordinate(48.8584), "48.8584000");
    EXPECT_EQ(formatCoordinate(-2.2945), "-2.2945000");
    EXPECT_EQ(formatCoordinate(-179.99999999), "-180.0000000");
    EXPECT_EQ(formatCoordinate(90), "90.0000000");
    EXPECT_EQ(formatCoordinate(0.00000004), "0.0000000");
    EXPECT_EQ(formatCoordinate(-0.00000004), "0.0000000");
    EXPECT_EQ(formatCoordinate(-0.0), "0.0000000");
    EXPECT_EQ(formatCoordinate(12.34567896), "12.3456790");
    // A decimal comma locale must not leak into the listings.
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") || std::setlocale(LC_ALL, "fr_FR.UTF-8")) {
        EXPECT_EQ(formatCoordinate(-33.8567844), "-33.8567844");
        std::setlocale(LC_ALL, "C");
    }
}

}  // namespace
}  // namespace qm
