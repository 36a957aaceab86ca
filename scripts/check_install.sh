#!/usr/bin/env bash
# Checks what a build folder installs: the files put into a temporary prefix,
# the desktop entry and the metainfo through their validators, the man page
# through man, and the Debian package that CPack makes of them. Any warning
# fails the check. Usage: check_install.sh BUILD_FOLDER
set -euo pipefail
build=$(cd "${1:?usage: check_install.sh BUILD_FOLDER}" && pwd)
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
export LC_ALL=C.UTF-8

# Runs a check that must succeed and say nothing but what passes for silence.
silent() {
    local out status=0
    out=$("$@" 2>&1) || status=$?
    out=$(grep -v '^✔ Validation was successful.$' <<<"$out" || true)
    if [ "$status" != 0 ] || [ -n "$out" ]; then
        printf '%s\n' "$out"
        echo "FAILED: $*" >&2
        exit 1
    fi
}

cmake --install "$build" --prefix "$prefix" >/dev/null
echo "Installed into $prefix:"
(cd "$prefix" && find . -type f -printf '%m %p\n' | sort -k2)

id=org.pagorama.pagorama
silent desktop-file-validate "$prefix/share/applications/$id.desktop"
silent appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml"
silent appstreamcli validate-tree --no-net "$prefix"
# man prints groff's warnings on standard error.
MANWIDTH=80 silent sh -c 'man --warnings -l "$1" >/dev/null' man "$prefix/share/man/man1/pagorama.1"

# The newest release of the metainfo is the program's version.
version=$("$prefix/bin/pagorama" --version)
release=$(sed -n 's/.*<release version="\([^"]*\)".*/\1/p' "$prefix/share/metainfo/$id.metainfo.xml" | head -n 1)
if [ "$version" != "Pagorama $release" ]; then
    echo "FAILED: --version says '$version', the metainfo's newest release is '$release'" >&2
    exit 1
fi
echo "Desktop entry, metainfo and man page pass; $version"

rm -f "$build"/pagorama_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
package=$(ls "$build"/pagorama_*.deb)
dpkg -I "$package"
dpkg -c "$package"
