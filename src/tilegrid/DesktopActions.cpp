#include "tilegrid/DesktopActions.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QStringList>
#include <QUrl>

#include <filesystem>

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

void revealFilesInFileManager(const std::vector<std::string>& paths) {
    if (paths.empty()) return;
    static const QString service = QStringLiteral("org.freedesktop.FileManager1");
    QDBusConnection bus = QDBusConnection::sessionBus();
    // Running, or started on demand by the bus (file managers install an
    // activation file for it).
    auto available = [&] {
        QDBusConnectionInterface* bus_ = bus.interface();
        if (!bus_) return false;
        if (bus_->isServiceRegistered(service).value()) return true;
        QDBusMessage ask = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                          QStringLiteral("/org/freedesktop/DBus"),
                                                          QStringLiteral("org.freedesktop.DBus"),
                                                          QStringLiteral("ListActivatableNames"));
        QDBusMessage reply = bus.call(ask, QDBus::Block, 1000);
        return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
               reply.arguments().front().toStringList().contains(service);
    };
    if (bus.isConnected() && available()) {
        QStringList uris;
        for (const std::string& p : paths) uris << QString::fromLatin1(fileURLForPath(p));
        QDBusMessage call = QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/FileManager1"),
                                                           service, QStringLiteral("ShowItems"));
        call << uris << QString();
        if (bus.send(call)) return;
    }
    std::string folder = std::filesystem::path(paths.front()).parent_path().string();
    QDesktopServices::openUrl(fileUrl(folder));
}

}  // namespace qm
