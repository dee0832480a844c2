#include "commands/ByteSafeText.h"

#include <array>
#include <cstdint>

namespace qm {

namespace {

constexpr char base64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<int8_t, 256> makeBase64Values() {
    std::array<int8_t, 256> values{};
    for (auto& v : values) v = -1;
    for (int i = 0; i < 64; ++i) values[static_cast<uint8_t>(base64Alphabet[i])] = static_cast<int8_t>(i);
    return values;
}
constexpr auto base64Values = makeBase64Values();

}  // namespace

bool isValidUtf8(std::string_view bytes) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = p + bytes.size();
    while (p < end) {
        const unsigned c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        size_t length = 0;
        unsigned low = 0x80, high = 0xBF;  // allowed range of the second byte
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            if (c == 0xE0) low = 0xA0;
            if (c == 0xED) high = 0x9F;  // surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            if (c == 0xF0) low = 0x90;
            if (c == 0xF4) high = 0x8F;
        } else {
            return false;
        }
        if (static_cast<size_t>(end - p) < length) return false;
        if (p[1] < low || p[1] > high) return false;
        for (size_t i = 2; i < length; ++i)
            if ((p[i] & 0xC0) != 0x80) return false;
        p += length;
    }
    return true;
}

std::string encodeByteSafeText(std::string_view bytes) {
    if ((bytes.empty() || bytes.front() != '\0') && isValidUtf8(bytes)) return std::string(bytes);
    std::string out;
    out.reserve(1 + (bytes.size() + 2) / 3 * 4);
    out.push_back('\0');
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const uint32_t n = static_cast<uint32_t>(static_cast<uint8_t>(bytes[i])) << 16 |
                           static_cast<uint32_t>(static_cast<uint8_t>(bytes[i + 1])) << 8 |
                           static_cast<uint8_t>(bytes[i + 2]);
        out.push_back(base64Alphabet[n >> 18 & 63]);
        out.push_back(base64Alphabet[n >> 12 & 63]);
        out.push_back(base64Alphabet[n >> 6 & 63]);
        out.push_back(base64Alphabet[n & 63]);
    }
    if (const size_t rest = bytes.size() - i; rest > 0) {
        uint32_t n = static_cast<uint32_t>(static_cast<uint8_t>(bytes[i])) << 16;
        if (rest == 2) n |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[i + 1])) << 8;
        out.push_back(base64Alphabet[n >> 18 & 63]);
        out.push_back(base64Alphabet[n >> 12 & 63]);
        out.push_back(rest == 2 ? base64Alphabet[n >> 6 & 63] : '=');
        out.push_back('=');
    }
    return out;
}

bool decodeByteSafeText(std::string_view text, std::string& bytes) {
    if (text.empty() || text.front() != '\0') {
        bytes.assign(text);
        return true;
    }
    text.remove_prefix(1);
    if (text.size() % 4 != 0) return false;
    bytes.clear();
    bytes.reserve(text.size() / 4 * 3);
    for (size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        int v[4];
        int padding = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = text[i + static_cast<size_t>(k)];
            if (c == '=' && last && k >= 2) {
                v[k] = 0;
                ++padding;
                continue;
            }
            if (padding > 0) return false;  // data after padding
            v[k] = base64Values[static_cast<uint8_t>(c)];
            if (v[k] < 0) return false;
        }
        const uint32_t n = static_cast<uint32_t>(v[0]) << 18 | static_cast<uint32_t>(v[1]) << 12 |
                           static_cast<uint32_t>(v[2]) << 6 | static_cast<uint32_t>(v[3]);
        bytes.push_back(static_cast<char>(n >> 16 & 0xFF));
        if (padding < 2) bytes.push_back(static_cast<char>(n >> 8 & 0xFF));
        if (padding < 1) bytes.push_back(static_cast<char>(n & 0xFF));
    }
    return true;
}

}  // namespace qm
