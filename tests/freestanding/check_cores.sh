#!/usr/bin/env bash
# The cores as built: every one exactly 20480 bytes; each Windows core (the
# 32-bit product and the 64-bit test build) imports from kernel32, user32 and
# shell32 only and commits enough stack for its largest frame (it has no stack
# probes).
#   check_cores.sh LINUX_CORE [WINDOWS_CORE OBJDUMP]...
set -euo pipefail
fail() { echo "check_cores: $*" >&2; exit 1; }
check_size() {
  local size
  size=$(stat -c %s "$1")
  [ "$size" = 20480 ] || fail "$1 has $size bytes, not 20480"
}
check_size "$1"
shift
while [ $# -ge 2 ]; do
  windows=$1 objdump=$2
  shift 2
  check_size "$windows"
  dlls=$("$objdump" -p "$windows" | awk '/DLL Name:/ {print toupper($3)}' | sort -u | tr '\n' ' ')
  [ "$dlls" = "KERNEL32.DLL SHELL32.DLL USER32.DLL " ] || fail "$windows imports from: $dlls"
  commit=$("$objdump" -p "$windows" | awk '/SizeOfStackCommit/ {print $2}')
  [ $((16#$commit)) -ge 65536 ] || fail "$windows commits 0x$commit bytes of stack"
  echo "${windows##*/}: 20480 bytes; imports: $dlls; stack commit 0x$commit"
done
[ $# = 0 ] || fail "usage: check_cores.sh LINUX_CORE [WINDOWS_CORE OBJDUMP]..."
echo "all cores 20480 bytes"
