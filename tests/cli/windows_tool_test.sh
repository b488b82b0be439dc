#!/usr/bin/env bash
# The CLI suite against varnow.exe under wine64, printing only the cases that
# fail (a whole log is too long to read where it is cut short). A case that
# fails is run once more on its own: under load on a fresh machine, one Wine
# run in a whole suite has gone wrong without a word from varnow. The second
# run must pass, and the log names every case that needed one, so that a
# case failing at random stays in sight; so does RERUNS, which scripts/test
# reads for its summary.
#   windows_tool_test.sh TESTS FILTER RERUNS
set -uo pipefail
tests=$1
filter=$2
reruns=$3
log=$(mktemp)
trap 'rm -f "$log"' EXIT
rm -f "$reruns"

"$tests" --gtest_brief=1 --gtest_filter="$filter" 2>&1 | tee "$log"
status=${PIPESTATUS[0]}
[ "$status" = 0 ] && exit 0

# "[  FAILED  ] Suite.Case (12 ms)" while running, the same name with ", where
# GetParam() = ..." in the summary.
failed=$(sed -nE 's/^\[  FAILED  \] ([A-Za-z0-9_/]+\.[A-Za-z0-9_/]+)( \(|,|$).*/\1/p' "$log" | sort -u)
if [ -z "$failed" ]; then
  echo "windows_tool_test: the suite ended with $status and named no failed case"
  exit "$status"
fi
echo
echo "windows_tool_test: failed once, run again: $(tr '\n' ' ' <<< "$failed")"
"$tests" --gtest_brief=1 --gtest_filter="$(paste -sd: <<< "$failed")"
status=$?
if [ "$status" = 0 ]; then
  echo "windows_tool_test: passed on the second run: $(tr '\n' ' ' <<< "$failed")"
  echo "$failed" > "$reruns"
else
  echo "windows_tool_test: failed again"
fi
exit "$status"
