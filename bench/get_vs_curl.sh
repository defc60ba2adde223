#!/bin/sh
# The download road measured whole, against curl, from the same pyftpdlib
# server in one run:
#
#  1. one file (default 1 GiB) through `wavetrap-cli get --pace 1` and through
#     `curl -P 127.0.0.1`; the set-up latency of the scheduler's tick pacing
#     (log-in, SIZE, TYPE and the finish, one step per visit of the slot) is
#     measured with a 1-byte file and reported apart from the transfer phase;
#  2. 14 sites (pyftpdlib on 127.0.0.2 ... 127.0.0.15) x 5 files (default
#     10 MB each) at pace 1: total time, CPU time and peak memory.
#
# Usage: bench/get_vs_curl.sh [BUILD_DIR] [BIG_MB] [SMALL_MB]
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
big_mb=${2:-1024}
small_mb=${3:-10}
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

free_port() {
    /usr/bin/python3 -c 'import socket,sys; s=socket.socket(); s.bind((sys.argv[1],0)); print(s.getsockname()[1])' "$1"
}
start_server() { # host root -> port
    port=$(free_port "$1")
    /usr/bin/python3 "$server" --host "$1" --port "$port" --root "$2" >/dev/null 2>&1 &
    pids="$pids $!"
    for _ in $(seq 100); do
        if /usr/bin/python3 -c 'import socket,sys; socket.create_connection((sys.argv[1],int(sys.argv[2])),1)' "$1" "$port" 2>/dev/null; then
            echo "$port"; return 0
        fi
        sleep 0.1
    done
    echo "server on $1 did not start" >&2; exit 2
}
now() { date +%s.%N; }
elapsed() { echo "$2 - $1" | bc -l | awk '{printf "%.2f", $1}'; }

mkdir -p "$work/root" "$work/curl" "$work/wt" "$work/wt_small" "$work/cfg"
export WAVETRAP_CONFIG_DIR="$work/cfg"
echo "Creating a ${big_mb} MiB file ..."
head -c "$((big_mb * 1024 * 1024))" /dev/urandom > "$work/root/big.bin"
printf x > "$work/root/tiny.bin"
port=$(start_server 127.0.0.1 "$work/root")
url="ftp://127.0.0.1:$port"

echo "== One ${big_mb} MiB file, same server =="
t0=$(now)
curl -s -P 127.0.0.1 -o "$work/curl/big.bin" -w '%{time_starttransfer} %{time_total}\n' "$url/big.bin" > "$work/curl.times"
t1=$(now)
read -r c_start c_total < "$work/curl.times"
c_xfer=$(echo "$c_total - $c_start" | bc -l | awk '{printf "%.2f", $1}')

t2=$(now)
"$cli" get --pace 1 -C "$work/wt_small" "$url/tiny.bin"
t3=$(now)
setup=$(elapsed "$t2" "$t3")

t4=$(now)
/usr/bin/time -f '%e %U %S %M' -o "$work/wt.time" "$cli" get -v --pace 1 -C "$work/wt" "$url/big.bin" \
    2> "$work/wt.log"
t5=$(now)
wt_total=$(elapsed "$t4" "$t5")
wt_xfer=$(echo "$wt_total - $setup" | bc -l | awk '{printf "%.2f", $1}')
cmp -s "$work/root/big.bin" "$work/wt/big.bin" || { echo "wavetrap-cli: file differs" >&2; exit 1; }
cmp -s "$work/root/big.bin" "$work/curl/big.bin" || { echo "curl: file differs" >&2; exit 1; }
read -r _ wt_user wt_sys wt_rss <<END
$(tail -n 1 "$work/wt.time")
END
echo "curl:          total $(elapsed "$t0" "$t1") s, transfer phase $c_xfer s"
echo "wavetrap-cli:  total $wt_total s, set-up latency of the tick pacing (1-byte file) $setup s,"
echo "               transfer phase (total - set-up) $wt_xfer s, CPU user $wt_user s sys $wt_sys s, peak RSS ${wt_rss} KB"
echo "ratio transfer phase wavetrap/curl: $(echo "$wt_xfer / $c_xfer" | bc -l | awk '{printf "%.2f", $1}')"
# The client's own transfer line: "! N bytes received/sent in S seconds (R Bytes/sec)".
rate=$(sed -n 's/.*bytes received\/sent in [0-9]* seconds (\([0-9]*\) Bytes\/sec).*/\1/p' "$work/wt.log" | tail -n 1)
if [ -n "$rate" ]; then
    c_rate=$(echo "$big_mb * 1048576 / $c_xfer" | bc -l | awk '{printf "%.0f", $1}')
    echo "data connection rate: wavetrap-cli $rate B/s (its transfer line), curl $c_rate B/s"
fi
rm -f "$work/wt/big.bin" "$work/curl/big.bin" "$work/root/big.bin"

echo "== 14 sites x 5 files of ${small_mb} MB at pace 1 =="
# Every file lands in the one current directory under its remote name, so
# each site serves its own names (hard links to five files of random bytes).
for i in 1 2 3 4 5; do head -c "$((small_mb * 1000 * 1000))" /dev/urandom > "$work/root/f$i.mp3"; done
urls=""
for n in $(seq 2 15); do
    for i in 1 2 3 4 5; do ln "$work/root/f$i.mp3" "$work/root/s${n}_f$i.mp3"; done
    p=$(start_server "127.0.0.$n" "$work/root")
    for i in 1 2 3 4 5; do urls="$urls ftp://127.0.0.$n:$p/s${n}_f$i.mp3"; done
done
mkdir -p "$work/many"
status=0
/usr/bin/time -f '%e %U %S %M' -o "$work/many.time" "$cli" get -v --pace 1 -C "$work/many" $urls \
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
