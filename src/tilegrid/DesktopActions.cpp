#include "tilegrid/DesktopActions.h"

#include <QDesktopServices>
#include <QUrl>

#include <string>

#include "core/FileURL.h"
#include "desktop/FileManagerReveal.h"

namespace qm {

namespace {

// Our own escaping keeps names that are not UTF-8 intact, which QUrl's
// path setters would not.
QUrl fileUrl(std::string_view path) {
    std::string url = fileURLForPath(path);
    return QUrl::fromEncoded(QByteArray(url.data(), qsizetype(url.size())));
}

}  // namespace

void openFilesWithDefaultApplication(const std::vector<QuickString>& paths) {
    for (const QuickString& p : paths) QDesktopServices::openUrl(fileUrl(p.utf8()));
}

void showFilesInFileManager(const std::vector<QuickString>& paths) {
    std::vector<std::string> files;
    files.reserve(paths.size());
    for (const QuickString& p : paths) files.emplace_back(p.utf8());
    FileManagerReveal::showItems(files);
}

}  // namespace qm
