#!/bin/sh
# A search over N local https:// engines (nginx with TLS, one worker, a
# self-signed certificate made here and trusted with --cacert), each serving a
# result page of SIZE bytes with 20 FTP links, against curl --parallel fetching
# the same N URLs, alternating, in one run. Prints every round, the medians and
# their ratio. (wavetrap-cli trusts the system's store as well as --cacert and
# loads it once, about 30 ms here; curl's --cacert replaces the store.)
#
#   bench/search_https_vs_curl.sh [BUILD_DIR] [ENGINES] [PAGE_BYTES] [ROUNDS]
#   defaults: build, 50 engines, 1 MB pages, 5 rounds
set -eu
build=${1:-build}
engines=${2:-50}
size=${3:-1048576}
rounds=${4:-5}
cli=$build/src/wavetrap-cli
py=/usr/bin/python3
nginx=$(command -v nginx || echo /usr/sbin/nginx)
. "$(dirname "$0")/../scripts/loopback.sh"
[ -x "$cli" ] || { echo "no $cli: build the wavetrap-cli target first" >&2; exit 2; }
[ -x "$nginx" ] || { echo "nginx is not installed (apt-get install nginx-light)" >&2; exit 2; }

work=$(mktemp -d)
server_pid=
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

"$py" "$(dirname "$0")/engine_pages.py" write "$work/pages" "$engines" "$size"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 \
    -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
port=$(free_port)
mkdir -p "$work/nginx"
cat >"$work/nginx/nginx.conf" <<CONF
daemon off;
master_process off;
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 1024; }
http {
    access_log off;
    client_body_temp_path $work/nginx;
    proxy_temp_path $work/nginx;
    fastcgi_temp_path $work/nginx;
    uwsgi_temp_path $work/nginx;
    scgi_temp_path $work/nginx;
    sendfile on;
    server {
        listen 127.0.0.1:$port ssl backlog=512;
        ssl_certificate $work/cert.pem;
        ssl_certificate_key $work/key.pem;
        root $work/pages;
    }
}
CONF
"$nginx" -c "$work/nginx/nginx.conf" -e "$work/nginx/error.log" &
server_pid=$!
wait_port 127.0.0.1 "$port" || exit 2

set --
urls=
e=0
while [ $e -lt "$engines" ]; do
    set -- "$@" --engine "https://127.0.0.1:$port/engine$e?q="
    urls="$urls https://127.0.0.1:$port/engine$e?q=bench"
    e=$((e + 1))
done

all_search=
all_curl=
r=0
while [ $r -lt "$rounds" ]; do
    r=$((r + 1))
    cfg=$work/cfg$r
    mkdir -p "$cfg"
    t0=$(now)
    WAVETRAP_CONFIG_DIR=$cfg "$cli" search --cacert "$work/cert.pem" "$@" bench >"$work/table" 2>"$work/err" || true
    t1=$(now)
    # shellcheck disable=SC2086
    curl -s --cacert "$work/cert.pem" --parallel --parallel-max 50 \
        $(for u in $urls; do printf ' -o /dev/null %s' "$u"; done) 2>/dev/null
    t2=$(now)
    s=$(echo "$t1 - $t0" | bc -l)
    c=$(echo "$t2 - $t1" | bc -l)
    rows=$(wc -l <"$work/table")
    [ "$rows" -gt 0 ] || { echo "the search found nothing:" >&2; head -5 "$work/err" >&2; exit 1; }
    echo "round $r: search ${s}s ($rows rows), curl ${c}s"
    all_search="$all_search $s"
    all_curl="$all_curl $c"
done
median() { printf '%s\n' $1 | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
med_search=$(median "$all_search")
med_curl=$(median "$all_curl")
printf 'https engines %s, page %s bytes, %s rounds\n' "$engines" "$size" "$rounds"
printf '  median: search %.3fs, curl --parallel %.3fs, ratio %.2f\n' "$med_search" "$med_curl" \
    "$(echo "$med_search / $med_curl" | bc -l)"
