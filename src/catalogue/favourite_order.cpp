#include "catalogue/favourite_order.h"

#include "catalogue/date_number.h"
#include "platform/registry.h"

#include <QCollator>
#include <QLocale>
#include <QSet>

#include <algorithm>

namespace catalogue {

namespace {

constexpr qsizetype HeaderSize = MenuOrderHeaderSize;
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
    QString name;
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
    record->name =
        QString::fromUtf8(value.constData() + offset + NameOffset, nameEnd - offset - NameOffset);
    record->lowerName = record->name.toLower();
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

// The offset where the record walk ends: the value's size, or the start of
// the first record that cannot be read, or beyond the end when the last
// record's length byte points there.
qsizetype walkEnd(const QByteArray& value) {
    Record record;
    qsizetype offset = HeaderSize;
    while (offset < value.size() && recordAt(value, offset, &record))
        offset += record.length;
    return std::max(offset, HeaderSize);
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
        entries.append({record.lowerName,
                        static_cast<unsigned char>(value[record.offset + PositionOffset]),
                        record.name});
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
    // Two favourites of one folder may differ only by letter case; each
    // keeps its own record.
    for (const MenuOrderEntry& entry : entries_)
        if (entry.name == fileName)
            return entry.position;
    const QString lower = fileName.toLower();
    for (const MenuOrderEntry& entry : entries_)
        if (entry.lowerName.compare(lower, Qt::CaseInsensitive) == 0)
            return entry.position;
    return -1;
}

namespace {

// Sets the position byte of the records naming fileName: those of exactly
// that name, or when there is none, those equal without regard to case.
// Returns the number of records changed.
int setPosition(QByteArray& value, const QString& fileName, int position, bool ignoreCase = true) {
    bool exact = !ignoreCase;
    walkRecords(value, [&](const Record& record) { exact = exact || record.name == fileName; });
    const QString lower = fileName.toLower();
    int changed = 0;
    walkRecords(value, [&](const Record& record) {
        if (exact ? record.name == fileName : record.lowerName == lower) {
            value[record.offset + PositionOffset] = char(position & 0xFF);
            ++changed;
        }
    });
    return changed;
}

} // namespace

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
    setPosition(*value, fileName, position);
    const bool written = key.writeBinary(OrderValueName, *value) == platform::regerror::Success;
    key.close();
    return written;
}

QList<OrderRecordPlace> MenuOrderRecordPlaces(const QByteArray& value, qsizetype* end) {
    QList<OrderRecordPlace> places;
    walkRecords(value, [&](const Record& record) { places.append({record.offset, record.name}); });
    *end = walkEnd(value);
    return places;
}

int RecordPosition(const QByteArray& value, qsizetype offset) {
    return static_cast<unsigned char>(value[offset + PositionOffset]);
}

void SetRecordPosition(QByteArray& value, qsizetype offset, int position) {
    value[offset + PositionOffset] = char(position & 0xFF);
}

QByteArray MenuOrderRecord(const QString& name, int position) {
    const QByteArray bytes = name.toUtf8();
    if (bytes.isEmpty() || bytes.size() > MaxOrderNameBytes || bytes.contains('\0'))
        return {};
    QByteArray record(NameOffset, '\0');
    record += bytes;
    record += '\0';
    record[0] = char(record.size());
    record[PositionOffset] = char(position & 0xFF);
    record[KindOffset] = 1;
    return record;
}

QByteArray NewMenuOrderValue(const QStringList& names) {
    QByteArray value(HeaderSize, '\0');
    int position = 0;
    for (const QString& name : names) {
        const QByteArray record = MenuOrderRecord(name, position);
        if (record.isEmpty())
            continue;
        value += record;
        ++position;
    }
    return value;
}

bool SetOrganiserPosition(const QString& location, const QString& fileName, int position,
                          const QStringList& folderFavourites) {
    if (MenuOrderRecord(fileName, position).isEmpty())
        return false;
    platform::RegistryKey key;
    if (key.open(platform::RegistryHive::CurrentUser, MenuOrderKeyPath(location), true) !=
        platform::regerror::Success)
        return false;
    QByteArray value;
    if (key.valueSize(OrderValueName) >= 0)
        value = key.readBinary(OrderValueName).value_or(QByteArray());
    if (value.size() < HeaderSize) {
        // No organiser data yet: the folder's favourites in their present
        // order, so setting one position keeps the order of the others.
        QStringList names = folderFavourites;
        if (!names.contains(fileName))
            names.append(fileName);
        value = NewMenuOrderValue(names);
    }
    // When another favourite of the folder differs from fileName only by
    // letter case, a record of that other name is not this one's.
    bool caseTwin = false;
    for (const QString& name : folderFavourites)
        caseTwin =
            caseTwin || (name != fileName && name.compare(fileName, Qt::CaseInsensitive) == 0);
    if (setPosition(value, fileName, position, !caseTwin) == 0) {
        // The new record goes where the walk of the value ends, so that it
        // is read: after the last readable record (a length byte that points
        // beyond the value's end is met by padding).
        const qsizetype end = walkEnd(value);
        value.resize(end, '\0');
        value += MenuOrderRecord(fileName, position);
    }
    const bool written = key.writeBinary(OrderValueName, value) == platform::regerror::Success;
    key.close();
    return written;
}

namespace {

// The folder's "Order" value with records for fileNames appended; empty
// when none was added.
QByteArray appendedOrderValue(const QString& location, const QStringList& fileNames) {
    QByteArray value;
    platform::RegistryKey key;
    if (key.open(platform::RegistryHive::CurrentUser, MenuOrderKeyPath(location), false) ==
            platform::regerror::Success &&
        key.valueSize(OrderValueName) >= 0)
        value = key.readBinary(OrderValueName).value_or(QByteArray());
    key.close();
    int next = 0;
    QSet<QString> listed;
    walkRecords(value, [&](const Record& record) {
        next =
            std::max(next, static_cast<unsigned char>(value[record.offset + PositionOffset]) + 1);
        listed.insert(record.lowerName);
    });
    // New records go where the walk of the value ends, so that they are read.
    value.resize(walkEnd(value), '\0');
    bool added = false;
    for (const QString& name : fileNames) {
        if (next >= AppendedPositionsEnd)
            break;
        const QByteArray record = MenuOrderRecord(name, next);
        if (record.isEmpty() || listed.contains(name.toLower()))
            continue;
        listed.insert(name.toLower());
        value += record;
        ++next;
        added = true;
    }
    return added ? value : QByteArray();
}

} // namespace

bool AppendOrganiserPositions(const QList<AppendedOrder>& folders, QString* error) {
    QList<platform::RegistryBinaryValue> values;
    for (const AppendedOrder& folder : folders) {
        const QByteArray value = appendedOrderValue(folder.location, folder.fileNames);
        if (!value.isEmpty())
            values.append({MenuOrderKeyPath(folder.location), OrderValueName, value});
    }
    return platform::writeRegistryBinaries(platform::RegistryHive::CurrentUser, values, error) ==
           platform::regerror::Success;
}

} // namespace catalogue
