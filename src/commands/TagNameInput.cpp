#include "commands/TagNameInput.h"

namespace qm {

std::string TagNameInput::trimmed(std::string_view text) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return std::string(text);
}

bool TagNameInput::hasControlCharacter(std::string_view text) {
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7f) return true;
        if (c == 0xc2 && i + 1 < text.size()) {
            const auto next = static_cast<unsigned char>(text[i + 1]);
            if (next >= 0x80 && next <= 0x9f) return true;
        }
    }
    return false;
}

std::string TagNameInput::refusalForLevel(std::string_view name) {
    if (name.find('/') != std::string_view::npos) return slashMessage;
    if (name.find(',') != std::string_view::npos) return commaMessage;
    if (hasControlCharacter(name)) return controlMessage;
    return {};
}

namespace {

TagNameInput::Path parseLevels(std::string_view text, bool refuseEmptyLevels) {
    TagNameInput::Path out;
    std::string_view rest = text;
    bool sawEmptyLevel = false;
    while (true) {
        size_t slash = rest.find('/');
        std::string level = TagNameInput::trimmed(rest.substr(0, slash));
        if (level.find(',') != std::string::npos) return {{}, TagNameInput::commaMessage};
        if (TagNameInput::hasControlCharacter(level)) return {{}, TagNameInput::controlMessage};
        if (level.empty()) {
            sawEmptyLevel = true;
        } else {
            if (!out.tag.empty()) out.tag += '/';
            out.tag += level;
        }
        if (slash == std::string_view::npos) break;
        rest.remove_prefix(slash + 1);
    }
    if (refuseEmptyLevels && sawEmptyLevel && !out.tag.empty()) return {{}, TagNameInput::emptyLevelMessage};
    return out;
}

}  // namespace

TagNameInput::Path TagNameInput::parsePath(std::string_view text) {
    return parseLevels(text, false);
}

TagNameInput::Path TagNameInput::parseExactPath(std::string_view text) {
    return parseLevels(text, true);
}

}  // namespace qm
