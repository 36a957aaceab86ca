#include "support/order_value.h"

#include "platform/registry.h"

#include <QtGlobal>

namespace testsupport {

QByteArray orderValue(const QList<OrderItem>& items) {
    QByteArray value(20, '\x07'); // header bytes are never interpreted
    for (const OrderItem& item : items) {
        QByteArray record(22, '\0');
        record += item.name;
        record += '\0';
        record.append(qsizetype(4), '\x5A'); // trailing bytes the reader ignores
        Q_ASSERT(record.size() < 256);
        record[0] = char(record.size());
        record[4] = char(item.position);
        record[20] = char(item.kind);
        value += record;
    }
    return value;
}

void storeOrderValue(const QString& location, const QByteArray& value) {
    QString path = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Favorites";
    if (!location.isEmpty())
        path += '\\' + location;
    platform::RegistryKey key;
    if (key.open(platform::RegistryHive::CurrentUser, path, true) != platform::regerror::Success ||
        key.writeBinary("Order", value) != platform::regerror::Success)
        qFatal("cannot store the Order value of %s", qPrintable(path));
}

} // namespace testsupport
