#!/usr/bin/env bash
# Installs what is missing, builds Pagorama and runs every test.
source "$(dirname "$0")/common.sh"
install_missing "$top/scripts/packages.txt"

# Tests reach only the loopback range and network namespaces they make
# themselves, never an address of this machine's own network.
if grep -rnE 'getifaddrs|QNetworkInterface' "$top/tests" "$top/bench"; then
    echo "A test or benchmark looks up this machine's own network addresses (see above)." >&2
    exit 1
fi

build_pagorama -DPAGORAMA_TESTS=ON
cd "$build"
export LC_ALL=C.UTF-8
ctest --output-on-failure -j"$(nproc)"
