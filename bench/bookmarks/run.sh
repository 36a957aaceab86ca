#!/bin/bash
# Imports a bookmarks file of 100,000 bookmarks in 100 folders into an empty
# Favorites folder on disk with the real program, beside copying the
# resulting tree with cp and syncing: the floor cost of creating that many
# small files on this file system. Usage: bash bench/bookmarks/run.sh [build]
set -euo pipefail
build=${1:-build}
program=$(realpath "$build/pagorama")
work=$(mktemp -d "${BENCH_DIR:-$PWD}/bench-bookmarks.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/home"

python3 - "$work/many.html" <<'PY'
import sys
with open(sys.argv[1], "w") as out:
    out.write("<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<TITLE>Bookmarks</TITLE>\n<H1>Bookmarks</H1>\n<DL><p>\n")
    for f in range(100):
        out.write(f"<DT><H3>Folder {f}</H3>\n<DL><p>\n")
        for b in range(1000):
            out.write(f'<DT><A HREF="https://site{b}.example/{f}" ADD_DATE="1700000000">Site {b}</A>\n')
        out.write("</DL><p>\n")
    out.write("</DL><p>\n")
PY

now() { echo $(( $(date +%s%N) / 1000000 )); } # milliseconds
start=$(now)
HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" QT_QPA_PLATFORM=offscreen \
    "$program" --import-bookmarks "$work/many.html"
import_ms=$(( $(now) - start ))

start=$(now)
cp -r "$work/home/Favorites" "$work/copy"
sync
copy_ms=$(( $(now) - start ))

echo "import of 100,000 bookmarks: $import_ms ms"
echo "cp -r of the same tree + sync: $copy_ms ms"
echo "ratio import / copy: $(( import_ms * 100 / (copy_ms > 0 ? copy_ms : 1) ))%"
