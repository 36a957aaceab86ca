#pragma once
// The per-host limit of the site work: at most a few favourites of one web
// server are worked on at the same time, so a refresh that overlaps its
// waits never opens more connections to one server than a polite client
// would. A server is its host name and port as the favourite's address
// gives them.
#include <QHash>
#include <QString>

namespace catalogue {

class HostSlots {
public:
    static constexpr int PerHost = 2;

    // "host:port" of an address (host lower-cased, the scheme's port when
    // none is given); empty when the address names no host.
    static QString keyOf(const QString& url);

    // Takes a slot of key; false when all its slots are taken. An empty key
    // always gets one (such an address opens no connection).
    bool take(const QString& key);
    void release(const QString& key);
    int inUse(const QString& key) const { return taken_.value(key); }

private:
    QHash<QString, int> taken_;
};

} // namespace catalogue
