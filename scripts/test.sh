#!/usr/bin/env bash
# Runs every test: the normal build's full suite, the serial and end-to-end
# tests under the thread sanitizer, and a short run of each fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
(cd build && ctest --output-on-failure -j 2 --timeout 300)

# Upgrades through the kernel's 8250 and FTDI drivers in a QEMU guest.
if [ "${TOLM_SKIP_VM:-0}" != "1" ]; then
  tests/vm/run.sh build
fi

if [ "${TOLM_SKIP_TSAN:-0}" != "1" ]; then
  TOLM_BUILD_DIR=build-tsan TOLM_BUILD_TYPE=Debug \
    TOLM_TARGETS="toolkit_tests serial_tests serial_load_tests e2e_scanner_tests e2e_terminal_tests e2e_cli_tests e2e_faultscanner_tests e2e_faultterminal_tests e2e_faultfile_tests" \
    scripts/setup.sh -DTOLM_SANITIZE=thread
  (cd build-tsan && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
     ctest --output-on-failure -j 2 --timeout 600 -R '^(toolkit|serial|e2e)')
fi

# A short run of every fuzz target over its committed corpus (clang, address
# and undefined-behaviour sanitizers).
if [ "${TOLM_SKIP_FUZZ:-0}" != "1" ]; then
  scripts/fuzz.sh "${TOLM_FUZZ_SECONDS:-20}"
fi
