#pragma once
// Keeps a page being pictured to one request at a time per server. The
// browser would otherwise fetch a page's stylesheets and pictures over
// several connections at once; together with the probes of the favourites
// ahead that would ask more of one server than the run allows. The browser
// holds every request until it is let go here; the next request to the same
// server is let go once the one under way has ended.
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <deque>

namespace catalogue {

class RequestPacer {
public:
    struct Request {
        QString heldId;    // the browser's number for the held request
        QString networkId; // its number in the browser's network events
        QString url;
    };

    // A request the browser holds: the held ids to let go now, in order.
    QStringList held(const Request& request);
    // A request has ended, loaded or failed: the held ids to let go now.
    QStringList ended(const QString& networkId);
    // A new page: nothing of the previous one counts any more.
    void clear();

    // "host:port" of an address; empty for one that reaches no server.
    static QString serverOf(const QString& url);

private:
    QStringList start(const Request& request, const QString& server);

    QHash<QString, QString> underWay_;            // networkId -> server
    QSet<QString> busy_;                          // servers with a request under way
    QHash<QString, std::deque<Request>> waiting_; // per server, in the order held
};

} // namespace catalogue
