#!/usr/bin/python3
"""FTP server for the tests: pyftpdlib on one loopback address and port,
serving one directory read-only to anonymous and read-write to one user
with a password.

Options: --no-rest answers REST with 502; --refuse CMD (repeatable) answers
that command with 500 (PORT, EPSV: a server that wants passive mode); --rate N
throttles downloads to N bytes per second (so a test can stop the server in
the middle)."""

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
    args = ap.parse_args()

    if not args.host.startswith("127."):
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

        def pre_process_command(self, line, cmd, arg):
            if cmd.upper() in [c.upper() for c in args.refuse]:
                self.respond("500 %s not allowed here." % cmd.upper())
                return
            FTPHandler.pre_process_command(self, line, cmd, arg)

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
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
