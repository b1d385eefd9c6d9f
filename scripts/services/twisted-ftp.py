#!/usr/bin/python3
"""A real FTP server of another make (Twisted's) for the tests.

User "korva", password "K7p3R#", home = --root. Listens on 127.0.0.1 on a free
port (or --port) and writes the port to --port-file (written beside and
renamed over) once it accepts connections. Every command line it receives is
appended to --log, one per line (the password masked). Twisted's server knows
no ABOR: it answers 502, after the reply to the transfer that ABOR cut short.

Run with Debian's interpreter (/usr/bin/python3): python3-twisted lives there.
"""
import os

from twisted.cred.checkers import InMemoryUsernamePasswordDatabaseDontUse
from twisted.cred.portal import Portal
from twisted.internet import reactor
from twisted.protocols import ftp
from twisted.python import filepath

from ftp_test_account import PASSWORD, USER, announce_port, argument_parser


def parse_args():
    return argument_parser(__doc__.splitlines()[0]).parse_args()


def main():
    args = parse_args()
    root = os.path.abspath(args.root)
    log_file = open(args.log, "a", buffering=1, encoding="latin-1") if args.log else None

    class Realm(ftp.BaseFTPRealm):
        def getHomeDirectory(self, avatarId):
            return filepath.FilePath(root)

    class Protocol(ftp.FTP):
        def lineReceived(self, line):
            if log_file:
                shown = line.decode("latin-1")
                if shown.upper().startswith("PASS "):
                    shown = "PASS ******"
                log_file.write(shown + "\n")
            return super().lineReceived(line)

    checker = InMemoryUsernamePasswordDatabaseDontUse()
    # The protocol hands name and password over as text.
    checker.addUser(USER, PASSWORD)
    factory = ftp.FTPFactory(Portal(Realm(root), [checker]))
    factory.protocol = Protocol
    factory.allowAnonymous = False
    factory.welcomeMessage = "KORVA test server (Twisted) ready."
    listening = reactor.listenTCP(args.port, factory, interface="127.0.0.1")
    port = listening.getHost().port
    announce_port(args.port_file, port)
    print("twisted-ftp: listening on 127.0.0.1:%d, root %s" % (port, root), flush=True)
    # SIGTERM ends the process as it is: there is nothing to save.
    reactor.run()


if __name__ == "__main__":
    main()
