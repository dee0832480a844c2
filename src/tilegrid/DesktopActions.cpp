#include "tilegrid/DesktopActions.h"

#include <QDesktopServices>
#include <QUrl>

#include "core/FileURL.h"

namespace qm {

namespace {

// Our own escaping keeps names that are not UTF-8 intact, which QUrl's
// path setters would not.
QUrl fileUrl(const std::string& path) {
    std::string url = fileURLForPath(path);
    return QUrl::fromEncoded(QByteArray(url.data(), qsizetype(url.size())));
}

}  // namespace

void openFilesWithDefaultApplication(const std::vector<std::string>& paths) {
    for (const std::string& p : paths) QDesktopServices::openUrl(fileUrl(p));
}

}  // namespace qm
