#!/usr/bin/env bash
# End to end under Wine: tolm-upgrade-cli.exe as an operator runs it on
# Windows, against tolm-devsim on pseudo-terminals linked as COM ports of the
# test prefix ($WINEPREFIX/dosdevices/comN).
#   e2e.sh DEVSIM CLI.EXE GROUP HELPERS LINUX-CLI
# HELPERS is the folder of consolerun.exe and fileholder.exe; LINUX-CLI the
# Linux build's tolm-upgrade-cli, whose times the Windows program is held to.
# When TOLM_MODEMLINE names the modem-line library (Modemline.cpp), it is
# preloaded into Wine's processes, and every WaitCommEvent stays pending as
# on a real driver; otherwise Wine ends each at once (the fallback path).
# GROUP is one of:
#   families   every family to "Upgrade PASS" with the flash equal to the file
#              (the scanner's file in a folder with a Chinese name, the TID
#              file at a path of over 300 characters)
#   failures   a pulled adapter, a silent device, a port held by another
#              program, Ctrl-C during a transfer and during the wait for an
#              announcement, Ctrl-C twice, a firmware file held or locked by
#              another program, the log
#   discovery  the registry keys of port discovery (Chinese names, the
#              layouts of FTDI's and usbser's drivers), through `ports`
#   ports      two ports at once, a station that takes a device as it
#              arrives, Ctrl-C on the console of a multi-port run, Chinese
#              text on a console, and `ports` that opens no port unless
#              told to (--probe), leaving DTR and RTS alone
set -uo pipefail
devsim=$1 cli=$2 group=$3 helpers=${4:-} linux_cli=${5:-}
: "${WINEPREFIX:?WINEPREFIX must name the test prefix}"
export WINEDEBUG=-all
line=plain
if [ -n "${TOLM_MODEMLINE:-}" ]; then
  # It acts on pseudo-terminal slaves alone; the emulator holds the masters.
  line=pending
  export LD_PRELOAD="$TOLM_MODEMLINE"
fi
echo "line: $line"

work=$(mktemp -d)
declare -A device_pid=()
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
cleanup() {
  for n in "${!device_pid[@]}"; do stop_device "$n"; done
  rm -rf "$work"
}
trap cleanup EXIT

# The Windows name of a file of this machine (drive Z: is its root).
winpath() { local p=$1; echo "Z:${p//\//\\}"; }

# gen KIND FILE [KEY=VALUE...]
gen() {
  local kind=$1 file=$2
  shift 2
  local sets=()
  for s in "$@"; do sets+=(--set "$s"); done
  mkdir -p "$(dirname "$file")"
  "$devsim" gen "$kind" --out "$file" "${sets[@]}" >/dev/null || fail "tolm-devsim gen $kind"
}

# start_device DEVICE N [tolm-devsim run option...]: the device on COMn, its
# flash kept in $work/image-N.
start_device() {
  local device=$1 n=$2
  shift 2
  "$devsim" run "$device" --link "$WINEPREFIX/dosdevices/com$n" --image-out "$work/image-$n" "$@" \
    >"$work/devsim-$n.out" 2>&1 &
  device_pid[$n]=$!
  for _ in $(seq 100); do grep -q '^PTY ' "$work/devsim-$n.out" 2>/dev/null && return 0; sleep 0.05; done
  fail "tolm-devsim $device on COM$n did not start: $(cat "$work/devsim-$n.out")"
}

# stop_device N: ends the device; its image is then complete.
stop_device() {
  local pid=${device_pid[$1]:-}
  [ -n "$pid" ] || return 0
  kill -TERM "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  unset "device_pid[$1]"
  rm -f "$WINEPREFIX/dosdevices/com$1"
}

# cli ARG...: runs the program; sets $rc, $out and $err (files) and $last (the
# last line on stdout, without the CR that Windows text output adds).
cli() {
  wine "$cli" "$@" >"$work/out" 2>"$work/err"
  rc=$?
  out="$work/out" err="$work/err"
  last=$(tail -n 1 "$out" | tr -d '\r')
}

expect_result() {  # WHAT RC LAST
  [ "$rc" = "$2" ] || fail "$1: exit status $rc, expected $2; stderr: $(tail -n 5 "$err")"
  [ "$last" = "$3" ] || fail "$1: result line \"$last\", expected \"$3\""
}

# expect_flash WHAT IMAGE FILE FROM COUNT [IMAGE-OFFSET [FILL-TO]]: the flash
# holds the file's bytes [FROM, FROM+COUNT), each minus 10 as stored, at
# IMAGE-OFFSET; with FILL-TO, the rest up to that size is 0xFF.
expect_flash() {
  python3 - "$@" <<'EOF' || fail "$1: the flash differs from the file"
import sys
what, image, file, start, count = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), int(sys.argv[5])
at = int(sys.argv[6]) if len(sys.argv) > 6 else 0
fill = int(sys.argv[7]) if len(sys.argv) > 7 else None
flash = open(image, 'rb').read()
body = bytes((b - 10) & 0xFF for b in open(file, 'rb').read()[start:start + count])
ok = flash[at:at + count] == body
if fill is not None:
    ok = ok and len(flash) == fill and flash[at + count:] == b'\xff' * (fill - at - count)
sys.exit(0 if ok else 1)
EOF
}

families() {
  # First-generation scanner; its file in a folder with a Chinese name.
  local fw="$work/韌體/掃描器.bin"
  gen scanner-fw "$fw" blank=1-150
  start_device scanner 21 --set model=LB1Y
  cli upgrade --port COM21 "$(winpath "$fw")"
  expect_result scanner 0 "Upgrade PASS"
  stop_device 21
  expect_flash scanner "$work/image-21" "$fw" 0 262144

  # TID two-image file: the scanner, then a second later its docking
  # station. The file lies at a path of over 300 characters, which Windows
  # opens only in the extended-length form (Wine opens it either way).
  local deep="$work"
  while [ ${#deep} -lt 300 ]; do deep="$deep/a-folder-with-a-long-name-for-the-path"; done
  local pair="$deep/pair.bin"
  gen tid-fw "$pair" images=2 blank=1-150 dock-blank=1-150
  start_device tid-pair 22
  cli upgrade --port 22 "$(winpath "$pair")"
  expect_result "TID two-image at a path of ${#pair} characters" 0 "Upgrade PASS"
  stop_device 22
  expect_flash "TID scanner image" "$work/image-22" "$pair" 0 262144
  expect_flash "TID dock image" "$work/image-22" "$pair" 263168 262144 262144

  # Quorin terminal: the transfer starts with its announcement.
  gen quorin-firmware "$work/qr.bin" body-size=560128 version=105 kernel=3
  start_device quorin 23 --set kernel=3 --set announce-ms=300
  cli upgrade --port 23 --wait 30 "$(winpath "$work/qr.bin")"
  expect_result Quorin 0 "Upgrade PASS"
  stop_device 23
  expect_flash Quorin "$work/image-23" "$work/qr.bin" 0 560128

  # KV firmware and font: the terminal answers only once the line has gone
  # from 9600 to 38400.
  gen kv-firmware "$work/kv.bin" body-size=65536 blank=8192-20480 kernel=3
  start_device kv 24 --set kernel=3
  cli upgrade --port 24 "$(winpath "$work/kv.bin")"
  expect_result "KV firmware" 0 "Upgrade PASS"
  stop_device 24
  expect_flash "KV firmware" "$work/image-24" "$work/kv.bin" 0 $((65536 + 1024)) 0 $((2 << 20))

  gen kv-font "$work/big5.fon" size=10000
  start_device kv 25
  cli upgrade --port 25 "$(winpath "$work/big5.fon")"
  expect_result "KV font" 0 "Font Upgrade PASS"
  stop_device 25
  python3 - "$work/image-25" "$work/big5.fon" <<'EOF' || fail "KV font: entries belong from data position 512 on"
import sys
flash, font = open(sys.argv[1], 'rb').read(), open(sys.argv[2], 'rb').read()
expected = (b'\xff' * 512 * 1024 + font).ljust(2 << 20, b'\xff')
sys.exit(0 if flash == expected else 1)
EOF
}

failures_group() {
  gen scanner-fw "$work/lb1y.bin" blank=1-150
  gen scanner-fw "$work/full.bin"
  gen quorin-firmware "$work/qr.bin"

  # The adapter is pulled mid-transfer: "Upgrade Error" within seconds, and
  # the next run finds no port.
  start_device scanner 26 --fault vanish:50
  local start=$SECONDS
  cli upgrade --port 26 "$(winpath "$work/lb1y.bin")"
  expect_result "pulled adapter" 1 "Upgrade Error"
  [ $((SECONDS - start)) -lt 30 ] || fail "pulled adapter: the run took $((SECONDS - start)) s"
  cli upgrade --port 26 "$(winpath "$work/lb1y.bin")"
  [ "$rc" = 3 ] || fail "pulled adapter: the next run's exit status is $rc, expected 3"
  stop_device 26

  # A silent device (every reply lost): "G006.0 Connection Error" within the
  # Linux program's time against the same device plus a second, Wine's own
  # start of a program aside (measured just before), and the port is free
  # again at once. A close that waited out its bound would take seconds more.
  start_device scanner 30 --fault drop:rate=1
  local pty linux_ms windows_ms start_ms
  pty=$(sed -n 's/^PTY //p' "$work/devsim-30.out")
  start=$(date +%s%N)
  "$linux_cli" upgrade --port "$pty" "$work/lb1y.bin" >"$work/linux.out" 2>&1
  linux_ms=$((($(date +%s%N) - start) / 1000000))
  grep -q "^G006.0 Connection Error" "$work/linux.out" || fail "silent device, Linux: $(cat "$work/linux.out")"
  start=$(date +%s%N)
  wine "$cli" --version >/dev/null 2>&1
  start_ms=$((($(date +%s%N) - start) / 1000000))
  start=$(date +%s%N)
  cli upgrade --port 30 "$(winpath "$work/lb1y.bin")"
  windows_ms=$((($(date +%s%N) - start) / 1000000))
  expect_result "silent device" 1 "G006.0 Connection Error"
  echo "silent device: ${windows_ms} ms, of which Wine's start ${start_ms} ms (Linux ${linux_ms} ms)"
  [ $((windows_ms - start_ms)) -le $((linux_ms + 1000)) ] ||
    fail "silent device: ${windows_ms} ms with Wine's start of ${start_ms} ms; Linux ${linux_ms} ms"
  cli upgrade --port 30 "$(winpath "$work/lb1y.bin")"
  expect_result "silent device, again" 1 "G006.0 Connection Error"
  stop_device 30

  # A firmware file that another program holds is refused before anything
  # is sent, with a message that names the file and the lock; exit status 2.
  # A holder that lets no one read the file is refused by Wine as by
  # Windows; a lock on the file's bytes Wine does not enforce on reads, so
  # the program must find it itself. The silent device logs every request.
  start_device scanner 32 --fault drop:rate=1 --fault-log "$work/asked"
  local how holder
  for how in share lock; do
    wine "$helpers/fileholder.exe" "$(winpath "$work/lb1y.bin")" "$how" >"$work/holder.out" 2>&1 &
    holder=$!
    for _ in $(seq 200); do grep -q held "$work/holder.out" && break; sleep 0.05; done
    cli upgrade --port 32 "$(winpath "$work/lb1y.bin")"
    [ "$rc" = 2 ] || fail "file held ($how): exit status $rc, expected 2"
    grep -q 'lb1y.bin: another program holds' "$err" || fail "file held ($how): $(cat "$err")"
    kill "$holder" 2>/dev/null
    wait "$holder" 2>/dev/null
  done
  stop_device 32
  grep -q '^reply' "$work/asked" && fail "file held: the device was asked: $(cat "$work/asked")"

  # A port held by another program: E001 with its hint, exit status 3. The
  # holder waits for a Quorin announcement that does not come; Ctrl-C ends
  # its wait with status 130.
  start_device quorin 27 --set announce-ms=60000
  wine "$cli" upgrade --port 27 --wait 60 "$(winpath "$work/qr.bin")" >"$work/holder.out" 2>"$work/holder.err" &
  local holder=$!
  for _ in $(seq 200); do grep -q "waiting up to" "$work/holder.err" 2>/dev/null && break; sleep 0.05; done
  cli upgrade --port 27 "$(winpath "$work/lb1y.bin")"
  [ "$rc" = 3 ] || fail "held port: exit status $rc, expected 3"
  grep -q "E001: Warn ComPort to be unable to open" "$err" || fail "held port: no E001 line: $(cat "$err")"
  grep -q "COM27 is in use by another program" "$err" || fail "held port: no hint: $(cat "$err")"
  kill -INT "$holder"
  wait "$holder"
  local holder_rc=$?
  [ "$holder_rc" = 130 ] || fail "Ctrl-C during the wait for an announcement: exit status $holder_rc, expected 130"
  stop_device 27

  # Ctrl-C during a transfer at line speed: the exchange in progress ends,
  # nothing more is sent, the port is closed, exit status 130.
  start_device scanner 28 --baud-emulation --transfer-log "$work/transfers"
  wine "$cli" upgrade --port 28 "$(winpath "$work/full.bin")" >"$work/stop.out" 2>"$work/stop.err" &
  local run=$!
  for _ in $(seq 200); do grep -q "progress" "$work/stop.err" 2>/dev/null && break; sleep 0.05; done
  sleep 1
  kill -INT "$run"
  wait "$run"
  rc=$?
  last=$(tail -n 1 "$work/stop.out" | tr -d '\r')
  expect_result "Ctrl-C" 130 "Upgrade Error"
  grep -q "Ctrl-C: stopping after the current exchange" "$work/stop.err" || fail "Ctrl-C: not told: $(cat "$work/stop.err")"
  stop_device 28
  [ ! -s "$work/transfers" ] || fail "Ctrl-C: the transfer went on to its end"
  start_device scanner 28
  cli upgrade --port 28 "$(winpath "$work/lb1y.bin")"
  expect_result "after Ctrl-C, the port" 0 "Upgrade PASS"
  stop_device 28

  # Ctrl-C twice ends the program at once, with status 130, never the
  # system's 0xC000013A. From the 30th on every reply is lost, so once the
  # device has dropped one, the exchange that the first Ctrl-C lets finish
  # waits out its second when the second comes.
  start_device scanner 31 --fault drop:30-1000 --fault-log "$work/dropped"
  wine "$cli" upgrade --port 31 "$(winpath "$work/lb1y.bin")" >"$work/twice.out" 2>"$work/twice.err" &
  run=$!
  for _ in $(seq 200); do grep -q "^reply 30" "$work/dropped" 2>/dev/null && break; sleep 0.05; done
  kill -INT "$run"
  sleep 0.1
  kill -INT "$run"
  wait "$run"
  rc=$?
  [ "$rc" = 130 ] || fail "Ctrl-C twice: exit status $rc, expected 130"
  stop_device 31

  # The diagnostic log: a TID block whose first attempt fails is written to
  # %LOCALAPPDATA%\Tolm Upgrade\DUMMY.TXT, its lines ending in CR LF.
  local appdata
  appdata=$(wine cmd /c echo %LOCALAPPDATA% | tr -d '\r')
  local log
  log=$(winepath -u "$appdata\\Tolm Upgrade\\DUMMY.TXT" 2>/dev/null)
  rm -f "$log"
  gen tid-fw "$work/tw2y.bin" images=1 blank=1-150
  start_device tid-scanner 29 --fault drop:10
  cli upgrade --port 29 "$(winpath "$work/tw2y.bin")"
  expect_result "TID with a lost reply" 0 "Upgrade PASS"
  stop_device 29
  if [ ! -s "$log" ]; then
    fail "log: nothing in $log"
  else
    python3 - "$log" <<'EOF' || fail "log: lines do not all end in CR LF"
import sys
data = open(sys.argv[1], 'rb').read()
sys.exit(0 if data.endswith(b'\r\n') and data.count(b'\n') == data.count(b'\r\n') else 1)
EOF
  fi
}

discovery() {
  # HARDWARE is rebuilt at each start of the prefix's server: keep it
  # running while the keys are written and read.
  wineserver -p 60
  local map='HKLM\HARDWARE\DEVICEMAP\SERIALCOMM'
  local class='HKLM\SYSTEM\CurrentControlSet\Control\Class\{4D36E978-E325-11CE-BFC1-08002BE10318}'
  local enum='HKLM\SYSTEM\CurrentControlSet\Enum'
  # Texts go to reg.exe as UTF-8.
  reg_add() { LC_ALL=C.UTF-8 wine reg add "$@" /f >/dev/null; }
  # Only its values: under the volatile HARDWARE key no key can be made again.
  wine reg delete "$map" /va /f >/dev/null 2>&1
  # COM4 before COM2 in the map; COM5 without a device name; a USB adapter's
  # name for COM4; a device name (COM9) without a port; a name that is no
  # text; a Bluetooth link; the built-in port's name in Chinese.
  reg_add "$map" /v 'VCP0' /t REG_SZ /d COM4
  reg_add "$map" /v '\Device\Serial1' /t REG_SZ /d COM2
  reg_add "$map" /v '\Device\Serial4' /t REG_SZ /d COM5
  reg_add "$map" /v 'BthModem0' /t REG_SZ /d COM12
  reg_add "$class\\0100" /v MatchingDeviceId /t REG_SZ /d '*PNP0501'
  reg_add "$class\\0101" /v MatchingDeviceId /t REG_SZ /d 'usb\vid_0403&pid_6001'
  reg_add "$enum\\ACPI\\PNP0501\\1" /v FriendlyName /t REG_SZ /d '通訊連接埠 (COM2)'
  reg_add "$enum\\ACPI\\PNP0501\\2" /v FriendlyName /t REG_DWORD /d 5
  reg_add "$enum\\ACPI\\PNP0501\\3" /v FriendlyName /t REG_SZ /d 'Communications Port (COM9)'
  reg_add "$enum\\USB\\VID_0403&PID_6001\\A1B2C3" /v FriendlyName /t REG_SZ /d 'USB Serial Port (COM4)'
  reg_add "$enum\\Root\\PORTS\\0000" /v FriendlyName /t REG_SZ /d 'Standard Serial over Bluetooth link (COM12)'
  # The layouts that FTDI's driver (COM6) and Windows's usbser (COM7, the
  # class usb\class_02&subclass_02) write, which discovery's walk misses:
  # `ports` takes their names by the PortName each instance was given.
  reg_add "$map" /v '\Device\VCP1' /t REG_SZ /d COM6
  reg_add "$map" /v '\Device\USBSER000' /t REG_SZ /d COM7
  reg_add "$class\\0102" /v MatchingDeviceId /t REG_SZ /d 'ftdibus\comport&vid_0403&pid_6015'
  reg_add "$class\\0103" /v MatchingDeviceId /t REG_SZ /d 'usb\class_02&subclass_02'
  local ftdi="$enum\\FTDIBUS\\VID_0403+PID_6015+DK0AB1CDA\\0000" usbser="$enum\\USB\\VID_2341&PID_0043\\85736323838351F0A1C1"
  reg_add "$ftdi" /v FriendlyName /t REG_SZ /d 'USB Serial Port (COM6)'
  reg_add "$ftdi\\Device Parameters" /v PortName /t REG_SZ /d COM6
  reg_add "$usbser" /v FriendlyName /t REG_SZ /d 'USB 序列裝置 (COM7)'
  reg_add "$usbser" /v Service /t REG_SZ /d usbser
  reg_add "$usbser\\Device Parameters" /v PortName /t REG_SZ /d COM7
  # COM2 leads to a device and is free; COM4 is held by another program.
  start_device scanner 2
  start_device scanner 4
  gen quorin-firmware "$work/qr.bin"
  wine "$cli" upgrade --port 4 --wait 60 "$(winpath "$work/qr.bin")" >/dev/null 2>"$work/holder.err" &
  local holder=$!
  for _ in $(seq 200); do grep -q "waiting up to" "$work/holder.err" 2>/dev/null && break; sleep 0.05; done

  cli ports --discovery
  expected='COM2||通訊連接埠 (COM2),COM4||USB Serial Port (COM4),COM5||,COM6||,COM7||,COM12||Standard Serial over Bluetooth link (COM12)'
  [ "$(tr -d '\r' <"$out")" = "$expected" ] || fail "discovery text: $(cat "$out"), expected $expected"

  # The list opens no port, so it tells no state; --probe does.
  cli ports
  grep -q "^COM7 *USB 序列裝置 (COM7)" "$out" || fail "ports: $(cat "$out")"
  grep -q "STATE\|free\|in use" "$out" && fail "ports told a state without --probe: $(cat "$out")"
  local probe
  for probe in "" --probe; do
    cli ports --json $probe
    python3 - "$out" "$probe" <<'PYEND' || fail "ports --json $probe: $(cat "$out")"
import json, sys
ports = json.load(open(sys.argv[1]))
probe = sys.argv[2] == '--probe'
seen = [(p['port'], p['name'], p['readable_name'], p['device'], p.get('state')) for p in ports]
expected = [
    (2, 'COM2', '通訊連接埠 (COM2)', '\\\\.\\COM2', 'free'),
    (4, 'COM4', 'USB Serial Port (COM4)', '\\\\.\\COM4', 'in use'),
    (5, 'COM5', '', '\\\\.\\COM5', 'absent'),
    (6, 'COM6', 'USB Serial Port (COM6)', '\\\\.\\COM6', 'absent'),
    (7, 'COM7', 'USB 序列裝置 (COM7)', '\\\\.\\COM7', 'absent'),
    (12, 'COM12', 'Standard Serial over Bluetooth link (COM12)', '\\\\.\\COM12', 'absent'),
]
if not probe:
    expected = [e[:4] + (None,) for e in expected]
if seen != expected:
    print(seen)
    sys.exit(1)
PYEND
  done
  kill -INT "$holder" 2>/dev/null
  wait "$holder" 2>/dev/null
  # The groups after this one time Wine's start against a server that is
  # already up: start the next one now, persistent as the stage's own was
  # and, like it, writing nowhere (a server that held this test's output
  # open would keep ctest waiting for its end).
  wineserver -k
  wineserver -w
  wineserver -p >/dev/null 2>&1
  # The prefix's own programs (services, device and plug-and-play managers)
  # start with the first program after the restart and keep its output open
  # for good: started here, they hold nothing of the next test's.
  wine cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
}

several_ports() {
  gen scanner-fw "$work/lb1y.bin" blank=1-150
  # Two ports at once, each in a process of its own: both pass, each flash
  # equal to the file.
  start_device scanner 44
  start_device scanner 45
  cli upgrade --port 44,45 "$(winpath "$work/lb1y.bin")"
  [ "$rc" = 0 ] || fail "two ports: exit status $rc; stderr: $(tail -n 5 "$err")"
  [ "$(tr -d '\r' <"$out")" = $'COM44: Upgrade PASS\nCOM45: Upgrade PASS' ] || fail "two ports: $(cat "$out")"
  stop_device 44
  stop_device 45
  expect_flash "two ports, COM44" "$work/image-44" "$work/lb1y.bin" 0 262144
  expect_flash "two ports, COM45" "$work/image-45" "$work/lb1y.bin" 0 262144

  # A station finds a device when it arrives, records it, sees it go, and
  # ends with Ctrl-C.
  wine "$cli" station --port 46 --results "$(winpath "$work/results.csv")" "$(winpath "$work/lb1y.bin")" \
    >"$work/station.out" 2>"$work/station.err" &
  local station=$!
  sleep 2
  # The port is the station's: a second station and an upgrade on it are refused.
  cli station --port 46 --results "$(winpath "$work/other.csv")" "$(winpath "$work/lb1y.bin")"
  [ "$rc" = 2 ] && tr -d '\r' <"$err" | grep -q "COM46 is served by a running station" ||
    fail "station: a second station on its port: exit status $rc; stderr: $(cat "$err")"
  cli upgrade --port 46 "$(winpath "$work/lb1y.bin")"
  [ "$rc" = 2 ] || fail "station: an upgrade on its port: exit status $rc; stderr: $(cat "$err")"
  start_device scanner 46
  for _ in $(seq 300); do grep -q "Upgrade PASS" "$work/results.csv" 2>/dev/null && break; sleep 0.1; done
  grep -q ",COM46,2LB,LB1Y,.*,Upgrade PASS," "$work/results.csv" || fail "station: no record: $(cat "$work/results.csv")"
  stop_device 46
  waits() { tr -d '\r' <"$work/station.err" | grep -c "^COM46: waiting$"; }
  for _ in $(seq 100); do [ "$(waits)" -ge 2 ] && break; sleep 0.1; done
  [ "$(waits)" -ge 2 ] || fail "station: the device's going was not seen: $(cat "$work/station.err")"
  kill -INT "$station"
  wait "$station"
  local station_rc=$?
  [ "$station_rc" = 130 ] || fail "station: exit status $station_rc after Ctrl-C, expected 130"

  console_runs
  console_text
  listing_opens_no_port
}

# A multi-port upgrade on a console of its own, as in a Command Prompt. Its
# runs are not attached to the console, so none of the console's events
# (Ctrl-C, Ctrl-Break, its closing) reaches them: the parent alone decides,
# and stops each after its current exchange; its exit status is 130. A
# second Ctrl-C ends it at once, with 130 as well.
console_runs() {
  gen scanner-fw "$work/full.bin"
  local presses n said
  for presses in 1 2; do
    for n in 47 48; do start_device scanner $n --baud-emulation --transfer-log "$work/transfers-$n"; done
    wine "$helpers/consolerun.exe" ctrl-c "$(winpath "$work/console.err")" $presses -- "$(winpath "$cli")" \
      upgrade --port 47,48 "$(winpath "$work/full.bin")" >"$work/console.out" 2>&1
    said=$(tr -d '\r' <"$work/console.out")
    grep -qx "attached 2" <<<"$said" || fail "console, Ctrl-C x$presses: runs attached to the console: $said"
    grep -qx "exit 130" <<<"$said" || fail "console, Ctrl-C x$presses: $said"
    if [ $presses = 1 ]; then
      # Each run stopped after its exchange and reported: none was ended by the console.
      for n in 47 48; do
        grep -q "^COM$n: Upgrade" <<<"$said" || fail "console, Ctrl-C: COM$n did not report: $said"
      done
      grep -q "ended\|signal" <<<"$said" && fail "console, Ctrl-C: a run was ended: $said"
    fi
    for n in 47 48; do
      stop_device $n
      [ ! -s "$work/transfers-$n" ] || fail "console, Ctrl-C x$presses: COM$n's transfer went on to its end"
      rm -f "$work/transfers-$n"
    done
  done
}

# Text on a console is written as UTF-16: a Chinese file name shows on a
# console whose code page (437, an English Windows) has no Chinese, and the
# console's code page is left as it was.
console_text() {
  local fw="$work/韌體/掃描器.bin"
  gen scanner-fw "$fw"
  # Wine gives a program a console of its own when it runs on a terminal.
  script -qec "wine '$helpers/consolerun.exe' text '$(winpath "$work/screen")' -- '$(winpath "$cli")' \
    identify '$(winpath "$fw")'" /dev/null </dev/null >/dev/null 2>&1
  tr -d '\r' <"$work/screen" >"$work/screen.txt"
  grep -q "^codepage 437 437" "$work/screen.txt" ||
    fail "console text: the code page changed: $(head -1 "$work/screen.txt")"
  grep -q "韌體.掃描器.bin" "$work/screen.txt" ||
    fail "console text: no Chinese name on the console: $(cat "$work/screen.txt")"
}

# Runs a command while watching a pseudo-terminal's slave; prints how often
# it was opened meanwhile, and whether COM49 is in the command's output.
opens_of() {
  python3 - "$@" <<'PYEND'
import ctypes, os, subprocess, sys
libc = ctypes.CDLL(None, use_errno=True)
fd = libc.inotify_init1(os.O_NONBLOCK)
libc.inotify_add_watch(fd, sys.argv[1].encode(), 0x20)  # IN_OPEN
out = subprocess.run(sys.argv[2:], capture_output=True).stdout.decode('utf-8', 'replace')
try:
    events = os.read(fd, 65536)
except BlockingIOError:
    events = b''
print(len(events) // 16, 'COM49' in out)
PYEND
}

# `ports` opens no port: Windows tells no state without opening a port, and
# opening one can reset the device on it. `ports --probe` opens each port
# briefly and sets nothing on it, so DTR and RTS stay as they were (on the
# line with modem lines, the library logs every change of them).
listing_opens_no_port() {
  export TOLM_MODEM_LOG="$work/modem.log"
  start_device scanner 49
  wine reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v TolmTest49 /t REG_SZ /d COM49 /f >/dev/null
  local pty seen
  pty=$(sed -n 's/^PTY //p' "$work/devsim-49.out")
  seen=$(opens_of "$pty" wine "$cli" ports)
  [ "$seen" = "0 True" ] || fail "ports: COM49 not listed, or opened (opens, listed: $seen)"
  seen=$(opens_of "$pty" wine "$cli" ports --json)
  [ "$seen" = "0 True" ] || fail "ports --json: COM49 not listed, or opened (opens, listed: $seen)"
  seen=$(opens_of "$pty" wine "$cli" ports --probe)
  [ "${seen%% *}" -ge 1 ] || fail "ports --probe: COM49 was not opened (opens, listed: $seen)"
  if [ "$line" = pending ]; then
    [ ! -s "$work/modem.log" ] || fail "ports --probe changed DTR or RTS: $(cat "$work/modem.log")"
    # The log sees what an upgrade sets, so its silence above means something.
    gen scanner-fw "$work/lb1y.bin" blank=1-150
    cli upgrade --port 49 "$(winpath "$work/lb1y.bin")"
    [ -s "$work/modem.log" ] || fail "the modem log saw no line change of an upgrade"
  fi
  wine reg delete 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v TolmTest49 /f >/dev/null 2>&1
  stop_device 49
  unset TOLM_MODEM_LOG
}

# A server that ends while only the emulator's lines are left to it would
# make the next program start a new one, and the silent device's time would
# count that start: keep one up for the group (a running one stays as it is).
[ "$group" = discovery ] || wineserver -p >/dev/null 2>&1 || true
case "$group" in
  families) families ;;
  ports) several_ports ;;
  failures) failures_group ;;
  discovery) discovery ;;
  *) echo "e2e.sh: no group $group" >&2; exit 2 ;;
esac
[ "$failures" = 0 ] || { echo "$failures check(s) failed in $group"; exit 1; }
echo "$group: all passed"
