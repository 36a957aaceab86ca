#include "webserver/request_guard.h"

#include "webserver/edit_origin_check.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <unistd.h>

#include <climits>
#include <cstring>

namespace webserver {

namespace {

// Host and port of a Host header value ("name", "name:80", "[::1]:80").
// False when it is not of that form or the port is no number up to 65535.
bool splitHost(const QByteArray& value, QByteArray* host) {
    QByteArray rest;
    if (value.startsWith('[')) {
        const qsizetype close = value.indexOf(']');
        if (close < 0)
            return false;
        *host = value.mid(1, close - 1);
        rest = value.mid(close + 1);
    } else {
        const qsizetype colon = value.indexOf(':');
        *host = colon < 0 ? value : value.left(colon);
        rest = colon < 0 ? QByteArray() : value.mid(colon);
    }
    if (host->isEmpty())
        return false;
    if (rest.isEmpty())
        return true;
    if (rest[0] != ':' || rest.size() < 2 || rest.size() > 6)
        return false;
    int port = 0;
    for (const char c : rest.mid(1)) {
        if (c < '0' || c > '9')
            return false;
        port = port * 10 + (c - '0');
    }
    return port <= 65535;
}

bool isLoopbackName(const QByteArray& host) {
    return host.compare("localhost", Qt::CaseInsensitive) == 0;
}

} // namespace

QByteArray numericAddress(const QString& text) {
    const QByteArray latin = text.toLatin1();
    in_addr v4{};
    if (inet_pton(AF_INET, latin.constData(), &v4) == 1)
        return QByteArray(reinterpret_cast<const char*>(&v4), sizeof v4);
    in6_addr v6{};
    if (inet_pton(AF_INET6, latin.constData(), &v6) == 1)
        return QByteArray(reinterpret_cast<const char*>(&v6), sizeof v6);
    return {};
}

bool isLoopbackAddress(const QByteArray& address) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(address.constData());
    if (address.size() == 4)
        return bytes[0] == 127;
    if (address.size() != 16)
        return false;
    static const unsigned char loopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    static const unsigned char mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    return std::memcmp(bytes, loopback, 16) == 0 ||
           (std::memcmp(bytes, mapped, 12) == 0 && bytes[12] == 127);
}

MachineNames MachineNames::current() {
    MachineNames names;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) == 0) {
        for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
            const sockaddr* address = entry->ifa_addr;
            if (!address)
                continue;
            if (address->sa_family == AF_INET) {
                const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
                names.addresses.append(
                    QByteArray(reinterpret_cast<const char*>(&v4->sin_addr), sizeof v4->sin_addr));
            } else if (address->sa_family == AF_INET6) {
                const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
                names.addresses.append(QByteArray(reinterpret_cast<const char*>(&v6->sin6_addr),
                                                  sizeof v6->sin6_addr));
            }
        }
        freeifaddrs(list);
    }
    char host[HOST_NAME_MAX + 1] = {};
    if (gethostname(host, sizeof host - 1) == 0 && host[0]) {
        const QString name = QString::fromLatin1(host).toLower();
        names.hostNames << name;
        if (!name.contains(QLatin1Char('.')))
            names.hostNames << name + QStringLiteral(".local");
    }
    return names;
}

bool IsHostOfThisMachine(const QByteArray& value, bool sharing, const MachineNamesSource& machine) {
    // Clients name the server the same way request after request. A value
    // found to be a loopback name or address is remembered: that answer does
    // not depend on anything that changes.
    static thread_local QByteArray lastLoopback;
    if (!lastLoopback.isNull() && value == lastLoopback)
        return true;
    QByteArray host;
    if (!splitHost(value.trimmed(), &host))
        return false;
    if (isLoopbackName(host)) {
        lastLoopback = value;
        return true;
    }
    const QByteArray address = numericAddress(QString::fromLatin1(host));
    if (!address.isEmpty() && isLoopbackAddress(address)) {
        lastLoopback = value;
        return true;
    }
    if (!sharing || !machine)
        return false;
    const MachineNames& names = machine();
    if (!address.isEmpty())
        return names.addresses.contains(address);
    return names.hostNames.contains(QString::fromLatin1(host).toLower());
}

bool IsLocalOnlyDocument(const QString& docDir, const QString& document) {
    if (document.isEmpty())
        return false;
    return document == docDir + QStringLiteral("/history.htm") ||
           document == docDir + QStringLiteral("/history.xml") ||
           document.startsWith(docDir + QStringLiteral("/images/history/"));
}

Refusal CheckRequestAccess(const QString& peerAddr, const HttpRequest& request,
                           const QString& docDir, const QString& document, bool sharing,
                           const MachineNamesSource& machine) {
    // Two Host lines could name this machine once and another site once.
    if (request.hostLines > 1 ||
        (request.hostLines == 1 && !IsHostOfThisMachine(request.host, sharing, machine)))
        return Refusal::HostNotThisMachine;
    if (IsLoopbackPeer(peerAddr))
        return Refusal::None;
    if (!sharing)
        return Refusal::NotShared;
    if (request.method == "POST" || IsLocalOnlyDocument(docDir, document))
        return Refusal::LocalOnly;
    return Refusal::None;
}

QString RefusalText(Refusal refusal, const HttpRequest& request) {
    switch (refusal) {
    case Refusal::None:
        break;
    case Refusal::HostNotThisMachine: {
        // The value is the client's: keep the line short and printable.
        QByteArray shown = request.hostLines > 1 ? QByteArray("(several)") : request.host.left(100);
        for (char& c : shown) {
            if (static_cast<unsigned char>(c) < 32 || c == 127)
                c = '?';
        }
        return QStringLiteral("Host '%1' does not name this machine")
            .arg(QString::fromLatin1(shown));
    }
    case Refusal::NotShared:
        return QStringLiteral("the pages are not shared with other computers");
    case Refusal::LocalOnly:
        return QStringLiteral("only this computer may use this page");
    }
    return {};
}

QByteArray RefusalAnswerText(Refusal refusal) {
    switch (refusal) {
    case Refusal::None:
        break;
    case Refusal::HostNotThisMachine:
        return "This server answers only requests addressed to the computer it runs on.";
    case Refusal::NotShared:
        return "The pages are not shared with other computers.";
    case Refusal::LocalOnly:
        return "Only the computer that runs Pagorama may use this page.";
    }
    return {};
}

} // namespace webserver
