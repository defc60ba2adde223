#!/usr/bin/python3
"""An FTP server that misbehaves in one chosen way, for the download road's
tests. It binds port 0 on a loopback address and prints "PORT <n>" on its
standard output. Every path ending in ".mp3" is a file of --size bytes of the
tests' fill pattern (byte i is (i * 7 + i // 251) & 0xFF).

Modes:
  normal       a correct server (REST honoured, active and passive mode)
  rest-ignored REST answered 350, then the file sent from its first byte
  rest-late    as rest-ignored, with the final reply --pause seconds after the data
  oversize     100 bytes more than SIZE announced
  undersize    SIZE announces 40 bytes more than the file has
  tail-pause   all but the last 40 bytes, a pause of --pause seconds, the rest
  dribble      10 bytes on each data connection, which is then held open
  size-close   the control connection closed on SIZE
  pasv-self    PORT and EPRT refused; PASV and EPSV point at the control port
  pass-530     every PASS refused with 530
  retr-550     every RETR refused with "550 No such file", holding a terminal escape
  port-perm    PORT and EPRT answered "550 Permission denied." (passive works)
  port-elsewhere  active data connections come from another loopback address
               than the control connection's (127.0.0.2 for 127.0.0.1), and
               end in "426" once the client closes them (passive works)
  tls-cut      (with --cert and --key) SIZE unknown (502); each transfer sends half
               of what is left over TLS, then cuts the data connection without
               TLS close_notify and says "226 Transfer complete" all the same

With --cert and --key, AUTH TLS, PBSZ and PROT P are honoured: the control
connection and (after PROT P) every data connection run TLS.
"""

import argparse
import socket
import ssl
import sys
import threading
import time


def fill(offset, count):
    return bytes(((i * 7 + i // 251) & 0xFF) for i in range(offset, offset + count))


class Session(threading.Thread):
    def __init__(self, conn, args, host):
        super().__init__(daemon=True)
        self.c = conn
        self.args = args
        self.host = host
        self.rest = 0
        self.port_addr = None
        self.pasv = None
        self.prot = False
        self.f = conn.makefile("rb")

    def send(self, line):
        self.c.sendall((line + "\r\n").encode())

    def data_socket(self):
        if self.pasv is not None:
            self.pasv.settimeout(10)
            d, _ = self.pasv.accept()
            self.pasv.close()
            self.pasv = None
        elif self.port_addr is not None:
            if self.args.mode == "port-elsewhere":
                other = "127.0.0.2" if self.host != "127.0.0.2" else "127.0.0.3"
                d = socket.create_connection(self.port_addr, timeout=10, source_address=(other, 0))
                try:
                    d.recv(1)  # the client closes a connection from elsewhere
                except OSError:
                    pass
                d.close()
                self.port_addr = None
                return "refused"
            d = socket.create_connection(self.port_addr, timeout=10)
        else:
            return None
        if self.prot:
            d = self.args.tls.wrap_socket(d, server_side=True)
        return d

    def retr(self):
        mode, size = self.args.mode, self.args.size
        if mode == "retr-550":
            self.send("550 No such file\x1b]0;owned\x07 or directory.")  # a title escape
            return
        start = 0 if mode in ("rest-ignored", "rest-late") else self.rest
        self.rest = 0
        self.send("150 Opening BINARY mode data connection")
        d = self.data_socket()
        if d is None:
            self.send("425 Use PORT or PASV first")
            return
        if d == "refused":
            self.send("426 Connection closed; transfer aborted.")
            return
        try:
            if mode == "tls-cut":
                d.sendall(fill(start, max(1, (size - start) // 2) if size > start else 0))
                d.shutdown(socket.SHUT_RDWR)  # an SSL socket sends no close_notify here
                self.send("226 Transfer complete")
                return
            if mode == "dribble":
                d.sendall(fill(start, min(10, max(0, size - start))))
                d.settimeout(None)
                d.recv(1)  # held until the client closes it
                return
            end = size + 100 if mode == "oversize" else size
            if mode == "tail-pause" and end - start > 40:
                d.sendall(fill(start, end - start - 40))
                time.sleep(self.args.pause)
                d.sendall(fill(end - 40, 40))
            else:
                d.sendall(fill(start, max(0, end - start)))
        except OSError:
            pass
        finally:
            d.close()
        if mode == "rest-late":
            time.sleep(self.args.pause)
        self.send("226 Transfer complete")

    def run(self):
        a = self.args
        try:
            self.send("220 Hostile server ready")
            while True:
                raw = self.f.readline()
                if not raw:
                    break
                line = raw.decode("latin-1").rstrip("\r\n")
                word, _, arg = line.partition(" ")
                word = word.upper()
                if word == "USER":
                    self.send("331 Password please")
                elif word == "PASS":
                    self.send("530 Login incorrect." if a.mode == "pass-530" else "230 Logged in")
                elif word == "AUTH" and a.tls is not None:
                    self.send("234 AUTH TLS ok")
                    self.c = a.tls.wrap_socket(self.c, server_side=True)
                    self.f = self.c.makefile("rb")
                elif word == "PBSZ" and a.tls is not None:
                    self.send("200 PBSZ=0")
                elif word == "PROT" and a.tls is not None:
                    self.prot = arg.upper() == "P"
                    self.send("200 Protection level set")
                elif word == "SIZE":
                    if a.mode == "size-close":
                        return
                    if a.mode == "tls-cut":
                        self.send("502 SIZE not here")
                        continue
                    self.send("213 %d" % (a.size + 40 if a.mode == "undersize" else a.size))
                elif word == "TYPE":
                    self.send("200 Type set")
                elif word in ("PORT", "EPRT"):
                    if a.mode == "pasv-self":
                        self.send("500 PORT not allowed")
                    elif a.mode == "port-perm":
                        self.send("550 Permission denied.")
                    elif word == "PORT":
                        p = [int(x) for x in arg.split(",")]
                        self.port_addr = ("%d.%d.%d.%d" % tuple(p[:4]), p[4] * 256 + p[5])
                        self.send("200 PORT command successful")
                    else:
                        parts = arg.split(arg[0])
                        self.port_addr = (parts[2], int(parts[3]))
                        self.send("200 EPRT command successful")
                elif word in ("PASV", "EPSV"):
                    if a.mode == "pasv-self":
                        port = self.c.getsockname()[1]
                    else:
                        self.pasv = socket.socket()
                        self.pasv.bind((self.host, 0))
                        self.pasv.listen(1)
                        port = self.pasv.getsockname()[1]
                    if word == "PASV":
                        h = self.host.replace(".", ",")
                        self.send("227 Entering Passive Mode (%s,%d,%d)" % (h, port // 256, port % 256))
                    else:
                        self.send("229 Entering Extended Passive Mode (|||%d|)" % port)
                elif word == "REST":
                    self.rest = int(arg or "0")
                    self.send("350 Restarting at %d" % self.rest)
                elif word == "RETR":
                    self.retr()
                elif word == "QUIT":
                    self.send("221 Bye")
                    return
                else:
                    self.send("502 Not implemented")
        except OSError:
            pass
        finally:
            self.c.close()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--host", default="127.0.0.1")
    ap.add_argument("--mode", default="normal")
    ap.add_argument("--size", type=int, default=3000)
    ap.add_argument("--pause", type=float, default=8.0)
    ap.add_argument("--cert", default="")
    ap.add_argument("--key", default="")
    args = ap.parse_args()
    args.tls = None
    if args.cert:
        args.tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        args.tls.load_cert_chain(args.cert, args.key)
    if not args.host.startswith("127."):
        sys.exit("hostile_ftp.py serves loopback addresses only")
    srv = socket.socket()
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    srv.bind((args.host, 0))
    srv.listen(16)
    print("PORT %d" % srv.getsockname()[1], flush=True)
    while True:
        conn, _ = srv.accept()
        Session(conn, args, args.host).start()


if __name__ == "__main__":
    main()
