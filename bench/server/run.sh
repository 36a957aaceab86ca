#!/bin/bash
# Requests per second of the real pagorama program, started as a user starts
# it (no display, default settings apart from a free port), against nginx
# with one worker serving the same files, measured side by side in one run
# with ab (a new connection per request), plus the program's peak memory.
#
# Each server's CPU time per request is the user and system time its process
# spent during the ab run (utime + stime from /proc/<pid>/stat, all its
# threads, read just before and after), divided by the requests: for
# pagorama its one process, for nginx its one worker.
#
# Usage: bench/server/run.sh [requests] [concurrency]   (ROUNDS=3 turns each)
# BUILD names a build folder that holds (or will hold) the pagorama target;
# it defaults to ./build. PAGORAMA names an already built program to measure
# instead (for example one built from an older commit). EARLIER names a
# second built program (an older build) that takes its turns beside the two
# in the same run, serving the same files.
set -euo pipefail
[ -n "${TRACE:-}" ] && set -x

REQUESTS=${1:-20000}
CONCURRENCY=${2:-32}
SOURCE=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${BUILD:-$SOURCE/build}
WORK=$(mktemp -d /tmp/pagorama-bench.XXXXXX)
chmod 755 "$WORK" # nginx workers run as an unprivileged user
PROGRAM_PID=""
EARLIER_PID=""
NGINX_PID=""

cleanup() {
    [ -n "$PROGRAM_PID" ] && kill "$PROGRAM_PID" 2>/dev/null || true
    [ -n "$EARLIER_PID" ] && kill "$EARLIER_PID" 2>/dev/null || true
    [ -n "$NGINX_PID" ] && kill "$NGINX_PID" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT

for tool in ab nginx curl python3; do
    command -v "$tool" >/dev/null || { echo "$tool is missing (see bench/README.md)" >&2; exit 1; }
done

PROGRAM=${PAGORAMA:-}
if [ -z "$PROGRAM" ]; then
    echo "== building pagorama in $BUILD"
    if [ ! -f "$BUILD/CMakeCache.txt" ]; then
        cmake -S "$SOURCE" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release >/dev/null
    fi
    cmake --build "$BUILD" --target pagorama -j2 >/dev/null
    PROGRAM=$BUILD/pagorama
fi

free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}
OUR_PORT=$(free_port)
NGINX_PORT=$(free_port)
EARLIER=${EARLIER:-}
EARLIER_PORT=$(free_port)

# The user's home: an empty Favorites folder and a settings file that only
# sets the port. The served files sit in the program's data folder.
make_home() { # folder port
    mkdir -p "$1/Favorites" "$1/.config/pagorama" "$1/Documents/pagorama"
    chmod 755 "$1" "$1/Documents"
    printf '[Data]\r\nPort=%s\r\n' "$2" >"$1/.config/pagorama/pagorama.ini"
}
HOME_DIR=$WORK/home
DOCS=$HOME_DIR/Documents/pagorama
make_home "$HOME_DIR" "$OUR_PORT"

# An 8 KiB page, a 33 KiB picture of the size the program writes (122 x 91,
# 24 bits), a 2 MiB file.
python3 - "$DOCS" <<'PY'
import os, struct, sys
docs = sys.argv[1]
page = b"<html><body><p>" + b"x" * (8192 - 33) + b"</p></body></html>\n"
open(os.path.join(docs, "page.htm"), "wb").write(page[:8192])
width, height = 122, 91
row = (width * 3 + 3) & ~3
pixels = bytes((x * 7 + y * 3) & 255 for y in range(height) for x in range(row))
header = struct.pack("<2sIHHIIiiHHIIiiII", b"BM", 54 + len(pixels), 0, 0, 54, 40, width, height,
                     1, 24, 0, len(pixels), 2835, 2835, 0, 0)
open(os.path.join(docs, "picture.bmp"), "wb").write(header + pixels)
open(os.path.join(docs, "big.bin"), "wb").write(os.urandom(2 * 1024 * 1024))
PY

start_program() { # program home output
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME="$2" \
        XDG_CONFIG_HOME="$2/.config" "$1" >"$3" 2>&1 &
}
start_program "$PROGRAM" "$HOME_DIR" "$WORK/program.out"
PROGRAM_PID=$!
if [ -n "$EARLIER" ]; then
    make_home "$WORK/earlier" "$EARLIER_PORT"
    cp "$DOCS"/* "$WORK/earlier/Documents/pagorama/"
    start_program "$EARLIER" "$WORK/earlier" "$WORK/earlier.out"
    EARLIER_PID=$!
fi

cat >"$WORK/nginx.conf" <<CONF
worker_processes 1;
daemon off;
pid $WORK/nginx.pid;
error_log $WORK/nginx-error.log;
events { worker_connections 4096; }
http {
    access_log off;
    sendfile on;
    tcp_nopush on;
    types { text/html htm; image/bmp bmp; }
    default_type application/octet-stream;
    client_body_temp_path $WORK/nginx-body;
    proxy_temp_path $WORK/nginx-proxy;
    fastcgi_temp_path $WORK/nginx-fastcgi;
    uwsgi_temp_path $WORK/nginx-uwsgi;
    scgi_temp_path $WORK/nginx-scgi;
    server {
        listen 127.0.0.1:$NGINX_PORT;
        root $DOCS;
    }
}
CONF
nginx -c "$WORK/nginx.conf" -p "$WORK" 2>"$WORK/nginx.err" &
NGINX_PID=$!

wait_port() {
    for _ in $(seq 300); do
        curl -s -o /dev/null "http://127.0.0.1:$1/page.htm" && return 0
        sleep 0.1
    done
    echo "server on port $1 did not start" >&2
    cat "$WORK/program.out" >&2
    exit 1
}
PORTS=("$OUR_PORT" "$NGINX_PORT")
if [ -n "$EARLIER" ]; then PORTS+=("$EARLIER_PORT"); fi
for port in "${PORTS[@]}"; do wait_port "$port"; done

# Same bytes from every server.
for file in page.htm picture.bmp big.bin; do
    for port in "${PORTS[@]}"; do
        cmp <(curl -s "http://127.0.0.1:$port/$file") "$DOCS/$file"
    done
done

# CPU time (user and system) a process has used, in clock ticks.
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
TICK=$(getconf CLK_TCK)

measure() { # port path pid -> "requests-per-second cpu-microseconds-per-request"
    local out before after
    before=$(cpu_ticks "$3")
    out=$(ab -q -n "$REQUESTS" -c "$CONCURRENCY" "http://127.0.0.1:$1$2" 2>&1)
    after=$(cpu_ticks "$3")
    if echo "$out" | grep -q "^Failed requests: *[1-9]"; then
        echo "failed requests on port $1$2" >&2
    fi
    echo "$(echo "$out" | awk '/^Requests per second/ {print $4}')" \
        "$(python3 -c "print(($after - $before) * 1e6 / $TICK / $REQUESTS)")"
}

NGINX_WORKER=$(pgrep -P "$NGINX_PID" | head -1)

# Other work on the machine changes the figures from one minute to the next,
# so the two servers take turns, ROUNDS times each, and the medians count.
# The CPU time each server spends per request depends far less on that
# other work than requests per second do.
ROUNDS=${ROUNDS:-3}
median() { python3 -c 'import statistics, sys; print(statistics.median(float(v) for v in sys.argv[1:]))' "$@"; }

echo "== ab -n $REQUESTS -c $CONCURRENCY, a new connection per request, median of $ROUNDS turns"
for path in /page.htm /picture.bmp /big.bin; do
    for port in "${PORTS[@]}"; do # warm-up
        ab -q -n 1000 -c "$CONCURRENCY" "http://127.0.0.1:$port$path" >/dev/null 2>&1
    done
    ours=() theirs=() earlier=() ours_cpu=() theirs_cpu=() earlier_cpu=()
    for _ in $(seq "$ROUNDS"); do
        read -r rate cpu < <(measure "$OUR_PORT" "$path" "$PROGRAM_PID")
        ours+=("$rate") ours_cpu+=("$cpu")
        read -r rate cpu < <(measure "$NGINX_PORT" "$path" "$NGINX_WORKER")
        theirs+=("$rate") theirs_cpu+=("$cpu")
        if [ -n "$EARLIER" ]; then
            read -r rate cpu < <(measure "$EARLIER_PORT" "$path" "$EARLIER_PID")
            earlier+=("$rate") earlier_cpu+=("$cpu")
        fi
    done
    ours_median=$(median "${ours[@]}")
    theirs_median=$(median "${theirs[@]}")
    ours_cpu_median=$(median "${ours_cpu[@]}")
    theirs_cpu_median=$(median "${theirs_cpu[@]}")
    python3 - "$path" "$ours_median" "$theirs_median" "$ours_cpu_median" "$theirs_cpu_median" <<'PY'
import sys
path, ours, theirs, ours_cpu, theirs_cpu = sys.argv[1], *map(float, sys.argv[2:])
print(f"{path:<13} pagorama {ours:8.0f} req/s  nginx {theirs:8.0f} req/s  ratio {ours / theirs:.2f}"
      f"   | CPU per request: pagorama {ours_cpu:6.1f} us  nginx {theirs_cpu:6.1f} us"
      f"  nginx/pagorama {theirs_cpu / ours_cpu:.2f}")
PY
    if [ -n "$EARLIER" ]; then
        python3 - "$(median "${earlier[@]}")" "$(median "${earlier_cpu[@]}")" "$theirs_cpu_median" <<'PY'
import sys
rate, cpu, theirs_cpu = map(float, sys.argv[1:])
print(f"{'':<13} earlier  {rate:8.0f} req/s" + " " * 42 +
      f"| CPU per request: earlier  {cpu:6.1f} us  nginx/earlier  {theirs_cpu / cpu:.2f}")
PY
    fi
    echo "              turns: pagorama ${ours[*]} (${ours_cpu[*]} us); nginx ${theirs[*]} (${theirs_cpu[*]} us)"
    if [ -n "$EARLIER" ]; then
        echo "              turns: earlier ${earlier[*]} (${earlier_cpu[*]} us)"
    fi
done

kill -0 "$PROGRAM_PID" 2>/dev/null || { echo "pagorama ended during the run" >&2; exit 1; }
echo "== pagorama memory: $(awk '/^VmHWM/ {print "peak " $2 " kB"}; /^VmRSS/ {print "now " $2 " kB"}' \
    "/proc/$PROGRAM_PID/status" | paste -sd, -)"
