#!/usr/bin/env bash
# A signed Windows distributable still expands, and expands the same bytes.
# varnow packs for a Windows core; osslsigncode signs the result with a
# throwaway self-signed certificate made here and verifies it; the core
# expands the signed file under Wine (the same tree and times), and a file
# signed twice (nested) as well. The core packed as a file at -9, whose data
# draws on the whole core image, comes out exactly after signing. Any other
# excess (one byte more, an entry that points elsewhere, padding that is not
# zero) is refused as before, and a damaged block is reported as broken.
#   varnow_signed_test.sh VARNOW CORE LOADER PREFIX STATUS KEY
# KEY (windows32 or windows64) is looked up in the Wine fixture's STATUS; a
# core that cannot run here exits 77, which ctest counts as skipped.
set -euo pipefail
varnow=$1 core=$2 loader=$3 prefix=$4 status=$5 key=$6
. "$(dirname "$0")/wine_case.sh"
for tool in osslsigncode openssl; do
  command -v $tool > /dev/null || { echo "$tool is not installed (scripts/setup installs it)"; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

fail() { echo "FAIL ($key): $*"; exit 1; }
larger="This file is larger than original file.  This file might be infected with virus.  Cannot expand.  Press ENTER key."
le32() { od -An -tu4 -j"$2" -N4 "$1" | tr -d ' '; }
put32() {  # FILE OFFSET VALUE: a little-endian 32-bit number written in place
  printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $(($3 & 255)) $(($3 >> 8 & 255)) $(($3 >> 16 & 255)) $(($3 >> 24 & 255)))" |
    dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}
# The image offset of the certificate-table entry: data directory entry 4 of
# the PE32 (magic 267) or PE32+ (magic 523) optional header.
entry_at() {
  local pe magic
  pe=$(le32 "$1" 60)
  magic=$(od -An -tu2 -j$((pe + 24)) -N2 "$1" | tr -d ' ')
  if [ "$magic" = 523 ]; then echo $((pe + 24 + 112 + 32)); else echo $((pe + 24 + 96 + 32)); fi
}
# Runs FILE under Wine in a fresh folder DIR; the exit code is left in rc,
# the console in DIR.log.
run() {
  rm -rf "$2" && mkdir -p "$2"
  set +e
  (cd "$2" && "$loader" "$work/$1" < /dev/null > "$work/$2.log" 2>&1)
  rc=$?
  set -e
}
times() { (cd "$1" && find . -type f -printf '%P %T@\n' | sed 's/[0-9][0-9][0-9]$//' | sort); }
same_tree() {
  diff -r "$1" "$2" || fail "$3: the expanded tree differs"
  diff <(times "$1") <(times "$2") || fail "$3: the expanded times differ"
}
sign() {  # IN OUT [-nest]
  osslsigncode sign -certs c.pem -key k.pem -n "Varnow signing test" ${3:-} -in "$1" -out "$2" \
    > "$2.sign.log" 2>&1 || { cat "$2.sign.log"; fail "osslsigncode could not sign $1"; }
}
verify() {
  osslsigncode verify -CAfile c.pem "$1" > "$1.verify.log" 2>&1 ||
    { cat "$1.verify.log"; fail "osslsigncode does not verify $1"; }
}
refused() {  # NAME FILE: the core refuses it as larger, exit 1
  run "$2" "out-$1"
  [ $rc = 1 ] || { cat "out-$1.log"; fail "$1: exit $rc, not 1"; }
  grep -qF "$larger" "out-$1.log" || { cat "out-$1.log"; fail "$1: not the message of a larger file"; }
  [ -z "$(ls -A "out-$1")" ] || fail "$1: something was expanded"
  echo "$1: refused, exit $rc: $(grep -F "larger" "out-$1.log" | tr -d '\a\r')"
}

mkdir -p src/tree/sub/deeper src/tree/empty
printf 'hello, world\n' > src/tree/hello.txt
head -c 70000 /dev/urandom > src/tree/sub/random.bin
for i in $(seq 1 400); do echo "line $i of a repeated text"; done > src/tree/sub/deeper/text.txt
: > src/tree/sub/empty.txt
touch -d '2021-03-04 05:06:07' src/tree/hello.txt src/tree/sub/random.bin
# A comment long enough that the archive does not end on a multiple of 8:
# signing then pads it with zero bytes, which one refusal below alters.
comment=""
while :; do
  (cd src && "$varnow" pack -q -f --core "$core" --comment "$comment" "$work/d.exe" tree)
  [ $(($(stat -c %s d.exe) % 8)) = 0 ] || break
  comment+="."
done
openssl req -x509 -newkey rsa:2048 -nodes -keyout k.pem -out c.pem -days 30 \
  -subj "/CN=Varnow Test Publisher" > openssl.log 2>&1 || { cat openssl.log; fail "openssl"; }

sign d.exe s.exe
verify s.exe
size=$(stat -c %s d.exe) signed=$(stat -c %s s.exe)
entry=$(entry_at s.exe)
table=$(le32 s.exe $((entry + 4)))
[ "$(le32 s.exe "$entry")" = $(((size + 7) / 8 * 8)) ] || fail "the table is not where expected"
[ $((signed)) = $(((size + 7) / 8 * 8 + table)) ] || fail "the signed file is not the table longer"
echo "signed: $size -> $signed bytes, certificate table of $table bytes at $(le32 s.exe "$entry");" \
  "osslsigncode verify: $(grep -E 'Signature verification|Succeeded|signature' s.exe.verify.log | tr '\n' ' ')"

"$varnow" test --core "$core" s.exe > test.log || { cat test.log; fail "varnow test refuses the signed file"; }
grep -q "signed: certificate table of $table bytes (not verified here)" test.log || fail "varnow test: $(cat test.log)"
"$varnow" list --core "$core" s.exe > list.log
grep -qx "signed:    certificate table of $table bytes (not verified here)" list.log || fail "varnow list: $(cat list.log)"
"$varnow" list --json --core "$core" s.exe > list.json
grep -qF "\"signed\": \"certificate table of $table bytes (not verified here)\", \"certificate_table_bytes\": $table" list.json ||
  fail "varnow list --json: $(head -c 600 list.json)"

run s.exe out-signed
[ $rc = 0 ] || { cat out-signed.log; fail "the signed file does not expand (exit $rc)"; }
same_tree src/tree out-signed/tree "signed"
echo "signed file expands under $(basename "$loader"): $(grep -c '^expanding' out-signed.log) files, tree and times identical"

# A second signature nested in the first: the table grows, the entry follows.
sign s.exe n.exe -nest
verify n.exe
[ "$(le32 n.exe $((entry + 4)))" -gt "$table" ] || fail "the nested signature did not grow the table"
run n.exe out-nested
[ $rc = 0 ] || { cat out-nested.log; fail "the file signed twice does not expand (exit $rc)"; }
same_tree src/tree out-nested/tree "nested"
echo "nested signature: table of $(le32 n.exe $((entry + 4))) bytes, $(grep -cE 'Signature verification: ok|Succeeded' n.exe.verify.log || true) verification lines ok; expands, tree and times identical"

# The core itself as the first file, at -9: its prefix and dictionary come
# from the core image, the fields that signing rewrites included.
mkdir -p self && cp "$core" self/core.bin
(cd self && "$varnow" pack -q --level 9 --core "$core" "$work/c9.exe" core.bin)
# It draws on the core image: 20480 bytes packed into well under 1 KiB.
packed=$(($(stat -c %s c9.exe) - 20480))
[ $packed -lt 1024 ] || fail "the core packed as a file takes $packed bytes: it does not draw on the image"
sign c9.exe c9s.exe
verify c9s.exe
run c9s.exe out-core
[ $rc = 0 ] || { cat out-core.log; fail "the signed core-as-file archive does not expand (exit $rc)"; }
cmp self/core.bin out-core/core.bin || fail "the core packed as a file comes out different after signing"
"$varnow" test --core "$core" c9s.exe > /dev/null || fail "varnow test refuses c9s.exe"
echo "the core packed at -9 into $packed bytes expands from the signed file byte for byte"

# Every other excess is refused as before.
cp s.exe plus1.exe && printf 'x' >> plus1.exe
refused one-byte-more plus1.exe
set +e; "$varnow" test -q --core "$core" plus1.exe 2> plus1.err; vrc=$?; set -e
[ $vrc = 2 ] && grep -q "(bytes added)" plus1.err || fail "varnow test plus1.exe: exit $vrc, $(cat plus1.err)"
cp s.exe elsewhere.exe
put32 elsewhere.exe "$entry" $(($(le32 s.exe "$entry") + 8))
put32 elsewhere.exe $((entry + 4)) $((table - 8))
refused entry-elsewhere elsewhere.exe
cp s.exe padding.exe
printf '\001' | dd of=padding.exe bs=1 seek="$size" conv=notrunc status=none
refused non-zero-padding padding.exe

# A damaged block in a signed file: broken, as before.
cp s.exe broken.exe
at=$((size - 100))
printf "\\$(printf '%03o' $(( $(od -An -tu1 -j$at -N1 s.exe) ^ 0x40 )))" |
  dd of=broken.exe bs=1 seek=$at conv=notrunc status=none
run broken.exe out-broken
[ $rc = 2 ] && grep -q "This file is broken." out-broken.log || { cat out-broken.log; fail "broken: exit $rc"; }
echo "damaged block in a signed file: exit $rc, $(grep -F broken out-broken.log | tr -d '\r')"
echo "$key core: signed distributables pass"
