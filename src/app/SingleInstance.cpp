#include "app/SingleInstance.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

namespace qm {

namespace {

constexpr const char* applicationInterface = "org.freedesktop.Application";

// What the desktop hands along so that the window it opens may take the focus.
QVariantMap platformData() {
    QVariantMap data;
    for (auto [key, variable] : {std::pair{"activation-token", "XDG_ACTIVATION_TOKEN"},
                                 std::pair{"desktop-startup-id", "DESKTOP_STARTUP_ID"}})
        if (qEnvironmentVariableIsSet(variable)) data.insert(QString::fromLatin1(key), qEnvironmentVariable(variable));
    return data;
}

// The org.freedesktop.Application object: Activate opens a window, Open a
// window on the place of its URIs. There are no actions.
class ApplicationObject : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")
public:
    explicit ApplicationObject(SingleInstance& owner) : owner_(owner) {}

public Q_SLOTS:
    Q_SCRIPTABLE void Activate(const QVariantMap& platformData) {
        takeToken(platformData);
        owner_.receive({});
    }
    Q_SCRIPTABLE void Open(const QStringList& uris, const QVariantMap& platformData) {
        takeToken(platformData);
        std::vector<std::string> list;
        for (const QString& uri : uris)
            list.push_back(uri.toStdString());
        owner_.receive(std::move(list));
    }
    Q_SCRIPTABLE void ActivateAction(const QString& name, const QVariantList&, const QVariantMap&) {
        sendErrorReply(QDBusError::NotSupported, QStringLiteral("Quillomere has no action %1").arg(name));
    }

private:
    // Wayland lets the window of the next activation take the focus with
    // the starting program's token, which Qt reads from the environment.
    static void takeToken(const QVariantMap& data) {
        const QString token = data.value(QStringLiteral("activation-token")).toString();
        if (!token.isEmpty()) qputenv("XDG_ACTIVATION_TOKEN", token.toUtf8());
    }

    SingleInstance& owner_;
};

}  // namespace

SingleInstance::SingleInstance(QObject* parent) : QObject(parent) {}

SingleInstance::~SingleInstance() {
    release();
}

void SingleInstance::release() {
    if (!object_) return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (isOwner_) bus.unregisterService(QString::fromLatin1(serviceName));
    bus.unregisterObject(QString::fromLatin1(objectPath));
    object_.reset();
    isOwner_ = false;
}

SingleInstance::Claim SingleInstance::claim(const std::vector<std::string>& uris, bool mayHandOver,
                                            int timeoutMilliseconds) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        error_ = bus.lastError().message();
        return Claim::noBus;
    }
    const QString name = QString::fromLatin1(serviceName);
    const QString path = QString::fromLatin1(objectPath);
    // Served before the name is taken, so that the first request finds it.
    object_ = std::make_unique<ApplicationObject>(*this);
    bus.registerObject(path, object_.get(), QDBusConnection::ExportScriptableSlots);

    QStringList list;
    for (const std::string& uri : uris)
        list.push_back(QString::fromStdString(uri));
    // A few rounds: the owner may end between our asking and its answer.
    for (int round = 0; round < 3; ++round) {
        if (bus.registerService(name)) {
            isOwner_ = true;
            return Claim::owner;
        }
        if (!mayHandOver) {
            error_ = QStringLiteral("the name %1 is taken").arg(name);
            break;
        }
        QDBusMessage call = QDBusMessage::createMethodCall(name, path, QString::fromLatin1(applicationInterface),
                                                           list.isEmpty() ? QStringLiteral("Activate")
                                                                          : QStringLiteral("Open"));
        if (list.isEmpty())
            call << platformData();
        else
            call << list << platformData();
        // No start by the bus: the owner just gone, the name is ours to take.
        call.setAutoStartService(false);
        const QDBusMessage reply = bus.call(call, QDBus::Block, timeoutMilliseconds);
        if (reply.type() == QDBusMessage::ReplyMessage) {
            error_.clear();
            bus.unregisterObject(path);
            object_.reset();
            return Claim::handedOver;
        }
        error_ = reply.errorMessage();
        if (reply.errorName() != QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") &&
            reply.errorName() != QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner"))
            break;
    }
    bus.unregisterObject(path);
    object_.reset();
    return Claim::failed;
}

void SingleInstance::setHandler(Handler handler) {
    handler_ = std::move(handler);
    auto waiting = std::move(waiting_);
    waiting_.clear();
    for (auto& uris : waiting)
        handler_(uris);
}

void SingleInstance::receive(std::vector<std::string> uris) {
    if (!handler_) {
        waiting_.push_back(std::move(uris));
        return;
    }
    handler_(uris);
}

}  // namespace qm

#include "SingleInstance.moc"
