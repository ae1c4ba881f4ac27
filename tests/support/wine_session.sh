#!/bin/sh
# Starts the Wine session that the Windows tests run in: the prefix (made on
# first use), a Wine server that stays 30 s after its last program, and the
# prefix's service processes. The first Wine program of a session starts
# those services and they inherit its standard handles; started from a test
# program they would hold ctest's output pipe open and ctest would wait for
# them until its time-out. Started here, they hold /dev/null.
# A server that is already running (scripts/test keeps one) is kept as it is.
# $1: the Wine loader of the build's programs (default: wine).
loader=${1:-wine}
exec </dev/null >/dev/null 2>&1
prefix=${WINEPREFIX:-$HOME/.wine}
if [ ! -f "$prefix/system.reg" ]; then
  "$loader" cmd /c exit
  wineserver -w
fi
wineserver -p30
"$loader" cmd /c exit
