#!/usr/bin/env bash
# Installs what is missing, builds Pagorama and starts it.
source "$(dirname "$0")/common.sh"
install_missing "$top/scripts/packages.txt"
build_pagorama -DPAGORAMA_TESTS=OFF
program="$build/pagorama"

# The default web server port is 80; binding below 1024 needs a capability.
if ! as_root setcap cap_net_bind_service=+ep "$program" 2>/dev/null; then
    echo "Note: could not allow port 80; choose another port on the \"Web Server\" tab"
    echo "      or set Port=8080 under [Data] in ~/.config/pagorama/pagorama.ini."
fi

settings="${XDG_CONFIG_HOME:-$HOME/.config}/pagorama/pagorama.ini"
port=""
if [ -f "$settings" ]; then
    port=$(sed -n 's/^[Pp][Oo][Rr][Tt]=\s*\([0-9]*\).*/\1/p' "$settings" | head -n 1)
fi
port=${port:-80}
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display: Pagorama runs without window and tray, serving its pages."
    echo "Open http://localhost:$port/ in a browser. Stop it with Ctrl+C."
    exec "$program"
fi
echo "Pagorama is starting in the notification area; its pages are at http://localhost:$port/"
echo "Stop it from the tray menu (C&lose) or with Ctrl+C here."
exec "$program"
