#pragma once
// The order of the favourites within a folder of the catalogue, and the
// browser organiser's per-folder "Order" value in the registry, which gives
// every favourite its organiser position.
#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QRandomGenerator>
#include <QString>
#include <QStringList>

namespace catalogue {

// Index of the sort_by choice.
enum SortMode {
    SortUnselected = -1,
    SortAlphabetically = 0,
    SortByOrganiser = 1,
    SortByDateAscending = 2,
    SortByDateDescending = 3,
    SortRandomly = 4,
};

// The sort key of one favourite under mode: its file name, its organiser
// position as "%.4d", its file date (last-write time, two-second steps) as
// "%.15d" of the date-time number × 100000, or a random number 0..9999 as
// "%.4d". An unknown mode sorts by name.
QString SortKeyOf(int mode, const QString& fileName, int organiserPosition,
                  const QDateTime& lastWriteTime,
                  QRandomGenerator& random = *QRandomGenerator::global());

struct KeyedLink {
    QString key;
    QByteArray text;
};

// Sorts a folder's records by key with the user locale's case-insensitive
// collation, newest first for the descending date mode.
void SortFolderLinks(QList<KeyedLink>& links, int mode);

// Registry path (below HKEY_CURRENT_USER) of a folder's organiser data;
// location is the folder's backslash-form path relative to the Favorites
// folder, empty for the Favorites folder itself.
QString MenuOrderKeyPath(const QString& location);

struct MenuOrderEntry {
    QString lowerName; // the item's file name, lower-cased
    int position = 0;  // 0..255
    QString name;      // the item's file name as stored
};

// The items of an "Order" value, records of ignored kind left out. The walk
// never reads beyond the value: a record whose position byte, kind byte or
// terminated name does not fit, or whose length byte is 0, ends it.
QList<MenuOrderEntry> ParseMenuOrder(const QByteArray& value);

// The organiser positions of the folder being scanned.
class MenuOrder {
public:
    // Loads the positions of one folder; a missing key or value leaves none.
    void ReadMenuOrder(const QString& location);
    // The position of a file name, -1 when it has none. A record of exactly
    // that name wins; otherwise letter case is ignored.
    int MenuOrderOf(const QString& fileName) const;

    void clear() { entries_.clear(); }
    const QList<MenuOrderEntry>& entries() const { return entries_; }

private:
    QList<MenuOrderEntry> entries_;
};

// Sets the organiser position (its low 8 bits) of every record naming
// fileName in the folder's "Order" value and writes the value back whole.
// Records of exactly that name are the ones changed; only when there is none
// are names matched without regard to letter case.
// Returns false when the key or the value is missing or cannot be written.
bool WriteMenuOrder(const QString& location, const QString& fileName, int position);

// The longest file name (UTF-8 bytes) an organiser record can hold: the
// record's length is one byte.
inline constexpr int MaxOrderNameBytes = 255 - 22 - 1;

// A new "Order" value: a 20-byte header of zeros, then one record per name
// in the given order with positions 0, 1, 2, ... Each record is 22 bytes
// (length byte, three zeros, the position as 32-bit little-endian, twelve
// zeros, kind byte 1, a zero) followed by the name's UTF-8 bytes and a NUL.
// Names too long for a record are left out.
QByteArray NewMenuOrderValue(const QStringList& names);
// One record of that layout (empty when the name is too long).
QByteArray MenuOrderRecord(const QString& name, int position);

// Where each record read by the walk of an "Order" value starts, with its
// name (records of ignored kind left out), and in *walkEnd where the walk
// ends: where a new record goes.
struct OrderRecordPlace {
    qsizetype offset = 0;
    QString name;
};
QList<OrderRecordPlace> MenuOrderRecordPlaces(const QByteArray& value, qsizetype* walkEnd);
// The position of the record at offset, and setting it (its low 8 bits).
int RecordPosition(const QByteArray& value, qsizetype offset);
void SetRecordPosition(QByteArray& value, qsizetype offset, int position);
// The size of an "Order" value's header: a shorter value holds no records.
inline constexpr qsizetype MenuOrderHeaderSize = 20;

// Sets the organiser position of fileName in a folder, creating what is
// missing: a folder without an "Order" value gets one that lists
// folderFavourites in the order given (fileName among them), and a value
// without a record for fileName gets one appended. Returns false when the
// name is too long for a record or the registry cannot be written.
bool SetOrganiserPosition(const QString& location, const QString& fileName, int position,
                          const QStringList& folderFavourites);

// Positions an append hands out: 0 to 254, so 255 favourites of a folder.
inline constexpr int AppendedPositionsEnd = 255;

// New favourites of one folder, in the order they are to take.
struct AppendedOrder {
    QString location; // as for MenuOrderKeyPath
    QStringList fileNames;
};

// Gives each folder's fileNames, in the order given, the positions after
// the highest one its "Order" value holds (0 onwards when it has none), all
// folders in one write of the registry that makes missing keys. Names that
// already have a record, or that no record can hold, are passed over; the
// names after position 254 get none. False with *error set when the
// registry cannot be written; true when there was nothing to write.
bool AppendOrganiserPositions(const QList<AppendedOrder>& folders, QString* error = nullptr);

} // namespace catalogue
