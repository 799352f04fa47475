#include "app/job/LinkServerNotifier.h"

#include <QPointer>
#include <set>

#include "platform/link/LinkServer.h"

LinkServerNotifier::LinkServerNotifier(lumivane::LinkServer* server, QObject* parent)
    : QObject(parent), m_server(server) {
    refresh();
}

LinkServerNotifier::~LinkServerNotifier() {
    // Disabled at once (their descriptors close with the server); deleted
    // later, since this may run inside one of their own signals.
    for (auto& [fd, watch] : m_watches) {
        retire(watch.read);
        retire(watch.write);
    }
}

int LinkServerNotifier::watchedDescriptorCount() const {
    return static_cast<int>(m_watches.size());
}

QSocketNotifier* LinkServerNotifier::makeNotifier(int fd, QSocketNotifier::Type type) {
    auto* notifier = new QSocketNotifier(fd, type);
    connect(notifier, &QSocketNotifier::activated, this, &LinkServerNotifier::serve);
    return notifier;
}

void LinkServerNotifier::retire(std::unique_ptr<QSocketNotifier>& notifier) {
    if (!notifier) return;
    // The notifier may be the one whose signal is being delivered right now.
    notifier->setEnabled(false);
    notifier.release()->deleteLater();
}

void LinkServerNotifier::setAllEnabled(bool enabled) {
    for (auto& [fd, watch] : m_watches) {
        if (watch.read) watch.read->setEnabled(enabled);
        if (watch.write) watch.write->setEnabled(enabled);
    }
}

void LinkServerNotifier::serve() {
    QPointer<LinkServerNotifier> alive(this);
    // A handler may open a nested event loop (a dialog); the server does not
    // serve re-entrantly, so ready descriptors must not fire there in a loop.
    setAllEnabled(false);
    size_t answered = m_server->servePending();
    // A handler may have destroyed the job, and with it the server and this.
    if (!alive) return;
    refresh();
    if (answered > 0) emit requestsServed(static_cast<int>(answered));
}

void LinkServerNotifier::refresh() {
    std::set<int> present;
    for (const pollfd& descriptor : m_server->pollDescriptors()) {
        present.insert(descriptor.fd);
        Watch& watch = m_watches[descriptor.fd];
        const bool wantRead = descriptor.events & POLLIN;
        const bool wantWrite = descriptor.events & POLLOUT;
        if (wantRead && !watch.read)
            watch.read.reset(makeNotifier(descriptor.fd, QSocketNotifier::Read));
        if (wantWrite && !watch.write)
            watch.write.reset(makeNotifier(descriptor.fd, QSocketNotifier::Write));
        if (watch.read) watch.read->setEnabled(wantRead);
        if (watch.write) watch.write->setEnabled(wantWrite);
    }
    for (auto it = m_watches.begin(); it != m_watches.end();) {
        if (present.count(it->first)) {
            ++it;
            continue;
        }
        retire(it->second.read);
        retire(it->second.write);
        it = m_watches.erase(it);
    }
}
