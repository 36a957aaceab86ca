#include "catalogue/favourite_order.h"

#include "catalogue/date_number.h"
#include "platform/registry.h"

#include <QCollator>
#include <QLocale>

#include <algorithm>

namespace catalogue {

namespace {

constexpr qsizetype HeaderSize = 20;
constexpr qsizetype PositionOffset = 4;
constexpr qsizetype KindOffset = 20;
constexpr qsizetype NameOffset = 22;
constexpr unsigned char IgnoredKind = 16;
const QString OrderValueName = QStringLiteral("Order");

// One step of the record walk: the record at offset, or nothing when the
// walk ends there.
struct Record {
    qsizetype offset = 0;
    qsizetype length = 0;
    unsigned char kind = 0;
    QString lowerName;
};

bool recordAt(const QByteArray& value, qsizetype offset, Record* record) {
    const qsizetype size = value.size();
    if (offset + NameOffset > size)
        return false;
    const auto length = static_cast<unsigned char>(value[offset]);
    if (length == 0)
        return false;
    const qsizetype nameEnd = value.indexOf('\0', offset + NameOffset);
    if (nameEnd < 0)
        return false;
    record->offset = offset;
    record->length = length;
    record->kind = static_cast<unsigned char>(value[offset + KindOffset]);
    record->lowerName =
        QString::fromUtf8(value.constData() + offset + NameOffset, nameEnd - offset - NameOffset)
            .toLower();
    return true;
}

template <typename Handle> void walkRecords(const QByteArray& value, Handle handle) {
    Record record;
    for (qsizetype offset = HeaderSize; offset < value.size(); offset += record.length) {
        if (!recordAt(value, offset, &record))
            return;
        if (record.kind != IgnoredKind)
            handle(record);
    }
}

// Seconds rounded down to even, as a directory entry's date and time give them.
QDateTime twoSecondSteps(const QDateTime& when) {
    QDateTime local = when.toLocalTime();
    const QTime time = local.time();
    local.setTime(QTime(time.hour(), time.minute(), time.second() & ~1));
    return local;
}

} // namespace

QString SortKeyOf(int mode, const QString& fileName, int organiserPosition,
                  const QDateTime& lastWriteTime, QRandomGenerator& random) {
    switch (mode) {
    case SortByOrganiser:
        return QString::asprintf("%.4d", organiserPosition);
    case SortByDateAscending:
    case SortByDateDescending:
        return QString::asprintf(
            "%.15lld", static_cast<long long>(FileDateValue(twoSecondSteps(lastWriteTime))));
    case SortRandomly:
        return QString::asprintf("%.4d", int(random.bounded(10000)));
    default:
        return fileName;
    }
}

void SortFolderLinks(QList<KeyedLink>& links, int mode) {
    QCollator collator{QLocale::system()};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    const bool descending = mode == SortByDateDescending;
    std::stable_sort(links.begin(), links.end(), [&](const KeyedLink& a, const KeyedLink& b) {
        const int order = collator.compare(a.key, b.key);
        return descending ? order > 0 : order < 0;
    });
}

QString MenuOrderKeyPath(const QString& location) {
    QString path = QStringLiteral(
        "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Favorites");
    if (!location.isEmpty())
        path += '\\' + location;
    return path;
}

QList<MenuOrderEntry> ParseMenuOrder(const QByteArray& value) {
    QList<MenuOrderEntry> entries;
    walkRecords(value, [&](const Record& record) {
        entries.append(
            {record.lowerName, static_cast<unsigned char>(value[record.offset + PositionOffset])});
    });
    return entries;
}

void MenuOrder::ReadMenuOrder(const QString& location) {
    entries_.clear();
    platform::RegistryKey key;
    if (key.open(platform::RegistryHive::CurrentUser, MenuOrderKeyPath(location), false) !=
        platform::regerror::Success)
        return;
    if (key.valueSize(OrderValueName) < 0)
        return;
    const std::optional<QByteArray> value = key.readBinary(OrderValueName);
    key.close();
    if (value)
        entries_ = ParseMenuOrder(*value);
}

int MenuOrder::MenuOrderOf(const QString& fileName) const {
    const QString lower = fileName.toLower();
    for (const MenuOrderEntry& entry : entries_)
        if (entry.lowerName.compare(lower, Qt::CaseInsensitive) == 0)
            return entry.position;
    return -1;
}

bool WriteMenuOrder(const QString& location, const QString& fileName, int position) {
    platform::RegistryKey key;
    if (key.open(platform::RegistryHive::CurrentUser, MenuOrderKeyPath(location), false) !=
        platform::regerror::Success)
        return false;
    if (key.valueSize(OrderValueName) < 0)
        return false;
    std::optional<QByteArray> value = key.readBinary(OrderValueName);
    if (!value)
        return false;
    const QString lower = fileName.toLower();
    walkRecords(*value, [&](const Record& record) {
        if (record.lowerName == lower)
            (*value)[record.offset + PositionOffset] = char(position & 0xFF);
    });
    const bool written = key.writeBinary(OrderValueName, *value) == platform::regerror::Success;
    key.close();
    return written;
}

} // namespace catalogue
