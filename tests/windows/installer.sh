#!/usr/bin/env bash
# Both Windows packages as an IT department that deploys to many benches meets
# them, silently, in a fresh Wine prefix; commands are run as a deployment
# tool runs them (the uninstall entry's own command line through cmd).
# The setup program:
#   - installs into the folder /D= names; the next version's setup goes into
#     that folder, whatever its own default;
#   - with tolm-upgrade-cli running, ends with exit code 3 and changes nothing;
#   - refuses an older version with exit code 4 and nothing changed, unless
#     /ALLOWDOWNGRADE is given;
#   - its QuietUninstallString returns when the programs, the shortcut and the
#     entry are gone, and a setup started at once ends with a whole installation;
# The MSI:
#   - msiexec /i installs the files, the shortcut in the machine's Start menu
#     and one entry in Apps and features; a newer MSI replaces it, leaving one
#     entry; an older one is refused; msiexec /x removes it all;
#   - each package refuses to install over the other's installation.
#
#   tests/windows/installer.sh SETUP.EXE PACKAGE.MSI NEWER_SETUP.EXE NEWER.MSI DEVSIM
set -uo pipefail
setup="$(realpath "$1")" msi="$(realpath "$2")" newer_setup="$(realpath "$3")" newer_msi="$(realpath "$4")"
devsim="$(realpath "$5")"
version=$(basename "$setup" | sed 's/^tolm-upgrade-\(.*\)-setup\.exe$/\1/')
newer=$(basename "$newer_setup" | sed 's/^tolm-upgrade-\(.*\)-setup\.exe$/\1/')
work="$(mktemp -d)"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all LC_ALL=C.UTF-8
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
  wineserver -k 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
case=prefix
fail() {
  echo "windows packages: $case: $*" >&2
  failures=$((failures + 1))
  return 0
}
wait_for() {  # SECONDS COMMAND...: polls every 0.1 s
  local until=$((SECONDS + $1)); shift
  while ! "$@"; do [ $SECONDS -ge $until ] && return 1; sleep 0.1; done
}

start=$SECONDS
wineboot -i >/dev/null 2>&1
wineserver -w
echo "windows packages: a fresh prefix in $((SECONDS - start)) s"
drive="$WINEPREFIX/drive_c"
cp "$setup" "$drive/setup.exe"
cp "$newer_setup" "$drive/newer-setup.exe"
cp "$msi" "$drive/package.msi"
cp "$newer_msi" "$drive/newer-package.msi"
uninstall_keys='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
key="$uninstall_keys\\Tolm Upgrade"
menu="$drive/ProgramData/Microsoft/Windows/Start Menu/Programs/Tolm Upgrade.lnk"
default_dir="$drive/Program Files/Tolm Upgrade"
custom_dir="$drive/Custom Dir"

# A command line as Windows passes it, unquoted: a deployment tool's, or an
# entry's QuietUninstallString. Its exit code is the command's.
run() {  # COMMAND_LINE
  printf '@%s\r\n@exit /b %%errorlevel%%\r\n' "$1" >"$drive/run.bat"
  wine cmd /c 'C:\run.bat' >/dev/null 2>&1
}
value() { wine reg query "$key" /v "$1" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$1 *REG_[A-Z_]* *//p"; }
# The entries named Tolm Upgrade in Apps and features, one line each: "version".
entries() {
  wine reg query "$uninstall_keys" /s 2>/dev/null | tr -d '\r' |
    awk '/^HKEY/ { name = ""; ver = "" } /DisplayName +REG_SZ +Tolm Upgrade$/ { name = 1 }
         /DisplayVersion +REG_SZ/ { ver = $3 } name && ver { print ver; name = "" }'
}
newer_readme() { grep -q 'newer version of the tests' "$1/readme.txt" 2>/dev/null; }

# ------------------------------------------------------------ setup program

case="setup into /D="
run 'C:\setup.exe /S /D=C:\Custom Dir'; status=$?
[ "$status" -eq 0 ] || fail "setup.exe /S /D= ended with $status"
for f in tolm-upgrade.exe tolm-upgrade-cli.exe readme.txt uninstall.exe; do
  [ -f "$custom_dir/$f" ] || fail "$f is not in the folder /D= named"
done
[ -e "$default_dir" ] && fail "setup.exe also wrote into Program Files"
[ "$(value InstallLocation)" = 'C:\Custom Dir' ] || fail "InstallLocation is '$(value InstallLocation)'"
[ "$(value QuietUninstallString)" = '"C:\Custom Dir\uninstall.exe" /S _?=C:\Custom Dir' ] ||
  fail "QuietUninstallString is '$(value QuietUninstallString)'"

case="setup while the command line runs"
# A Quorin upgrade that waits for an announcement that never comes.
gen_dir="$work/files" && mkdir -p "$gen_dir"
"$devsim" gen quorin-firmware --out "$gen_dir/qr.bin" >/dev/null
"$devsim" run quorin --link "$WINEPREFIX/dosdevices/com30" --set announce-ms=600000 >"$work/devsim.out" 2>&1 &
pids+=($!)
wait_for 10 grep -q '^PTY ' "$work/devsim.out" || fail "the emulator did not start"
# Its message comes while it runs (its stderr, a file here, is not held back
# until exit), well within the wait; the command line is ended once checked.
wine 'C:\Custom Dir\tolm-upgrade-cli.exe' upgrade --port 30 --wait 300 "Z:${gen_dir//\//\\}\\qr.bin" \
  >"$work/cli.out" 2>&1 &
cli=$!; pids+=("$cli")
wait_for 30 grep -q 'waiting up to' "$work/cli.out" || fail "the command line did not start: $(cat "$work/cli.out")"
run 'C:\newer-setup.exe /S'; status=$?
[ "$status" -eq 3 ] || fail "setup.exe /S with the command line running ended with $status, not 3"
[ "$(value DisplayVersion)" = "$version" ] || fail "the entry says $(value DisplayVersion)"
newer_readme "$custom_dir" && fail "the readme was replaced"
kill "$cli" 2>/dev/null; wait "$cli" 2>/dev/null

case="upgrade"
run 'C:\newer-setup.exe /S'; status=$?
[ "$status" -eq 0 ] || fail "the newer setup.exe /S ended with $status"
[ "$(value DisplayVersion)" = "$newer" ] || fail "the entry says $(value DisplayVersion), not $newer"
newer_readme "$custom_dir" || fail "the upgrade did not go into the folder of the installed version"
[ -e "$default_dir" ] && fail "the upgrade went into Program Files"
[ "$(value InstallLocation)" = 'C:\Custom Dir' ] || fail "InstallLocation is '$(value InstallLocation)'"

case="downgrade"
run 'C:\setup.exe /S'; status=$?
[ "$status" -eq 4 ] || fail "an older setup.exe /S ended with $status, not 4"
[ "$(value DisplayVersion)" = "$newer" ] && newer_readme "$custom_dir" || fail "the refused downgrade changed something"
run 'C:\setup.exe /S /ALLOWDOWNGRADE'; status=$?
[ "$status" -eq 0 ] || fail "setup.exe /S /ALLOWDOWNGRADE ended with $status"
[ "$(value DisplayVersion)" = "$version" ] && ! newer_readme "$custom_dir" || fail "the downgrade did not happen"

case="MSI over the setup program's installation"
run 'msiexec /i C:\package.msi /qn'; status=$?
[ "$status" -ne 0 ] || fail "msiexec /i installed over the setup program's installation"
[ "$(entries | wc -l)" -eq 1 ] || fail "Apps and features lists: $(entries | tr '\n' ' ')"

case="quiet uninstall"
quiet=$(value QuietUninstallString)
start=$SECONDS
run "$quiet"; status=$?
[ "$status" -eq 0 ] || fail "'$quiet' ended with $status"
# Returned: the programs, the shortcut and the entry are gone already.
for f in tolm-upgrade.exe tolm-upgrade-cli.exe readme.txt; do
  [ -e "$custom_dir/$f" ] && fail "$f was still there when the uninstaller returned"
done
[ -e "$menu" ] && fail "the shortcut was still there when the uninstaller returned"
[ -n "$(value DisplayVersion)" ] && fail "the entry was still there when the uninstaller returned"
# Installed again at once: the uninstaller's last step does not take the new one's file.
run 'C:\setup.exe /S /D=C:\Custom Dir'; status=$?
[ "$status" -eq 0 ] || fail "setup.exe /S right after the uninstaller ended with $status"
sleep 1
[ -f "$custom_dir/uninstall.exe" ] || fail "the new installation lost its uninstall.exe"
run "$(value QuietUninstallString)"
wait_for 10 eval '! [ -e "$custom_dir" ]' || fail "the folder is still there: $(ls "$custom_dir")"
echo "windows packages: uninstalled twice and installed in between in $((SECONDS - start)) s"

# -------------------------------------------------------------------- MSI

case="MSI"
start=$SECONDS
run 'msiexec /i C:\package.msi /qn'; status=$?
[ "$status" -eq 0 ] || fail "msiexec /i /qn ended with $status"
for f in tolm-upgrade.exe tolm-upgrade-cli.exe readme.txt; do
  [ -f "$default_dir/$f" ] || fail "the MSI did not install $f"
done
[ -f "$menu" ] || fail "the MSI made no shortcut in the machine's Start menu"
[ "$(entries)" = "$version" ] || fail "Apps and features lists: $(entries | tr '\n' ' ')"

case="setup over the MSI's installation"
run 'C:\newer-setup.exe /S'; status=$?
[ "$status" -eq 5 ] || fail "setup.exe /S over the MSI's installation ended with $status, not 5"
newer_readme "$default_dir" && fail "setup.exe changed the MSI's installation"

case="MSI upgrade"
run 'msiexec /i C:\newer-package.msi /qn'; status=$?
[ "$status" -eq 0 ] || fail "the newer msiexec /i /qn ended with $status"
[ "$(entries)" = "$newer" ] || fail "Apps and features lists: $(entries | tr '\n' ' ')"
newer_readme "$default_dir" || fail "the newer MSI did not replace the files"
run 'msiexec /i C:\package.msi /qn'; status=$?
[ "$status" -ne 0 ] || fail "an older MSI was installed over a newer one"
[ "$(entries)" = "$newer" ] || fail "after the older MSI, Apps and features lists: $(entries | tr '\n' ' ')"

case="MSI removal"
run 'msiexec /x C:\newer-package.msi /qn'; status=$?
[ "$status" -eq 0 ] || fail "msiexec /x /qn ended with $status"
[ -e "$default_dir" ] && fail "the folder is still there: $(ls "$default_dir")"
[ -e "$menu" ] && fail "the shortcut is still there"
[ -z "$(entries)" ] || fail "Apps and features still lists: $(entries | tr '\n' ' ')"
echo "windows packages: the MSI installed, upgraded and removed in $((SECONDS - start)) s"

[ "$failures" -eq 0 ] || exit 1
echo "windows packages: every case passed"
