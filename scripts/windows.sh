#!/usr/bin/env bash
# Builds and tests the Windows programs on this Debian machine: installs the
# MinGW-w64 cross compiler, Wine, NSIS and wixl when missing, cross-builds the core,
# tolm-upgrade-cli and the window tolm-upgrade into build-windows/ (statically
# linked), runs the Windows tests under Wine in a prefix of their own
# (build-windows/wineprefix) against tolm-devsim of the Linux build, makes
#   dist/tolm-upgrade-<version>-win64/   both programs and the readme
#   dist/tolm-upgrade-<version>-win64.zip
#   dist/tolm-upgrade-<version>-setup.exe
#   dist/tolm-upgrade-<version>-x64.msi
# and tests both packages in a fresh prefix (tests/windows/installer.sh) and
# the window, with the setup program, under Xvfb in another
# (tests/windows/window.sh).
#   TOLM_WINDOWS_BUILD_DIR   the build folder (default build-windows)
#   TOLM_SKIP_WINDOWS_WINDOW=1  leaves out the packages' and the window's tests
#   TOLM_WINDOWS_SHOTS=DIR   keeps the window's screenshots there
set -euo pipefail
cd "$(dirname "$0")/.."

# python3 compares the emulated flash with the file in the end-to-end runs;
# the window's test runs under Xvfb with openbox, xdotool, python3-xlib (the
# window manager's ping), imagemagick and x11-utils (screenshots), and the
# Chinese texts need a CJK font.
# Wine's odbc32 hands the records' calls to this machine's unixODBC and its
# drivers, which reach a private PostgreSQL cluster and an SQLite file.
packages=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 cmake ninja-build nsis wixl
          libgtest-dev libgmock-dev nlohmann-json3-dev libcli11-dev python3
          postgresql odbc-postgresql unixodbc libsqliteodbc sqlite3)
window_packages=(xvfb xauth openbox xdotool python3-xlib imagemagick x11-utils fonts-noto-cjk)
scripts/install-packages.sh --no-recommends "${packages[@]}"
[ "${TOLM_SKIP_WINDOWS_WINDOW:-0}" = "1" ] || scripts/install-packages.sh --no-recommends "${window_packages[@]}"

version=$(sed -n 's/^project(tolm_upgrade VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
build_dir="${TOLM_WINDOWS_BUILD_DIR:-build-windows}"

# The emulated devices run on the Linux side, at the far end of each COM port,
# and the window's pictures are drawn there (the cross-build has no Qt).
# The paths that real drivers take: the library that gives the emulator's
# pseudo-terminals modem lines in Wine's processes, so that WaitCommEvent
# stays pending on them, and the Linux command line, whose times the
# Windows one is held to.
TOLM_TARGETS="tolm-devsim tolm_draw_pictures tolm_win_pictures tolm_modemline tolm-upgrade-cli" \
  scripts/setup.sh -DTOLM_BUILD_TESTS=ON >/dev/null
linux_build="$PWD/${TOLM_BUILD_DIR:-build}"
devsim="$linux_build/tools/devsim/tolm-devsim"

cmake -S . -B "$build_dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/Mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DTOLM_BUILD_TESTS=ON -DTOLM_DEVSIM="$devsim" \
  -DTOLM_MODEMLINE="$linux_build/tests/windows/libtolm_modemline.so" \
  -DTOLM_LINUX_CLI="$linux_build/src/cli/tolm-upgrade-cli" \
  -DTOLM_DRAW_PICTURES="$linux_build/src/gui/tolm_draw_pictures" \
  -DTOLM_WIN_PICTURES="$linux_build/src/gui/tolm_win_pictures" >/dev/null
cmake --build "$build_dir" -j "$(nproc)"

# A prefix of our own, made once (and finished before the first test, whose
# timing its making would upset); its server is ended when we are done. No
# .NET or browser engine is installed in it.
export WINEPREFIX="$PWD/$build_dir/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=d;mshtml=d"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i >/dev/null 2>&1
  wineserver -w
fi
trap 'wineserver -k 2>/dev/null || true' EXIT

# The prefix's server opens the COM ports' pseudo-terminals, and when the
# emulator behind one ends, the kernel hangs the line up on the server, which
# then writes its objects out: started here, it writes them nowhere instead
# of into a test's output.
wineserver -p >/dev/null 2>&1
(cd "$build_dir" && ctest --no-tests=error --output-on-failure -j 2 --timeout 300)

# The programs for Windows: each one .exe that needs only the system's DLLs.
dist="dist/tolm-upgrade-$version-win64"
rm -rf "$dist"
mkdir -p "$dist"
system_dlls="^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|comctl32|comdlg32|winmm|msvcrt|ws2_32|shlwapi|odbc32|api-ms-win-.*)\\.dll$"
for program in src/cli/tolm-upgrade-cli.exe src/gui/tolm-upgrade.exe; do
  exe="$build_dir/$program"
  dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
  foreign=$(echo "$dlls" | grep -Ev "$system_dlls" || true)
  if [ -n "$foreign" ]; then
    echo "windows.sh: $(basename "$exe") needs DLLs that Windows does not have: $foreign" >&2
    exit 1
  fi
  x86_64-w64-mingw32-strip -o "$dist/$(basename "$exe")" "$exe"
  echo "$dist/$(basename "$exe") (DLLs: $(echo $dlls))"
done
# The readme and licence, with the line ends Windows's own editors expect.
sed 's/$/\r/' "$build_dir/data/windows/readme.txt" >"$dist/readme.txt"

# A plain zip for benches where nothing may be installed.
zip="dist/tolm-upgrade-$version-win64.zip"
rm -f "$zip"
(cd dist && python3 -m zipfile -c "$(basename "$zip")" "$(basename "$dist")")

# ------------------------------------------------- the setup program and the MSI
icon="$build_dir/src/gui/winpictures/tolm-upgrade.ico"
scripts/windows-packages.sh "$version" "$dist" "$icon" dist
setup="dist/tolm-upgrade-$version-setup.exe"
msi="dist/tolm-upgrade-$version-x64.msi"
echo "$zip, $setup, $msi"

# Both packages as an IT department meets them, then the setup program and the
# window as an operator does. The tests make a newer version of each package
# from the same files.
if [ "${TOLM_SKIP_WINDOWS_WINDOW:-0}" != "1" ]; then
  newer="$build_dir/newer-packages"
  rm -rf "$newer" && mkdir -p "$newer/files"
  cp "$dist"/* "$newer/files/"
  printf 'This copy is the newer version of the tests.\r\n' >>"$newer/files/readme.txt"
  newer_version=$(echo "$version" | awk -F. '{ printf "%d.%d.%d", $1, $2, $3 + 1 }')
  scripts/windows-packages.sh "$newer_version" "$newer/files" "$icon" "$newer"
  packages_start=$SECONDS
  tests/windows/installer.sh "$setup" "$msi" "$newer/tolm-upgrade-$newer_version-setup.exe" \
    "$newer/tolm-upgrade-$newer_version-x64.msi" "$devsim"
  echo "windows.sh: the packages' test took $((SECONDS - packages_start)) s"
  window_start=$SECONDS
  tests/windows/window.sh "$setup" "$newer/tolm-upgrade-$newer_version-setup.exe" \
    "$build_dir/tests/windows/windowlist.exe" "$devsim" ${TOLM_WINDOWS_SHOTS:+"$TOLM_WINDOWS_SHOTS"}
  echo "windows.sh: the installer's and the window's test took $((SECONDS - window_start)) s"
fi
