"""Search engines for the search benchmarks, on loopback.

  engine_pages.py write DIR ENGINES SIZE   writes DIR/engine0 .. engineN-1, each a
                                           result page of SIZE bytes: filler with
                                           20 quoted ftp:// links spread through it
  engine_pages.py serve PORT DIR           serves DIR on 127.0.0.1:PORT (threaded)
"""
import functools
import http.server
import os
import sys


def write(out, n, size):
    os.makedirs(out)
    filler = "<tr><td>nothing to see here, only words of a search engine page</td></tr>\n"
    for e in range(n):
        links = ['<a href="ftp://ftp%d.bench.test/pub/music/artist_%d/song_%d_%d.mp3">song %d</a>\n' % (e, e, e, k, k)
                 for k in range(20)]
        chunk = (size - sum(len(l) for l in links)) // 21
        parts = []
        for k in range(20):
            parts.append((filler * (chunk // len(filler) + 1))[:chunk])
            parts.append(links[k])
        page = "".join(parts)
        page += " " * max(0, size - len(page))
        with open(os.path.join(out, "engine%d" % e), "w") as f:
            f.write(page)


# The listen backlog is raised: with the default of 5, fifty simultaneous
# connects overflow it and the dropped ones are retried by the kernel seconds later.
class Server(http.server.ThreadingHTTPServer):
    request_queue_size = 256
    daemon_threads = True


class Quiet(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


if __name__ == "__main__":
    if sys.argv[1] == "write":
        write(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]))
    else:
        Server(("127.0.0.1", int(sys.argv[2])), functools.partial(Quiet, directory=sys.argv[3])).serve_forever()
