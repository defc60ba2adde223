#!/bin/sh
# HTTP GET of a large body from a local server: Wavetrap's HTTP client
# (bench_http_get) against curl, same file, same server, in one run.
# Usage: bench/http_vs_curl.sh [BUILD_DIR] [SIZE_MB] [ROUNDS]
# Prints the best time of each over ROUNDS rounds and the ratio curl/wavetrap
# (above 1: Wavetrap faster). Also prints the idle cost of 7 waiting clients.
set -eu
BUILD=${1:-build}
. "$(dirname "$0")/../scripts/loopback.sh"
SIZE_MB=${2:-100}
ROUNDS=${3:-3}
BENCH="$BUILD/bench/bench_http_get"
[ -x "$BENCH" ] || { echo "missing $BENCH (build the target bench_http_get)" >&2; exit 2; }

DIR=$(mktemp -d)
SERVER_PID=
cleanup() {
    [ -n "$SERVER_PID" ] && kill "$SERVER_PID" 2>/dev/null || true
    rm -rf "$DIR"
}
trap cleanup EXIT INT TERM

head -c $((SIZE_MB * 1000 * 1000)) /dev/urandom >"$DIR/body.bin"
PORT=$(free_port)
/usr/bin/python3 -m http.server --bind 127.0.0.1 --directory "$DIR" "$PORT" >/dev/null 2>&1 &
SERVER_PID=$!
wait_port 127.0.0.1 "$PORT" || exit 2
URL="http://127.0.0.1:$PORT/body.bin"

best_curl=
best_wt=
i=0
while [ "$i" -lt "$ROUNDS" ]; do
    t0=$(now)
    curl -s -o /dev/null "$URL"
    t1=$(now)
    "$BENCH" "$URL" >"$DIR/wt.out"
    t2=$(now)
    grep -q "bytes $((SIZE_MB * 1000 * 1000)) " "$DIR/wt.out" || { cat "$DIR/wt.out"; echo "short body" >&2; exit 1; }
    c=$(echo "$t1 - $t0" | bc -l)
    w=$(echo "$t2 - $t1" | bc -l)
    if [ -z "$best_curl" ] || [ "$(echo "$c < $best_curl" | bc -l)" = 1 ]; then best_curl=$c; fi
    if [ -z "$best_wt" ] || [ "$(echo "$w < $best_wt" | bc -l)" = 1 ]; then best_wt=$w; fi
    echo "round $((i + 1)): curl ${c}s  wavetrap ${w}s  ($(cat "$DIR/wt.out"))"
    i=$((i + 1))
done
printf 'GET %s MB: curl best %.3f s, wavetrap best %.3f s, ratio curl/wavetrap %.2f\n' \
    "$SIZE_MB" "$best_curl" "$best_wt" "$(echo "$best_curl / $best_wt" | bc -l)"
"$BENCH" --idle 7 5
