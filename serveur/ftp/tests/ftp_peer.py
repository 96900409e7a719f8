"""A real FTP server for the uploader's tests (Debian's pyftpdlib).

One user with a password (possibly empty) and a home directory. Every
log-in and every command received is appended to a log file, one line each
("LOGIN <user>", "CMD <command line>"), so a test can tell how many
connections a pass made and what was sent. With --stall the server stops
reading upload data once a transfer starts, as a server that has hung.
The chosen port is written to --port-file once the server listens.
"""

import argparse
import os
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--root", required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", default="")
    parser.add_argument("--log", required=True)
    parser.add_argument("--stall", action="store_true")
    args = parser.parse_args()

    log = open(args.log, "a", buffering=1)

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")

    class StallingDTP(DTPHandler):
        def readable(self):
            return False

    class LoggingHandler(FTPHandler):
        def on_login(self, username):
            log.write("LOGIN %s\n" % username)

        def pre_process_command(self, line, cmd, arg):
            log.write("CMD %s\n" % line)
            return FTPHandler.pre_process_command(self, line, cmd, arg)

    LoggingHandler.authorizer = authorizer
    LoggingHandler.passive_ports = None
    LoggingHandler.auth_failed_timeout = 0.05  # answer a wrong password at once
    if args.stall:
        LoggingHandler.dtp_handler = StallingDTP

    server = FTPServer(("127.0.0.1", args.port), LoggingHandler)
    server.max_cons = 32
    port = server.socket.getsockname()[1]
    tmp = args.port_file + ".tmp"
    with open(tmp, "w") as out:
        out.write("%d\n" % port)
    os.rename(tmp, args.port_file)
    try:
        server.serve_forever(timeout=0.2)
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
