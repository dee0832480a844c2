// "Show in File Manager" against a file manager of the test's own on a private
// session bus: what it is sent for names that are not UTF-8, that the call
// never waits, and the fallback to the folder when the call fails.
#include <gtest/gtest.h>

#include <signal.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QUrl>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "desktop/FileManagerReveal.h"
#include "support/ShellCommand.h"
#include "support/TempDir.h"

using namespace qm;

namespace {

QCoreApplication& app() {
    static int argc = 1;
    static char name[] = "FileManagerRevealTest";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* instance =
        QCoreApplication::instance() ? QCoreApplication::instance() : new QCoreApplication(argc, argv);
    return *instance;
}

// A dbus-daemon of the test's own, ended with the test. It knows no services
// to start on demand, so a file manager installed here stays out of it.
class PrivateBus {
public:
    PrivateBus() {
        const std::filesystem::path config = dir_ / "bus.conf";
        std::ofstream(config) << "<busconfig><type>session</type><listen>unix:tmpdir=" << dir_.path().string()
                              << "</listen><policy context=\"default\"><allow send_destination=\"*\"/>"
                                 "<allow receive_sender=\"*\"/><allow own=\"*\"/></policy></busconfig>\n";
        auto [status, out] = test::runShell("dbus-daemon --config-file=" + test::shellQuoted(config.string()) +
                                            " --fork --print-address=1 --print-pid=1");
        const size_t newline = out.find('\n');
        if (status != 0 || newline == std::string::npos) return;
        address_ = QString::fromStdString(out.substr(0, newline));
        pid_ = std::atoi(out.c_str() + newline + 1);
    }
    ~PrivateBus() {
        for (const QString& name : names_) QDBusConnection::disconnectFromBus(name);
        if (pid_ > 0) ::kill(pid_, SIGTERM);
    }
    bool isRunning() const { return pid_ > 0; }
    QDBusConnection connect(const QString& name) {
        names_.push_back(name);
        return QDBusConnection::connectToBus(address_, name);
    }

private:
    test::TempDir dir_{"qm-bus"};
    QString address_;
    pid_t pid_ = 0;
    std::vector<QString> names_;
};

// org.freedesktop.FileManager1 as a file manager offers it: records what
// ShowItems is given and answers, or fails when told to.
class FakeFileManager : public QDBusVirtualObject {
public:
    std::vector<QStringList> calls;
    bool fail = false;

    QString introspect(const QString&) const override {
        return QStringLiteral(
            "<interface name=\"org.freedesktop.FileManager1\"><method name=\"ShowItems\">"
            "<arg type=\"as\" direction=\"in\"/><arg type=\"s\" direction=\"in\"/></method></interface>");
    }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.member() != QLatin1String("ShowItems")) return false;
        calls.push_back(message.arguments().value(0).toStringList());
        connection.send(fail ? message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.Failed"),
                                                        QStringLiteral("cannot show"))
                             : message.createReply());
        return true;
    }
};

struct Outcome {
    std::optional<bool> shown;
    std::vector<QUrl> opened;
};

// Calls and waits for the outcome, which must not have come before the call returned.
Outcome reveal(const QDBusConnection& bus, const std::vector<std::string>& paths) {
    auto out = std::make_shared<Outcome>();
    FileManagerReveal::showItems(
        bus, paths, [out](bool shown) { out->shown = shown; },
        [out](const QUrl& folder) { out->opened.push_back(folder); });
    EXPECT_FALSE(out->shown) << "answered before the bus could";
    QElapsedTimer waited;
    waited.start();
    while (!out->shown && waited.elapsed() < 20000) app().processEvents(QEventLoop::AllEvents, 50);
    return *out;
}

std::string percentDecoded(const QString& uri) {
    QByteArray bytes = QByteArray::fromPercentEncoding(uri.toLatin1());
    return std::string(bytes.constData(), size_t(bytes.size()));
}

}  // namespace

TEST(FileManagerReveal, SendsNamesAsTheirBytesAndFallsBackToTheFolder) {
    app();
    PrivateBus bus;
    ASSERT_TRUE(bus.isRunning());
    QDBusConnection service = bus.connect(QStringLiteral("fm-service"));
    QDBusConnection client = bus.connect(QStringLiteral("fm-client"));
    ASSERT_TRUE(service.isConnected() && client.isConnected());

    // No file manager on the bus: the folder of the first item opens.
    const std::string odd = "/home/u/caf\xe9 #1 100%.jpg";  // Latin-1 bytes, as an old camera wrote them
    const std::string plain = "/home/u/r\xc3\xa9sum\xc3\xa9.pdf";
    Outcome none = reveal(client, {odd, plain});
    EXPECT_EQ(none.shown, false);
    ASSERT_EQ(none.opened.size(), 1u);
    EXPECT_EQ(percentDecoded(QString::fromLatin1(none.opened[0].toEncoded())), "file:///home/u");

    FakeFileManager manager;
    ASSERT_TRUE(service.registerVirtualObject(QStringLiteral("/org/freedesktop/FileManager1"), &manager));
    ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.FileManager1")));

    // The file manager gets every item, escaped so that its bytes come back.
    Outcome shown = reveal(client, {odd, plain});
    EXPECT_EQ(shown.shown, true);
    EXPECT_TRUE(shown.opened.empty());
    ASSERT_EQ(manager.calls.size(), 1u);
    ASSERT_EQ(manager.calls[0].size(), 2);
    EXPECT_EQ(percentDecoded(manager.calls[0][0]), "file://" + odd);
    EXPECT_EQ(percentDecoded(manager.calls[0][1]), "file://" + plain);
    EXPECT_FALSE(manager.calls[0][0].contains(QLatin1Char('#')));  // "#" would end the path

    // A file manager that fails the call: the folder opens instead.
    manager.fail = true;
    Outcome failed = reveal(client, {"/data/photos/x.jpg"});
    EXPECT_EQ(failed.shown, false);
    ASSERT_EQ(failed.opened.size(), 1u);
    EXPECT_EQ(failed.opened[0], QUrl(QStringLiteral("file:///data/photos")));
    EXPECT_EQ(manager.calls.size(), 2u);

    // Without a bus at all: the fallback, straight away.
    int opened = 0;
    FileManagerReveal::showItems(QDBusConnection(QStringLiteral("no-such-bus")), {"/x/y"}, {},
                                 [&](const QUrl& folder) {
                                     ++opened;
                                     EXPECT_EQ(folder, QUrl(QStringLiteral("file:///x")));
                                 });
    EXPECT_EQ(opened, 1);
    service.unregisterObject(QStringLiteral("/org/freedesktop/FileManager1"));
}
