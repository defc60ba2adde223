#!/bin/sh
# How soon the download road starts and how it keeps up with many small
# files, whole processes against curl, at the default pace, run the way a
# user runs it: with a settings directory that an earlier run made (one
# unmeasured get first) and keeps between the rounds:
#
#  1. one file (default 64 MiB) from pyftpdlib on 127.0.0.1: the time from
#     the start of `wavetrap-cli get URL` to the first byte in the local file
#     and to the end of the process, against `curl -P 127.0.0.1` with the
#     same watch (the local file polled every millisecond), several rounds,
#     alternately; prints each round and the medians;
#  2. N files (default 1000) of S KiB (default 10) spread over 14 sites
#     (14 pyftpdlib servers on 127.0.0.1, each on its own port, file i on
#     site i mod 14): `wavetrap-cli get` with every URL against
#     `curl --parallel --parallel-max 14` with every URL, the same rounds;
#     prints the wall times, the ratio and the medians, and checks that every
#     file arrived whole.
#
# The files, the servers' roots and the settings directory are on /dev/shm.
# The settings file is written about once a tick while files start and end
# (8 writes for 1000 files); on a disk each rewrite of a file an earlier run
# left is synced (0.3 to 7 ms each here). WAVETRAP_TICK_MS in the environment is handed to
# wavetrap-cli (the tick in ms instead of the pace), to compare with an older
# build at the same tick.
#
# Usage: bench/start_vs_curl.sh [BUILD_DIR] [BIG_MB] [ROUNDS] [FILES] [SMALL_KB]
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/scripts/loopback.sh"
build=${1:-$here/build}
big_mb=${2:-64}
rounds=${3:-5}
files=${4:-1000}
small_kb=${5:-10}
sites=14
cli=$build/src/wavetrap-cli
case "$cli" in /*) ;; *) cli="$PWD/$cli" ;; esac
server=$here/tests/peers/ftp_server.py
[ -x "$cli" ] || { echo "no $cli: build the target wavetrap-cli first" >&2; exit 2; }

work=$(mktemp -d /dev/shm/wavetrap-start-bench.XXXXXX)
pids=""
cleanup() {
    for p in $pids; do kill "$p" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

start_server() { # root: sets port (no subshell, so cleanup knows the pid)
    /usr/bin/python3 "$server" --host 127.0.0.1 --port 0 --root "$1" >"$1.port" 2>/dev/null &
    pids="$pids $!"
    i=0
    while ! grep -q '^port ' "$1.port" 2>/dev/null; do
        i=$((i + 1))
        [ "$i" -lt 400 ] || { echo "pyftpdlib did not start" >&2; exit 2; }
        sleep 0.05
    done
    port=$(sed -n 's/^port //p' "$1.port")
    wait_port 127.0.0.1 "$port"
}

# watch FILE COMMAND...: runs COMMAND (output thrown away) and prints
# "first_byte end" in seconds from its start: when FILE first holds a byte,
# and when the command ended. Fails as the command fails.
watch() {
    /usr/bin/python3 -c 'import os, subprocess, sys, time
path = sys.argv[1]
t = time.perf_counter()
p = subprocess.Popen(sys.argv[2:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
first = None
while p.poll() is None:
    if first is None:
        try:
            if os.stat(path).st_size > 0:
                first = time.perf_counter() - t
        except OSError:
            pass
        time.sleep(0.0005)
    else:
        p.wait()
end = time.perf_counter() - t
if first is None and os.path.exists(path) and os.stat(path).st_size > 0:
    first = end
print("%.4f %.4f" % (first if first is not None else -1, end))
sys.exit(1 if p.returncode else 0)' "$@"
}
median() { # FILE COLUMN
    sort -g -k"$2" "$1" | awk -v c="$2" '{ v[NR] = $c } END { m = int((NR + 1) / 2); if (NR % 2) print v[m]; else print (v[m] + v[m + 1]) / 2 }'
}

mkdir -p "$work/root" "$work/wt" "$work/curl" "$work/cfg"
export WAVETRAP_CONFIG_DIR="$work/cfg"
head -c "$((big_mb * 1048576))" /dev/urandom >"$work/root/big.mp3"
start_server "$work/root"
url="ftp://127.0.0.1:$port/big.mp3"

# The settings directory as an earlier run leaves it (not measured).
"$cli" get --no-verify -C "$work/wt" "$url" 2>/dev/null || { echo "wavetrap-cli get failed" >&2; exit 1; }
rm -f "$work/wt/big.mp3"

echo "== One ${big_mb} MiB file from pyftpdlib, ${rounds} rounds (tick: ${WAVETRAP_TICK_MS:-default pace}) =="
: >"$work/wt.times"
: >"$work/curl.times"
for r in $(seq "$rounds"); do
    rm -f "$work/wt/big.mp3" "$work/curl/big.mp3"
    watch "$work/curl/big.mp3" curl -s -P 127.0.0.1 -o "$work/curl/big.mp3" "$url" >>"$work/curl.times"
    watch "$work/wt/big.mp3" "$cli" get --no-verify -C "$work/wt" "$url" >>"$work/wt.times"
    cmp -s "$work/root/big.mp3" "$work/wt/big.mp3" || { echo "wavetrap-cli: file differs" >&2; exit 1; }
    cmp -s "$work/root/big.mp3" "$work/curl/big.mp3" || { echo "curl: file differs" >&2; exit 1; }
    printf 'round %d: first byte: wavetrap-cli %s s, curl %s s; end: wavetrap-cli %s s, curl %s s\n' "$r" \
        "$(tail -n 1 "$work/wt.times" | cut -d' ' -f1)" "$(tail -n 1 "$work/curl.times" | cut -d' ' -f1)" \
        "$(tail -n 1 "$work/wt.times" | cut -d' ' -f2)" "$(tail -n 1 "$work/curl.times" | cut -d' ' -f2)"
done
printf 'median: first byte: wavetrap-cli %s s, curl %s s; end: wavetrap-cli %s s, curl %s s\n' \
    "$(median "$work/wt.times" 1)" "$(median "$work/curl.times" 1)" \
    "$(median "$work/wt.times" 2)" "$(median "$work/curl.times" 2)"
rm -f "$work/root/big.mp3" "$work/wt/big.mp3" "$work/curl/big.mp3"

echo "== ${files} files of ${small_kb} KiB over ${sites} sites =="
: >"$work/urls"
s=0
while [ "$s" -lt "$sites" ]; do
    mkdir -p "$work/site$s"
    start_server "$work/site$s"
    echo "$port" >"$work/site$s.p"
    s=$((s + 1))
done
/usr/bin/python3 - "$work" "$files" "$small_kb" "$sites" <<'PY'
import os, sys
work, files, kb, sites = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
ports = [open("%s/site%d.p" % (work, s)).read().strip() for s in range(sites)]
with open(work + "/urls", "w") as urls:
    for i in range(files):
        s = i % sites
        name = "f%05d.mp3" % i
        with open("%s/site%d/%s" % (work, s, name), "wb") as f:
            f.write(os.urandom(kb * 1024))
        urls.write("ftp://127.0.0.1:%s/%s\n" % (ports[s], name))
PY
: >"$work/curl.many"
: >"$work/wt.many"
for r in $(seq "$rounds"); do
    rm -rf "$work/wt" "$work/curl"
    mkdir -p "$work/wt" "$work/curl"
    # shellcheck disable=SC2046
    watch "$work/curl/f00000.mp3" curl -s --parallel --parallel-max "$sites" --output-dir "$work/curl" \
        --remote-name-all $(cat "$work/urls") >>"$work/curl.many"
    # shellcheck disable=SC2046
    watch "$work/wt/f00000.mp3" "$cli" get --no-verify -C "$work/wt" $(cat "$work/urls") >>"$work/wt.many" ||
        echo "wavetrap-cli: exit status not 0" >&2
    bad=0
    for f in "$work"/site*/f*.mp3; do
        n=$(basename "$f")
        cmp -s "$f" "$work/wt/$n" || bad=$((bad + 1))
        cmp -s "$f" "$work/curl/$n" || bad=$((bad + 1))
    done
    [ "$bad" -eq 0 ] || echo "$bad files differ or are missing" >&2
    c=$(tail -n 1 "$work/curl.many" | cut -d' ' -f2)
    w=$(tail -n 1 "$work/wt.many" | cut -d' ' -f2)
    printf 'round %d: curl --parallel --parallel-max %d: %s s; wavetrap-cli get: %s s; ratio %.2f\n' "$r" \
        "$sites" "$c" "$w" "$(echo "$w / $c" | bc -l)"
done
c=$(median "$work/curl.many" 2)
w=$(median "$work/wt.many" 2)
printf 'median: curl %s s; wavetrap-cli %s s; ratio of the medians %.2f\n' "$c" "$w" "$(echo "$w / $c" | bc -l)"
