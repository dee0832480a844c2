#include "commands/CommandLog.h"

namespace qm {

std::string quotedText(const QuickString& text) {
    return quotedText(text.string());
}

std::string quotedText(std::string_view bytes) {
    // Repair invalid UTF-8 the way QuickString does.
    std::string_view text = bytes;
    QuickString repaired;
    if (!text.empty()) {
        repaired = QuickString::bytes(bytes);
        text = repaired.string();
    }
    static const char hex[] = "0123456789abcdef";
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20 || c == 0x7f) {
                    out += "\\u{";
                    if (c >= 16) out += hex[c >> 4];
                    out += hex[c & 15];
                    out += '}';
                } else {
                    out += char(c);
                }
        }
    }
    out += '"';
    return out;
}

template <typename Range>
static std::string joinQuoted(const Range& items) {
    std::string out = "[";
    bool first = true;
    for (const auto& s : items) {
        if (!first) out += ", ";
        first = false;
        out += quotedText(std::string_view(s));
    }
    out += ']';
    return out;
}

std::string listDescription(const std::vector<std::string>& items) {
    return joinQuoted(items);
}

std::string listDescription(const std::set<std::string>& items) {
    return joinQuoted(items);
}

std::string pairListDescription(const std::vector<std::pair<std::string, std::string>>& pairs) {
    std::string out = "[";
    for (size_t i = 0; i < pairs.size(); ++i) {
        if (i) out += ", ";
        out += "(" + quotedText(pairs[i].first) + ", " + quotedText(pairs[i].second) + ")";
    }
    out += ']';
    return out;
}

std::string displayPath(std::string_view path) {
    const std::string& home = homeDirectoryWithSlash();
    if (!home.empty() && path.starts_with(home)) return std::string(path.substr(home.size()));
    return std::string(path);
}

std::string partialOutcomeText(std::string done, size_t failed, std::string_view participle) {
    if (failed == 0) return done;
    done += "; " + std::to_string(failed) + " could not be ";
    done += participle;
    return done;
}

}  // namespace qm
