#pragma once
// Imports that repeat: each one brings in only the bookmarks whose address
// no earlier import has seen. A record file keeps every address seen, so a
// favourite the user deleted after its import does not come back.
#include "bookmarks/bookmarks.h"

#include <QSet>
#include <QString>

namespace bookmarks {

// The record file of this user: bookmarks-imported.txt in the program folder.
QString importRecordPath();

// The addresses of the record file, one a line (a missing file: none).
QSet<QString> readImportRecord(const QString& recordPath);

// Imports from source as importBookmarks does, every bookmark, then adds
// every address of the source to the record, so a later import of new
// bookmarks does not bring back what the user deleted since.
ImportResult importAndRecord(const QString& source, const QString& favoritesFolder,
                             const QString& recordPath, const NoteCreated& noteCreated = {});

// Imports from source (as importBookmarks) the bookmarks whose address the
// record does not hold, then adds every address of the source to the record
// (replaced whole). A source that cannot be read changes nothing; a record
// that cannot be written is reported in the result's error.
ImportResult importNewBookmarks(const QString& source, const QString& favoritesFolder,
                                const QString& recordPath, const NoteCreated& noteCreated = {});

} // namespace bookmarks
