"""What the test FTP servers of scripts/services share: the update server's
account, the command line and the port file that tells a caller the server
listens."""
import argparse
import os

USER = "korva"
PASSWORD = "K7p3R#"


def argument_parser(description):
    p = argparse.ArgumentParser(description=description)
    p.add_argument("--root", required=True, help="folder served as /")
    p.add_argument("--port", type=int, default=0, help="0: any free port")
    p.add_argument("--port-file", help="written with the port once listening")
    p.add_argument("--log", help="command log, one received line per line")
    return p


def announce_port(port_file, port):
    """Writes the port beside the file and renames it over, so a caller never
    reads half of it."""
    if not port_file:
        return
    tmp = port_file + ".tmp"
    with open(tmp, "w") as f:
        f.write("%d\n" % port)
    os.replace(tmp, port_file)
