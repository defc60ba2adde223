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

# vsftpd_conf PORT ROOT EMPTY: a vsftpd configuration for anonymous reading
# of ROOT on 127.0.0.1:PORT (active and passive), run as the launching user.
vsftpd_conf() {
    cat <<CONF
listen=YES
listen_ipv6=NO
listen_address=127.0.0.1
listen_port=$1
background=NO
run_as_launching_user=YES
seccomp_sandbox=NO
anonymous_enable=YES
no_anon_password=YES
local_enable=NO
write_enable=NO
anon_root=$2
secure_chroot_dir=$3
port_enable=YES
connect_from_port_20=NO
pasv_enable=YES
pasv_address=127.0.0.1
use_sendfile=YES
xferlog_enable=NO
dirmessage_enable=NO
check_shell=NO
ftp_username=nobody
CONF
}

# now: the time in seconds, with nanoseconds.
now() { date +%s.%N; }
