#pragma once
// The entries of the folders one form works in, each folder listed once and
// then kept up to date by the form's own renames, moves and deletes, so a
// form of thousands of fields never lists a folder per field.
#include <QHash>
#include <QString>
#include <QStringList>

namespace webserver {

class FormFolders {
public:
    // Folders are native paths, with or without a final "/".

    // Another entry of folder, neither name nor self, whose name differs
    // from name by letter case only; empty when there is none.
    QString caseTwinOf(const QString& folder, const QString& name, const QString& self);
    // The folder's shortcut files ("*.url", not folders), sorted by name
    // without regard to case as a scan hands them out.
    QStringList shortcutsIn(const QString& folder);

    void added(const QString& folder, const QString& name, bool isDirectory = false);
    void removed(const QString& folder, const QString& name);

private:
    struct Entry {
        QString name;
        bool isDirectory = false;
    };
    struct Listing {
        QList<Entry> entries; // in scan order
        QHash<QString, QStringList> byLowerName;
    };
    Listing& listing(const QString& folder);
    static QList<Entry>::iterator placeOf(Listing& listing, const QString& name);

    QHash<QString, Listing> folders_;
};

} // namespace webserver
