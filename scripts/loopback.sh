# Helpers for scripts that start servers on loopback addresses (POSIX sh;
# source it with `. scripts/loopback.sh`). Debian's Python runs the probes.

# free_port [HOST]: a TCP port that is free on HOST (default 127.0.0.1).
free_port() {
    /usr/bin/python3 -c 'import socket,sys; s=socket.socket(); s.bind((sys.argv[1],0)); print(s.getsockname()[1])' \
        "${1:-127.0.0.1}"
}

# wait_port HOST PORT: waits, at most 20 s, until a server accepts there.
wait_port() {
    /usr/bin/python3 - "$1" "$2" <<'PY'
import socket, sys, time
end = time.time() + 20
while time.time() < end:
    try:
        socket.create_connection((sys.argv[1], int(sys.argv[2])), 0.5).close()
        sys.exit(0)
    except OSError:
        time.sleep(0.05)
sys.exit("no server answers on %s:%s" % (sys.argv[1], sys.argv[2]))
PY
}

# now: the time in seconds, with nanoseconds.
now() { date +%s.%N; }
