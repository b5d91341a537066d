#!/usr/bin/env bash
# Builds and tests the Windows programs on this Debian machine: installs the
# MinGW-w64 cross compiler and Wine when missing, cross-builds the core and
# tolm-upgrade-cli into build-windows/ (statically linked), runs the Windows
# tests under Wine in a prefix of their own (build-windows/wineprefix) against
# tolm-devsim of the Linux build, and leaves
# dist/tolm-upgrade-<version>-win64/tolm-upgrade-cli.exe.
#   TOLM_WINDOWS_BUILD_DIR  the build folder (default build-windows)
set -euo pipefail
cd "$(dirname "$0")/.."

# python3 compares the emulated flash with the file in the end-to-end runs.
packages=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 cmake ninja-build
          libgtest-dev libgmock-dev nlohmann-json3-dev libcli11-dev python3)
scripts/install-packages.sh --no-recommends "${packages[@]}"

version=$(sed -n 's/^project(tolm_upgrade VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
build_dir="${TOLM_WINDOWS_BUILD_DIR:-build-windows}"

# The emulated devices run on the Linux side, at the far end of each COM port.
TOLM_TARGETS=tolm-devsim scripts/setup.sh >/dev/null
devsim="$PWD/${TOLM_BUILD_DIR:-build}/tools/devsim/tolm-devsim"

cmake -S . -B "$build_dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/Mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DTOLM_BUILD_TESTS=ON -DTOLM_DEVSIM="$devsim" >/dev/null
cmake --build "$build_dir" -j "$(nproc)"

# A prefix of our own, made once; its server is ended when we are done.
export WINEPREFIX="$PWD/$build_dir/wineprefix" WINEDEBUG=-all
[ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1
trap 'wineserver -k 2>/dev/null || true' EXIT

(cd "$build_dir" && ctest --no-tests=error --output-on-failure -j 2 --timeout 300)

# The program for Windows: one .exe that needs only the system's DLLs.
cli="$build_dir/src/cli/tolm-upgrade-cli.exe"
if [ -f "$cli" ]; then
  dlls=$(x86_64-w64-mingw32-objdump -p "$cli" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
  system_dlls="^(kernel32|user32|advapi32|shell32|ole32|winmm|msvcrt|ws2_32|shlwapi|api-ms-win-.*)\\.dll$"
  foreign=$(echo "$dlls" | grep -Ev "$system_dlls" || true)
  if [ -n "$foreign" ]; then
    echo "windows.sh: tolm-upgrade-cli.exe needs DLLs that Windows does not have: $foreign" >&2
    exit 1
  fi
  dist="dist/tolm-upgrade-$version-win64"
  mkdir -p "$dist"
  x86_64-w64-mingw32-strip -o "$dist/tolm-upgrade-cli.exe" "$cli"
  echo "$dist/tolm-upgrade-cli.exe (DLLs: $(echo $dlls))"
fi
