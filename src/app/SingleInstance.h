#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qm {

// One program per session bus: the first start owns the well-known name and
// serves org.freedesktop.Application on it (the interface the desktop uses
// for a DBusActivatable entry); a later start hands its request to that one
// and ends. The name is taken atomically by the bus, so of two starts at once
// exactly one becomes the owner.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    static constexpr const char* serviceName = "org.quillomere.Quillomere";
    static constexpr const char* objectPath = "/org/quillomere/Quillomere";

    enum class Claim {
        owner,       // this start owns the name: run, and take requests
        handedOver,  // the running program took the request: end this start
        noBus,       // no session bus: run on our own
        failed,      // the owner did not take the request (see error())
    };

    // A request from another start: file URIs (none: just a new window).
    using Handler = std::function<void(const std::vector<std::string>& uris)>;

    explicit SingleInstance(QObject* parent = nullptr);
    ~SingleInstance() override;

    // Takes the name, or, when another start owns it and `mayHandOver`,
    // hands `uris` to that one (waiting at most `timeoutMilliseconds` for
    // its answer); without `mayHandOver` a taken name is `failed`. The
    // session bus's address comes from the environment.
    Claim claim(const std::vector<std::string>& uris, bool mayHandOver = true, int timeoutMilliseconds = 20000);
    QString error() const { return error_; }

    // Where requests go once the name is ours; they arrive on the main
    // thread, from its event loop, in the order they were sent. Requests
    // before a handler is set wait for it.
    void setHandler(Handler handler);

    // Gives the name up (at quit): a start from now on becomes the owner
    // instead of waiting for an answer that will not come.
    void release();

    // Takes a request as the bus object does (the bus delivers them here).
    void receive(std::vector<std::string> uris);

private:
    std::unique_ptr<QObject> object_;  // the object served on the bus
    Handler handler_;
    std::vector<std::vector<std::string>> waiting_;
    QString error_;
    bool isOwner_ = false;
};

}  // namespace qm
