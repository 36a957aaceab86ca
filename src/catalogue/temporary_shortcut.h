#pragma once
// Names for the temporary shortcut of a redirected favourite
// ("temp<number>.URL" beside the favourite). Several favourites may be
// worked on at once, so a name is reserved before it is written: two
// workers never pick the same one, and no file that exists is ever taken.
// Every name handed out stays known to the process, so a folder scan that
// lists one while it briefly exists can leave it out.
#include <QString>

namespace catalogue {

// Reserves the first free "temp<number>.URL" in folder (native, ending in
// "/") from firstNumber on and returns its full path. Safe from any thread.
QString ReserveTemporaryShortcut(const QString& folder, qint64 firstNumber);
// Ends the reservation of path (after the file is removed).
void ReleaseTemporaryShortcut(const QString& path);
// True for every path ReserveTemporaryShortcut has handed out.
bool IsTemporaryShortcut(const QString& path);

} // namespace catalogue
