#!/usr/bin/python3
"""A tiny inetd for the test servers: owns the listening socket, starts a
program per connection with the connection as its standard input and output.

    inetd.py [--port N] [--port-file FILE] [--name NAME] -- PROGRAM [ARG...]

Binds 127.0.0.1:N (0, the default: a free port the system picks) and listens
before it writes the port to --port-file (written beside and renamed over), so
whoever reads that file talks to this listener and no other. SIGTERM ends the
loop and every program it started.
"""
import argparse
import os
import signal
import socket


def parse_args():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--port-file")
    p.add_argument("--name", default="inetd")
    p.add_argument("program", nargs="+")
    return p.parse_args()


def main():
    args = parse_args()
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", args.port))
    listener.listen(64)
    port = listener.getsockname()[1]
    if args.port_file:
        with open(args.port_file + ".tmp", "w") as f:
            f.write("%d\n" % port)
        os.replace(args.port_file + ".tmp", args.port_file)
    print("%s: listening on 127.0.0.1:%d" % (args.name, port), flush=True)

    sessions = set()

    def reap(signum, frame):
        while True:
            try:
                pid, _ = os.waitpid(-1, os.WNOHANG)
            except ChildProcessError:
                return
            if pid == 0:
                return
            sessions.discard(pid)

    def stop(signum, frame):
        for pid in sessions:
            os.kill(pid, signal.SIGTERM)
        os._exit(0)

    signal.signal(signal.SIGCHLD, reap)
    signal.signal(signal.SIGTERM, stop)
    while True:
        connection, _ = listener.accept()
        # A session that ends at once is reaped only once it is known.
        signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGCHLD, signal.SIGTERM})
        pid = os.fork()
        if pid == 0:
            try:
                # The program starts as a fresh process would (Python ignores
                # SIGPIPE; vsftpd relies on its own SIGCHLD handling).
                for number in (signal.SIGCHLD, signal.SIGTERM, signal.SIGPIPE):
                    signal.signal(number, signal.SIG_DFL)
                signal.pthread_sigmask(signal.SIG_SETMASK, set())
                os.dup2(connection.fileno(), 0)
                os.dup2(connection.fileno(), 1)
                os.execv(args.program[0], args.program)
            finally:
                os._exit(127)
        sessions.add(pid)
        signal.pthread_sigmask(signal.SIG_UNBLOCK, {signal.SIGCHLD, signal.SIGTERM})
        connection.close()


if __name__ == "__main__":
    main()
