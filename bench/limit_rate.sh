#!/bin/sh
# How well the speed limit holds: `wavetrap-cli get --limit-rate RATE` of one
# file from nginx on 127.0.0.1 into /dev/shm, sized so that the transfer
# takes SECONDS at the limit (default 20 s), at 1 MiB/s and at 10 MiB/s, and
# the same with the limit shared by two files of two sites at once. Prints
# the measured rate (bytes / wall time of the whole process) against the
# limit and the difference in percent; curl --limit-rate in the same run for
# comparison.
#
# Usage: bench/limit_rate.sh [BUILD_DIR] [SECONDS]
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
seconds=${2:-20}
cli=$build/src/wavetrap-cli
case "$cli" in /*) ;; *) cli="$PWD/$cli" ;; esac
[ -x "$cli" ] || { echo "no $cli: build the target wavetrap-cli first" >&2; exit 2; }
[ -x /usr/sbin/nginx ] || { echo "no /usr/sbin/nginx (apt-get install nginx-light)" >&2; exit 2; }

work=$(mktemp -d /dev/shm/wavetrap-limit-XXXXXX)
conf=$(mktemp -d)
nginx_pid=""
cleanup() {
    [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null || true
    rm -rf "$work" "$conf"
}
trap cleanup EXIT INT TERM

# nginx on two listening sockets bound here and handed over (NGINX=<fd>;...).

mkdir -p "$work/root" "$work/out" "$work/cfg"
export WAVETRAP_CONFIG_DIR="$work/cfg"
for mib in 1 10; do
    head -c "$((mib * 1048576 * seconds))" /dev/urandom > "$work/root/r$mib.mp3"
    head -c "$((mib * 1048576 * seconds / 2))" /dev/urandom > "$work/root/h$mib.mp3"
done
echo ok > "$work/root/ready"
/usr/bin/python3 "$here/bench/nginx_sites.py" "$conf" "$work/root" 2 > "$conf/ports" 2> "$conf/launch.err" &
nginx_pid=$!
for _ in $(seq 100); do [ -s "$conf/ports" ] && break; sleep 0.05; done
ports=$(cat "$conf/ports")
[ -n "$ports" ] || { cat "$conf/launch.err" >&2; exit 2; }
p1=${ports%% *}
p2=${ports##* }
curl -s -m 20 -o /dev/null "http://127.0.0.1:$p1/ready" || { cat "$conf/error.log" >&2; exit 2; }

now() { date +%s.%N; }
report() { # label bytes seconds limit
    rate=$(echo "$2 / $3" | bc -l)
    off=$(echo "($rate - $4) * 100 / $4" | bc -l)
    printf '%-44s %6.1f s  %10.0f B/s  limit %9d B/s  %+5.1f %%\n' "$1" "$3" "$rate" "$4" "$off"
}

for mib in 1 10; do
    limit=$((mib * 1048576))
    rm -f "$work/out/"*
    t0=$(now)
    "$cli" get --no-verify --pace 1 --limit-rate "${mib}M" -C "$work/out" "http://127.0.0.1:$p1/r$mib.mp3" 2> "$work/wt.log" ||
        { cat "$work/wt.log" >&2; exit 1; }
    t1=$(now)
    cmp -s "$work/root/r$mib.mp3" "$work/out/r$mib.mp3" || { echo "wavetrap: file differs" >&2; exit 1; }
    report "wavetrap-cli --limit-rate ${mib}M, one file" "$(stat -c %s "$work/out/r$mib.mp3")" \
        "$(echo "$t1 - $t0" | bc -l)" "$limit"

    rm -f "$work/out/"*
    t0=$(now)
    "$cli" get --no-verify --pace 1 --limit-rate "${mib}M" -C "$work/out" "http://127.0.0.1:$p1/h$mib.mp3" \
        "http://127.0.0.1:$p2/r$mib.mp3" 2> "$work/wt.log" || { cat "$work/wt.log" >&2; exit 1; }
    t1=$(now)
    # Both files share the limit: the bytes of both over the time to the last.
    bytes=$(($(stat -c %s "$work/out/h$mib.mp3") + $(stat -c %s "$work/out/r$mib.mp3")))
    report "wavetrap-cli --limit-rate ${mib}M, two sites" "$bytes" "$(echo "$t1 - $t0" | bc -l)" "$limit"

    rm -f "$work/out/"*
    t0=$(now)
    curl -s --limit-rate "${mib}M" -o "$work/out/c.mp3" "http://127.0.0.1:$p1/r$mib.mp3"
    t1=$(now)
    report "curl --limit-rate ${mib}M, one file" "$(stat -c %s "$work/out/c.mp3")" "$(echo "$t1 - $t0" | bc -l)" \
        "$limit"
done
