# Sourced by the search benchmarks (POSIX sh, after scripts/loopback.sh):
# serves result pages on loopback for the engines of a search.
#
# serve_pages PORT DIR WORK: serves the files of DIR on 127.0.0.1:PORT and
# sets page_server_pid. nginx (one worker, sendfile) when it is installed, so
# that the search and not the server is measured; else Debian's Python
# (threaded, and slow enough to weigh on the figures: it says so). WORK is a
# scratch directory for the server's own files.
serve_pages() {
    if command -v nginx >/dev/null || [ -x /usr/sbin/nginx ]; then
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
        listen 127.0.0.1:$1 backlog=512;
        root $2;
    }
}
EOF
        "$(command -v nginx || echo /usr/sbin/nginx)" -c "$3/nginx/nginx.conf" -e "$3/nginx/error.log" &
        page_server_pid=$!
        echo "engines served by nginx"
    else
        echo "engines served by Python's http.server (install nginx for figures that measure the search alone)"
        /usr/bin/python3 "$(dirname "$0")/engine_pages.py" serve "$1" "$2" >/dev/null 2>&1 &
        page_server_pid=$!
    fi
    wait_port 127.0.0.1 "$1"
}
