#include "webserver/port_resolve.h"

#include <cerrno>
#include <netdb.h>
#include <netinet/in.h>

namespace webserver {

PortResolution resolvePort(const QString& text) {
    PortResolution result;
    const QString invalid = QStringLiteral("ResolvePort: Invalid Port.");
    if (text.isEmpty() || text.size() >= 32) {
        result.error = invalid;
        return result;
    }
    if (text.front().isDigit()) {
        bool ok = false;
        const uint number = text.toUInt(&ok, 10);
        if (!ok || number > 65535) {
            result.error = invalid;
            return result;
        }
        result.ok = true;
        result.port = quint16(number);
        return result;
    }
    errno = 0;
    const QByteArray name = text.toUtf8();
    if (const servent* entry = getservbyname(name.constData(), "tcp")) {
        result.ok = true;
        result.port = ntohs(quint16(entry->s_port));
        return result;
    }
    const int code = errno != 0 ? errno : ENOENT;
    result.error =
        QStringLiteral("ResolvePort: Cannot convert port '%1', Error #%2").arg(text).arg(code);
    return result;
}

} // namespace webserver
