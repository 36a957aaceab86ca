#include "catalogue/request_pacer.h"

#include <QUrl>

namespace catalogue {

QString RequestPacer::serverOf(const QString& url) {
    const QUrl parsed(url);
    const QString scheme = parsed.scheme().toLower();
    if (parsed.host().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return {};
    const int port = parsed.port(scheme == QLatin1String("https") ? 443 : 80);
    return parsed.host().toLower() + QLatin1Char(':') + QString::number(port);
}

QStringList RequestPacer::held(const Request& request) {
    QStringList letGo;
    // A redirect is held again under the same network id: the hop before it
    // has ended, and the next hop may go to another server.
    if (underWay_.contains(request.networkId))
        letGo = ended(request.networkId);
    const QString server = serverOf(request.url);
    if (server.isEmpty() || request.networkId.isEmpty()) {
        // Nothing to pace (no server), or no way to see it end.
        letGo << request.heldId;
        return letGo;
    }
    if (busy_.contains(server)) {
        waiting_[server].push_back(request);
        return letGo;
    }
    return letGo + start(request, server);
}

QStringList RequestPacer::start(const Request& request, const QString& server) {
    busy_.insert(server);
    underWay_.insert(request.networkId, server);
    return {request.heldId};
}

QStringList RequestPacer::ended(const QString& networkId) {
    const auto found = underWay_.constFind(networkId);
    if (found == underWay_.constEnd()) {
        // One still held (the page gave it up): it never needs letting go.
        for (auto& queue : waiting_)
            for (auto it = queue.begin(); it != queue.end(); ++it)
                if (it->networkId == networkId) {
                    queue.erase(it);
                    return {};
                }
        return {};
    }
    const QString server = found.value();
    underWay_.erase(found);
    busy_.remove(server);
    auto queue = waiting_.find(server);
    if (queue == waiting_.end() || queue->empty())
        return {};
    const Request next = queue->front();
    queue->pop_front();
    return start(next, server);
}

void RequestPacer::clear() {
    underWay_.clear();
    busy_.clear();
    waiting_.clear();
}

} // namespace catalogue
