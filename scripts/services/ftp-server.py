#!/usr/bin/python3
"""A real FTP server (pyftpdlib) for the tests and the demo.

User "korva", password "K7p3R#", home = --root. Listens on 127.0.0.1 on a free
port (or --port) and writes the port to --port-file once it accepts
connections. Every command line it receives is appended to --log, one per
line (the password masked), so tests can compare the dialogue exactly.

Scenarios (--scenario, may be repeated) bend the server for one test:
  user-230            USER logs the user in at once (230); no PASS is needed
  password=TEXT       the account's password is TEXT (a log-in that fails)
  delay=CMD:SECONDS   wait before answering CMD (e.g. delay=CWD:1.5)
  rate=BYTES          send and receive data at most BYTES per second
  no-size             SIZE is not a command this server knows (502)

Run with Debian's interpreter (/usr/bin/python3): python3-pyftpdlib lives there.
"""
import logging
import os
import sys
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer

from ftp_test_account import PASSWORD, USER, announce_port, argument_parser


def parse_args():
    p = argument_parser(__doc__.splitlines()[0])
    p.add_argument("--scenario", action="append", default=[])
    p.add_argument("--verbose", action="store_true")
    return p.parse_args()


def make_handler(args):
    delays = {}
    user_230 = False
    rate = 0
    password = PASSWORD
    no_size = False
    for s in args.scenario:
        if s == "user-230":
            user_230 = True
        elif s.startswith("delay="):
            cmd, seconds = s[len("delay="):].split(":", 1)
            delays[cmd.upper()] = float(seconds)
        elif s.startswith("password="):
            password = s[len("password="):]
        elif s.startswith("rate="):
            rate = int(s[len("rate="):])
        elif s == "no-size":
            no_size = True
        else:
            sys.exit("ftp-server: unknown scenario " + s)

    log_file = open(args.log, "a", buffering=1, encoding="utf-8") if args.log else None

    class Handler(FTPHandler):
        def pre_process_command(self, line, cmd, arg):
            if log_file:
                shown = "PASS ******" if cmd == "PASS" else line
                log_file.write(shown + "\n")
            seconds = delays.get(cmd)
            if seconds:
                # Blocks the whole server on purpose: the client must keep
                # waiting (and keep its window alive) without any traffic.
                time.sleep(seconds)
            return super().pre_process_command(line, cmd, arg)

        def ftp_SIZE(self, path):
            if no_size:
                self.respond("502 Command not implemented.")
                return
            return super().ftp_SIZE(path)

        def ftp_USER(self, line):
            if user_230 and not self.authenticated:
                self.username = line
                home = self.authorizer.get_home_dir(line)
                self.handle_auth_success(home, "", "Logged in without a password.")
                return
            return super().ftp_USER(line)

    authorizer = DummyAuthorizer()
    authorizer.add_user(USER, password, os.path.abspath(args.root), perm="elradfmwMT")
    Handler.authorizer = authorizer
    Handler.banner = "KORVA test server (pyftpdlib) ready."
    Handler.permit_privileged_ports = False
    # A refused log-in is answered at once, not after pyftpdlib's pause.
    Handler.auth_failed_timeout = 0
    if rate:
        class Throttled(ThrottledDTPHandler):
            read_limit = rate
            write_limit = rate
        Handler.dtp_handler = Throttled
    return Handler


def main():
    args = parse_args()
    logging.basicConfig(level=logging.INFO if args.verbose else logging.ERROR)
    handler = make_handler(args)
    server = FTPServer(("127.0.0.1", args.port), handler)
    port = server.socket.getsockname()[1]
    announce_port(args.port_file, port)
    print("ftp-server: listening on 127.0.0.1:%d, root %s" % (port, args.root), flush=True)
    # SIGTERM ends the process as it is: there is nothing to save.
    server.serve_forever()


if __name__ == "__main__":
    main()
