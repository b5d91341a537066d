#!/usr/bin/env bash
# Builds the Debian package dist/tolm-upgrade_<version>_amd64.deb from the
# build in build/ (or $TOLM_BUILD_DIR): builds the four programs and the
# compressed pages if needed, then lets CPack install them into a package with
# stripped binaries and dependencies computed by dpkg-shlibdeps.
set -euo pipefail
cd "$(dirname "$0")/.."

# dpkg-dev: dpkg-shlibdeps, which CPack asks for the package's dependencies.
packages=(dpkg-dev file)
scripts/install-packages.sh "${packages[@]}"

build_dir="${TOLM_BUILD_DIR:-build}"
# Installing then needs only what the package holds, not the tests.
TOLM_BUILD_DIR="$build_dir" \
  TOLM_TARGETS="tolm-upgrade tolm-upgrade-cli tolm-devsim tolm-flowview tolm_compressed_docs" \
  scripts/setup.sh -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null

# Files the package carries are 0644, programs 0755, whatever the umask.
umask 022
mkdir -p dist
work="$build_dir/cpack"
rm -rf "$work"
(cd "$build_dir" && cpack -G DEB -B "$PWD/cpack" >"$PWD/cpack.log" 2>&1) ||
  { cat "$build_dir/cpack.log" >&2; echo "package.sh: CPack failed" >&2; exit 1; }
deb=$(find "$work" -maxdepth 1 -name 'tolm-upgrade_*_*.deb' | head -n 1)
[ -n "$deb" ] || { echo "package.sh: CPack made no package" >&2; exit 1; }
mv -f "$deb" dist/
echo "dist/$(basename "$deb")"
