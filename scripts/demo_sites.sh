# The demo's sites on this machine alone (bash; source it after loopback.sh):
# two FTP sites (127.0.0.2 and 127.0.0.3) holding a few MP3 files and a search
# engine on 127.0.0.1 whose result page links to them. The files are real MP3
# songs of a tone, tagged, made by tests/peers/make_mp3.py (lame and sox).
#   start_demo_sites WORK [RATE]
# fills WORK/site2, WORK/site3 and WORK/web, starts the servers (RATE: bytes
# per second per data connection, 0 for no limit), appends their process ids
# to the array `pids`, and sets `engine` to the engine entry to search with.

start_demo_sites() {
    local work=$1 rate=${2:-0} py=/usr/bin/python3 f b n=0
    mkdir -p "$work/site2/pub/mp3" "$work/site3/music" "$work/web"
    for f in site2/pub/mp3/Moonlight_Drive site2/pub/mp3/Night_Train site2/pub/mp3/Blue_Hour \
             site3/music/Harbour_Lights site3/music/Paper_Kites; do
        b=$(basename "$f")
        n=$((n + 1))
        $py "$root/tests/peers/make_mp3.py" tone "$work/$f.mp3" --seconds $((9 + 4 * n)) --rate 44100 \
            --channels 2 --kbps 128 --freq $((220 * n)) --title "${b//_/ }" --album "Loopback Sessions" \
            --artist "$([ "$n" -le 3 ] && echo "The Locals" || echo "Harbour Sound")"
    done
    p2=$(free_port 127.0.0.2); p3=$(free_port 127.0.0.3); ph=$(free_port 127.0.0.1)
    $py "$root/tests/peers/ftp_server.py" --host 127.0.0.2 --port "$p2" --root "$work/site2" --rate "$rate" \
        >/dev/null 2>&1 & pids+=($!)
    $py "$root/tests/peers/ftp_server.py" --host 127.0.0.3 --port "$p3" --root "$work/site3" --rate "$rate" \
        >/dev/null 2>&1 & pids+=($!)

    # The search engine's result page: HTML with ordinary links and quoted FTP links.
    {
        echo '<html><head><title>MP3 search results</title></head><body>'
        echo '<p>Results for your search. <a href="http://www.example.com/help.html">Help</a></p><ul>'
        for f in "$work"/site2/pub/mp3/*.mp3; do
            b=$(basename "$f")
            echo "<li><a href=\"ftp://127.0.0.2:$p2/pub/mp3/$b\">$b</a> ($(stat -c %s "$f") bytes)</li>"
        done
        for f in "$work"/site3/music/*.mp3; do
            b=$(basename "$f")
            echo "<li><a href=\"ftp://127.0.0.3:$p3/music/${b//_/%5F}\">$b</a> <a href=\"http://www.example.com/x.mp3\">mirror</a></li>"
        done
        echo '</ul></body></html>'
    } > "$work/web/results.html"
    $py -m http.server "$ph" --bind 127.0.0.1 --directory "$work/web" >/dev/null 2>&1 & pids+=($!)

    wait_port 127.0.0.2 "$p2"; wait_port 127.0.0.3 "$p3"; wait_port 127.0.0.1 "$ph"
    engine="127.0.0.1:$ph/results.html?q="
}

# compare_demo_files WORK DIR: each site file against its copy in DIR; fails when one differs.
compare_demo_files() {
    local status=0 f b
    for f in "$1"/site2/pub/mp3/*.mp3 "$1"/site3/music/*.mp3; do
        b=$(basename "$f")
        if cmp -s "$f" "$2/$b"; then echo "identical  $(stat -c %s "$f") bytes  $b"; else echo "MISSING OR DIFFERENT  $b"; status=1; fi
    done
    return "$status"
}
