#!/bin/bash
# Requests per second of the program's HTTP server against nginx (one
# worker) serving the same folder, measured side by side in one run with
# ab (a new connection per request), plus the server's memory while it
# streams a 1 GiB file.
#
# Usage: bench/server/run.sh [requests] [concurrency]
set -euo pipefail
[ -n "${TRACE:-}" ] && set -x

REQUESTS=${1:-20000}
CONCURRENCY=${2:-32}
SOURCE=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${BUILD:-$SOURCE/build-bench-server}
WORK=$(mktemp -d /tmp/pagorama-bench.XXXXXX)
chmod 755 "$WORK" # nginx workers run as an unprivileged user
SERVER_PID=""
NGINX_PID=""

cleanup() {
    [ -n "$SERVER_PID" ] && kill "$SERVER_PID" 2>/dev/null || true
    [ -n "$NGINX_PID" ] && kill "$NGINX_PID" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT

echo "== building"
cmake -S "$SOURCE" -B "$BUILD" -DPAGORAMA_BENCH=ON -DPAGORAMA_TESTS=OFF \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" --target pagorama_bench_server -j2 >/dev/null

# The served folder: an 8 KiB page, a 200 KiB picture, a 1 GiB file.
DOCS=$WORK/docs
mkdir -p "$DOCS"
python3 -c 'import base64, os; print(base64.b64encode(os.urandom(6144)).decode()[:8191])' >"$DOCS/page.htm"
head -c 204800 /dev/urandom >"$DOCS/picture.jpg"
truncate -s 1G "$DOCS/big.bin"

free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}
OUR_PORT=$(free_port)
NGINX_PORT=$(free_port)

"$BUILD/bench/server/pagorama_bench_server" "$OUR_PORT" "$DOCS" >"$WORK/server.out" 2>&1 &
SERVER_PID=$!

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
    types { text/html htm; image/jpeg jpg; }
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
    for _ in $(seq 100); do
        curl -s -o /dev/null "http://127.0.0.1:$1/page.htm" && return 0
        sleep 0.1
    done
    echo "server on port $1 did not start" >&2
    exit 1
}
wait_port "$OUR_PORT"
wait_port "$NGINX_PORT"

# Same bytes from both servers.
cmp <(curl -s "http://127.0.0.1:$OUR_PORT/picture.jpg") "$DOCS/picture.jpg"
cmp <(curl -s "http://127.0.0.1:$NGINX_PORT/picture.jpg") "$DOCS/picture.jpg"

rps() { # port path
    local out
    out=$(ab -q -n "$REQUESTS" -c "$CONCURRENCY" "http://127.0.0.1:$1$2" 2>&1)
    if echo "$out" | grep -q "^Failed requests: *[1-9]"; then
        echo "failed requests on port $1$2" >&2
    fi
    echo "$out" | awk '/^Requests per second/ {print $4}'
}

echo "== ab -n $REQUESTS -c $CONCURRENCY, a new connection per request"
for path in /page.htm /picture.jpg; do
    ab -q -n 1000 -c "$CONCURRENCY" "http://127.0.0.1:$OUR_PORT$path" >/dev/null 2>&1   # warm-up
    ab -q -n 1000 -c "$CONCURRENCY" "http://127.0.0.1:$NGINX_PORT$path" >/dev/null 2>&1
    ours=$(rps "$OUR_PORT" "$path")
    theirs=$(rps "$NGINX_PORT" "$path")
    ratio=$(python3 -c "print(f'{$ours / $theirs:.2f}')")
    printf '%-13s pagorama %9s req/s   nginx %9s req/s   ratio %s\n' "$path" "$ours" "$theirs" "$ratio"
done

echo "== 1 GiB file: resident memory of the server while it streams"
rss() { awk '/^VmRSS/ {print $2}' "/proc/$SERVER_PID/status"; }
before=$(rss)
curl -s -o /dev/null "http://127.0.0.1:$OUR_PORT/big.bin" &
CURL_PID=$!
peak=$before
samples=0
while kill -0 "$CURL_PID" 2>/dev/null; do
    now=$(rss)
    [ "$now" -gt "$peak" ] && peak=$now
    samples=$((samples + 1))
    sleep 0.2
done
wait "$CURL_PID"
after=$(rss)
echo "VmRSS before ${before} kB, peak ${peak} kB during ${samples} samples, after ${after} kB"
