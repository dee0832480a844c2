#include "commands/TagNameInput.h"

namespace qm {

std::string TagNameInput::trimmed(std::string_view text) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return std::string(text);
}

std::string TagNameInput::refusalForLevel(std::string_view name) {
    if (name.find('/') != std::string_view::npos) return slashMessage;
    if (name.find(',') != std::string_view::npos) return commaMessage;
    return {};
}

TagNameInput::Path TagNameInput::parsePath(std::string_view text) {
    Path out;
    std::string_view rest = text;
    while (true) {
        size_t slash = rest.find('/');
        std::string level = trimmed(rest.substr(0, slash));
        if (!level.empty()) {
            if (level.find(',') != std::string::npos) return Path{{}, commaMessage};
            if (!out.tag.empty()) out.tag += '/';
            out.tag += level;
        }
        if (slash == std::string_view::npos) break;
        rest.remove_prefix(slash + 1);
    }
    return out;
}

}  // namespace qm
