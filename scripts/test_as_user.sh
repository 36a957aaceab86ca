#!/usr/bin/env bash
# Runs the built suite once more as an ordinary user (nobody), as root only
# can: tests that need root skip, saying so; every other test must pass.
# Run after scripts/test.sh, which installs and builds.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build"
user=65534
[ "$(id -u)" = 0 ] || { echo "test_as_user.sh needs root to become another user" >&2; exit 1; }

# The user reaches the sources through every folder above them and writes to
# the build folder; both are given back as they were at the end.
modes=()
dir="$top"
while [ "$dir" != / ]; do
    modes+=("$(stat -c %a "$dir") $dir")
    chmod o+x "$dir"
    dir=$(dirname "$dir")
done
home=$(mktemp -d)
restore() {
    chown -R 0:0 "$build"
    for entry in "${modes[@]}"; do chmod "${entry%% *}" "${entry#* }"; done
    rm -rf "$home"
}
trap restore EXIT
chown -R "$user:$user" "$build" "$home"

cd "$build"
setpriv --reuid="$user" --regid="$user" --clear-groups \
    env -u XDG_RUNTIME_DIR HOME="$home" LC_ALL=C.UTF-8 \
    ctest --output-on-failure -j"$(nproc)"
