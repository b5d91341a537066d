#!/usr/bin/env bash
# Runs one Windows test program under Wine for ctest, in the prefix that the
# environment names. Wine's error channel stays on, so that a program Wine
# could not start says why. A test program prints its banner before its
# first test; one that failed with nothing on its standard output never
# reached its tests: Wine did not start it. That is said, with Wine's own
# words, and the program is run once more; a test that really fails fails
# both times.
set -u
program_out=$(mktemp) wine_err=$(mktemp)
trap 'rm -f "$program_out" "$wine_err"' EXIT

run() { WINEDEBUG=-all,err+all wine "$@" >"$program_out" 2>"$wine_err"; }

run "$@"
status=$?
if [ "$status" -ne 0 ] && [ ! -s "$program_out" ]; then
  echo "run-under-wine: $(basename "$1") printed nothing and ended with status $status: Wine did not start it." \
       "Wine said: $(tr '\n' ' ' <"$wine_err")" >&2
  echo "run-under-wine: running it once more." >&2
  sleep 1
  run "$@"
  status=$?
fi
cat "$program_out"
cat "$wine_err" >&2
exit "$status"
