#pragma once
// Reads a catalogue the program wrote: its folders and, per favourite, the
// attributes of its Link element in the order they stand in the file.
#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace e2e {

struct CatalogueLink {
    QList<QPair<QString, QString>> attributes; // in file order
    QString value(const QString& name) const;
    bool has(const QString& name) const;
    QStringList names() const;
};

struct CatalogueFolder {
    QString location;
    QList<CatalogueLink> links;
    QStringList descriptions() const;
};

// Parses the catalogue; *error holds the parser's message when it is not well-formed.
QList<CatalogueFolder> readCatalogue(const QByteArray& xml, QString* error);
// The link with that DESCRIPTION, or an empty one.
CatalogueLink findLink(const QList<CatalogueFolder>& folders, const QString& description);

// The catalogue without what differs between two runs of the same tree:
// its time and the run number in the picture names.
QByteArray withoutRunMarks(QByteArray catalogue);

} // namespace e2e
