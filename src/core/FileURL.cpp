#include "core/FileURL.h"

#include <cctype>

namespace qm {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool isAlnum(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

bool startsWithNoCase(std::string_view s, std::string_view lowerPrefix) {
    if (s.size() < lowerPrefix.size()) return false;
    for (size_t i = 0; i < lowerPrefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(s[i])) != lowerPrefix[i]) return false;
    return true;
}

}  // namespace

std::string percentEncode(std::string_view bytes, std::string_view keptPunctuation) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size());
    for (unsigned char c : bytes) {
        if (isAlnum(c) || (c != 0 && keptPunctuation.find(char(c)) != std::string_view::npos)) {
            out += char(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string percentEncodePath(std::string_view bytes) { return percentEncode(bytes, "-_.~/"); }

std::string percentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            int hi = hexValue(text[i + 1]), lo = hexValue(text[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out += char(hi * 16 + lo);
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

std::string fileURLForPath(std::string_view path) {
    return "file://" + percentEncodePath(path);
}

std::optional<std::string> pathForFileURL(std::string_view url) {
    if (!startsWithNoCase(url, "file://")) return std::nullopt;
    std::string_view rest = url.substr(7);
    if (startsWithNoCase(rest, "localhost/")) rest.remove_prefix(9);
    if (rest.empty() || rest[0] != '/') return std::nullopt;  // another host
    size_t cut = rest.find_first_of("?#");
    if (cut != std::string_view::npos) rest = rest.substr(0, cut);
    std::string path = percentDecode(rest);
    if (path.find('\0') != std::string::npos) return std::nullopt;
    return path;
}

}  // namespace qm
