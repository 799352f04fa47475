// Serves a render link server on the Qt event loop of the thread that owns
// it: one socket notifier per descriptor the server wants watched, and a
// servePending() pass whenever one of them is ready. Never blocks.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <map>
#include <memory>

namespace lumivane {
class LinkServer;
}

class LinkServerNotifier : public QObject {
    Q_OBJECT

public:
    // The server must outlive this object.
    explicit LinkServerNotifier(lumivane::LinkServer* server, QObject* parent = nullptr);
    ~LinkServerNotifier() override;

    // Descriptors currently watched (the listener plus one per connection).
    int watchedDescriptorCount() const;
    // Matches the notifiers to the server's descriptors, which change as peers
    // connect and leave and as replies wait to be written. Done after every
    // pass; call it after changing the server's connections directly.
    void refresh();

signals:
    // After a pass that answered at least one request.
    void requestsServed(int count);

private:
    struct Watch {
        std::unique_ptr<QSocketNotifier> read;
        std::unique_ptr<QSocketNotifier> write;
    };

    void serve();
    void setAllEnabled(bool enabled);
    QSocketNotifier* makeNotifier(int fd, QSocketNotifier::Type type);
    static void retire(std::unique_ptr<QSocketNotifier>& notifier);

    lumivane::LinkServer* m_server;
    std::map<int, Watch> m_watches;
};
