#include "sidebar/TagSearchQuery.h"

#include <QString>

namespace qm {

std::vector<std::string> TagSearchQuery::tokens(std::string_view text) {
    const QByteArray lowered =
        QString::fromUtf8(text.data(), qsizetype(text.size())).trimmed().toLower().toUtf8();
    std::string_view s(lowered.constData(), size_t(lowered.size()));
    std::vector<std::string> out;
    size_t start = 0;
    while (true) {
        size_t slash = s.find('/', start);
        std::string_view piece = s.substr(start, slash == std::string_view::npos ? s.npos : slash - start);
        if (start > 0 && !out.empty() && out.back() != "/") out.emplace_back("/");
        if (!piece.empty()) out.emplace_back(piece);
        if (slash == std::string_view::npos) break;
        start = slash + 1;
    }
    return out;
}

}  // namespace qm
