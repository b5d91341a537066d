#!/usr/bin/env bash
# Builds the Debian package and checks it as a bench would use it: unpacked
# into a temporary root, its programs answer --version and --help and upgrade
# an emulated scanner, and the command line and the emulator link no Qt;
# lintian finds no error, the desktop entry and the AppStream metainfo
# validate; nothing is setuid and every file is 0644 or 0755; and an account
# that a port's permissions shut out gets the E001 line with the hint, exit
# status 3, and "no permission" in `ports`.
set -euo pipefail
cd "$(dirname "$0")/../.."

packages=(lintian desktop-file-utils appstream dpkg-dev file)
scripts/install-packages.sh "${packages[@]}"

version=$(sed -n 's/^project(tolm_upgrade VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
deb="dist/tolm-upgrade_${version}_amd64.deb"
[ "$(scripts/package.sh)" = "$deb" ] || { echo "FAIL: package.sh did not make $deb"; exit 1; }

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

work=$(mktemp -d)
devsim_pid=""
cleanup() {
  [ -z "$devsim_pid" ] || kill "$devsim_pid" 2>/dev/null || true
  [ -z "$devsim_pid" ] || wait "$devsim_pid" 2>/dev/null || true
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

# The checkers of the package, the desktop entry and the metainfo.
lintian_out=$(lintian --allow-root --fail-on error "$deb" 2>&1) || fail "lintian: $lintian_out"
[ -z "$lintian_out" ] || echo "lintian: $lintian_out"
desktop-file-validate "$root"/usr/share/applications/*.desktop || fail "desktop-file-validate"
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml >"$work/appstream.log" 2>&1 ||
  { cat "$work/appstream.log"; fail "appstreamcli validate"; }

# A port whose permissions shut an unprivileged account out.
if [ "$(id -u)" -ne 0 ]; then
  echo "package test: not root, so no unprivileged account can be made; the permission hint is not tried"
else
  account=tolm-nodialout
  id "$account" >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin "$account"
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
