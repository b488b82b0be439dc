#!/usr/bin/env bash
# The largest file the format holds, 2^31 - 1 bytes, packs at levels 1, 6
# and 9 and comes out exactly, through the Linux core and through varnow
# extract, checked by SHA-256; each pack (two threads, with its verify) stays
# under 512 MiB of peak resident memory, measured by GNU time. The source is
# sparse (all zeros), which the format allows and keeps the test to a few
# minutes; it needs some 2 GiB of free disk for each expanded copy, one at a
# time. Labelled slow.
#   largest_file_test.sh VARNOW
set -euo pipefail
varnow=$1
[ -x /usr/bin/time ] || { echo "GNU time (/usr/bin/time) is missing; scripts/setup installs it"; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/varnow-largest.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir src
truncate -s 2147483647 src/largest.bin
want=$(sha256sum < src/largest.bin | cut -d' ' -f1)
digest() { sha256sum < "$1" | cut -d' ' -f1; }
failed=0
for level in 1 6 9; do
  start=$(date +%s)
  /usr/bin/time -f %M -o peak.txt \
    "$varnow" pack -q --threads 2 --level "$level" --target linux o.run src/largest.bin
  peak=$(tail -1 peak.txt)
  if [ "$peak" -ge $((512 * 1024)) ]; then
    echo "level $level: pack took $peak KiB of resident memory, 512 MiB or more"; failed=1
  fi
  mkdir core
  if ! (cd core && ../o.run < /dev/null > ../core.log 2>&1); then
    echo "level $level: the Linux core failed:"; tail -5 core.log; failed=1
  elif [ "$(digest core/largest.bin)" != "$want" ]; then
    echo "level $level: the Linux core expanded other bytes"; failed=1
  fi
  rm -rf core
  "$varnow" extract -q -C extracted o.run
  if [ "$(digest extracted/largest.bin)" != "$want" ]; then
    echo "level $level: varnow extract wrote other bytes"; failed=1
  fi
  echo "level $level: $(stat -c %s o.run)-byte distributable, pack's peak $peak KiB," \
    "$(( $(date +%s) - start )) s"
  rm -rf extracted o.run
done
exit $failed
