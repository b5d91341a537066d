#!/usr/bin/env bash
# The main job: builds everything, starts an emulated device on a
# pseudo-terminal and runs an upgrade against it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh -DTOLM_BUILD_TESTS=OFF
exec scripts/demo.sh "$@"
