#!/usr/bin/python3
"""FTP server for the tests: pyftpdlib on one loopback address and port
(--port 0: a free one; the line "port N" on standard output says which),
serving one directory read-only to anonymous and read-write to one user
with a password.

Options: --no-rest answers REST with 502; --refuse CMD (repeatable) answers
that command with 500 (PORT, EPSV: a server that wants passive mode); --rate N
throttles downloads to N bytes per second (so a test can stop the server in
the middle); --active-fault 425 accepts PORT but answers the transfer with 425,
--active-fault silent accepts PORT but never connects (nor answers the
transfer): a server behind NAT."""

import argparse
import logging
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--host", required=True)
    ap.add_argument("--port", type=int, required=True)
    ap.add_argument("--root", required=True)
    ap.add_argument("--user", default="")
    ap.add_argument("--password", default="")
    ap.add_argument("--no-anonymous", action="store_true")
    ap.add_argument("--no-rest", action="store_true")
    ap.add_argument("--refuse", action="append", default=[])
    ap.add_argument("--rate", type=int, default=0)
    ap.add_argument("--active-fault", choices=["425", "silent"], default="")
    args = ap.parse_args()

    if not (args.host.startswith("127.") or args.host == "::1"):
        sys.exit("ftp_server.py serves loopback addresses only")

    logging.basicConfig(level=logging.ERROR)
    auth = DummyAuthorizer()
    if not args.no_anonymous:
        auth.add_anonymous(args.root, perm="elr")
    if args.user:
        # The user may also upload, rename and delete (anonymous only reads).
        auth.add_user(args.user, args.password, args.root, perm="elradfmw")

    class Handler(FTPHandler):
        # The client announces the loopback address of its control socket,
        # which need not be the server's 127.0.0.N.
        permit_foreign_addresses = True
        banner = "Wavetrap test server ready."
        auth_failed_timeout = 0  # answer a wrong password at once

        fake_active = False

        def pre_process_command(self, line, cmd, arg):
            if cmd.upper() in [c.upper() for c in args.refuse]:
                self.respond("500 %s not allowed here." % cmd.upper())
                return
            if cmd.upper() in ("EPSV", "PASV"):
                self.fake_active = False
            if args.active_fault == "425" and self.fake_active and cmd.upper() in ("RETR", "LIST", "NLST"):
                self.respond("425 Can't open data connection.")
                return
            FTPHandler.pre_process_command(self, line, cmd, arg)

        def ftp_PORT(self, line):
            if not args.active_fault:
                return FTPHandler.ftp_PORT(self, line)
            # Accepted, but no connection is ever made to the announced port.
            self.fake_active = True
            self.respond("200 Active data connection established.")

        def ftp_REST(self, line):
            if args.no_rest:
                self.respond("502 REST not implemented.")
            else:
                FTPHandler.ftp_REST(self, line)

    Handler.authorizer = auth
    if args.rate > 0:
        class Throttled(ThrottledDTPHandler):
            write_limit = args.rate
        Handler.dtp_handler = Throttled

    server = FTPServer((args.host, args.port), Handler)
    server.max_cons = 64
    # The port bound (a free one for --port 0), for the test that started us.
    print("port %d" % server.socket.getsockname()[1], flush=True)
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
