#!/usr/bin/env bash
# varnow packs for a Windows core, and that core expands the result under
# Wine: the same tree with its last-write times; varnow test takes the file.
#   varnow_windows_test.sh VARNOW CORE LOADER PREFIX STATUS KEY
# KEY (windows32 or windows64) is looked up in the Wine fixture's STATUS; a
# core that cannot run here exits 77, which ctest counts as skipped.
set -euo pipefail
varnow=$1 core=$2 loader=$3 prefix=$4 status=$5 key=$6
. "$(dirname "$0")/wine_case.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/src/tree/sub/deeper" "$work/src/tree/empty" "$work/out"
printf 'hello, world\n' > "$work/src/tree/hello.txt"
head -c 70000 /dev/urandom > "$work/src/tree/sub/random.bin"
for i in $(seq 1 400); do echo "line $i of a repeated text"; done > "$work/src/tree/sub/deeper/text.txt"
: > "$work/src/tree/sub/empty.txt"
touch -d '2021-03-04 05:06:07' "$work/src/tree/hello.txt" "$work/src/tree/sub/random.bin"
(cd "$work/src" && "$varnow" pack -q --core "$core" "$work/d.exe" tree)
"$varnow" test -q --core "$core" "$work/d.exe"
(cd "$work/out" && "$loader" ../d.exe < /dev/null > ../run.log 2>&1) || { cat "$work/run.log"; exit 1; }
diff -r "$work/src/tree" "$work/out/tree"
# Last-write times in the archive's 100-nanosecond steps.
times() { (cd "$1" && find . -type f -printf '%P %T@\n' | sed 's/[0-9][0-9][0-9]$//' | sort); }
diff <(times "$work/src/tree") <(times "$work/out/tree")
echo "$key core: $(grep -c '^expanding' "$work/run.log") files expanded, tree and times identical"
