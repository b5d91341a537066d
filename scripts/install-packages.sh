#!/usr/bin/env bash
# Installs the named Debian packages that are not installed yet (apt-get, as
# root or through sudo). --no-recommends leaves out recommended packages.
#   scripts/install-packages.sh [--no-recommends] PACKAGE...
set -euo pipefail
options=()
if [ "${1:-}" = "--no-recommends" ]; then
  options+=(--no-install-recommends)
  shift
fi
missing=()
for p in "$@"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -gt 0 ] || exit 0
SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${options[@]}" "${missing[@]}" >/dev/null
