#!/bin/sh
# `wavetrap-cli verify` against mp3val on the same MP3 files in tmpfs
# (/dev/shm): about 1 GB of songs of a few minutes in six encodings (CBR and
# VBR, 22.05 to 48 kHz), one in 50 cut in the middle and one in 50 an HTML
# page, made by tests/peers/make_mp3.py. The two run in turn in every round;
# the script prints every round, the median wall and CPU time (user + system)
# of each, their ratio, whether the two give the same verdict for every file,
# and the frame walks in one process (bench_verify: this program's against
# libmpg123's).
#
# Usage: bench/verify_vs_mp3val.sh [BUILD_DIR] [MB] [ROUNDS]
#        bench/verify_vs_mp3val.sh BUILD_DIR --table
# --table prints the verdicts of both, file by file, on the tests' corpus
# (make_mp3.py corpus) instead.
# Needs the targets wavetrap-cli and bench_verify, mp3val, lame, twolame, sox.
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
mb=${2:-1000}
runs=${3:-3}
cli=$build/src/wavetrap-cli
walk=$build/bench/bench_verify
for f in "$cli" "$walk"; do
    [ -x "$f" ] || { echo "no $f: build the targets wavetrap-cli and bench_verify first" >&2; exit 2; }
done
command -v mp3val >/dev/null || { echo "mp3val is not installed" >&2; exit 2; }
. "$here/bench/timing.sh"

work=$(mktemp -d /dev/shm/wavetrap-verify.XXXXXX)
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT INT TERM

# verdicts FILE: "name verdict" lines from wavetrap-cli verify's output.
ours() {
    sed -E 's/^(.*): (audio|damaged|not audio): .*$/\1\t\2/' "$1" | sed 's/\tnot audio$/\tnot-audio/' |
        awk -F'\t' '{ n = split($1, p, "/"); print p[n] "\t" $2 }' | sort
}

# mp3val's verdict per file: not audio when it finds no MPEG stream, damaged
# when it warns about the stream (errors, garbage, truncation, a Xing header
# that disagrees), audio otherwise (it also warns of files without tags and
# of layers I and II, which are no fault).
theirs() {
    awk '
    /^(INFO|WARNING|ERROR): "/ {
        kind = $1
        line = $0
        sub(/^[A-Z]+: "/, "", line)
        name = line
        sub(/".*$/, "", name)
        n = split(name, p, "/")
        name = p[n]
        msg = line
        sub(/^[^"]*"( \(offset [^)]*\))?: /, "", msg)
        if (!(name in v)) { v[name] = "audio"; why[name] = "" }
        if (kind == "ERROR:" || msg ~ /Too few MPEG frames|This is a RIFF file/) {
            if (v[name] != "not-audio") why[name] = msg
            v[name] = "not-audio"
        } else if (kind == "WARNING:" && msg !~ /No supported tags|Non-layer-III frame/) {
            if (v[name] == "audio") v[name] = "damaged"
            if (why[name] == "") why[name] = msg
        }
    }
    END { for (f in v) print f "\t" v[f] "\t" why[f] }' "$1" | sort
}

if [ "$mb" = "--table" ]; then
    /usr/bin/python3 "$here/tests/peers/make_mp3.py" corpus "$work/corpus"
    (cd "$work/corpus" && "$cli" verify *.mp3 >"$work/ours.txt" 2>&1 || true)
    (cd "$work/corpus" && mp3val *.mp3 >"$work/mp3val.txt" 2>&1 || true)
    sed -E 's/^([^:]*): (audio|damaged|not audio): ([^;]*).*$/\1\t\2: \3/' "$work/ours.txt" | sort >"$work/o"
    theirs "$work/mp3val.txt" >"$work/t"
    echo "| file | mp3val | wavetrap-cli verify |"
    echo "| --- | --- | --- |"
    join -t "$(printf '\t')" "$work/t" "$work/o" | awk -F'\t' '{
        m = $2 ($3 == "" ? "" : ": " $3)
        printf "| %s | %s | %s |\n", $1, m, $4 }'
    exit 0
fi

echo "making about $mb MB of MP3 files in $work ..."
/usr/bin/python3 "$here/tests/peers/make_mp3.py" bench "$work/files" --bytes $((mb * 1000000))
files=$(ls "$work"/files/*.mp3 | wc -l)
size=$(cat "$work"/files/*.mp3 | wc -c)
cat "$work"/files/*.mp3 >/dev/null

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
"$cli" verify "$work"/files/*.mp3 >"$work/ours.txt" || true
mp3val "$work"/files/*.mp3 >"$work/mp3val.txt" || true
i=0
while [ "$i" -lt "$runs" ]; do
    timed "$work/wt.t" "$cli" verify "$work"/files/*.mp3 || true
    timed "$work/mv.t" mp3val "$work"/files/*.mp3 || true
    echo "round $((i + 1)): wall/user/sys s  wavetrap-cli verify $(tail -n1 "$work/wt.t")  mp3val $(tail -n1 "$work/mv.t")"
    i=$((i + 1))
done
for who in wt mv; do
    cut -d' ' -f1 "$work/$who.t" >"$work/$who.wall"
    awk '{ print $2 + $3 }' "$work/$who.t" >"$work/$who.cpu"
done

ours "$work/ours.txt" >"$work/o"
theirs "$work/mp3val.txt" | cut -f1,2 >"$work/t"
same=$(join -t "$(printf '\t')" "$work/o" "$work/t" | awk -F'\t' '$2 == $3' | wc -l)
echo "verdicts: $(cut -f2 "$work/o" | sort | uniq -c | tr '\n' ' ')(wavetrap); $(cut -f2 "$work/t" | sort | uniq -c | tr '\n' ' ')(mp3val)"
echo "the same verdict for $same of $files files"
join -t "$(printf '\t')" "$work/o" "$work/t" | awk -F'\t' '$2 != $3 { print "  differ: " $0 }' | head -10

echo "frame walks in one process (bench_verify):"
"$walk" "$work/files" 3 | sed 's/^/  /'
awk -v ww="$(median "$work/wt.wall")" -v mw="$(median "$work/mv.wall")" \
    -v wc="$(median "$work/wt.cpu")" -v mc="$(median "$work/mv.cpu")" -v s="$size" -v n="$files" 'BEGIN {
    printf "%d files, %.0f MB; medians of '"$runs"' rounds:\n", n, s / 1e6
    printf "wavetrap-cli verify  wall %7.3f s  cpu %7.3f s  (%.2f s per GB)\n", ww, wc, ww / s * 1e9
    printf "mp3val               wall %7.3f s  cpu %7.3f s  (%.2f s per GB)\n", mw, mc, mw / s * 1e9
    if (mw > 0 && mc > 0)
        printf "ratio wavetrap/mp3val  wall %.3f  cpu %.3f  (at most 0.1 is the goal)\n", ww / mw, wc / mc
}'
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
