#!/bin/sh
# `wavetrap-cli extract` against `rg -o` with an equivalent pattern (a double
# quote, "f" or "F", then anything but a quote up to the first ".mp3" in any
# case), on the same generated 64 MB file of result pages, in one run.
# Prints the best wall time of each over RUNS runs and the ratio.
#
# Usage: bench/extract_vs_rg.sh [BUILD_DIR] [RUNS]
# Needs the targets wavetrap-cli and bench_extract (the corpus generator).
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
runs=${2:-5}
cli=$build/src/wavetrap-cli
gen=$build/bench/bench_extract
for f in "$cli" "$gen"; do
    [ -x "$f" ] || { echo "no $f: build the targets wavetrap-cli and bench_extract first" >&2; exit 2; }
done
command -v rg >/dev/null || { echo "ripgrep (rg) is not installed" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
corpus=$work/corpus.html
"$gen" --write-corpus "$corpus"
mkdir "$work/config" # no statistics: every site scores the same
pattern='"[fF][^"]*?\.[mM][pP]3'

now_ns() { date +%s%N; }

# best_ms COMMAND...: the best wall time in milliseconds over $runs runs.
best_ms() {
    best=
    i=0
    while [ "$i" -lt "$runs" ]; do
        start=$(now_ns)
        "$@" >/dev/null || true
        end=$(now_ns)
        t=$(( (end - start) / 1000 ))
        if [ -z "$best" ] || [ "$t" -lt "$best" ]; then best=$t; fi
        i=$((i + 1))
    done
    echo "$best"
}

export WAVETRAP_CONFIG_DIR="$work/config"
size=$(wc -c <"$corpus")
rows=$("$cli" extract "$corpus" | wc -l)
matches=$(rg -o "$pattern" "$corpus" | wc -l)

cat "$corpus" >/dev/null # both start from a warm page cache
w=$(best_ms "$cli" extract "$corpus")
r=$(best_ms rg -o "$pattern" "$corpus")

echo "corpus: $size bytes; wavetrap-cli extract: $rows rows (the table holds 150); rg -o: $matches matches"
awk -v w="$w" -v r="$r" -v s="$size" 'BEGIN {
    printf "wavetrap-cli extract  %8.1f ms  %6.2f GB/s\n", w / 1000, s / (w / 1e6) / 1e9
    printf "rg -o                 %8.1f ms  %6.2f GB/s\n", r / 1000, s / (r / 1e6) / 1e9
    printf "ratio wavetrap/rg     %8.2f  (at most 1 means no slower than rg)\n", w / r
}'
