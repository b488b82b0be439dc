#!/usr/bin/env bash
# expand.sh: expansion speed against peers. For each corpus, packs the tree
# once per tool (varnow -9 with the Linux core, tar | gzip -9, tar | zstd -19,
# zip -9), then expands it into an empty folder on tmpfs with the Linux core,
# `varnow extract`, `tar -xzf`, `tar --zstd -xf` and `unzip`, the tools taking
# turns round by round, and prints the median wall time of each, its speed in
# MiB of original data per second and its ratio to tar + gzip -d. Every tool's
# first expansion is compared with the source tree. A second varnow (--before)
# adds its own core and extract to the same rounds, for before-and-after
# tables from one run. --wine also times the Windows core under Wine on the
# first corpus, beside the Linux core.
#
#   bench/expand.sh [--varnow FILE] [--before FILE] [--corpora DIR] [--work DIR]
#                   [--rounds N] [--wine] [CORPUS...]
set -euo pipefail
export LC_ALL=C

ROOT=$(cd "$(dirname "$0")/.." && pwd)
SHARED_BENCH=$ROOT/../shared/bench
VARNOW=$ROOT/build/tools/varnow/varnow
BEFORE=""
CORPORA=/dev/shm/corpora
WORK_PARENT=/dev/shm
ROUNDS=5
WINE=0
CHOSEN=()
die() { echo "expand.sh: $*" >&2; exit 1; }
while [ $# -gt 0 ]; do
  case $1 in
    --varnow) VARNOW=$2; shift 2 ;;
    --before) BEFORE=$2; shift 2 ;;
    --corpora) CORPORA=$2; shift 2 ;;
    --work) WORK_PARENT=$2; shift 2 ;;
    --rounds) ROUNDS=$2; shift 2 ;;
    --wine) WINE=1; shift ;;
    -h|--help) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) die "unknown option $1" ;;
    *) CHOSEN+=("$1"); shift ;;
  esac
done
[ ${#CHOSEN[@]} -gt 0 ] || CHOSEN=(docs headers binaries mixed-app large-text)
[ -x "$VARNOW" ] || die "no varnow at $VARNOW; build it or give --varnow FILE"
for c in tar gzip zstd zip unzip diff; do command -v $c >/dev/null || die "$c is missing (scripts/setup-bench)"; done
if [ ! -d "$CORPORA/${CHOSEN[0]}" ]; then
  "$SHARED_BENCH/make-corpora.sh" "$CORPORA" >&2 || die "make-corpora.sh failed"
fi

WORK=$(mktemp -d "$WORK_PARENT/varnow-expand-XXXXXX")
trap 'rm -rf "$WORK"' EXIT
OUT=$WORK/out

# run_in_empty CMD...: runs CMD in an empty $OUT, prints its wall seconds.
run_in_empty() {
  rm -rf "$OUT"; mkdir "$OUT"
  local t0 t1
  t0=$(date +%s%N)
  (cd "$OUT" && "$@" < /dev/null > /dev/null 2> "$WORK/err") || { cat "$WORK/err" >&2; die "failed: $*"; }
  t1=$(date +%s%N)
  echo "scale=4; ($t1 - $t0) / 1000000000" | bc
}
median() { sort -n | awk '{a[NR] = $1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }

printf '%-11s %-26s %9s %9s %8s\n' corpus tool median_s MiB/s vs_gzip
for corpus in "${CHOSEN[@]}"; do
  SRC=$CORPORA/$corpus
  [ -d "$SRC" ] || die "no corpus $SRC"
  BYTES=$(find "$SRC" -type f -printf '%s\n' | awk '{s += $1} END {print s}')
  A=$WORK/a; rm -rf "$A"; mkdir "$A"
  mapfile -t TOP < <(cd "$SRC" && ls -A)
  (cd "$SRC" && "$VARNOW" pack --target linux --level 9 -q "$A/v.run" "${TOP[@]}")
  (cd "$SRC" && tar -cf - "${TOP[@]}" | gzip -9 > "$A/t.tgz")
  (cd "$SRC" && tar -cf - "${TOP[@]}" | zstd -q -19 -T0 > "$A/t.tzst")
  (cd "$SRC" && zip -q -9 -r "$A/z.zip" "${TOP[@]}")
  NAMES=("Linux core" "varnow extract" "tar + gzip -d" "tar + zstd -d" "unzip")
  CMDS=("$A/v.run" "$VARNOW extract $A/v.run" "tar -xzf $A/t.tgz" "tar --zstd -xf $A/t.tzst"
        "unzip -q $A/z.zip")
  if [ -n "$BEFORE" ]; then
    (cd "$SRC" && "$BEFORE" pack --target linux --level 9 -q "$A/b.run" "${TOP[@]}")
    NAMES+=("Linux core (before)" "varnow extract (before)")
    CMDS+=("$A/b.run" "$BEFORE extract $A/b.run")
  fi
  if [ $WINE = 1 ] && [ "$corpus" = "${CHOSEN[0]}" ]; then
    . "$ROOT/scripts/lib/wine.sh"
    wine_choose "$ROOT/build"
    (cd "$SRC" && "$VARNOW" pack --core "$WINE_CORE" --level 9 -q "$A/v.exe" "${TOP[@]}")
    wine_prefix "$WORK/wineprefix" || die "wineboot failed"
    NAMES+=("$WINE_CORE_NAME under Wine")
    CMDS+=("$WINE_LOADER $A/v.exe")
  fi
  chmod +x "$A"/*.run
  declare -A times=()
  for ((round = 0; round < ROUNDS; round++)); do
    for i in "${!CMDS[@]}"; do
      # shellcheck disable=SC2086
      t=$(run_in_empty ${CMDS[$i]})
      times[$i]+="$t "
      if [ $round = 0 ] && ! diff -r -q "$SRC" "$OUT" > "$WORK/diff" 2>&1; then
        die "${NAMES[$i]} on $corpus: the expanded tree differs ($(head -1 "$WORK/diff"))"
      fi
    done
  done
  gzip_median=$(echo "${times[2]}" | tr ' ' '\n' | grep . | median)
  for i in "${!CMDS[@]}"; do
    m=$(echo "${times[$i]}" | tr ' ' '\n' | grep . | median)
    printf '%-11s %-26s %9.3f %9.1f %8.2f\n' "$corpus" "${NAMES[$i]}" "$m" \
      "$(echo "$BYTES / 1048576 / $m" | bc -l)" "$(echo "$m / $gzip_median" | bc -l)"
  done
  unset times
done
echo "median of $ROUNDS rounds, tools taking turns; MiB/s of original data; vs_gzip: wall time / tar + gzip -d's (below 1 is faster)"
