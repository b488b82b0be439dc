#!/usr/bin/env bash
# window-bound.sh: what Deflate -9 itself reaches on each corpus's tar stream
# with a 32 KiB window (as gzip -9) and with the 16 KiB window our archive
# format allows, as % of the corpus's file bytes: the share of a size gap to
# tar|gzip -9 that the window alone explains. Sizes only, no timing.
#
#   bench/window-bound.sh [--corpora DIR] [CORPUS...]   (default out/corpora, all five)
set -euo pipefail
export LC_ALL=C
ROOT=$(cd "$(dirname "$0")/.." && pwd)
CORPORA_DIR=$ROOT/out/corpora
CHOSEN=()
while [ $# -gt 0 ]; do
  case $1 in
    --corpora) CORPORA_DIR=$2; shift 2 ;;
    -h|--help) sed -n '2,7p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) CHOSEN+=("$1"); shift ;;
  esac
done
[ ${#CHOSEN[@]} -gt 0 ] || CHOSEN=(headers docs binaries large-text mixed-app)
printf '%-11s %12s %12s\n' corpus deflate32K% deflate16K%
for c in "${CHOSEN[@]}"; do
  src=$CORPORA_DIR/$c
  input=$(find "$src" -type f -printf '%s\n' | awk '{s += $1} END {print s + 0}')
  (cd "$src" && tar -cf - .) | python3 -c '
import sys, zlib
data = sys.stdin.buffer.read()
sizes = []
for bits in (15, 14):
    c = zlib.compressobj(9, zlib.DEFLATED, -bits, 9)
    sizes.append(len(c.compress(data) + c.flush()))
input = int(sys.argv[2])
print("%-11s %12.2f %12.2f" % (sys.argv[1], 100.0 * sizes[0] / input, 100.0 * sizes[1] / input))
' "$c" "$input"
done
