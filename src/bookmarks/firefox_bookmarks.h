#pragma once
// The bookmarks of Firefox profiles: rows of moz_bookmarks (type 1 a
// bookmark whose fk names its moz_places row, type 2 a folder), linked by
// parent and ordered by position under the root folder, whose children are
// the browser's top folders (menu, toolbar, other bookmarks, mobile, and the
// tags, which hold no bookmarks of their own and are left out). Each
// database is read from a private copy taken with its write-ahead log, never
// from the file the browser uses.
#include "bookmarks/bookmark_tree.h"

#include <QString>
#include <QStringList>

namespace bookmarks {

// Adds the bookmarks of the places.sqlite at path to builder's current
// folder, each top folder as a folder of its own (an empty one is left
// out). False with a message in *error when it cannot be read.
bool ReadFirefoxBookmarks(const QString& path, TreeBuilder& builder, QString* error);

// The places.sqlite of every Firefox profile (see platform/browser_places.h)
// that has one, in a stable order.
QStringList FirefoxPlacesFiles();

} // namespace bookmarks
