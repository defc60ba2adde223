#!/bin/sh
# The download road measured whole, against curl, from the same pyftpdlib
# server in one run:
#
#  1. one file (default 1 GiB) through `wavetrap-cli get --pace 1` and through
#     `curl -P 127.0.0.1`, alternately, several rounds: the transfer phase
#     (curl: first byte to end; wavetrap-cli: its own transfer line, accept of
#     the data connection to end) and, apart, the set-up and finish latency
#     (the first connection opens at once or at the next tick; log-in, SIZE,
#     TYPE and the finish follow their replies: bench/start_vs_curl.sh);
#  2. 14 sites (pyftpdlib on 127.0.0.2 ... 127.0.0.15) x 5 files (default
#     10 MB each) at pace 1: total time, CPU time and peak memory.
#
# Usage: bench/get_vs_curl.sh [BUILD_DIR] [BIG_MB] [SMALL_MB] [ROUNDS]
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/scripts/loopback.sh"
build=${1:-$here/build}
big_mb=${2:-1024}
small_mb=${3:-10}
rounds=${4:-3}
cli=$build/src/wavetrap-cli
server=$here/tests/peers/ftp_server.py
[ -x "$cli" ] || { echo "no $cli: build the target wavetrap-cli first" >&2; exit 2; }

work=$(mktemp -d)
pids=""
cleanup() {
    for p in $pids; do kill "$p" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

start_server() { # host root: sets port (no subshell, so cleanup knows the pid)
    port=$(free_port "$1")
    /usr/bin/python3 "$server" --host "$1" --port "$port" --root "$2" >/dev/null 2>&1 &
    pids="$pids $!"
    wait_port "$1" "$port" || exit 2
}
elapsed() { echo "$2 - $1" | bc -l | awk '{printf "%.2f", $1}'; }

mkdir -p "$work/root" "$work/curl" "$work/wt" "$work/cfg"
export WAVETRAP_CONFIG_DIR="$work/cfg"
echo "Creating a ${big_mb} MiB file ..."
head -c "$((big_mb * 1024 * 1024))" /dev/urandom > "$work/root/big.mp3"
start_server 127.0.0.1 "$work/root"
url="ftp://127.0.0.1:$port"

echo "== One ${big_mb} MiB file, same server, ${rounds} rounds (curl, then wavetrap-cli) =="
bytes=$((big_mb * 1048576))
: > "$work/ratios"
for r in $(seq "$rounds"); do
    rm -f "$work/wt/big.mp3" "$work/curl/big.mp3" "$work/cfg/"*
    curl -s -P 127.0.0.1 -o "$work/curl/big.mp3" -w '%{time_starttransfer} %{time_total}\n' "$url/big.mp3" \
        > "$work/curl.times"
    read -r c_start c_total < "$work/curl.times"
    c_xfer=$(echo "$c_total - $c_start" | bc -l)

    t4=$(now)
    /usr/bin/time -f '%e %U %S %M' -o "$work/wt.time" "$cli" get --no-verify -v --pace 1 -C "$work/wt" "$url/big.mp3" \
        2> "$work/wt.log"
    t5=$(now)
    wt_total=$(echo "$t5 - $t4" | bc -l)
    cmp -s "$work/root/big.mp3" "$work/wt/big.mp3" || { echo "wavetrap-cli: file differs" >&2; exit 1; }
    cmp -s "$work/root/big.mp3" "$work/curl/big.mp3" || { echo "curl: file differs" >&2; exit 1; }
    read -r _ wt_user wt_sys wt_rss <<END
$(tail -n 1 "$work/wt.time")
END
    # The client's own transfer line: "! N bytes received/sent in S seconds (R Bytes/sec)",
    # timed from the data connection's accept to the end of the transfer.
    rate=$(sed -n 's/.*bytes received\/sent in [0-9]* seconds (\([0-9]*\) Bytes\/sec).*/\1/p' "$work/wt.log" | tail -n 1)
    wt_xfer=$(echo "$bytes / $rate" | bc -l)
    ratio=$(echo "$wt_xfer / $c_xfer" | bc -l)
    echo "$ratio" >> "$work/ratios"
    printf 'round %d: curl transfer phase %.2f s (total %.2f s); wavetrap-cli transfer phase %.2f s, total %.2f s,\n' \
        "$r" "$c_xfer" "$c_total" "$wt_xfer" "$wt_total"
    printf '         set-up and finish latency %.2f s, CPU user %s s sys %s s, peak RSS %s KB,\n' \
        "$(echo "$wt_total - $wt_xfer" | bc -l)" "$wt_user" "$wt_sys" "$wt_rss"
    printf '         transfer phase ratio wavetrap-cli/curl %.2f\n' "$ratio"
done
printf 'median transfer phase ratio wavetrap-cli/curl: %.2f\n' "$(sort -n "$work/ratios" | sed -n "$(((rounds + 1) / 2))p")"
rm -f "$work/wt/big.mp3" "$work/curl/big.mp3" "$work/root/big.mp3"

echo "== 14 sites x 5 files of ${small_mb} MB at pace 1 =="
# Every file lands in the one current directory under its remote name, so
# each site serves its own names (hard links to five files of random bytes).
for i in 1 2 3 4 5; do head -c "$((small_mb * 1000 * 1000))" /dev/urandom > "$work/root/f$i.mp3"; done
urls=""
for n in $(seq 2 15); do
    for i in 1 2 3 4 5; do ln "$work/root/f$i.mp3" "$work/root/s${n}_f$i.mp3"; done
    start_server "127.0.0.$n" "$work/root"
    for i in 1 2 3 4 5; do urls="$urls ftp://127.0.0.$n:$port/s${n}_f$i.mp3"; done
done
mkdir -p "$work/many"
status=0
/usr/bin/time -f '%e %U %S %M' -o "$work/many.time" "$cli" get --no-verify -v --pace 1 -C "$work/many" $urls \
    2> "$work/many.log" || status=$?
read -r m_total m_user m_sys m_rss <<END
$(tail -n 1 "$work/many.time")
END
grep -E '^(error|wavetrap-cli):' "$work/many.log" | head -20 || true
bad=0
for n in $(seq 2 15); do
    for i in 1 2 3 4 5; do cmp -s "$work/root/f$i.mp3" "$work/many/s${n}_f$i.mp3" || bad=$((bad + 1)); done
done
echo "wavetrap-cli: exit $status, $((70 - bad)) of 70 files identical"
echo "              total $m_total s, CPU user $m_user s sys $m_sys s, peak RSS ${m_rss} KB"
