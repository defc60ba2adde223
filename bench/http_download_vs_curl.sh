#!/bin/sh
# HTTP downloads from nginx into tmpfs, Wavetrap against curl, in one run:
#
#  1. one file (default 1024 MiB): `wavetrap-cli get --pace 1` against
#     `curl -s -o`, alternately, several rounds, whole-program wall time;
#  2. fourteen files (default 64 MiB each) from fourteen nginx sites (one
#     nginx, fourteen server blocks on their own ports) at once:
#     `wavetrap-cli get --pace 1` with the fourteen URLs against
#     `curl --parallel --parallel-max 14`.
#
# Both write into a directory on /dev/shm and every file is compared with its
# source. The ratio printed is wavetrap/curl (below 1: Wavetrap faster).
#
# Usage: bench/http_download_vs_curl.sh [BUILD_DIR] [BIG_MB] [SITE_MB] [ROUNDS]
# WT_DRIVER=session measures the download session alone
# (`bench_http_get --session`, the target bench_http_get) instead of wavetrap-cli.
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
big_mb=${2:-1024}
site_mb=${3:-64}
rounds=${4:-3}
driver=${WT_DRIVER:-cli}
cli=$build/src/wavetrap-cli
session=$build/bench/bench_http_get
if [ "$driver" = session ]; then
    [ -x "$session" ] || { echo "no $session: build the target bench_http_get first" >&2; exit 2; }
else
    [ -x "$cli" ] || { echo "no $cli: build the target wavetrap-cli first" >&2; exit 2; }
fi
[ -x /usr/sbin/nginx ] || { echo "no /usr/sbin/nginx (apt-get install nginx-light)" >&2; exit 2; }
[ -d /dev/shm ] || { echo "no /dev/shm" >&2; exit 2; }

work=$(mktemp -d /dev/shm/wavetrap-bench-XXXXXX)
conf=$(mktemp -d)
nginx_pid=""
cleanup() {
    [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null || true
    rm -rf "$work" "$conf"
}
trap cleanup EXIT INT TERM

# nginx on fourteen listening sockets bound here (127.0.0.1, port 0) and
# handed over through NGINX=<fd>;...: no port is picked first and bound later.
# Prints the ports, then becomes nginx.

mkdir -p "$work/root" "$work/curl" "$work/wt" "$work/cfg"
export WAVETRAP_CONFIG_DIR="$work/cfg"
echo "Creating a ${big_mb} MiB file and a ${site_mb} MiB file ..."
head -c "$((big_mb * 1048576))" /dev/urandom > "$work/root/big.mp3"
head -c "$((site_mb * 1048576))" /dev/urandom > "$work/root/site.mp3"
for i in $(seq 1 14); do ln "$work/root/site.mp3" "$work/root/s$i.mp3"; done
echo ok > "$work/root/ready"

/usr/bin/python3 "$here/bench/nginx_sites.py" "$conf" "$work/root" 14 > "$conf/ports" 2> "$conf/launch.err" &
nginx_pid=$!
for _ in $(seq 100); do [ -s "$conf/ports" ] && break; sleep 0.05; done
ports=$(cat "$conf/ports")
[ -n "$ports" ] || { cat "$conf/launch.err" >&2; exit 2; }
first=${ports%% *}
# The sockets listen already; this waits until nginx itself answers.
curl -s -m 20 -o /dev/null "http://127.0.0.1:$first/ready" || { cat "$conf/error.log" >&2; exit 2; }

now() { date +%s.%N; }
median() { sort -n "$1" | sed -n "$((($(wc -l < "$1") + 1) / 2))p"; }
wt_get() { # dir url...
    dir=$1
    shift
    if [ "$driver" = session ]; then
        args=""
        for u in "$@"; do args="$args $u $dir/${u##*/}"; done
        # shellcheck disable=SC2086
        "$session" --session $args > "$work/wt.log"
    else
        "$cli" get --no-verify --pace 1 -C "$dir" "$@" 2> "$work/wt.log"
    fi
}

echo "== One ${big_mb} MiB file from nginx into /dev/shm, ${rounds} rounds (curl, then wavetrap: $driver) =="
url="http://127.0.0.1:$first/big.mp3"
# One round of each first, not counted: the first writes into fresh tmpfs
# pages of the machine are slower for whichever program comes first.
curl -s -o "$work/curl/big.mp3" "$url"
wt_get "$work/wt" "$url" || { cat "$work/wt.log" >&2; exit 1; }
: > "$work/ratios1"
for r in $(seq "$rounds"); do
    rm -f "$work/curl/"* "$work/wt/"*
    t0=$(now)
    curl -s -o "$work/curl/big.mp3" "$url"
    t1=$(now)
    wt_get "$work/wt" "$url" || { cat "$work/wt.log" >&2; exit 1; }
    t2=$(now)
    cmp -s "$work/root/big.mp3" "$work/curl/big.mp3" || { echo "curl: file differs" >&2; exit 1; }
    cmp -s "$work/root/big.mp3" "$work/wt/big.mp3" || { echo "wavetrap: file differs" >&2; exit 1; }
    c=$(echo "$t1 - $t0" | bc -l)
    w=$(echo "$t2 - $t1" | bc -l)
    ratio=$(echo "$w / $c" | bc -l)
    echo "$ratio" >> "$work/ratios1"
    printf 'round %d: curl %.2f s, wavetrap %.2f s, ratio wavetrap/curl %.2f\n' "$r" "$c" "$w" "$ratio"
done
rm -f "$work/curl/"* "$work/wt/"* "$work/root/big.mp3"

echo "== 14 files of ${site_mb} MiB from 14 nginx sites at once, ${rounds} rounds =="
curl_args=""
urls=""
i=1
for p in $ports; do
    curl_args="$curl_args -o $work/curl/s$i.mp3 http://127.0.0.1:$p/s$i.mp3"
    urls="$urls http://127.0.0.1:$p/s$i.mp3"
    i=$((i + 1))
done
: > "$work/ratios2"
for r in $(seq "$rounds"); do
    rm -f "$work/curl/"* "$work/wt/"*
    t0=$(now)
    # shellcheck disable=SC2086
    curl -s --no-progress-meter --parallel --parallel-max 14 $curl_args
    t1=$(now)
    # shellcheck disable=SC2086
    wt_get "$work/wt" $urls || { cat "$work/wt.log" >&2; exit 1; }
    t2=$(now)
    for i in $(seq 1 14); do
        cmp -s "$work/root/site.mp3" "$work/curl/s$i.mp3" || { echo "curl: s$i.mp3 differs" >&2; exit 1; }
        cmp -s "$work/root/site.mp3" "$work/wt/s$i.mp3" || { echo "wavetrap: s$i.mp3 differs" >&2; exit 1; }
    done
    c=$(echo "$t1 - $t0" | bc -l)
    w=$(echo "$t2 - $t1" | bc -l)
    ratio=$(echo "$w / $c" | bc -l)
    echo "$ratio" >> "$work/ratios2"
    printf 'round %d: curl --parallel %.2f s, wavetrap %.2f s, ratio wavetrap/curl %.2f\n' "$r" "$c" "$w" "$ratio"
done

printf 'median ratio wavetrap/curl: one %d MiB file %.2f; 14 x %d MiB from 14 sites %.2f\n' \
    "$big_mb" "$(median "$work/ratios1")" "$site_mb" "$(median "$work/ratios2")"
