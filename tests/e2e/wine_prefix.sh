#!/usr/bin/env bash
# Makes the Wine prefix of one test run and keeps a wineserver alive for it
# (setup), or stops that wineserver again (cleanup). Wine's own output goes to
# a log beside the prefix, so no background process holds the test's pipes.
set -euo pipefail
action=$1
prefix=$2
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
log=$prefix.log
case $action in
  setup)
    for tool in wine wineserver wineboot; do
      command -v "$tool" > /dev/null || { echo "$tool is not installed (scripts/setup installs wine)"; exit 1; }
    done
    mkdir -p "$prefix"
    : > "$log"
    # A wineserver already running for this prefix (an earlier run) is kept.
    wineserver -p < /dev/null >> "$log" 2>&1 || true
    if [ ! -f "$prefix/system.reg" ]; then
      wineboot -i < /dev/null >> "$log" 2>&1 || { cat "$log"; exit 1; }
    fi
    # A program that must run before the tests are worth starting.
    wine cmd /c exit 0 < /dev/null >> "$log" 2>&1 || { echo "wine cannot run a program"; cat "$log"; exit 1; }
    echo "Wine prefix ready: $prefix"
    ;;
  cleanup)
    wineserver -k < /dev/null >> "$log" 2>&1 || true
    echo "wineserver stopped"
    ;;
  *)
    echo "usage: wine_prefix.sh setup|cleanup PREFIX"
    exit 2
    ;;
esac
