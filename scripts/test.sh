#!/usr/bin/env bash
# Installs what is missing, builds Pagorama and runs every test.
source "$(dirname "$0")/common.sh"
install_missing "$top/scripts/packages.txt"
build_pagorama -DPAGORAMA_TESTS=ON
cd "$build"
export LC_ALL=C.UTF-8
ctest --output-on-failure -j"$(nproc)"
