#!/bin/sh
# The real FTP servers of the Windows build's transfer tests, started on the
# Linux side (a Windows program under Wine cannot start Linux programs) as a
# CTest fixture: each in a folder of DIR with its served root, the port it
# bound itself (the port file), its command log and its process id.
#
#   ftp_servers.sh start DIR | ftp_servers.sh stop DIR
set -eu
action=$1
dir=$2
services=$(cd "$(dirname "$0")/../../scripts/services" && pwd)
kinds="pyftpdlib twisted"

stop() {
  for kind in $kinds; do
    if [ -s "$dir/$kind/pid" ]; then
      kill "$(cat "$dir/$kind/pid")" 2>/dev/null || true
      rm -f "$dir/$kind/pid"
    fi
  done
}

case $action in
start)
  stop
  for kind in $kinds; do
    script=ftp-server.py
    [ "$kind" = twisted ] && script=twisted-ftp.py
    rm -rf "${dir:?}/$kind"
    mkdir -p "$dir/$kind/root"
    # Output to files and no terminal: CTest waits for this script's pipes.
    /usr/bin/python3 "$services/$script" --root "$dir/$kind/root" \
      --port-file "$dir/$kind/port" --log "$dir/$kind/commands.log" \
      </dev/null >"$dir/$kind/server.out" 2>&1 &
    echo $! >"$dir/$kind/pid"
  done
  # Each server names its port once it listens; one that exits first failed.
  for kind in $kinds; do
    while [ ! -s "$dir/$kind/port" ]; do
      if ! kill -0 "$(cat "$dir/$kind/pid")" 2>/dev/null; then
        cat "$dir/$kind/server.out" >&2
        stop
        exit 1
      fi
      sleep 0.1
    done
    echo "$kind: port $(cat "$dir/$kind/port")"
  done
  ;;
stop) stop ;;
*) echo "usage: $0 start|stop DIR" >&2; exit 2 ;;
esac
