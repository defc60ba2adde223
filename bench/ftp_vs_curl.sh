#!/bin/sh
# RETR of a large file from a local vsftpd (active mode, the server sends with
# sendfile) into a file: Wavetrap's FTP client (bench_ftp_get, by splice and
# forced through read/write) against curl -P 127.0.0.1, same file, same
# server. The three run in turn in every round; the script prints every round,
# then the median wall time, the median CPU time (user + system) per GiB and
# the ratios, once into tmpfs (/dev/shm) and once into a directory on disk.
# vsftpd gets its own configuration in a temporary directory, listens on a
# free loopback port and is stopped at the end; all files are removed.
#
# Usage: bench/ftp_vs_curl.sh [BUILD_DIR] [SIZE_MB] [ROUNDS] [DISK_DIR]
# (DISK_DIR: where the on-disk round writes, default /var/tmp.)
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$ROOT/scripts/loopback.sh"
BUILD=${1:-build}
SIZE_MB=${2:-1024}
ROUNDS=${3:-3}
DISK=${4:-/var/tmp}
BENCH="$BUILD/bench/bench_ftp_get"
case "$BENCH" in /*) ;; *) BENCH="$PWD/$BENCH" ;; esac
[ -x "$BENCH" ] || { echo "missing $BENCH (build the target bench_ftp_get)" >&2; exit 2; }
VSFTPD=$(command -v vsftpd || echo /usr/sbin/vsftpd)
[ -x "$VSFTPD" ] || { echo "vsftpd is not installed" >&2; exit 2; }
. "$(dirname "$0")/timing.sh"

DIR=$(mktemp -d /dev/shm/wavetrap-ftp-bench.XXXXXX)
DISKDIR=$(mktemp -d "$DISK/wavetrap-ftp-bench.XXXXXX")
SERVER_PID=
cleanup() {
    [ -n "$SERVER_PID" ] && kill "$SERVER_PID" 2>/dev/null && wait "$SERVER_PID" 2>/dev/null || true
    rm -rf "$DIR" "$DISKDIR"
}
trap cleanup EXIT INT TERM

mkdir "$DIR/srv" "$DIR/empty"
SIZE=$((SIZE_MB * 1024 * 1024))
head -c "$SIZE" /dev/urandom >"$DIR/srv/big.bin"
PORT=$(free_port)
vsftpd_conf "$PORT" "$DIR/srv" "$DIR/empty" >"$DIR/vsftpd.conf"
"$VSFTPD" "$DIR/vsftpd.conf" &
SERVER_PID=$!
wait_port 127.0.0.1 "$PORT" || exit 2
URL="ftp://127.0.0.1:$PORT/big.bin"

# cpu FILE: user + system of each line, one per line
cpu() { awk '{ print $2 + $3 }' "$1"; }

run_into() { # DESTINATION LABEL
    dest=$1
    label=$2
    rm -f "$DIR"/*.t
    i=0
    while [ "$i" -lt "$ROUNDS" ]; do
        rm -f "$dest/curl.out" "$dest/big.bin"
        timed "$DIR/curl.t" curl -s -P 127.0.0.1 -o "$dest/curl.out" "$URL"
        [ "$(stat -c %s "$dest/curl.out")" = "$SIZE" ] || { echo "curl: short file" >&2; exit 1; }
        rm -f "$dest/curl.out"
        (cd "$dest" && timed "$DIR/splice.t" "$BENCH" 127.0.0.1 "$PORT" big.bin)
        cmp -s "$DIR/srv/big.bin" "$dest/big.bin" || { echo "wavetrap (splice): file differs" >&2; exit 1; }
        rm -f "$dest/big.bin"
        (cd "$dest" && timed "$DIR/copy.t" "$BENCH" 127.0.0.1 "$PORT" big.bin --no-splice)
        cmp -s "$DIR/srv/big.bin" "$dest/big.bin" || { echo "wavetrap (read/write): file differs" >&2; exit 1; }
        rm -f "$dest/big.bin"
        echo "$label round $((i + 1)): wall/user/sys s  curl $(tail -1 "$DIR/curl.t")  splice $(tail -1 "$DIR/splice.t")  read/write $(tail -1 "$DIR/copy.t")  load $(cut -d' ' -f1-3 /proc/loadavg)"
        i=$((i + 1))
    done
    for who in curl splice copy; do
        cpu "$DIR/$who.t" >"$DIR/$who.cpu"
    done
    awk -v mb="$SIZE_MB" -v label="$label" \
        -v cw="$(median "$DIR/curl.t" 1)" -v sw="$(median "$DIR/splice.t" 1)" -v rw="$(median "$DIR/copy.t" 1)" \
        -v cc="$(median "$DIR/curl.cpu" 1)" -v sc="$(median "$DIR/splice.cpu" 1)" -v rc="$(median "$DIR/copy.cpu" 1)" \
        'BEGIN {
        g = mb / 1024
        printf "%s, %d MiB, medians: curl %.3f s (%.0f MB/s, CPU %.3f s/GiB); wavetrap splice %.3f s (%.0f MB/s, CPU %.3f s/GiB); wavetrap read/write %.3f s (%.0f MB/s, CPU %.3f s/GiB)\n",
            label, mb, cw, mb * 1.048576 / cw, cc / g, sw, mb * 1.048576 / sw, sc / g, rw, mb * 1.048576 / rw, rc / g
        printf "%s: throughput splice/curl %.2f, read-write/curl %.2f; CPU splice/curl %.2f, read-write/curl %.2f\n",
            label, cw / sw, cw / rw, sc / cc, rc / cc
    }'
}

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
run_into "$DIR" "tmpfs"
run_into "$DISKDIR" "disk"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
"$BENCH" --idle 14 5
