#!/bin/sh
# Runs a Windows program under Wine with the prefix's system DPI (LogPixels,
# what a Windows user sets as 150 % scaling) at another value, and puts the
# prefix's own value back afterwards whatever happens. CTest runs it alone
# (RUN_SERIAL): every program Wine starts meanwhile would take that DPI.
#
#   at_system_dpi.sh DPI WINE PROGRAM [ARGUMENTS...]
set -eu
dpi=$1
wine=$2
shift 2
key='HKCC\Software\Fonts'
before=$("$wine" reg query "$key" /v LogPixels 2>/dev/null | awk '$1 == "LogPixels" { print $3 }' | tr -d '\r')
before=$(printf '%d' "${before:-0x60}")
put() { "$wine" reg add "$key" /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1; }
trap 'put "$before"' EXIT
put "$dpi"
KORVA_EXPECT_DPI=$dpi "$wine" "$@"
