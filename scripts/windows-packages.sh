#!/usr/bin/env bash
# Makes the two Windows packages of one version from the folder of its files
# (tolm-upgrade.exe, tolm-upgrade-cli.exe, readme.txt):
#   OUT/tolm-upgrade-VERSION-setup.exe   the setup program (NSIS, data/windows/installer.nsi)
#   OUT/tolm-upgrade-VERSION-x64.msi     the Windows Installer package (wixl, data/windows/tolm-upgrade.wxs)
#   scripts/windows-packages.sh VERSION FILES ICON OUT
# ICON is the program's icon (.ico). scripts/windows.sh makes the release's;
# the installer's tests make other versions with it.
set -euo pipefail
cd "$(dirname "$0")/.."
version=$1
files="$(realpath -e "$2")"
icon="$(realpath -e "$3")"
out="$(realpath -m "$4")"
[ -d "$files" ] || { echo "windows-packages.sh: $files is no folder" >&2; exit 1; }
mkdir -p "$out"
publisher=$(sed -n 's/^set(TOLM_PUBLISHER "\(.*\)")$/\1/p' CMakeLists.txt)
size_kb=$(du -k -c "$files"/* | tail -1 | cut -f1)
makensis -V2 -DVERSION="$version" -DPUBLISHER="$publisher" -DFILES="$files" -DICON="$icon" -DSIZE_KB="$size_kb" \
  -DOUTFILE="$out/tolm-upgrade-$version-setup.exe" data/windows/installer.nsi
# wixl takes the sources' paths relative to the folder it runs in.
stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
ln -s "$files" "$stage/files"
ln -s "$icon" "$stage/tolm-upgrade.ico"
(cd "$stage" && wixl -a x64 -D Version="$version" -D Publisher="$publisher" -D Files=files -D Icon=tolm-upgrade.ico \
  -o "$out/tolm-upgrade-$version-x64.msi" "$OLDPWD/data/windows/tolm-upgrade.wxs")
