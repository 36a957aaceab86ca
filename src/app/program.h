#pragma once
// The program's entry: display check, single-instance rule, main window and
// event loop. main() only calls runPagorama.
namespace app {

// True when the environment names a display (X11 or Wayland).
bool environmentHasDisplay();

int runPagorama(int argc, char** argv);

} // namespace app
