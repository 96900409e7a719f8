#!/usr/bin/python3
"""A real SMTP server for the mail tests: aiosmtpd on 127.0.0.1.

Every message it takes is parsed with the standard email package and written
out for the test in a directory msg_NNNN (renamed into place when complete):
  envelope.txt  "from <addr>", one "rcpt <addr>" per recipient, "auth <login>"
  message.eml   the data as received (dot-stuffing undone)
  summary.txt   "header <Name>: <value>" lines, then "part <n> <type> <charset> <filename>"
  part_<n>.bin  the decoded payload of leaf part n
When listening it writes its port to <dir>/ready. SIGTERM ends it at once.
"""
import argparse
import email
import email.policy
import os
import signal
import socket
import ssl
import sys
import time

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword


class Handler:
    def __init__(self, out, reject):
        self.out = out
        self.reject = set(reject)
        self.count = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address in self.reject:
            return "550 5.1.1 <%s>: Recipient address rejected" % address
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        final = os.path.join(self.out, "msg_%04d" % self.count)
        work = final + ".tmp"
        os.makedirs(work)
        login = session.login_data
        if isinstance(login, bytes):
            login = login.decode("latin-1")
        with open(os.path.join(work, "envelope.txt"), "w", encoding="latin-1") as f:
            f.write("from %s\n" % envelope.mail_from)
            for rcpt in envelope.rcpt_tos:
                f.write("rcpt %s\n" % rcpt)
            if login:
                f.write("auth %s\n" % login)
        data = envelope.content
        with open(os.path.join(work, "message.eml"), "wb") as f:
            f.write(data)
        message = email.message_from_bytes(data, policy=email.policy.compat32)
        lines = []
        for name, value in message.items():
            lines.append("header %s: %s" % (name, value))
        if message.defects:
            lines.append("defects %s" % " ".join(type(d).__name__ for d in message.defects))
        n = 0
        for part in message.walk():
            if part.is_multipart():
                continue
            lines.append("part %d %s %s %s" % (n, part.get_content_type(), part.get_content_charset() or "-",
                                               part.get_filename() or "-"))
            with open(os.path.join(work, "part_%d.bin" % n), "wb") as f:
                f.write(part.get_payload(decode=True) or b"")
            n += 1
        with open(os.path.join(work, "summary.txt"), "w", encoding="latin-1") as f:
            f.write("\n".join(lines) + "\n")
        os.rename(work, final)
        return "250 2.0.0 Message accepted for delivery"


def authenticator(user, password):
    def check(server, session, envelope, mechanism, auth_data):
        ok = isinstance(auth_data, LoginPassword) and auth_data.login == user and auth_data.password == password
        if ok:
            return AuthResult(success=True, auth_data=auth_data)
        return AuthResult(success=False, handled=False)  # aiosmtpd answers 535
    return check


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dir", required=True)
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--mode", choices=["plain", "starttls", "tls"], default="plain")
    parser.add_argument("--login")
    parser.add_argument("--password")
    parser.add_argument("--exclude", action="append", default=[])
    parser.add_argument("--reject", action="append", default=[])
    args = parser.parse_args()

    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    kwargs = {"hostname": "127.0.0.1", "port": free_port(), "decode_data": False}
    context = None
    if args.mode != "plain":
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(args.cert, args.key)
    if args.mode == "starttls":
        kwargs["tls_context"] = context
    elif args.mode == "tls":
        kwargs["ssl_context"] = context
    if args.login:
        kwargs["authenticator"] = authenticator(args.login.encode(), (args.password or "").encode())
        kwargs["auth_require_tls"] = args.mode == "starttls"
        kwargs["auth_exclude_mechanism"] = args.exclude
    controller = Controller(Handler(args.dir, args.reject), **kwargs)
    controller.start()
    ready = os.path.join(args.dir, "ready")
    with open(ready + ".tmp", "w") as f:
        f.write("%d\n" % controller.port)
    os.rename(ready + ".tmp", ready)
    while True:
        time.sleep(3600)


if __name__ == "__main__":
    sys.exit(main())
