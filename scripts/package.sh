#!/usr/bin/env bash
# Installs what is missing, builds Pagorama and makes its Debian package.
source "$(dirname "$0")/common.sh"
install_missing "$top/scripts/packages.txt"
build_pagorama -DPAGORAMA_TESTS=OFF
cd "$build"
cpack -G DEB >/dev/null
package=$(ls "$build"/pagorama_*.deb)
echo "Made $package"
echo "Install it with: sudo apt install $package"
