#include "sidebar/TypeNavigation.h"

#include <QList>
#include <QString>

namespace qm {

namespace {
bool sameLetter(char32_t a, char32_t b) {
    if (a == b) return true;
    bool aUpper = QChar::isUpper(a), bUpper = QChar::isUpper(b);
    return (aUpper || bUpper) && QChar::toLower(a) == QChar::toLower(b);
}
}  // namespace

bool TypeNavigation::matches(std::string_view pattern, std::string_view name) {
    if (pattern.empty()) return false;
    const QList<uint> p = QString::fromUtf8(pattern.data(), qsizetype(pattern.size())).toUcs4();
    const QList<uint> n = QString::fromUtf8(name.data(), qsizetype(name.size())).toUcs4();
    qsizetype at = 0;
    for (uint pc : p) {
        while (at < n.size() && !QChar::isLetterOrNumber(n[at])) ++at;
        if (at == n.size() || !sameLetter(char32_t(pc), char32_t(n[at]))) return false;
        ++at;
    }
    return true;
}

std::optional<size_t> TypeNavigation::type(std::string_view characters, const std::vector<const Node*>& rows,
                                           std::optional<size_t> current) {
    if (rows.empty()) return std::nullopt;
    size_t start = 0;
    bool found = false;
    if (node)
        for (size_t i = 0; i < rows.size(); ++i)
            if (rows[i] == node.get()) {
                start = i;
                found = true;
                break;
            }
    if (!found && current && *current < rows.size()) start = *current;
    auto now = clock_();
    if (!latestDate || now - *latestDate > pause) {
        pattern.clear();
        start = (start + 1) % rows.size();
    }
    pattern += characters;
    std::optional<size_t> hit;
    for (size_t k = 0; k < rows.size(); ++k) {
        size_t i = (start + k) % rows.size();
        if (matches(pattern, rows[i]->name.string())) {
            hit = i;
            break;
        }
    }
    if (hit) node = std::const_pointer_cast<Node>(rows[*hit]->shared_from_this());
    latestDate = now;
    return hit;
}

}  // namespace qm
