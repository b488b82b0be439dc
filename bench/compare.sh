#!/usr/bin/env bash
# compare.sh: packs each benchmark corpus with `varnow pack` (levels 1, default
# and 9, the default also with --threads 1) and with zip -9, tar|gzip -9, 7z
# (Deflate -9) and, with --xz, tar|xz -9; then expands with the Linux core,
# `varnow extract`, unzip and unzipsfx, checking every expanded tree against
# its source. Prints size, ratio, wall time and peak memory, then a summary per
# corpus: each level's size beside zip -9 and tar|gzip -9 and its speed as a
# multiple of zip -9's and of 7z Deflate -9's.
#
#   bench/compare.sh [--varnow FILE] [--varnow-before FILE] [--corpora DIR] [--work DIR]
#                    [--subset N] [--xz] [CORPUS...]
#
# CORPUS: a corpus name (headers docs binaries large-text mixed-app; default all
# five) or a folder of one's own. The corpora come from
# ../shared/bench/make-corpora.sh beside the checkout, cached in DIR (default
# out/corpora) and rebuilt only when a manifest there is not identical to the
# reference one. --varnow-before: an older varnow measured in the same run
# (its packs only), for before/after tables. Every timed command holds
# /tmp/varnow-timing.lock (flock), so timings on a shared machine never overlap.
# --subset N: only the first N files of each corpus, each cut to 1 MiB, for a
# quick check that everything works. Needs scripts/setup-bench's tools.
set -euo pipefail
export LC_ALL=C

ROOT=$(cd "$(dirname "$0")/.." && pwd)
SHARED_BENCH=${SHARED_BENCH:-$(cd "$ROOT/.." && pwd)/shared/bench}
CORPORA_DIR=$ROOT/out/corpora
VARNOW=${VARNOW:-}
BEFORE=
WITH_XZ=0
TIMING_LOCK=${TIMING_LOCK:-/tmp/varnow-timing.lock}
WORK_PARENT=${TMPDIR:-/tmp}
SUBSET=0
ALL_CORPORA=(headers docs binaries large-text mixed-app)
CHOSEN=()

die() { echo "compare.sh: $*" >&2; exit 1; }
while [ $# -gt 0 ]; do
  case $1 in
    --varnow) VARNOW=$2; shift 2 ;;
    --varnow-before) BEFORE=$2; shift 2 ;;
    --xz) WITH_XZ=1; shift ;;
    --corpora) CORPORA_DIR=$2; shift 2 ;;
    --work) WORK_PARENT=$2; shift 2 ;;
    --subset) SUBSET=$2; shift 2 ;;
    -h|--help) sed -n '2,22p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) die "unknown option $1" ;;
    *) CHOSEN+=("$1"); shift ;;
  esac
done
[ ${#CHOSEN[@]} -gt 0 ] || CHOSEN=("${ALL_CORPORA[@]}")

# ---------------------------------------------------------------- tools
if [ -z "$VARNOW" ]; then
  # This folder's own build first, else the newest build of any folder.
  for f in "$ROOT"/build-bench/varnow "$ROOT"/build-bench/tools/varnow/varnow \
           $(ls -t "$ROOT"/build*/varnow "$ROOT"/build*/tools/varnow/varnow 2>/dev/null || true); do
    if [ -f "$f" ] && [ -x "$f" ]; then VARNOW=$f; break; fi
  done
fi
[ -n "$VARNOW" ] && [ -x "$VARNOW" ] || die "no varnow program; build it or give --varnow FILE"
VARNOW=$(cd "$(dirname "$VARNOW")" && pwd)/$(basename "$VARNOW")
if [ -n "$BEFORE" ]; then
  [ -x "$BEFORE" ] || die "--varnow-before $BEFORE is not a program"
  BEFORE=$(cd "$(dirname "$BEFORE")" && pwd)/$(basename "$BEFORE")
fi
for c in zip unzip unzipsfx 7z xz gzip tar flock /usr/bin/time diff; do
  command -v "$c" >/dev/null || die "$c is missing (run scripts/setup-bench)"
done
UNZIPSFX=$(command -v unzipsfx)

# ---------------------------------------------------------------- corpora
corpora_identical() {
  local c
  for c in "${ALL_CORPORA[@]}"; do
    [ -d "$CORPORA_DIR/$c" ] && cmp -s "$CORPORA_DIR/$c.manifest" "$SHARED_BENCH/manifests/$c.manifest" || return 1
  done
}
need_corpora=0
for c in "${CHOSEN[@]}"; do [ -d "$c" ] || need_corpora=1; done
if [ $need_corpora = 1 ]; then
  if corpora_identical; then
    echo "corpora: reusing $CORPORA_DIR (manifests IDENTICAL to the reference)" >&2
  else
    echo "corpora: building $CORPORA_DIR with make-corpora.sh" >&2
    "$SHARED_BENCH/make-corpora.sh" "$CORPORA_DIR" >&2 || die "make-corpora.sh failed or a manifest differs"
  fi
fi

WORK=$(mktemp -d "$WORK_PARENT/varnow-compare-XXXXXX")
trap 'rm -rf "$WORK"' EXIT
TABLE=$WORK/table.txt
: > "$TABLE"

# ---------------------------------------------------------------- measuring
# measure DIR LOG CMD...: runs CMD in DIR with stdin from /dev/null and its
# output to LOG; sets WALL (seconds), CPU (user and system seconds of all its
# processes; on a shared machine wall time is also the others' load, this is
# not) and PEAK (KiB, the largest process of it).
measure() {
  local dir=$1 log=$2; shift 2
  local t0 t1 rc=0
  # The lock is taken before the clock starts; time's own clock reads the wall.
  (cd "$dir" && flock "$TIMING_LOCK" /usr/bin/time -f '%e %M %U %S' -o "$WORK/time.out" "$@" \
    < /dev/null > "$log" 2>&1) || rc=$?
  WALL=$(tail -1 "$WORK/time.out" | awk '{print $1}')
  PEAK=$(tail -1 "$WORK/time.out" | awk '{print $2}')
  CPU=$(tail -1 "$WORK/time.out" | awk '{printf "%.2f", $3 + $4}')
  if [ $rc != 0 ]; then
    echo "compare.sh: failed ($rc): $*" >&2
    tail -5 "$log" >&2
    return 1
  fi
}
# row CORPUS TOOL FILE CHECK: one line of the table.
row() {
  local size
  size=$(stat -c %s "$3")
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$1" "$2" "$size" \
    "$(awk -v s="$size" -v i="$INPUT_BYTES" 'BEGIN {printf "%.4f", s / i}')" \
    "$(printf '%.2f' "$WALL")" "$PEAK" "$CPU" "$4" | tee -a "$TABLE" >&2
}
# pack CORPUS TOOL FILE CMD...: runs the packing CMD in the corpus folder.
pack() {
  local corpus=$1 tool=$2 file=$3; shift 3
  if measure "$SRC" "$WORK/log" "$@"; then row "$corpus" "$tool" "$file" ""
  else
    printf '%s\t%s\t-\t-\t-\t-\t-\tFAILED\n' "$corpus" "$tool" | tee -a "$TABLE" >&2
    return 1
  fi
}
# check SOURCE TREE: "ok" when the expanded tree holds the same files with the same bytes.
check() {
  if diff -r -q "$1" "$2" > "$WORK/diff.out" 2>&1; then echo ok
  else echo "DIFFERS($(wc -l < "$WORK/diff.out"))"; head -3 "$WORK/diff.out" >&2; fi
}
# expand CORPUS TOOL FILE CMD...: runs CMD in a new empty folder, then checks it.
expand() {
  local corpus=$1 tool=$2 file=$3; shift 3
  local dest=$WORK/x
  rm -rf "$dest"; mkdir "$dest"
  if measure "$dest" "$WORK/log" "$@"; then row "$corpus" "$tool" "$file" "$(check "$SRC" "$dest")"
  else WALL=0; PEAK=-; CPU=-; row "$corpus" "$tool" "$file" FAILED; fi
  rm -rf "$dest"
}

# ---------------------------------------------------------------- per corpus
for c in "${CHOSEN[@]}"; do
  if [ -d "$c" ]; then SRC=$(cd "$c" && pwd); NAME=$(basename "$SRC")
  else SRC=$CORPORA_DIR/$c; NAME=$c; [ -d "$SRC" ] || die "no corpus $c"; fi
  if [ "$SUBSET" -gt 0 ]; then
    sub=$WORK/subset/$NAME
    (cd "$SRC" && find . -type f | sort | awk -v n="$SUBSET" 'NR <= n') | while IFS= read -r f; do
      mkdir -p "$sub/$(dirname "$f")"
      head -c 1048576 "$SRC/$f" > "$sub/$f"
      touch -r "$SRC/$f" "$sub/$f"
    done
    SRC=$sub
  fi
  INPUT_BYTES=$(find "$SRC" -type f -printf '%s\n' | awk '{s += $1} END {print s + 0}')
  FILES=$(find "$SRC" -type f | wc -l)
  echo "== $NAME: $FILES files, $INPUT_BYTES bytes" >&2
  # Every tool gets the same top-level names, relative to the corpus folder.
  mapfile -t TOP < <(cd "$SRC" && ls -A)
  A=$WORK/a; rm -rf "$A"; mkdir "$A"

  v9=0 zipped=0
  if [ -n "$BEFORE" ]; then
    for level in 1 default 9; do
      opt=(); [ $level = default ] || opt=(--level $level)
      pack "$NAME" "before -$level" "$A/b$level.run" \
        "$BEFORE" pack --target linux "${opt[@]}" -q "$A/b$level.run" "${TOP[@]}" || true
      rm -f "$A/b$level.run"
    done
    pack "$NAME" "before -default -t1" "$A/b1t.run" \
      "$BEFORE" pack --target linux --threads 1 -q "$A/b1t.run" "${TOP[@]}" || true
    rm -f "$A/b1t.run"
  fi
  for level in 1 default 9; do
    opt=(); [ $level = default ] || opt=(--level $level)
    if ! pack "$NAME" "varnow pack -$level" "$A/v$level.run" \
      "$VARNOW" pack --target linux "${opt[@]}" -q "$A/v$level.run" "${TOP[@]}"; then
      if [ $level = 9 ]; then v9=1; fi
    fi
    [ $level = 9 ] || rm -f "$A/v$level.run"
  done
  pack "$NAME" "varnow pack -default -t1" "$A/vt.run" \
    "$VARNOW" pack --target linux --threads 1 -q "$A/vt.run" "${TOP[@]}" || true
  rm -f "$A/vt.run"
  # The coding alone, without the verify pass that decodes the new file.
  pack "$NAME" "varnow -1 --no-verify" "$A/vn.run" \
    "$VARNOW" pack --target linux --level 1 --no-verify -q "$A/vn.run" "${TOP[@]}" || true
  rm -f "$A/vn.run"
  pack "$NAME" "zip -9 -r" "$A/z.zip" zip -9 -r -q "$A/z.zip" "${TOP[@]}" || zipped=1
  pack "$NAME" "tar | gzip -9" "$A/t.tar.gz" \
    sh -c 'tar -cf - "$@" | gzip -9 > "$0"' "$A/t.tar.gz" "${TOP[@]}" || true
  pack "$NAME" "7z -mm=Deflate -mx=9" "$A/s.7z" \
    7z a -bd -bso0 -bsp0 -mm=Deflate -mx=9 "$A/s.7z" "${TOP[@]}" || true
  if [ $WITH_XZ = 1 ]; then
    pack "$NAME" "tar | xz -9" "$A/t.tar.xz" \
      sh -c 'tar -cf - "$@" | xz -9 > "$0"' "$A/t.tar.xz" "${TOP[@]}" || true
  fi

  if [ $v9 = 0 ]; then
    chmod +x "$A/v9.run"
    expand "$NAME" "Linux core (-9 file)" "$A/v9.run" "$A/v9.run"
    expand "$NAME" "varnow extract (-9)" "$A/v9.run" "$VARNOW" extract "$A/v9.run" -C .
  fi
  if [ $zipped = 0 ]; then
    expand "$NAME" "unzip" "$A/z.zip" unzip -q "$A/z.zip"
    cat "$UNZIPSFX" "$A/z.zip" > "$A/z.sfx"
    zip -A -q "$A/z.sfx"
    chmod +x "$A/z.sfx"
    expand "$NAME" "unzipsfx" "$A/z.sfx" "$A/z.sfx"
  fi
  rm -rf "$A"
done

# ---------------------------------------------------------------- table
echo
echo "varnow: $VARNOW"
[ -z "$BEFORE" ] || echo "before: $BEFORE"
echo "ratio = size / input size; wall in seconds; peak = largest resident set of one process (KiB); cpu = user + system seconds"
echo "expansion rows: size of the file expanded; check = expanded tree equals the source"
printf '%-11s %-24s %11s %7s %8s %8s %8s  %s\n' corpus tool size ratio wall peakKiB cpu check
while IFS=$'\t' read -r corpus tool size ratio wall peak cpu chk; do
  printf '%-11s %-24s %11s %7s %8s %8s %8s  %s\n' "$corpus" "$tool" "$size" "$ratio" "$wall" "$peak" "$cpu" "$chk"
done < "$TABLE"

# ---------------------------------------------------------------- summary
# Per corpus and varnow row: size in % of the input (core included), and the
# differences to zip -9 and tar|gzip -9 in points (negative: smaller); wall
# seconds, MiB of input per second, and speed as a multiple of zip -9's and of
# 7z Deflate -9's (above 1: faster).
echo
echo "summary: size % of input; vs zip/tgz in points (negative = smaller); speed x = peer wall / own wall"
printf '%-11s %-24s %7s %8s %8s %8s %8s %8s %8s %9s %7s\n' corpus tool size% vsZip vsTgz wall MiB/s xZip9 x7zDefl peakKiB cpu
awk -F'\t' '
  { key = $1 SUBSEP $2; size[key] = $3; ratio[key] = $4; wall[key] = $5; peak[key] = $6; cpu[key] = $7
    if (!($1 in seen)) { seen[$1] = 1; order[++n] = $1 }
    if ($2 ~ /^(varnow|before)/ && $2 !~ /\(/) rows[$1] = rows[$1] "\t" $2 }
  END {
    for (i = 1; i <= n; i++) {
      c = order[i]; m = split(substr(rows[c], 2), tools, "\t")
      zk = c SUBSEP "zip -9 -r"; gk = c SUBSEP "tar | gzip -9"; sk = c SUBSEP "7z -mm=Deflate -mx=9"
      for (j = 1; j <= m; j++) {
        k = c SUBSEP tools[j]
        if (size[k] == "-") { printf "%-11s %-24s FAILED\n", c, tools[j]; continue }
        input = size[k] / ratio[k]
        printf "%-11s %-24s %7.2f %+8.2f %+8.2f %8.2f %8.2f %8.2f %8.2f %9s %7s\n", c, tools[j],
          100 * ratio[k], 100 * (ratio[k] - ratio[zk]), 100 * (ratio[k] - ratio[gk]), wall[k],
          input / 1048576 / (wall[k] > 0 ? wall[k] : 0.001), wall[zk] / (wall[k] > 0 ? wall[k] : 0.001),
          wall[sk] / (wall[k] > 0 ? wall[k] : 0.001), peak[k], cpu[k]
      }
      for (t = 1; t <= 3; t++) {
        name = t == 1 ? "zip -9 -r" : t == 2 ? "tar | gzip -9" : "7z -mm=Deflate -mx=9"
        k = c SUBSEP name
        if (!(k in size) || size[k] == "-") continue
        input = size[k] / ratio[k]
        printf "%-11s %-24s %7.2f %8s %8s %8.2f %8.2f %8.2f %8.2f %9s %7s\n", c, name, 100 * ratio[k], "", "",
          wall[k], input / 1048576 / (wall[k] > 0 ? wall[k] : 0.001), wall[zk] / (wall[k] > 0 ? wall[k] : 0.001),
          wall[sk] / (wall[k] > 0 ? wall[k] : 0.001), peak[k], cpu[k]
      }
    }
  }' "$TABLE"
