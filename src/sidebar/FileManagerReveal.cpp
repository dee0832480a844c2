#include "sidebar/FileManagerReveal.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

#include "core/FileURL.h"

namespace qm {

void FileManagerReveal::showItems(const QStringList& paths) {
    if (paths.isEmpty()) return;
    QStringList uris;
    for (const QString& p : paths) {
        // Escaped byte for byte, so names with "#", "%" or odd bytes survive.
        const QByteArray bytes = QFile::encodeName(p);
        uris << QString::fromStdString(fileURLForPath(std::string_view(bytes.constData(), size_t(bytes.size()))));
    }
    const QString first = paths.first();
    auto fallback = [first] {
        QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(first).absolutePath()));
    };
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return fallback();
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << uris << QString();
    // Asynchronous: a file manager that starts on demand must not block the window.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [fallback](QDBusPendingCallWatcher* w) {
        if (w->isError()) fallback();
        w->deleteLater();
    });
}

}  // namespace qm
