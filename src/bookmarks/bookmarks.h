#pragma once
// Bringing the browsers' bookmarks into the Favorites folder and taking the
// Favorites back out as a bookmarks file. Whole operations, without any
// window: the command line uses them, and so can a running program.
#include "bookmarks/favorites_export.h"
#include "bookmarks/favorites_import.h"

#include <QString>
#include <QStringList>

namespace bookmarks {

struct ImportResult {
    bool ok = false;
    QString error;       // why nothing, or not everything, was imported
    QStringList sources; // the files read
    QStringList read;    // per browser profile read: "Brave, profile "Work": 12 bookmarks"
    QStringList skipped; // per place or profile passed over: what and why, one line each
    ImportSummary summary;

    // The lines of read, then the summary's text.
    QString text() const;
};

// Reads every file of source (as below) into tree; false with
// result.error set when a source file is missing, unreadable or broken.
bool readBookmarks(const QString& source, BookmarkTree& tree, ImportResult& result);

// source is "chromium" (every profile of the Chromium family), "firefox"
// (every Firefox profile), "all" (both) or the path of a bookmarks HTML
// file; platform/browser_places.h says where the profiles are found. A
// place or profile that cannot be used is passed over with a line in
// skipped. Every source is read before anything is written, so a source
// that cannot be read or is broken, or no source at all, leaves the
// Favorites folder untouched.
ImportResult importBookmarks(const QString& source, const QString& favoritesFolder,
                             const NoteCreated& noteCreated = {});

struct ExportResult {
    bool ok = false;
    QString error;
    ExportSummary summary;
};

// The file name that stands for standard output.
inline constexpr char StandardOutputName[] = "-";

// Writes the Favorites tree to file as a bookmarks HTML file, replacing it
// whole (a failed write leaves any old file as it was), or to standard
// output when file is "-". Only a regular file is replaced: a FIFO, device,
// folder or socket there is refused and left alone.
ExportResult exportBookmarks(const QString& favoritesFolder, const QString& file);

} // namespace bookmarks
