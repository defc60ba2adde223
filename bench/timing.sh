# Sourced by the comparison scripts in bench/: timing one command and medians.

# timed FILE COMMAND...: runs COMMAND with its output thrown away (written to
# the file $TIMED_STDOUT names, when set) and appends "wall user sys peak"
# (seconds, the child's CPU time, its peak memory in kB) to FILE; fails as it
# fails.
timed() {
    timed_out=$1
    shift
    /usr/bin/python3 -c 'import os, subprocess, sys, time
out = open(os.environ["TIMED_STDOUT"], "wb") if os.environ.get("TIMED_STDOUT") else subprocess.DEVNULL
t = time.perf_counter()
p = subprocess.Popen(sys.argv[1:], stdout=out)
_, status, ru = os.wait4(p.pid, 0)
print("%.4f %.4f %.4f %d" % (time.perf_counter() - t, ru.ru_utime, ru.ru_stime, ru.ru_maxrss))
sys.exit(1 if status else 0)' "$@" >>"$timed_out"
}

# median FILE [COLUMN]: the median of a column (the first by default) of
# the numbers in FILE.
median() {
    sort -g -k"${2:-1}" "$1" |
        awk -v c="${2:-1}" '{ v[NR] = $c } END { m = int((NR + 1) / 2); if (NR % 2) print v[m]; else print (v[m] + v[m + 1]) / 2 }'
}
