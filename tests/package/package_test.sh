#!/usr/bin/env bash
# Builds the Debian package and checks it as a bench would use it: unpacked
# into a temporary root, its programs answer --version and --help and upgrade
# an emulated scanner, and the command line and the emulator link no Qt;
# lintian finds no error, the desktop entry and the AppStream metainfo
# validate; nothing is setuid and every file is 0644 or 0755; the programs
# carry Debian's hardening; the manual page and the bash completion know
# every option that --help shows; and an account that a port's permissions
# shut out gets the E001 line with the hint, exit status 3, and "no
# permission" in `ports`.
set -euo pipefail
cd "$(dirname "$0")/../.."

packages=(lintian desktop-file-utils appstream dpkg-dev file bash-completion libsqliteodbc sqlite3)
scripts/install-packages.sh "${packages[@]}"

version=$(sed -n 's/^project(tolm_upgrade VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
deb="dist/tolm-upgrade_${version}_amd64.deb"
[ "$(scripts/package.sh)" = "$deb" ] || { echo "FAIL: package.sh did not make $deb"; exit 1; }

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

work=$(mktemp -d)
devsim_pid=""
account_made=""
cleanup() {
  [ -z "$devsim_pid" ] || kill "$devsim_pid" 2>/dev/null || true
  [ -z "$devsim_pid" ] || wait "$devsim_pid" 2>/dev/null || true
  [ -z "$account_made" ] || userdel "$account_made" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
chmod 755 "$work"
root="$work/root"
dpkg-deb -x "$deb" "$root"
bin="$root/usr/bin"

# The programs find every library they need without help (the project's own
# are linked in statically).
for program in tolm-upgrade tolm-upgrade-cli tolm-devsim tolm-flowview; do
  [ -x "$bin/$program" ] || { fail "$program is not in the package"; continue; }
  if ldd "$bin/$program" | grep -q "not found"; then fail "$program misses a library: $(ldd "$bin/$program" | grep 'not found')"; fi
  out=$("$bin/$program" --version) || fail "$program --version failed"
  [ "$out" = "$program $version" ] || fail "$program --version printed \"$out\""
  file "$bin/$program" | grep -q ", stripped" || fail "$program is not stripped"
done
"$bin/tolm-upgrade-cli" --help | grep -qi "^usage: tolm-upgrade-cli" || fail "tolm-upgrade-cli --help"
# Qt serves the window and tolm-flowview alone: the command line and the
# emulator run on a bench without it.
for program in tolm-upgrade-cli tolm-devsim; do
  qt=$(ldd "$bin/$program" | grep -i "libQt" || true)
  [ -z "$qt" ] || fail "$program links Qt: $qt"
done

# The package's fields: the maintainer set in the project, a CJK font for the
# window's messages, and CLI11 (compiled in) in the copyright file.
maintainer=$(sed -n 's/^set(TOLM_MAINTAINER "\(.*\)")$/\1/p' CMakeLists.txt)
[ "$(dpkg-deb -f "$deb" Maintainer)" = "$maintainer" ] || fail "Maintainer is \"$(dpkg-deb -f "$deb" Maintainer)\""
dpkg-deb -f "$deb" Recommends | grep -q "fonts-noto-cjk" || fail "no CJK font recommended"
# The site records reach their database through unixODBC's driver manager.
dpkg-deb -f "$deb" Depends | grep -q "libodbc2" || fail "Depends does not name libodbc2: $(dpkg-deb -f "$deb" Depends)"
# The sleep guard speaks to logind through libdbus, linked in the programs.
dpkg-deb -f "$deb" Depends | grep -q "libdbus-1-3" || fail "Depends lacks libdbus-1-3: $(dpkg-deb -f "$deb" Depends)"
copyright="$root/usr/share/doc/tolm-upgrade/copyright"
grep -q "^Upstream-Contact: $maintainer$" "$copyright" && grep -q "CLI11" "$copyright" &&
  grep -q "^License: BSD-3-clause$" "$copyright" || fail "the copyright file misses the maintainer or CLI11"
# Debian's hardening: the stack protector everywhere, and the checked
# (fortified) functions where a program calls one that has them (lintian
# tells, below).
for program in tolm-upgrade tolm-upgrade-cli tolm-devsim tolm-flowview; do
  symbols=$(readelf --dyn-syms -W "$bin/$program")
  grep -q "__stack_chk_fail" <<<"$symbols" || fail "$program has no stack protector"
  if [ $program = tolm-upgrade-cli ]; then grep -Eq "__[a-z_]+_chk@" <<<"$symbols" || fail "$program is not fortified"; fi
done

# The manual page and the completion know every command and every option that
# each command's --help shows, and the completion offers real port names only.
cli="$bin/tolm-upgrade-cli"
manual=$(zcat "$root/usr/share/man/man1/tolm-upgrade-cli.1.gz" | sed 's/\\-/-/g')
completion="$root/usr/share/bash-completion/completions/tolm-upgrade-cli"
commands() {  # the sub-commands that PATH's --help lists
  "$cli" $1 --help | awk '/^Subcommands:/ {on = 1; next} on && /^  [a-z]/ {print $1} on && /^$/ {on = 0}'
}
paths=()
for top in $(commands ""); do
  paths+=("$top")
  for sub in $(commands "$top"); do paths+=("$top $sub"); done
done
[ "${#paths[@]}" -ge 10 ] || fail "found only ${#paths[@]} commands in --help"
for path in "${paths[@]}"; do
  grep -q "^\.B $path$" <<<"$manual" || fail "the manual page has no command \"$path\""
  for option in $("$cli" $path --help | grep -oE '^  (-[a-z],)?--[a-z-]+' | grep -oE -- '--[a-z-]+'); do
    [ "$option" = --help ] && continue
    sed -n "/^\.B $path$/,/^\.RE/p" <<<"$manual" | grep -q "^\.BI\? $option\( \|$\)" ||
      fail "the manual page does not describe $path $option"
    sed -n '/^declare -A _tolm_upgrade_cli_options=/,/^)/p' "$completion" | grep -F -- "['$path']='" |
      grep -qF -- "$option" || fail "the completion does not offer $path $option"
  done
done
complete_line() {  # WORDS...: what the completion offers for the last word
  TOLM_PORT_DIR="$work/completion-ports" bash -c '
    source /usr/share/bash-completion/bash_completion
    source "$1"; shift
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
    _tolm_upgrade_cli tolm-upgrade-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
    printf "%s
" "${COMPREPLY[@]}"' _ "$completion" "$@"
}
mkdir -p "$work/completion-ports"
ln -s /dev/null "$work/completion-ports/COM12"
ln -s unplugged-usb-0403-6001-A1-if00 "$work/completion-ports/COM13"
echo usb-0403-6001-A1-if00 >"$work/completion-ports/COM13.id"
offered=$(complete_line tolm-upgrade-cli upgrade --port "")
expected=$( (printf 'COM12\nCOM13\n'; for t in /sys/class/tty/ttyS*; do
               [ "$(cat "$t/type" 2>/dev/null)" != 0 ] && [ -e "/dev/${t##*/}" ] && echo "COM$((${t##*/ttyS} + 1))"
             done) | sort -u -V)
[ "$offered" = "$expected" ] || fail "upgrade --port completes to \"$(echo $offered)\", not \"$(echo $expected)\""
[ "$(complete_line tolm-upgrade-cli station --res)" = --results ] || fail "station --res does not complete to --results"
[ "$(complete_line tolm-upgrade-cli quorin --port 3 put --dr)" = --drive ] || fail "quorin put does not complete --drive"
[ "$(complete_line tolm-upgrade-cli ports un)" = unlink ] || fail "ports un does not complete to unlink"

# Nothing setuid or setgid, files 0644 or 0755, directories 0755.
if [ -n "$(find "$root" -perm /6000)" ]; then fail "setuid or setgid files: $(find "$root" -perm /6000)"; fi
odd=$(find "$root/usr" \( -type f ! -perm 0644 ! -perm 0755 \) -o \( -type d ! -perm 0755 \))
[ -z "$odd" ] || fail "files with unusual modes: $odd"
dpkg-deb -c "$deb" | awk '$2 != "root/root" {print}' | grep -q . && fail "files not owned by root"

# An upgrade with the unpacked programs against the unpacked emulator.
ports="$work/ports"
mkdir -p "$ports" "$work/home"
chmod 755 "$ports" "$work/home"
"$bin/tolm-devsim" gen scanner-fw --out "$work/lb1y.bin" --set model=LB1Y --set blank=1-200 >/dev/null
chmod 644 "$work/lb1y.bin"
"$bin/tolm-devsim" run scanner --link "$ports/COM7" >"$work/devsim.log" 2>&1 &
devsim_pid=$!
for _ in $(seq 100); do [ -L "$ports/COM7" ] && break; sleep 0.1; done
[ -L "$ports/COM7" ] || { cat "$work/devsim.log"; fail "tolm-devsim made no line"; exit 1; }
export TOLM_PORT_DIR="$ports" HOME="$work/home" XDG_STATE_HOME="$work/home/state"
result=$("$bin/tolm-upgrade-cli" upgrade --port COM7 "$work/lb1y.bin" 2>"$work/upgrade.err") || true
[ "$(tail -n 1 <<<"$result")" = "Upgrade PASS" ] || { cat "$work/upgrade.err"; fail "the upgrade ended with \"$result\""; }
"$bin/tolm-upgrade-cli" ports | grep -E "^COM7 .* free$" -q || fail "ports does not show COM7 free: $("$bin/tolm-upgrade-cli" ports)"
# The unpacked program sends a results file to a database through an ODBC driver.
printf '%s\n%s\n' "time,port,family,model_code,kernel_digits,terminal_id,terminal_name,result,seconds" \
  "2026-12-08T21:30:00+0100,COM7,2LB,LB1Y,7_1_0,,,Upgrade PASS,12.3" >"$work/bench.csv"
pushed=$("$bin/tolm-upgrade-cli" records push --results "$work/bench.csv" --db "Driver=SQLite3;Database=$work/records.db" 2>&1) ||
  fail "records push: $pushed"
[ "$(sqlite3 "$work/records.db" "SELECT model_code FROM tolm_attempts")" = LB1Y ] || fail "records push stored nothing: $pushed"

# The checkers of the package, the desktop entry and the metainfo.
lintian_out=$(lintian --allow-root --display-info --fail-on error "$deb" 2>&1) || fail "lintian: $lintian_out"
[ -z "$lintian_out" ] || echo "lintian: $lintian_out"
# Warnings and errors only: "hardening-no-fortify-functions" is an information,
# given also to a program whose calls all have sizes the compiler knows (no
# checked twin needed); the fortified command line is checked above.
if grep -Eq "^[WE]: .*hardening-" <<<"$lintian_out"; then fail "lintian finds hardening missing"; fi
desktop-file-validate "$root"/usr/share/applications/*.desktop || fail "desktop-file-validate"
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml >"$work/appstream.log" 2>&1 ||
  { cat "$work/appstream.log"; fail "appstreamcli validate"; }

# A port whose permissions shut an unprivileged account out.
if [ "$(id -u)" -ne 0 ]; then
  echo "package test: not root, so no unprivileged account can be made; the permission hint is not tried"
else
  account=tolm-nodialout
  if ! id "$account" >/dev/null 2>&1; then
    useradd --system --no-create-home --shell /usr/sbin/nologin "$account"
    account_made=$account
  fi
  as_account() { setpriv --reuid="$account" --regid="$account" --clear-groups "$@"; }
  line=$(readlink -f "$ports/COM7")
  group=dialout
  getent group "$group" >/dev/null || group=tty
  chgrp "$group" "$line"
  chmod 0660 "$line"
  err=$(as_account "$bin/tolm-upgrade-cli" upgrade --port COM7 "$work/lb1y.bin" 2>&1 >/dev/null) && status=0 || status=$?
  [ "$status" -eq 3 ] || fail "upgrade without access exited with $status, not 3"
  hint="permission denied on $line (group $group): add your account to it with \`sudo usermod -aG $group \$USER\`, then log in again"
  grep -qxF "E001: Warn ComPort to be unable to open" <<<"$err" || fail "no E001 line: $err"
  grep -A1 -xF "E001: Warn ComPort to be unable to open" <<<"$err" | tail -n 1 | grep -qxF "$hint" ||
    fail "the line after E001 is not the hint: $err"
  as_account "$bin/tolm-upgrade-cli" ports | grep -E "^COM7 .* no permission$" -q ||
    fail "ports does not show COM7 as no permission: $(as_account "$bin/tolm-upgrade-cli" ports)"
  as_account "$bin/tolm-upgrade-cli" ports --json | grep -qF '"state": "no permission"' || fail "ports --json"
fi

if [ "$failures" -ne 0 ]; then
  echo "package test: $failures failure(s)"
  exit 1
fi
echo "package test: $deb passed"
