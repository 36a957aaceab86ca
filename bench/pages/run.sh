#!/bin/sh
# Builds the page benchmark and runs it: our catalogue-page run beside
# xsltproc doing the same transformations.
set -e
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
cmake -S "$root" -B "$build" -DPAGORAMA_BENCH=ON >/dev/null
cmake --build "$build" --target pages_bench -j2
"$build/bench/pages/pages_bench"
