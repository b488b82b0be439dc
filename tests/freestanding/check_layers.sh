#!/usr/bin/env bash
# The layers of src/ and the writer's tool reach only down. Each folder may
# include headers of the folders listed for it (and its own); anything else,
# a folder reaching up or sideways, is reported with the line that does it.
#   check_layers.sh SOURCE_ROOT
set -euo pipefail
root=$1
declare -A allowed=(
  [format]="format"
  [platform]="platform"
  [runtime]="runtime platform format"
  [container]="container runtime platform format"
  [codec]="codec container runtime platform format"
  [entries]="entries codec container runtime platform format"
  [expander]="expander entries codec container runtime platform format"
  [writer]="writer entries codec container platform format"
  [tools/varnow]="host writer entries codec container runtime platform format"
)
checked=0 violations=0
for layer in "${!allowed[@]}"; do
  if [ "$layer" = tools/varnow ]; then dir=$root/tools/varnow; else dir=$root/src/$layer; fi
  [ -d "$dir" ] || { echo "check_layers: no folder $dir" >&2; exit 1; }
  while IFS=: read -r file line text; do
    target=$(sed -n 's/^#include "\([a-z_]*\)\/.*/\1/p' <<< "$text")
    [ -n "$target" ] || continue  # a header of the file's own folder
    checked=$((checked + 1))
    if ! grep -qw -- "$target" <<< "${allowed[$layer]}"; then
      echo "${file#"$root"/}:$line: $layer reaches $target: $text"
      violations=$((violations + 1))
    fi
  done < <(grep -rnH '^#include "' "$dir" --include='*.h' --include='*.cpp')
done
# A check that found next to nothing to check would prove nothing.
[ "$checked" -ge 100 ] || { echo "check_layers: only $checked includes found under $root" >&2; exit 1; }
echo "$checked includes checked, $violations reaching up or sideways"
[ "$violations" = 0 ]
