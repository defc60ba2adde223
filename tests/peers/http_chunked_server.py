#!/usr/bin/python3
"""Python's http.server answering every GET with a chunked body, whatever the
version of the request, as some HTTP/1.1 servers do even to HTTP/1.0 clients.

Usage: http_chunked_server.py HOST DIRECTORY CHUNK

Serves the files of DIRECTORY (the query of the path is ignored) in chunks of
CHUNK bytes; every second chunk size carries an extension, and a trailer field
follows the last chunk. The connection stays open after the reply, so the
client must see the end of the body in the chunks themselves. Binds a free
port and prints it on standard output.
"""
import http.server
import os
import sys

HOST, ROOT, CHUNK = sys.argv[1], sys.argv[2], int(sys.argv[3])


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def do_GET(self):
        name = os.path.join(ROOT, os.path.basename(self.path.split("?")[0]))
        try:
            with open(name, "rb") as f:
                body = f.read()
        except OSError:
            self.send_error(404)
            return
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        self.send_header("Transfer-Encoding", "chunked")
        self.send_header("Trailer", "X-Bytes")
        self.end_headers()
        for n, at in enumerate(range(0, len(body), CHUNK)):
            piece = body[at:at + CHUNK]
            ext = b";piece=%d" % n if n % 2 else b""
            self.wfile.write(b"%x%s\r\n%s\r\n" % (len(piece), ext, piece))
            self.wfile.flush()
        self.wfile.write(b"0\r\nX-Bytes: %d\r\n\r\n" % len(body))
        self.wfile.flush()
        self.close_connection = False  # wait for the client to close

    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer((HOST, 0), Handler)
server.daemon_threads = True
print(server.server_address[1], flush=True)
server.serve_forever()
