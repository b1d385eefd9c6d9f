#!/bin/sh
# A virtual X display for the Windows tests that open windows under Wine,
# started on the Linux side as a CTest fixture: Xvfb picks a free display
# itself and names it in DIR/display. Wine's desktop process keeps the display
# it was started with: a prefix whose desktop started without one opens no
# windows until its wineserver ends.
#
#   xvfb.sh start DIR | xvfb.sh stop DIR | xvfb.sh run DIR PROGRAM...
set -eu
action=$1
dir=$2
case $action in
start)
  mkdir -p "$dir"
  rm -f "$dir/display" "$dir/pid"
  # A display the whole run already has (scripts/test-windows starts one
  # before Wine's desktop, which keeps the display it started with) is used.
  if [ -n "${DISPLAY:-}" ]; then
    echo "${DISPLAY#:}" >"$dir/display"
    echo "display $DISPLAY (the run's)"
    exit 0
  fi
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$dir/display.tmp" \
    </dev/null >"$dir/xvfb.out" 2>&1 &
  echo $! >"$dir/pid"
  while [ ! -s "$dir/display.tmp" ]; do
    if ! kill -0 "$(cat "$dir/pid")" 2>/dev/null; then cat "$dir/xvfb.out" >&2; exit 1; fi
    sleep 0.1
  done
  mv "$dir/display.tmp" "$dir/display"
  echo "display :$(cat "$dir/display")"
  ;;
stop)
  if [ -s "$dir/pid" ]; then kill "$(cat "$dir/pid")" 2>/dev/null || true; rm -f "$dir/pid"; fi
  ;;
run)
  shift 2
  DISPLAY=:$(cat "$dir/display")
  export DISPLAY
  exec "$@"
  ;;
*) echo "usage: $0 start|stop|run DIR ..." >&2; exit 2 ;;
esac
