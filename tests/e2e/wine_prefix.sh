#!/usr/bin/env bash
# The Wine side of one test run. setup makes a 64-bit prefix (wine64 runs the
# 64-bit test build of the Windows core on any machine), keeps a wineserver
# alive for it, and finds out whether the 32-bit product core can run here as
# well: the kernel must run 32-bit programs and Wine's 32-bit loader must be
# installed. It writes what it found to STATUS, one line a core:
#   windows64 run
#   windows32 run | windows32 skip <the reason in plain words>
# and fails only when a core that should run cannot. cleanup stops the
# wineserver again. Wine's own output goes to a log beside the prefix, so no
# background process holds the test's pipes.
#   wine_prefix.sh setup PREFIX STATUS MARKER64 MARKER32 CAN_RUN_32BIT
#   wine_prefix.sh cleanup PREFIX
set -euo pipefail
action=$1
prefix=$2
wine32=/usr/lib/wine/wine
wine64=/usr/lib/wine/wine64
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
log=$prefix.log

# Runs a marker program in a scratch folder: it must leave marker.txt.
runs_marker() {
  local loader=$1 program=$2 scratch
  scratch=$(mktemp -d)
  cp "$program" "$scratch/marker.exe"
  (cd "$scratch" && if [ "$loader" = "$wine64" ]; then export WINELOADER=$wine64; fi &&
    "$loader" marker.exe < /dev/null >> "$log" 2>&1) || true
  local ran=1
  [ "$(cat "$scratch/marker.txt" 2>/dev/null)" = ran ] || ran=0
  rm -rf "$scratch"
  [ $ran = 1 ]
}

case $action in
  setup)
    status=$3 marker64=$4 marker32=$5 can_run_32bit=$6
    rm -f "$status"
    for tool in "$wine64" wineserver; do
      command -v "$tool" > /dev/null || { echo "$tool is not installed (scripts/setup installs wine64)"; exit 1; }
    done
    : > "$log"
    # A prefix is made whole before a wineserver is kept for it: a wineserver
    # alone writes registry files into a new prefix, which must not pass for
    # a finished one. A half-made prefix of an earlier run is made anew.
    if [ ! -f "$prefix/drive_c/windows/system32/kernel32.dll" ]; then
      wineserver -k < /dev/null >> "$log" 2>&1 || true
      rm -rf "$prefix"
      mkdir -p "$prefix"
      WINEARCH=win64 WINELOADER=$wine64 "$wine64" wineboot -i < /dev/null >> "$log" 2>&1 ||
        { cat "$log"; exit 1; }
    fi
    # A wineserver already running for this prefix (an earlier run) is kept.
    wineserver -p < /dev/null >> "$log" 2>&1 || true
    runs_marker "$wine64" "$marker64" ||
      { echo "wine64 cannot run a 64-bit program"; cat "$log"; exit 1; }
    echo "windows64 run" > "$status"
    echo "Windows core (64-bit test build): runs under wine64"

    if ! why=$("$can_run_32bit"); then
      reason=$why
    elif [ ! -x "$wine32" ] || ! "$wine32" --version >> "$log" 2>&1; then
      reason="Wine's 32-bit loader is not installed (wine32:i386; scripts/setup says why)"
    else
      reason=""
      runs_marker "$wine32" "$marker32" ||
        { echo "the kernel runs 32-bit programs, but Wine cannot run a 32-bit Windows program"; cat "$log"; exit 1; }
    fi
    if [ -z "$reason" ]; then
      echo "windows32 run" >> "$status"
      echo "Windows core (32-bit): runs under wine"
    else
      echo "windows32 skip $reason" >> "$status"
      echo "Windows core (32-bit): not run on this machine: $reason"
    fi
    ;;
  cleanup)
    wineserver -k < /dev/null >> "$log" 2>&1 || true
    echo "wineserver stopped"
    ;;
  *)
    echo "usage: wine_prefix.sh setup PREFIX STATUS MARKER64 MARKER32 CAN_RUN_32BIT | cleanup PREFIX"
    exit 2
    ;;
esac
