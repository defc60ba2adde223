#!/bin/sh
# A search over N local engines, each serving a result page of SIZE bytes with
# 20 FTP links, against curl fetching the same N URLs in parallel, in one run.
# Prints both times, their ratio, and the peak memory of each. Both run under
# /usr/bin/time (for the peak memory), so both pay its start; which of the two
# goes first alternates from round to round.
#
#   bench/search_vs_curl.sh [BUILD_DIR] [ENGINES] [PAGE_BYTES] [ROUNDS]
#   defaults: build, 50 engines, 1 MB pages, 5 rounds (the best of each is kept)
set -eu
build=${1:-build}
engines=${2:-50}
size=${3:-1048576}
rounds=${4:-5}
cli=$build/src/wavetrap-cli
py=/usr/bin/python3
. "$(dirname "$0")/../scripts/loopback.sh"
[ -x "$cli" ] || { echo "no $cli: build the wavetrap-cli target first" >&2; exit 2; }

work=$(mktemp -d)
server_pid=
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

"$py" "$(dirname "$0")/engine_pages.py" write "$work/pages" "$engines" "$size"
port=$(free_port)
. "$(dirname "$0")/serve_pages.sh"
serve_pages "$port" "$work/pages" "$work" || exit 2
server_pid=$page_server_pid

set --
urls=
e=0
while [ $e -lt "$engines" ]; do
    set -- "$@" --engine "127.0.0.1:$port/engine$e?q="
    urls="$urls http://127.0.0.1:$port/engine$e?q=bench"
    e=$((e + 1))
done

# Each sets its time in seconds (s, c) and leaves its peak memory in kB in a file.
search_round() {
    t0=$(now)
    WAVETRAP_CONFIG_DIR=$cfg /usr/bin/time -f %M -o "$work/rss" "$cli" search "$@" bench >"$work/table" 2>/dev/null || true
    t1=$(now)
    s=$(echo "$t1 - $t0" | bc -l)
}
curl_round() {
    t0=$(now)
    # shellcheck disable=SC2046
    /usr/bin/time -f %M -o "$work/crss" curl -s --parallel --parallel-max 50 \
        $(for u in $urls; do printf ' -o /dev/null %s' "$u"; done) 2>/dev/null || true
    t1=$(now)
    c=$(echo "$t1 - $t0" | bc -l)
}

best_search=
best_curl=
all_search=
all_curl=
peak=0
r=0
while [ $r -lt "$rounds" ]; do
    r=$((r + 1))
    cfg=$work/cfg$r
    mkdir -p "$cfg"
    if [ $((r % 2)) = 1 ]; then
        search_round "$@"
        curl_round
    else
        curl_round
        search_round "$@"
    fi
    rows=$(wc -l <"$work/table")
    kb=$(cat "$work/rss")
    ckb=$(cat "$work/crss")
    echo "round $r: search ${s}s ($rows rows, peak ${kb} kB), curl ${c}s (peak ${ckb} kB)"
    all_search="$all_search $s"
    all_curl="$all_curl $c"
    if [ -z "$best_search" ] || [ "$(echo "$s < $best_search" | bc -l)" = 1 ]; then best_search=$s; fi
    if [ -z "$best_curl" ] || [ "$(echo "$c < $best_curl" | bc -l)" = 1 ]; then best_curl=$c; fi
    [ "$kb" -gt "$peak" ] && peak=$kb
done
median() { printf '%s\n' $1 | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
med_search=$(median "$all_search")
med_curl=$(median "$all_curl")
ratio=$(echo "$best_search / $best_curl" | bc -l)
med_ratio=$(echo "$med_search / $med_curl" | bc -l)
printf 'engines %s, page %s bytes, %s rounds\n' "$engines" "$size" "$rounds"
printf '  best:   search %.3fs, curl %.3fs, ratio %.2f (goal <= 1.2)\n' "$best_search" "$best_curl" "$ratio"
printf '  median: search %.3fs, curl %.3fs, ratio %.2f\n' "$med_search" "$med_curl" "$med_ratio"
printf '  peak memory of the search: %s kB (goal < 65536 kB)\n' "$peak"
