#include "webserver/edit_origin_check.h"

#include <QHostAddress>
#include <QUrl>

namespace webserver {

namespace {

QByteArray headerValue(const HttpRequest& request, const QByteArray& name) {
    for (const QByteArray& line : request.headerLines) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
            return line.mid(colon + 1).trimmed();
    }
    return {};
}

bool hasHeader(const HttpRequest& request, const QByteArray& name) {
    for (const QByteArray& line : request.headerLines) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

bool isLoopbackHost(const QString& host) {
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    QHostAddress address;
    return address.setAddress(host) && IsLoopbackPeer(address.toString());
}

} // namespace

bool IsLoopbackPeer(const QString& peerAddr) {
    // Asked for every request, mostly about the same address again, and
    // reading an address costs a tenth of a small answer: the last answer
    // is kept.
    static thread_local QString lastPeer;
    static thread_local bool lastAnswer = false;
    if (!lastPeer.isNull() && peerAddr == lastPeer)
        return lastAnswer;
    QHostAddress address;
    bool loopback = false;
    if (address.setAddress(peerAddr)) {
        bool isV4 = false;
        const quint32 v4 = address.toIPv4Address(&isV4);
        loopback = isV4 ? (v4 >> 24) == 127 : address == QHostAddress(QHostAddress::LocalHostIPv6);
    }
    lastPeer = peerAddr;
    lastAnswer = loopback;
    return loopback;
}

bool IsEditPostAllowed(const QString& peerAddr, const HttpRequest& request, quint16 serverPort) {
    if (!IsLoopbackPeer(peerAddr))
        return false;
    QByteArray origin;
    if (hasHeader(request, "Origin"))
        origin = headerValue(request, "Origin");
    else if (hasHeader(request, "Referer"))
        origin = headerValue(request, "Referer");
    else
        return true;
    const QUrl url(QString::fromUtf8(origin), QUrl::StrictMode);
    if (!url.isValid() || url.scheme().compare(QLatin1String("http"), Qt::CaseInsensitive) != 0)
        return false;
    const QString host = url.host();
    if (host.isEmpty())
        return false;
    // The request's own Host is no evidence: a page of another site whose
    // name now points at this machine sends that same name as Host.
    return isLoopbackHost(host) && url.port(80) == int(serverPort);
}

} // namespace webserver
