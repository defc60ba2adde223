#!/bin/sh
# RETR of a large file over explicit FTPS (AUTH TLS, PROT P, the data
# connection resuming the control connection's TLS session) from a local
# vsftpd with TLS forced and session reuse required, passive mode (EPSV), into
# tmpfs (/dev/shm): Wavetrap's FTP client (bench_ftp_get --tls --passive)
# against curl --ssl-reqd, same file, same server, alternating rounds. (Passive:
# curl 7.88 hangs after accepting an active-mode TLS data connection.)
# The script prints every round, then the median wall and CPU times and the
# ratio wavetrap/curl of the median wall times. The certificate is made here
# with openssl (self-signed, for 127.0.0.1) and trusted by both with --cacert.
#
# Usage: bench/ftps_vs_curl.sh [BUILD_DIR] [SIZE_MB] [ROUNDS]
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$ROOT/scripts/loopback.sh"
BUILD=${1:-build}
SIZE_MB=${2:-512}
ROUNDS=${3:-5}
BENCH="$BUILD/bench/bench_ftp_get"
case "$BENCH" in /*) ;; *) BENCH="$PWD/$BENCH" ;; esac
[ -x "$BENCH" ] || { echo "missing $BENCH (build the target bench_ftp_get)" >&2; exit 2; }
VSFTPD=$(command -v vsftpd || echo /usr/sbin/vsftpd)
[ -x "$VSFTPD" ] || { echo "vsftpd is not installed" >&2; exit 2; }
. "$(dirname "$0")/timing.sh"

DIR=$(mktemp -d /dev/shm/wavetrap-ftps-bench.XXXXXX)
SERVER_PID=
cleanup() {
    [ -n "$SERVER_PID" ] && kill "$SERVER_PID" 2>/dev/null && wait "$SERVER_PID" 2>/dev/null || true
    rm -rf "$DIR"
}
trap cleanup EXIT INT TERM

mkdir "$DIR/srv" "$DIR/empty" "$DIR/out"
SIZE=$((SIZE_MB * 1024 * 1024))
head -c "$SIZE" /dev/urandom >"$DIR/srv/big.bin"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 \
    -keyout "$DIR/key.pem" -out "$DIR/cert.pem" 2>/dev/null
PORT=$(free_port)
{
    vsftpd_conf "$PORT" "$DIR/srv" "$DIR/empty"
    cat <<CONF
ssl_enable=YES
allow_anon_ssl=YES
force_anon_logins_ssl=YES
force_anon_data_ssl=YES
require_ssl_reuse=YES
ssl_ciphers=HIGH
rsa_cert_file=$DIR/cert.pem
rsa_private_key_file=$DIR/key.pem
CONF
} >"$DIR/vsftpd.conf"
"$VSFTPD" "$DIR/vsftpd.conf" &
SERVER_PID=$!
wait_port 127.0.0.1 "$PORT" || exit 2
URL="ftp://127.0.0.1:$PORT/big.bin"

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
i=0
while [ "$i" -lt "$ROUNDS" ]; do
    rm -f "$DIR/out/curl.out" "$DIR/out/big.bin"
    timed "$DIR/curl.t" curl -sS --ssl-reqd --cacert "$DIR/cert.pem" -o "$DIR/out/curl.out" "$URL"
    cmp -s "$DIR/srv/big.bin" "$DIR/out/curl.out" || { echo "curl: file differs" >&2; exit 1; }
    rm -f "$DIR/out/curl.out"
    (cd "$DIR/out" && timed "$DIR/wt.t" "$BENCH" 127.0.0.1 "$PORT" big.bin --tls --passive --cacert "$DIR/cert.pem")
    cmp -s "$DIR/srv/big.bin" "$DIR/out/big.bin" || { echo "wavetrap: file differs" >&2; exit 1; }
    rm -f "$DIR/out/big.bin"
    echo "round $((i + 1)): wall/user/sys s  curl $(tail -1 "$DIR/curl.t")  wavetrap $(tail -1 "$DIR/wt.t")  load $(cut -d' ' -f1-3 /proc/loadavg)"
    i=$((i + 1))
done
awk '{ print $2 + $3 }' "$DIR/curl.t" >"$DIR/curl.cpu"
awk '{ print $2 + $3 }' "$DIR/wt.t" >"$DIR/wt.cpu"
awk -v mb="$SIZE_MB" -v cw="$(median "$DIR/curl.t" 1)" -v ww="$(median "$DIR/wt.t" 1)" \
    -v cc="$(median "$DIR/curl.cpu" 1)" -v wc="$(median "$DIR/wt.cpu" 1)" 'BEGIN {
    printf "explicit FTPS, %d MiB into tmpfs, medians: curl --ssl-reqd %.3f s (%.0f MB/s, CPU %.3f s); wavetrap %.3f s (%.0f MB/s, CPU %.3f s)\n",
        mb, cw, mb * 1.048576 / cw, cc, ww, mb * 1.048576 / ww, wc
    printf "time wavetrap/curl %.2f; CPU wavetrap/curl %.2f\n", ww / cw, wc / cc
}'
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
