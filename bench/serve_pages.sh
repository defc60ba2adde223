# Sourced by the search benchmarks (POSIX sh, after scripts/loopback.sh):
# serves result pages on loopback for the engines of a search.
#
# serve_pages PORT DIR WORK [CERT KEY]: serves the files of DIR on
# 127.0.0.1:PORT and sets page_server_pid: nginx (one worker, sendfile; over
# TLS with CERT and KEY when they are given), as a user's engines would be
# served. WORK is a scratch directory for the server's own files. nginx comes
# with scripts/setup (nginx-light); without it the function fails, unless
# PAGE_SERVER=python asks for Debian's Python server (threaded, plain HTTP
# only, and slow enough to weigh on the figures: it then says so).
serve_pages() {
    nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)
    if [ "${PAGE_SERVER:-nginx}" = python ]; then
        [ $# -lt 4 ] || { echo "PAGE_SERVER=python serves plain HTTP only" >&2; return 1; }
        echo "engines served by Python's http.server (PAGE_SERVER=python: it weighs on the figures)"
        /usr/bin/python3 "$(dirname "$0")/engine_pages.py" serve "$1" "$2" >/dev/null 2>&1 &
        page_server_pid=$!
        wait_port 127.0.0.1 "$1"
        return
    fi
    if [ ! -x "$nginx_bin" ]; then
        echo "nginx is not installed: run scripts/setup (it installs nginx-light), or set PAGE_SERVER=python" >&2
        return 1
    fi
    listen="127.0.0.1:$1 backlog=512"
    tls=
    if [ $# -ge 5 ]; then
        listen="$listen ssl"
        tls="ssl_certificate $4; ssl_certificate_key $5;"
    fi
    mkdir -p "$3/nginx"
    cat >"$3/nginx/nginx.conf" <<EOF
daemon off;
master_process off;
worker_processes 1;
pid $3/nginx/nginx.pid;
error_log $3/nginx/error.log;
events { worker_connections 1024; }
http {
    access_log off;
    client_body_temp_path $3/nginx;
    proxy_temp_path $3/nginx;
    fastcgi_temp_path $3/nginx;
    uwsgi_temp_path $3/nginx;
    scgi_temp_path $3/nginx;
    sendfile on;
    server {
        listen $listen;
        $tls
        root $2;
    }
}
EOF
    "$nginx_bin" -c "$3/nginx/nginx.conf" -e "$3/nginx/error.log" &
    page_server_pid=$!
    echo "engines served by nginx ($("$nginx_bin" -v 2>&1 | sed 's/.*: //'))"
    wait_port 127.0.0.1 "$1"
}
