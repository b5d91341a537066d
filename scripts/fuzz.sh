#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, address + undefined sanitizers) in
# build-fuzz/ and runs each for SECONDS (default 20) over a copy of its
# committed corpus in tests/fuzz/corpus/<target>/. New interesting inputs go
# to a temporary folder; the committed corpus is never written. Exits 1 when a
# target crashes, trips a sanitizer or a property check, hangs or leaks, and
# prints the path of the input that did it (kept under build-fuzz/artifacts/).
#
#   scripts/fuzz.sh [SECONDS]
#   TOLM_FUZZ_TARGETS="fuzz_strfunc fuzz_replies" scripts/fuzz.sh 60   # some targets only
#   TOLM_FUZZ_JOBS=1 scripts/fuzz.sh                                     # one target at a time
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-20}"
build_dir="${TOLM_FUZZ_BUILD_DIR:-build-fuzz}"
jobs="${TOLM_FUZZ_JOBS:-2}"

packages=(clang libclang-rt-14-dev cmake ninja-build pkg-config qt6-base-dev libgl1-mesa-dev
          libgtest-dev libgmock-dev libudev-dev libcli11-dev nlohmann-json3-dev)
scripts/install-packages.sh "${packages[@]}"

CC=clang CXX=clang++ cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DTOLM_FUZZ=ON -DTOLM_SANITIZE=address -DTOLM_BUILD_TESTS=ON >/dev/null
cmake --build "$build_dir" --target tolm_fuzzers -j 2

fuzz_bin="$build_dir/tests/fuzz"
targets=(${TOLM_FUZZ_TARGETS:-$(cd tests/fuzz/corpus && ls)})
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
artifacts="$(cd "$build_dir" && pwd)/artifacts"
mkdir -p "$artifacts"

# One target: libFuzzer writes new inputs to the first folder and only reads
# the copy of the committed corpus after it.
run_target() {
  local t="$1"
  mkdir -p "$work/$t/new" "$work/$t/tmp"
  cp -r "tests/fuzz/corpus/$t" "$work/$t/seed"
  if TMPDIR="$work/$t/tmp" "$fuzz_bin/$t" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
       -print_final_stats=1 -artifact_prefix="$artifacts/$t-" "$work/$t/new" "$work/$t/seed" \
       >"$work/$t.log" 2>&1; then
    local runs
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$t.log")
    echo "fuzz: $t ok (${runs:-?} runs in ${seconds}s, $(ls "$work/$t/new" | wc -l) new inputs)"
  else
    echo "fuzz: $t FAILED"
    tail -n 60 "$work/$t.log"
    local input
    input=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$work/$t.log" | tail -n 1)
    echo "fuzz: $t failing input: ${input:-(none written; see the log above)}"
    return 1
  fi
}

# Reports are printed whole, as each target ends, so that two targets running
# side by side do not mix their output.
failed=0
running=()
finish_oldest() {
  local t="${running[0]}"
  running=("${running[@]:1}")
  wait "$(cat "$work/$t.pid")" || failed=1
  cat "$work/$t.report"
}
for t in "${targets[@]}"; do
  if [ ! -x "$fuzz_bin/$t" ]; then echo "fuzz: no target $t"; failed=1; continue; fi
  run_target "$t" >"$work/$t.report" 2>&1 &
  echo $! >"$work/$t.pid"
  running+=("$t")
  if [ ${#running[@]} -ge "$jobs" ]; then finish_oldest; fi
done
while [ ${#running[@]} -gt 0 ]; do finish_oldest; done

if [ "$failed" -ne 0 ]; then
  echo "fuzz: FAILED"
  exit 1
fi
echo "fuzz: all ${#targets[@]} targets passed"
