#include "desktop/FileManagerReveal.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QStringList>
#include <QUrl>

#include "core/FileURL.h"

namespace qm {

namespace {
// Long enough for a file manager to start; the window does not wait for it.
constexpr int callTimeoutMs = 10000;
}  // namespace

std::string FileManagerReveal::uriFor(const std::string& path) {
    return fileURLForPath(path);
}

QUrl FileManagerReveal::fallbackFolder(const std::string& firstPath) {
    std::string folder = firstPath;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    size_t slash = folder.rfind('/');
    folder = slash == std::string::npos || slash == 0 ? std::string("/") : folder.substr(0, slash);
    const std::string url = fileURLForPath(folder);
    return QUrl::fromEncoded(QByteArray(url.data(), qsizetype(url.size())));
}

void FileManagerReveal::showItems(const std::vector<std::string>& paths, Done done) {
    showItems(QDBusConnection::sessionBus(), paths, std::move(done),
              [](const QUrl& folder) { QDesktopServices::openUrl(folder); });
}

void FileManagerReveal::showItems(const QDBusConnection& bus, const std::vector<std::string>& paths, Done done,
                                  OpenFolder openFolder) {
    if (paths.empty()) return;
    auto fallback = [folder = fallbackFolder(paths.front()), openFolder, done] {
        if (openFolder) openFolder(folder);
        if (done) done(false);
    };
    if (!bus.isConnected()) return fallback();
    QStringList uris;
    // The escaped form is ASCII whatever bytes the names hold.
    for (const std::string& p : paths) uris << QString::fromLatin1(uriFor(p));
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << uris << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, callTimeoutMs));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [fallback, done](QDBusPendingCallWatcher* w) {
        if (w->isError())
            fallback();
        else if (done)
            done(true);
        w->deleteLater();
    });
}

}  // namespace qm
