#!/usr/bin/env bash
# The cores as shipped: both exactly 20480 bytes; the Windows core imports
# from kernel32, user32 and shell32 only and commits enough stack for its
# largest frame (it has no stack probes).
set -euo pipefail
linux=$1 windows=$2 objdump=$3
fail() { echo "check_cores: $*" >&2; exit 1; }
for core in "$linux" "$windows"; do
  size=$(stat -c %s "$core")
  [ "$size" = 20480 ] || fail "$core has $size bytes, not 20480"
done
dlls=$("$objdump" -p "$windows" | awk '/DLL Name:/ {print toupper($3)}' | sort -u | tr '\n' ' ')
[ "$dlls" = "KERNEL32.DLL SHELL32.DLL USER32.DLL " ] || fail "the Windows core imports from: $dlls"
commit=$("$objdump" -p "$windows" | awk '/SizeOfStackCommit/ {print $2}')
[ $((16#$commit)) -ge 65536 ] || fail "the Windows core commits 0x$commit bytes of stack"
echo "both cores 20480 bytes; Windows core imports: $dlls; stack commit 0x$commit"
