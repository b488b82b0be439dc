#!/usr/bin/env bash
# The man page renders without a warning from groff or man, and every option
# that `varnow COMMAND --help` shows appears both in the rendered page and in
# the README's synopsis, so neither can fall behind the command line.
#   check_man_page.sh VARNOW PAGE README
set -euo pipefail
varnow=$1 page=$2 readme=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

groff -ww -z -man "$page" 2> "$work/groff.err" || failed=1
if [ -s "$work/groff.err" ]; then echo "groff warns:"; cat "$work/groff.err"; failed=1; fi
MANWIDTH=80 man --warnings -l "$page" > "$work/page.txt" 2> "$work/man.err" || failed=1
if [ -s "$work/man.err" ]; then echo "man warns:"; cat "$work/man.err"; failed=1; fi

checked=0
for command in pack list test extract; do
  # The first column of the option lines: "-f,--force", "--no-verify{false}", "--level N:...".
  options=$("$varnow" "$command" --help | grep -E '^  +-' | awk '{print $1}' | tr ',' '\n' |
    sed 's/[{:=].*//' | sort -u)
  for option in $options; do
    checked=$((checked + 1))
    if ! grep -qE -- "(^|[^a-zA-Z-])$option([^a-zA-Z-]|$)" "$work/page.txt"; then
      echo "the man page lacks $command $option"; failed=1
    fi
    if ! grep -qE -- "(^|[^a-zA-Z-])$option([^a-zA-Z-]|$)" "$readme"; then
      echo "the README lacks $command $option"; failed=1
    fi
  done
done
if [ "$checked" -lt 20 ]; then echo "only $checked options found in the help texts"; failed=1; fi
echo "$checked options checked"
exit $failed
