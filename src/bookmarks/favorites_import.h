#pragma once
// Writes a bookmark tree into the Favorites folder as Internet shortcuts, in
// folders that mirror the bookmark folders. Nothing there is ever replaced:
// a bookmark whose address is already a favourite anywhere in Favorites is
// passed over, and one whose name is taken gets " (2)", " (3)", ...
#include "bookmarks/bookmark_tree.h"
#include "platform/own_changes.h"

#include <QString>
#include <QStringList>

namespace bookmarks {

// Told the path of every file and folder the import is about to create, so
// a running program's folder watch can pass over its own writes.
using NoteCreated = platform::NoteOwnChange;

struct ImportSummary {
    int imported = 0;         // shortcuts written
    int secure = 0;           // of those, https addresses
    int folders = 0;          // folders that received at least one of them
    int alreadyThere = 0;     // addresses already a favourite somewhere in Favorites
    int notWeb = 0;           // addresses other than http, https, ftp and file
    int unusable = 0;         // empty, too long, or with control characters
    int tooDeep = 0;          // in folders nested deeper than MaxFolderDepth
    int pathTooLong = 0;      // the path would be longer than the file system allows
    QString error;            // why writing stopped; empty when it did not
    QStringList firstSkipped; // the first NamedSkips skipped, each with its reason
    QString orderError;       // why an organiser order could not be saved

    int skipped() const { return notWeb + unusable + tooDeep + pathTooLong; }
    // "Imported N favourites into F folders; A already there; S skipped",
    // then a line naming the setting that pictures the https ones among
    // them, a line counting the reasons and one line per named skip when
    // anything was skipped.
    QString text() const;
};

// Whether the address may become a favourite; false for script, data and
// browser-internal addresses.
bool IsWebAddress(const QString& url);

// Imports tree into favoritesFolder (native, created when missing). Stops
// at the first file or folder that cannot be written, with summary.error
// set; everything written before that stays. Each shortcut is dated by its
// bookmark's date added (a date not known or in the future: now), and the
// shortcuts written into a folder follow its existing organiser order in
// the order of the tree.
ImportSummary WriteIntoFavorites(const BookmarkTree& tree, const QString& favoritesFolder,
                                 const NoteCreated& noteCreated = {});

} // namespace bookmarks
