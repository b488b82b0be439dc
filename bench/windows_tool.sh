#!/usr/bin/env bash
# windows_tool.sh: `varnow pack` against `varnow.exe pack` under wine64, at
# the default level, alternating run by run on the same corpus in tmpfs;
# prints the median wall time of each and their ratio, and checks that both
# made the same bytes (SOURCE_DATE_EPOCH set, so the times agree).
#
#   bench/windows_tool.sh [--build DIR] [--corpora DIR] [--runs N] [CORPUS...]
#
# CORPUS: a corpus name (default: docs large-text) under --corpora (default
# /dev/shm/corpora, made by ../shared/bench/make-corpora.sh). --build: the
# build folder holding tools/varnow/varnow and windows-tool/ (default build).
# Every run holds /tmp/varnow-timing.lock, as compare.sh does.
set -euo pipefail
export LC_ALL=C
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$ROOT/build
CORPORA=/dev/shm/corpora
RUNS=5
CHOSEN=()
while [ $# -gt 0 ]; do
  case $1 in
    --build) BUILD=$2; shift 2 ;;
    --corpora) CORPORA=$2; shift 2 ;;
    --runs) RUNS=$2; shift 2 ;;
    -*) echo "windows_tool.sh: unknown option $1" >&2; exit 1 ;;
    *) CHOSEN+=("$1"); shift ;;
  esac
done
[ ${#CHOSEN[@]} -gt 0 ] || CHOSEN=(docs large-text)
# The runs start in the corpus folders: a relative --build is made whole first.
BUILD=$(cd "$BUILD" && pwd)
linux=$BUILD/tools/varnow/varnow
windows=$BUILD/windows-tool/tools/varnow/varnow.exe
loader=/usr/lib/wine/wine64
for f in "$linux" "$windows" "$loader"; do [ -x "$f" ] || { echo "missing $f" >&2; exit 1; }; done

export WINEPREFIX=${WINEPREFIX:-/dev/shm/varnow-bench-wine} WINEDEBUG=-all WINELOADER=$loader
export WINEDLLOVERRIDES="mscoree,mshtml=" SOURCE_DATE_EPOCH=1600000000
unset DISPLAY WAYLAND_DISPLAY
work=$(mktemp -d /dev/shm/varnow-wintool.XXXXXX)
trap '/usr/lib/wine/wineserver -k 2> /dev/null || true; rm -rf "$work"' EXIT
/usr/lib/wine/wineserver -k 2> /dev/null || true  # no server left from elsewhere
"$loader" "$windows" --version > /dev/null  # the prefix made before any timing
/usr/lib/wine/wineserver -w
/usr/lib/wine/wineserver -p  # one server for all runs, as a user's session has

seconds() {  # the wall time of one command, under the timing lock
  local start end
  start=$(date +%s.%N)
  flock -o /tmp/varnow-timing.lock "$@" > /dev/null  # -o: Wine's services keep no lock
  end=$(date +%s.%N)
  echo "$end - $start" | bc
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

printf '%-12s %10s %12s %8s  %s\n' corpus "varnow s" "varnow.exe s" ratio "same bytes"
for corpus in "${CHOSEN[@]}"; do
  [ -d "$CORPORA/$corpus" ] || { echo "no corpus $CORPORA/$corpus" >&2; exit 1; }
  : > "$work/l.txt"
  : > "$work/w.txt"
  for _ in $(seq 1 "$RUNS"); do
    seconds sh -c "cd '$CORPORA' && '$linux' pack -q -f '$work/l.exe' '$corpus'" >> "$work/l.txt"
    seconds sh -c "cd '$CORPORA' && '$loader' '$windows' pack -q -f '$work/w.exe' '$corpus'" \
      >> "$work/w.txt"
  done
  l=$(median < "$work/l.txt")
  w=$(median < "$work/w.txt")
  same=$(cmp -s "$work/l.exe" "$work/w.exe" && echo yes || echo NO)
  printf '%-12s %10.3f %12.3f %8.2f  %s\n' "$corpus" "$l" "$w" "$(echo "$w / $l" | bc -l)" "$same"
done
