#!/bin/bash
# Start-up time of the real pagorama program with a registry store of many
# keys: the time from starting it (no display, a temporary HOME, a free port)
# to the first page it serves, with stores of SMALL and LARGE keys (5,000 and
# 50,000 by default) and with an empty store. Reading the store should cost
# time in proportion to its size, so the extra time of the large store over
# the empty one is about LARGE/SMALL times that of the small store.
#
# Usage: bench/registry/run.sh [small] [large]   (ROUNDS=5 starts per size)
# BUILD names the build folder (default ./build); PAGORAMA names an already
# built program to measure instead.
set -euo pipefail

SMALL=${1:-5000}
LARGE=${2:-50000}
ROUNDS=${ROUNDS:-5}
SOURCE=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${BUILD:-$SOURCE/build}
PROGRAM=${PAGORAMA:-}
if [ -z "$PROGRAM" ]; then
    echo "== building pagorama in $BUILD"
    if [ ! -f "$BUILD/CMakeCache.txt" ]; then
        cmake -S "$SOURCE" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release >/dev/null
    fi
    cmake --build "$BUILD" --target pagorama -j2 >/dev/null
    PROGRAM=$BUILD/pagorama
fi
command -v python3 >/dev/null || { echo "python3 is missing" >&2; exit 1; }

exec python3 - "$PROGRAM" "$SMALL" "$LARGE" "$ROUNDS" <<'PY'
import os, shutil, signal, socket, statistics, subprocess, sys, tempfile, time

program, small, large, rounds = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])

def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]

def store_text(keys):
    # Keys of the kind the program keeps many of: one folder order per
    # favourites folder, each with a binary value, all below one parent.
    parent = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Favorites"
    order = ",".join("%02x" % (i * 7 & 255) for i in range(40))
    lines = ["REGEDIT4", ""]
    for i in range(keys):
        lines += ["[%s\\Folder %05d]" % (parent, i), '"Order"=hex:' + order,
                  '"Note"="folder number %d"' % i, ""]
    return ("\r\n".join(lines) + "\r\n").encode()

def answered(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=1) as s:
            s.sendall(b"GET / HTTP/1.0\r\nHost: localhost\r\n\r\n")
            return s.recv(16).startswith(b"HTTP/")
    except OSError:
        return False

def start_once(store):
    work = tempfile.mkdtemp(prefix="pagorama-registry-bench.")
    try:
        home = os.path.join(work, "home")
        config = os.path.join(home, ".config", "pagorama")
        os.makedirs(config)
        os.makedirs(os.path.join(home, "Favorites"))
        port = free_port()
        with open(os.path.join(config, "pagorama.ini"), "wb") as f:
            f.write(b"[Data]\r\nPort=%d\r\n" % port)
        if store is not None:
            with open(os.path.join(config, "registry.reg"), "wb") as f:
                f.write(store)
        env = {k: v for k, v in os.environ.items()
               if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
        env.update(HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"))
        began = time.monotonic()
        child = subprocess.Popen([program], env=env, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
        try:
            while not answered(port):
                if child.poll() is not None:
                    sys.exit("pagorama ended before serving (status %d)" % child.returncode)
                if time.monotonic() - began > 600:
                    sys.exit("pagorama did not serve within 600 s")
                time.sleep(0.005)
            return time.monotonic() - began
        finally:
            child.send_signal(signal.SIGTERM)
            try:
                child.wait(timeout=30)
            except subprocess.TimeoutExpired:
                child.kill()
                child.wait()
    finally:
        shutil.rmtree(work, ignore_errors=True)

def median_start(store):
    return statistics.median(start_once(store) for _ in range(rounds))

print("== time to the first served page, median of %d starts" % rounds)
empty = median_start(None)
print("empty store            %8.3f s" % empty)
times = {}
for keys in (small, large):
    store = store_text(keys)
    times[keys] = median_start(store)
    print("%6d keys (%5.1f MiB) %8.3f s   store's share %8.3f s"
          % (keys, len(store) / 2**20, times[keys], times[keys] - empty))
extra_small = max(times[small] - empty, 1e-3)
extra_large = max(times[large] - empty, 1e-3)
print("ratio %d/%d keys: whole start %.1f, store's share %.1f (linear: %.0f)"
      % (large, small, times[large] / times[small], extra_large / extra_small, large / small))
PY
