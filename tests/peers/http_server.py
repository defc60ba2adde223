#!/usr/bin/python3
"""A scripted HTTP server for the tests.

Usage: http_server.py HOST PORT ROUTES.json LOGFILE [CERT KEY]

With CERT and KEY the server speaks TLS: every reply ends with the server's
close_notify, except for a route with "cut": true, whose connection is
closed without it.

PORT 0 binds a free port; once listening, the server prints "port N" on
standard output.

ROUTES.json maps request paths (the path of the request line; for an
absolute request line through a proxy, the path part of the URL) to replies:
  {"kind": "reply", "status": 200, "reason": "OK", "headers": [["Name", "value"], ...],
   "body": "<latin-1 text>" | "file": "/path", "splits": [n1, n2, ...]}
      a status line "HTTP/1.0 status reason", the headers, a Content-Length
      header unless one is given, the empty line and the body; then close.
  {"kind": "raw", "bytes": "<latin-1 text>", "splits": [...]}
      exactly these bytes, then close; with "hold": true the connection
      stays open instead until the client goes away.
  {"kind": "hang"}
      read the request and never answer (the connection stays open).
  {"kind": "endless", "head": "<latin-1 text>", "repeat": "<latin-1 text>"}
      send head, then repeat again and again until the client goes away.
  {"kind": "sequence", "replies": [route, route, ...]}
      the nth request of the path gets the nth route of the list (the last
      one every later request); counted afresh when the route changes.
"splits" are the sizes of the first writes; the rest goes in one write. Each
write is followed by a short pause so the client receives it on its own.
Unknown paths get "HTTP/1.0 404 Not Found". Every request head (request line
and header lines, CR LF removed) is appended to LOGFILE as one JSON list per
line, flushed at once. The file ROUTES.json is read again for every request.
"""
import json
import socket
import ssl
import socketserver
import sys
import threading
import time
from urllib.parse import urlsplit

HOST, PORT, ROUTES, LOG = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
TLS = None
if len(sys.argv) > 6:
    TLS = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    TLS.load_cert_chain(sys.argv[5], sys.argv[6])
log_lock = threading.Lock()
hanging = []
sequence_lock = threading.Lock()
sequence_counts = {}


def load_routes():
    with open(ROUTES, "r", encoding="utf-8") as f:
        return json.load(f)


def send_split(sock, data, splits):
    pos = 0
    for n in splits:
        if pos >= len(data):
            break
        sock.sendall(data[pos:pos + n])
        pos += n
        time.sleep(0.03)
    if pos < len(data):
        sock.sendall(data[pos:])


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        self.request.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        if TLS is None:
            self.serve(self.request)
            return
        try:
            sock = TLS.wrap_socket(self.request, server_side=True)
        except (ssl.SSLError, OSError):
            return
        try:
            if self.serve(sock) == "cut":
                sock.close()
                return
            sock.unwrap()
        except (ssl.SSLError, OSError, ValueError):
            pass
        sock.close()

    def serve(self, sock):
        data = b""
        while b"\r\n\r\n" not in data and b"\n\n" not in data:
            chunk = sock.recv(65536)
            if not chunk:
                return
            data += chunk
            if len(data) > 1 << 20:
                return
        head = data.replace(b"\r\n", b"\n").split(b"\n\n", 1)[0]
        lines = [l.decode("latin-1") for l in head.split(b"\n")]
        # Take a request body in full, so closing never resets the connection.
        length = 0
        for l in lines[1:]:
            name, _, value = l.partition(":")
            if name.strip().lower() == "content-length" and value.strip().isdigit():
                length = int(value.strip())
        sep = data.find(b"\r\n\r\n")
        got = len(data) - (sep + 4 if sep >= 0 else data.find(b"\n\n") + 2)
        while got < length:
            chunk = sock.recv(65536)
            if not chunk:
                break
            got += len(chunk)
        with log_lock:
            with open(LOG, "a", encoding="utf-8") as f:
                f.write(json.dumps(lines) + "\n")
                f.flush()
        parts = lines[0].split(" ")
        target = parts[1] if len(parts) > 1 else "/"
        path = target
        if "://" in target:
            s = urlsplit(target)
            path = s.path or "/"
            if s.query:
                path += "?" + s.query
        route = load_routes().get(path)
        if route is None:
            body = b"<html><body>Not Found</body></html>"
            sock.sendall(b"HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\nContent-Length: "
                         + str(len(body)).encode() + b"\r\n\r\n" + body)
            return
        if route.get("kind") == "sequence":
            key = path + json.dumps(route, sort_keys=True)
            with sequence_lock:
                n = sequence_counts.get(key, 0)
                sequence_counts[key] = n + 1
            replies = route["replies"]
            route = replies[min(n, len(replies) - 1)]
        kind = route.get("kind", "reply")
        if kind == "hang":
            hanging.append(sock)
            while True:
                try:
                    if not sock.recv(65536):
                        return
                except OSError:
                    return
        if kind == "endless":
            sock.sendall(route["head"].encode("latin-1"))
            chunk = route["repeat"].encode("latin-1") * max(1, 16384 // max(1, len(route["repeat"])))
            try:
                while True:
                    sock.sendall(chunk)
            except OSError:
                return
        if kind == "raw":
            send_split(sock, route["bytes"].encode("latin-1"), route.get("splits", []))
            while route.get("hold"):
                try:
                    if not sock.recv(65536):
                        return
                except OSError:
                    return
            return "cut" if route.get("cut") else None
        if "file" in route:
            with open(route["file"], "rb") as f:
                body = f.read()
        else:
            body = route.get("body", "").encode("latin-1")
        status = route.get("status", 200)
        reason = route.get("reason", "OK")
        headers = route.get("headers", [])
        out = "HTTP/1.0 %d %s\r\n" % (status, reason)
        names = [h[0].lower() for h in headers]
        for name, value in headers:
            out += "%s: %s\r\n" % (name, value)
        if "content-length" not in names:
            out += "Content-Length: %d\r\n" % len(body)
        if "content-type" not in names:
            out += "Content-Type: text/html\r\n"
        out += "\r\n"
        send_split(sock, out.encode("latin-1") + body, route.get("splits", []))
        return "cut" if route.get("cut") else None


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64


if __name__ == "__main__":
    with Server((HOST, PORT), Handler) as server:
        print("port %d" % server.server_address[1], flush=True)
        server.serve_forever()
