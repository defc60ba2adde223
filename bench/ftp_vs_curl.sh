#!/bin/sh
# RETR of a large file from a local FTP server (pyftpdlib, active mode) into a
# file: Wavetrap's FTP client (bench_ftp_get) against curl -P 127.0.0.1, same
# file, same server, in one run. The files go to a temporary directory that
# is removed at the end.
# Usage: bench/ftp_vs_curl.sh [BUILD_DIR] [SIZE_MB] [ROUNDS]
# Prints every round, the best time of each and the ratio curl/wavetrap
# (above 1: Wavetrap faster), then the idle cost of 14 waiting FTP clients.
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$ROOT/scripts/loopback.sh"
BUILD=${1:-build}
SIZE_MB=${2:-1024}
ROUNDS=${3:-3}
BENCH="$BUILD/bench/bench_ftp_get"
case "$BENCH" in /*) ;; *) BENCH="$PWD/$BENCH" ;; esac
[ -x "$BENCH" ] || { echo "missing $BENCH (build the target bench_ftp_get)" >&2; exit 2; }

DIR=$(mktemp -d /tmp/wavetrap-ftp-bench.XXXXXX)
SERVER_PID=
cleanup() {
    [ -n "$SERVER_PID" ] && kill "$SERVER_PID" 2>/dev/null || true
    rm -rf "$DIR"
}
trap cleanup EXIT INT TERM

mkdir "$DIR/srv" "$DIR/wt"
SIZE=$((SIZE_MB * 1024 * 1024))
dd if=/dev/urandom of="$DIR/srv/big.bin" bs=1M count="$SIZE_MB" status=none
PORT=$(free_port)
/usr/bin/python3 "$ROOT/tests/peers/ftp_server.py" --host 127.0.0.1 --port "$PORT" --root "$DIR/srv" &
SERVER_PID=$!
wait_port 127.0.0.1 "$PORT" || exit 2
URL="ftp://127.0.0.1:$PORT/big.bin"

best_curl=
best_wt=
i=0
while [ "$i" -lt "$ROUNDS" ]; do
    rm -f "$DIR/curl.out" "$DIR/wt/big.bin"
    t0=$(now)
    curl -s -P 127.0.0.1 -o "$DIR/curl.out" "$URL"
    t1=$(now)
    (cd "$DIR/wt" && "$BENCH" 127.0.0.1 "$PORT" big.bin) >"$DIR/wt.out"
    t2=$(now)
    [ "$(stat -c %s "$DIR/curl.out")" = "$SIZE" ] || { echo "curl: short file" >&2; exit 1; }
    cmp -s "$DIR/srv/big.bin" "$DIR/wt/big.bin" || { cat "$DIR/wt.out"; echo "wavetrap: file differs" >&2; exit 1; }
    c=$(echo "$t1 - $t0" | bc -l)
    w=$(echo "$t2 - $t1" | bc -l)
    if [ -z "$best_curl" ] || [ "$(echo "$c < $best_curl" | bc -l)" = 1 ]; then best_curl=$c; fi
    if [ -z "$best_wt" ] || [ "$(echo "$w < $best_wt" | bc -l)" = 1 ]; then best_wt=$w; fi
    echo "round $((i + 1)): curl ${c}s  wavetrap ${w}s  ($(cat "$DIR/wt.out"))"
    i=$((i + 1))
done
printf 'RETR %s MiB: curl best %.3f s, wavetrap best %.3f s, ratio curl/wavetrap %.2f\n' \
    "$SIZE_MB" "$best_curl" "$best_wt" "$(echo "$best_curl / $best_wt" | bc -l)"
"$BENCH" --idle 14 5
