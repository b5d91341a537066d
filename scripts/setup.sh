#!/usr/bin/env bash
# Installs what the build needs on Debian 12 (when missing) and builds into
# build/ (or $TOLM_BUILD_DIR). Extra arguments go to cmake's configure step.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(build-essential cmake ninja-build pkg-config qt6-base-dev libgl1-mesa-dev
          libgtest-dev libgmock-dev libudev-dev libdbus-1-dev libsm-dev libcli11-dev nlohmann-json3-dev fonts-noto-cjk fonts-dejavu-core
          unixodbc-dev)
scripts/install-packages.sh "${packages[@]}"

build_dir="${TOLM_BUILD_DIR:-build}"
build_type="${TOLM_BUILD_TYPE:-RelWithDebInfo}"
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE="$build_type" "$@" >/dev/null
# TOLM_TARGETS (space-separated) builds only those targets.
if [ -n "${TOLM_TARGETS:-}" ]; then
  # shellcheck disable=SC2086
  cmake --build "$build_dir" -j "$(nproc)" --target ${TOLM_TARGETS}
else
  cmake --build "$build_dir" -j "$(nproc)"
fi
