#!/usr/bin/env bash
# The check that decides whether the 32-bit Windows core runs here, taken both
# ways whatever this machine is: the built-in probe with its machine type made
# one no kernel runs gives "Exec format error" and a no; a program that runs
# gives a yes; and the built-in probe gives one of the two.
set -uo pipefail
detect=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "detect_32bit_test: $*" >&2; exit 1; }

"$detect" --write-probe "$scratch/probe" || fail "cannot write the probe"
[ "$(head -c 4 "$scratch/probe" | od -An -c | tr -d ' ')" = '177ELF' ] || fail "the probe is no ELF file"
cp "$scratch/probe" "$scratch/foreign"
# e_machine (offset 18) becomes 0x1234, a machine no kernel or binfmt handler runs.
printf '\x34\x12' | dd of="$scratch/foreign" bs=1 seek=18 conv=notrunc status=none

said=$("$detect" "$scratch/foreign"); status=$?
[ $status = 1 ] || fail "a program refused by the kernel counted as runnable (exit $status: $said)"
[ "$said" = "the kernel cannot run 32-bit programs (Exec format error)" ] || fail "said: $said"

said=$("$detect" /bin/true); status=$?
[ $status = 0 ] || fail "a program that runs counted as not runnable (exit $status: $said)"
[ "$said" = "the kernel runs 32-bit programs" ] || fail "said: $said"

said=$("$detect" /bin/false); status=$?
[ $status = 1 ] || fail "a program that fails counted as runnable"
[ "$said" = "a 32-bit program did not run (exit 1)" ] || fail "said: $said"

said=$("$detect"); status=$?
[ $status -le 1 ] || fail "the built-in probe gave exit $status"
echo "on this machine: $said"
