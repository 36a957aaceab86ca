#pragma once
// The order of the favourites within a folder of the catalogue, and the
// browser organiser's per-folder "Order" value in the registry, which gives
// every favourite its organiser position.
#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QRandomGenerator>
#include <QString>

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
    // The position of a file name (letter case ignored), -1 when it has none.
    int MenuOrderOf(const QString& fileName) const;

    void clear() { entries_.clear(); }
    const QList<MenuOrderEntry>& entries() const { return entries_; }

private:
    QList<MenuOrderEntry> entries_;
};

// Sets the organiser position (its low 8 bits) of every record naming
// fileName in the folder's "Order" value and writes the value back whole.
// Returns false when the key or the value is missing or cannot be written.
bool WriteMenuOrder(const QString& location, const QString& fileName, int position);

} // namespace catalogue
