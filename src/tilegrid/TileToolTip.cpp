#include "tilegrid/TileToolTip.h"

#include <sys/stat.h>

#include <QCoreApplication>
#include <QStringList>

#include <algorithm>

#include "core/TagFormat.h"
#include "library/Tree.h"
#include "tilegrid/MovieTime.h"
#include "tilegrid/TileCaption.h"
#include "tilegrid/TileContents.h"
#include "tilegrid/TileMenuModel.h"

namespace qm {

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("qm::TileToolTip", text);
}

QString escaped(const QString& text) {
    return text.toHtmlEscaped();
}

QString line(const QString& label, const QString& value) {
    return QStringLiteral("%1 %2").arg(escaped(label), escaped(value));
}

}  // namespace

TileFacts TileToolTip::known(const Tree& tree, const QuickString& path, const TileContents* contents) {
    TileFacts facts;
    facts.path = std::string(path.utf8());
    std::vector<QuickString> names(tree.tagsFor(path).begin(), tree.tagsFor(path).end());
    std::sort(names.begin(), names.end());
    for (const QuickString& n : names)
        if (auto tag = TagFormat::tagForNodeName(n)) facts.tags.push_back(*tag);
    if (contents) facts.duration = contents->metadata.duration;
    const auto& located = tree.mapNode()->resolvedPaths();
    if (auto it = located.find(path); it != located.end()) facts.gps = it->second.gps;
    return facts;
}

void TileToolTip::readFile(TileFacts& facts) {
    struct stat st {};
    // A link shows what it leads to; a dangling one itself.
    if (::stat(facts.path.c_str(), &st) != 0 && ::lstat(facts.path.c_str(), &st) != 0) return;
    facts.didReadFile = true;
    facts.isDirectory = S_ISDIR(st.st_mode);
    if (!facts.isDirectory) facts.size = uint64_t(st.st_size);
    facts.modified = QDateTime::fromMSecsSinceEpoch(qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000);
}

QString TileToolTip::text(const TileFacts& facts, const QLocale& locale) {
    QStringList lines;
    lines << QStringLiteral("<b>%1</b>").arg(escaped(TileCaption::displayName(facts.path)));
    const size_t slash = facts.path.rfind('/');
    if (slash != std::string::npos) {
        std::string_view folder = std::string_view(facts.path).substr(0, slash);
        lines << line(tr("Folder:"), folder.empty() ? QStringLiteral("/") : TileCaption::displayText(folder));
    }
    if (facts.size)
        lines << line(tr("Size:"), QStringLiteral("%1 (%2)").arg(
                                       locale.formattedDataSize(qint64(*facts.size), 1, QLocale::DataSizeSIFormat),
                                       tr("%1 bytes").arg(locale.toString(qulonglong(*facts.size)))));
    if (facts.modified) lines << line(tr("Modified:"), locale.toString(*facts.modified, QLocale::ShortFormat));
    if (!facts.tags.empty()) {
        QStringList tags;
        for (const std::string& t : facts.tags) tags << TileCaption::displayText(t);
        lines << line(tr("Tags:"), tags.join(QStringLiteral(", ")));
    }
    if (facts.duration) lines << line(tr("Duration:"), QString::fromStdString(formatMovieTime(*facts.duration)));
    if (facts.gps)
        lines << line(tr("Place:"), facts.placeName ? QString::fromStdString(*facts.placeName)
                                                    : QString::fromStdString(coordinateTitle(*facts.gps)));
    // Rich text always: a name that looks like markup is shown as written.
    return QStringLiteral("<qt>") + lines.join(QStringLiteral("<br>")) + QStringLiteral("</qt>");
}

}  // namespace qm
