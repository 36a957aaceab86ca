#pragma once
// The program's own information page, opened by "Clicking Here" in the
// first-run dialog and by the tray menu's "Instructions". It ships inside the
// program and is copied into the program folder so a browser can open it.
#include <QUrl>

namespace app {

// Writes the page when it is missing or out of date and returns its file URL
// (an empty URL when it cannot be written).
QUrl productPageUrl();

// Opens the page in the desktop's browser; false when that failed.
bool openProductPage();

} // namespace app
