#pragma once
// Builds the browser organiser's "Order" value of a Favorites folder for
// tests, and stores it in the registry store of the current (temporary) home.
#include <QByteArray>
#include <QList>
#include <QString>

namespace testsupport {

struct OrderItem {
    QByteArray name;        // file name as stored (bytes, UTF-8)
    int position = 0;       // 0..255
    unsigned char kind = 1; // 16 marks a record the organiser data reader skips
};

// A 20-byte header followed by one record per item: length byte at 0,
// position at 4, kind at 20, the zero-terminated name at 22.
QByteArray orderValue(const QList<OrderItem>& items);

// Writes value as "Order" of the folder at location (backslash form, empty
// for the Favorites folder itself), creating the key.
void storeOrderValue(const QString& location, const QByteArray& value);

} // namespace testsupport
