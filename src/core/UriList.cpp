#include "core/UriList.h"

#include "core/FileURL.h"

namespace qm {

namespace {

void appendLine(std::string& list, std::string_view path) {
    list += fileURLForPath(path);
    list += "\r\n";
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

}  // namespace

std::string UriList::forPaths(const std::vector<std::string>& paths) {
    std::string list;
    for (const std::string& p : paths)
        appendLine(list, p);
    return list;
}

std::string UriList::forPaths(const std::vector<QuickString>& paths) {
    std::string list;
    for (const QuickString& p : paths)
        appendLine(list, p.utf8());
    return list;
}

std::vector<std::string> UriList::uris(std::string_view list) {
    std::vector<std::string> out;
    while (!list.empty()) {
        size_t end = list.find('\n');
        std::string_view line = list.substr(0, end);
        list.remove_prefix(end == std::string_view::npos ? list.size() : end + 1);
        while (!line.empty() && isSpace(line.front()))
            line.remove_prefix(1);
        while (!line.empty() && isSpace(line.back()))
            line.remove_suffix(1);
        if (line.empty() || line.front() == '#') continue;
        out.emplace_back(line);
    }
    return out;
}

}  // namespace qm
