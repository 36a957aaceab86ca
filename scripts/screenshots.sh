#!/usr/bin/env bash
# Screenshots of the configuration window's two tabs (and the two small
# dialogs), drawn by the real window under a virtual X display.
# Usage: scripts/screenshots.sh [output folder]   (default: build/screenshots)
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="${PAGORAMA_BUILD_DIR:-$top/build}"
out="${1:-$build/screenshots}"
mkdir -p "$out"
out="$(cd "$out" && pwd)"

if [ ! -x "$build/tests/app_main_window_test" ]; then
    cmake -S "$top" -B "$build" >/dev/null
    cmake --build "$build" --target app_main_window_test -j2
fi

home="$(mktemp -d)"
trap 'rm -rf "$home"' EXIT
# The test renders each tab with the platform of the display it is given.
env -u QT_QPA_PLATFORM HOME="$home" XDG_CONFIG_HOME="$home/.config" LC_ALL=C.UTF-8 \
    PAGORAMA_SCREENSHOT_DIR="$out" \
    xvfb-run -a -s "-screen 0 1024x768x24" \
    "$build/tests/app_main_window_test" --gtest_filter='MainWindow.BothTabsAreTidy'
ls -1 "$out"/*.png
