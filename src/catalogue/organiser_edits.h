#pragma once
// The organiser positions one form sets, folder by folder: each folder's
// "Order" value is read once and changed in memory, and all are written at
// once, so a form of thousands of position fields costs one registry write
// and no walk of the whole value per field.
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace catalogue {

class OrganiserEdits {
public:
    // The position of fileName in the folder (location as MenuOrderKeyPath
    // takes it), with the changes made so far; -1 when it has none. A
    // record of exactly that name wins; otherwise letter case is ignored.
    int PositionOf(const QString& location, const QString& fileName);

    // The position fileName had when the form began, before any of its
    // changes: what a page made before the form showed.
    int PositionBefore(const QString& location, const QString& fileName);

    // Sets the position as SetOrganiserPosition does, in memory until Save.
    // folderFavourites gives the folder's shortcut names in their present
    // order; it is asked only when the folder has no organiser data yet. hasCaseTwin: another
    // favourite of the folder differs from fileName by letter case only, so
    // only records of exactly that name are its own. False when the name is
    // too long for a record.
    bool SetPosition(const QString& location, const QString& fileName, int position,
                     const std::function<QStringList()>& folderFavourites, bool hasCaseTwin);

    // Writes every changed folder's value in one save of the registry.
    // False, with the changed folders in *failedLocations, when it fails.
    bool Save(QStringList* failedLocations);

private:
    struct Folder {
        QByteArray value;
        bool changed = false;
        qsizetype walkEnd = 0;
        // Offsets of the records read by the walk, by exact and lower-cased name.
        QHash<QString, QList<qsizetype>> exact;
        QHash<QString, QList<qsizetype>> lower;
        // The first record's position of each name as the form found them.
        QHash<QString, int> exactBefore;
        QHash<QString, int> lowerBefore;
    };
    Folder& folder(const QString& location);
    static void index(Folder& folder);
    static void setRecords(Folder& folder, const QList<qsizetype>& offsets, int position);

    QHash<QString, Folder> folders_;
};

} // namespace catalogue
