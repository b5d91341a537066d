#!/usr/bin/env bash
# Runs every test: the normal build's full suite, the Debian package, the
# serial and end-to-end tests under the thread sanitizer, the nested port
# closing under the address sanitizer, the desktop window end to end under a
# virtual X server, upgrades through real kernel serial drivers in a QEMU
# guest, the Windows programs cross-built and tested under Wine (their
# installer and window included), a soak of the station, and a short run of
# each fuzz target. TOLM_SKIP_PACKAGE, TOLM_SKIP_TSAN, TOLM_SKIP_ASAN,
# TOLM_SKIP_WINDOW, TOLM_SKIP_VM, TOLM_SKIP_WINDOWS, TOLM_SKIP_SOAK and
# TOLM_SKIP_FUZZ skip a stage; TOLM_SKIP_WINDOWS_WINDOW leaves out the
# Windows installer and window; TOLM_SKIP_DB skips the tests that need a
# database (the site records against a private PostgreSQL cluster, which
# ctest starts before them and stops after them, and SQLite).
# TOLM_FAST=1 runs only the fast tier while you work: the layer check, the
# build and the tests labelled unit (no pseudo-terminal, no other program).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/check-layers.sh
if [ "${TOLM_FAST:-0}" = "1" ]; then
  scripts/setup.sh -DTOLM_BUILD_TESTS=ON
  start=$SECONDS
  (cd build && ctest --no-tests=error --output-on-failure -j 2 --timeout 300 -L unit)
  echo "fast tier: $((SECONDS - start)) s (the unit tests; scripts/test.sh without TOLM_FAST runs everything)"
  exit 0
fi
# The site records' tests: a PostgreSQL server (run as a private cluster), the
# ODBC drivers of PostgreSQL and SQLite, and both databases' own clients.
scripts/install-packages.sh postgresql odbc-postgresql unixodbc libsqliteodbc sqlite3 python3
# Tests are switched on here: build/ may have been configured without them
# (scripts/run.sh does), and ctest fails when it finds no test at all.
scripts/setup.sh -DTOLM_BUILD_TESTS=ON
# The sleep guard's tests run a private system bus with a stand-in for logind.
scripts/install-packages.sh dbus-daemon python3-dbus python3-gi
(cd build && ctest --no-tests=error --output-on-failure -j 2 --timeout 300)

# The Debian package: built, unpacked and used; lintian, the desktop entry,
# the metainfo, and the permission hint for an account without port access.
if [ "${TOLM_SKIP_PACKAGE:-0}" != "1" ]; then
  package_start=$SECONDS
  tests/package/package_test.sh
  echo "package stage: $((SECONDS - package_start)) s"
fi

# The Windows programs: cross-built with MinGW-w64, their tests, the command
# line end to end, and the installer and the window under Xvfb, all under
# Wine (scripts/windows.sh).
if [ "${TOLM_SKIP_WINDOWS:-0}" != "1" ]; then
  start=$SECONDS
  scripts/windows.sh
  echo "Windows stage: $((SECONDS - start)) s"
fi

# Upgrades through the kernel's 8250 and FTDI drivers in a QEMU guest.
if [ "${TOLM_SKIP_VM:-0}" != "1" ]; then
  start=$SECONDS
  tests/vm/run.sh build
  echo "guest stage: $((SECONDS - start)) s"
fi

if [ "${TOLM_SKIP_TSAN:-0}" != "1" ]; then
  TOLM_BUILD_DIR=build-tsan TOLM_BUILD_TYPE=Debug \
    TOLM_TARGETS="toolkit_tests serial_tests serial_load_tests e2e_scanner_tests e2e_terminal_tests e2e_cli_tests e2e_faultscanner_tests e2e_faultterminal_tests e2e_faultfile_tests e2e_stop_tests e2e_multiport_tests e2e_station_tests e2e_stationbench_tests e2e_stationrecord_tests gui_thread_tests records_db_tests" \
    scripts/setup.sh -DTOLM_SANITIZE=thread -DTOLM_BUILD_TESTS=ON
  # Qt itself is not instrumented: its own thread pools hand work over through
  # locks the sanitizer cannot see, so the allocations it makes there are not
  # tracked (ignore_noninstrumented_modules); our code stays fully checked.
  (cd build-tsan && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ignore_noninstrumented_modules=1" \
     ctest --no-tests=error --output-on-failure -j 2 --timeout 600 -R '^(toolkit|serial|e2e|gui_thread|records_db)')
fi

# A port closed from inside its driver's poll (the announcement's sequence,
# the dock timer), under the address sanitizer.
if [ "${TOLM_SKIP_ASAN:-0}" != "1" ]; then
  start=$SECONDS
  TOLM_BUILD_DIR=build-asan TOLM_BUILD_TYPE=Debug TOLM_TARGETS="nested_close_tests" \
    scripts/setup.sh -DTOLM_SANITIZE=address -DTOLM_BUILD_TESTS=ON
  (cd build-asan && ASAN_OPTIONS=detect_leaks=0 ctest --no-tests=error --output-on-failure --timeout 300 -R '^nested_close')
  echo "address-sanitizer stage: $((SECONDS - start)) s"
fi

# The desktop window end to end: Xvfb, a window manager, XTest input.
if [ "${TOLM_SKIP_WINDOW:-0}" != "1" ]; then
  start=$SECONDS
  scripts/install-packages.sh xvfb xauth openbox xdotool python3-xlib
  tests/window/run.sh build
  echo "window stage: $((SECONDS - start)) s"
fi

# The station on 8 ports for about 3 minutes while emulated scanners come and
# go with faults; every line of its record is held against what its device
# received (bench/soak.sh runs the same for an hour).
if [ "${TOLM_SKIP_SOAK:-0}" != "1" ]; then
  start=$SECONDS
  build/tests/soak/soak_tests
  echo "soak stage: $((SECONDS - start)) s"
fi

# A short run of every fuzz target over its committed corpus (clang, address
# and undefined-behaviour sanitizers).
if [ "${TOLM_SKIP_FUZZ:-0}" != "1" ]; then
  scripts/fuzz.sh "${TOLM_FUZZ_SECONDS:-20}"
fi
