#pragma once
// The program's entry: display check, single-instance rule, the program's
// core with its window (none without a display) and the event loop. main() only calls runPagorama.
namespace app {

// True when the environment names a display (X11 or Wayland).
bool environmentHasDisplay();

// Before the program's parts are made: the first-run text when there is no
// settings file yet, and the offer to import bookmarks into an empty
// Favorites folder. Dialogs with a display, stderr lines without one.
void greetAtStart(bool desktop);

int runPagorama(int argc, char** argv);

} // namespace app
