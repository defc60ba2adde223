#!/bin/sh
# `wavetrap-cli extract` against `rg -o` with an equivalent pattern (a double
# quote, "f" or "F", then anything but a quote up to the first ".mp3" in any
# case), on the same generated 64 MB file of result pages. The two run in
# turn in every round; the script prints every round, the median wall time
# and CPU time (user + system) of each, and their ratios.
#
# Usage: bench/extract_vs_rg.sh [BUILD_DIR] [ROUNDS]
# Needs the targets wavetrap-cli and bench_extract (the corpus generator).
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
runs=${2:-7}
cli=$build/src/wavetrap-cli
gen=$build/bench/bench_extract
for f in "$cli" "$gen"; do
    [ -x "$f" ] || { echo "no $f: build the targets wavetrap-cli and bench_extract first" >&2; exit 2; }
done
command -v rg >/dev/null || { echo "ripgrep (rg) is not installed" >&2; exit 2; }
. "$here/bench/timing.sh"

work=$(mktemp -d /dev/shm/wavetrap-extract.XXXXXX)
trap 'rm -rf "$work"' EXIT INT TERM
corpus=$work/corpus.html
"$gen" --write-corpus "$corpus"
mkdir "$work/config" # no statistics: every site scores the same
# The same with the statistics of 100 000 sites (years of use) to load first.
mkdir "$work/stats"
awk -v n=100000 'BEGIN {
    split("ip good bad", list, " ")
    for (k = 1; k <= 3; k++) {
        printf "[items.stats_%s_Items]\nCount=%d\n", list[k], n
        for (i = 0; i < n; i++)
            printf "Item%d=%s\n", i, k == 1 ? "ftp" i ".mirror.example.com" : k == 2 ? 1 + 25 * (i % 7) : 5 + i % 11
    }
}' >"$work/stats/wavbin"
pattern='"[fF][^"]*?\.[mM][pP]3'
export WAVETRAP_CONFIG_DIR="$work/config"


size=$(wc -c <"$corpus")
rows=$("$cli" extract "$corpus" | wc -l)
matches=$(rg -o "$pattern" "$corpus" | wc -l)
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
i=0
while [ "$i" -lt "$runs" ]; do
    timed "$work/wt.t" "$cli" extract "$corpus"
    timed "$work/rg.t" rg -o "$pattern" "$corpus"
    WAVETRAP_CONFIG_DIR="$work/stats" timed "$work/st.t" "$cli" extract "$corpus"
    echo "round $((i + 1)): wall/user/sys s  wavetrap $(tail -n1 "$work/wt.t")  rg $(tail -n1 "$work/rg.t")  wavetrap with statistics $(tail -n1 "$work/st.t")  load $(cut -d' ' -f1-3 /proc/loadavg)"
    i=$((i + 1))
done
for who in wt rg st; do
    cut -d' ' -f1 "$work/$who.t" >"$work/$who.wall"
    awk '{ print $2 + $3 }' "$work/$who.t" >"$work/$who.cpu"
done

echo "corpus: $size bytes; wavetrap-cli extract: $rows rows (the table holds 150); rg -o: $matches matches"
awk -v ww="$(median "$work/wt.wall")" -v rw="$(median "$work/rg.wall")" -v sw="$(median "$work/st.wall")" \
    -v wc="$(median "$work/wt.cpu")" -v rc="$(median "$work/rg.cpu")" -v sc="$(median "$work/st.cpu")" \
    -v s="$size" 'BEGIN {
    printf "medians of %d rounds:\n", '"$runs"'
    printf "wavetrap-cli extract  wall %6.3f s  cpu %6.3f s  (%.2f GB/s by wall time)\n", ww, wc, s / ww / 1e9
    printf "rg -o                 wall %6.3f s  cpu %6.3f s\n", rw, rc
    printf "extract, 100 000-site statistics loaded: wall %6.3f s  cpu %6.3f s\n", sw, sc
    printf "loading the statistics (the difference): wall %4.0f ms  cpu %4.0f ms\n", (sw - ww) * 1000, (sc - wc) * 1000
    if (rw > 0 && rc > 0)
        printf "ratio wavetrap/rg     wall %6.2f    cpu %6.2f  (below 1: faster than rg)\n", ww / rw, wc / rc
}'
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
