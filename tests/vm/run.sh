#!/usr/bin/env bash
# Upgrades emulated devices through real kernel serial drivers: a small QEMU
# guest (Debian's kernel, a busybox initramfs holding tolm-upgrade-cli) whose
# 8250 UARTs and FTDI USB adapters lead to tolm-devsim on this machine.
# Checks each result line, exit status and emulated flash; prints the boot
# time, each test's time and the line time against the data phase.
# Usage: tests/vm/run.sh [BUILD_DIR]   (builds the two programs if needed;
# TOLM_VM_KEEP=1 keeps the work folder with the console, images and devsim output)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$(realpath -m "${1:-build}")
stage_start=$SECONDS

packages=(qemu-system-x86 linux-image-amd64 busybox-static cpio)
scripts/install-packages.sh --no-recommends "${packages[@]}"
TOLM_BUILD_DIR="$build" TOLM_TARGETS="tolm-upgrade-cli tolm-devsim" scripts/setup.sh >/dev/null
cli="$build/src/cli/tolm-upgrade-cli"
devsim="$build/tools/devsim/tolm-devsim"

kernel=$(ls /boot/vmlinuz-* | sort -V | tail -n 1)
kver=${kernel#/boot/vmlinuz-}
moddir=/lib/modules/$kver

work=$(mktemp -d /tmp/tolm-vm.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  [ "${TOLM_VM_KEEP:-0}" = 1 ] && echo "work folder kept: $work" || rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "vm: FAIL: $*"; failures=$((failures + 1)); }
failures=0

# ---------------------------------------------------------------- firmware files
files=$work/root/files
mkdir -p "$files"
gen() { "$devsim" gen "$1" --out "$files/$2" "${@:3}" >/dev/null; }
gen scanner-fw lb1y.bin --set blank=1-150
gen scanner-fw full.bin
gen tid-fw pair.bin --set images=2 --set blank=1-150 --set dock-blank=1-150
gen kv-firmware kv.bin --set body-size=65536 --set blank=8192-20480 --set kernel=3
gen quorin-firmware qr.bin --set body-size=65536 --set version=105 --set kernel=3

# ---------------------------------------------------------------- initramfs
t0=$SECONDS
root=$work/root
mkdir -p "$root"/{bin,modules,proc,sys,dev,tmp}
cp /bin/busybox "$root/bin/busybox"
cp "$cli" "$root/bin/"
strip --strip-debug "$root/bin/tolm-upgrade-cli"
# The program's shared libraries, at the paths the dynamic loader looks in.
ldd "$cli" | grep -o '/[^ ]*' | while read -r lib; do
  mkdir -p "$root$(dirname "$lib")"
  cp -L "$lib" "$root$lib"
done
# USB host controller and FTDI modules with what they need, in load order.
: >"$root/modules.list"
add_module() {
  local path deps
  path=$(grep -E "/$1\.ko:" "$moddir/modules.dep" | cut -d: -f1)
  deps=$(grep -E "/$1\.ko:" "$moddir/modules.dep" | cut -d: -f2)
  for dep in $(echo "$deps" | tr ' ' '\n' | tac); do
    grep -qx "$(basename "$dep")" "$root/modules.list" && continue
    cp "$moddir/$dep" "$root/modules/" && basename "$dep" >>"$root/modules.list"
  done
  grep -qx "$(basename "$path")" "$root/modules.list" && return
  cp "$moddir/$path" "$root/modules/" && basename "$path" >>"$root/modules.list"
}
for m in xhci-pci usbserial ftdi_sio; do add_module "$m"; done
cp tests/vm/init "$root/init"
cp tests/vm/guest-tests.sh "$root/guest-tests.sh"
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet) >"$work/initramfs.cpio"
# Under TCG, unpacking the compressed kernel takes the guest several seconds: boot
# the uncompressed ELF inside it (QEMU enters it through its PVH note) when it can be had.
guest_kernel=$kernel
offset=$(LC_ALL=C grep -obUaP '\xfd7zXZ\x00' "$kernel" | head -n 1 | cut -d: -f1 || true)
if [ -n "$offset" ]; then
  # xz complains of the bytes after its stream; what counts is an ELF file.
  tail -c +$((offset + 1)) "$kernel" | xz -dcq >"$work/vmlinux" 2>/dev/null || true
  if [ "$(head -c 4 "$work/vmlinux" | od -An -tx1 | tr -d ' \n')" = 7f454c46 ]; then guest_kernel=$work/vmlinux; fi
fi
echo "vm: guest image $(($(stat -c %s "$work/initramfs.cpio") / 1048576)) MB and kernel built in $((SECONDS - t0)) s"

# ---------------------------------------------------------------- emulated devices
# Each paced at its line speed, on a pty that QEMU opens as a host serial line.
start_device() {  # NAME DEVICE [--set ...]
  local name=$1 device=$2
  "$devsim" run "$device" --baud-emulation --link "$work/$name.pty" --image-out "$work/$name.img" "${@:3}" \
    >"$work/$name.devsim" 2>&1 &
  pids+=($!)
  eval "pid_$name=$!"
}
start_device uart scanner --set model=LB1Y
start_device kv kv --set kernel=3
start_device tid tid-pair
start_device qrn quorin --set kernel=3 --set announce-ms=300
start_device pull scanner --set model=LB1Y
# Two adapters that report the same serial number, each to its own scanner.
start_device twin1 scanner --set model=LB1Y --transfer-log "$work/twin1.transfers"
start_device twin2 scanner --set model=LB1Y --transfer-log "$work/twin2.transfers"
for name in uart kv tid qrn pull twin1 twin2; do
  for _ in $(seq 100); do [ -e "$work/$name.pty" ] && break; sleep 0.1; done
  [ -e "$work/$name.pty" ] || { echo "vm: tolm-devsim $name did not start"; cat "$work/$name.devsim"; exit 1; }
done

# ---------------------------------------------------------------- the guest
mkfifo "$work/monitor.in" "$work/monitor.out"
console=$work/console.log
: >"$console"
boot_start=$SECONDS
timeout 480 qemu-system-x86_64 -M pc -accel tcg -cpu max -m 768 -smp 1 -nodefaults -no-reboot -nographic \
  -kernel "$guest_kernel" -initrd "$work/initramfs.cpio" \
  -append "console=ttyS0 quiet loglevel=3 panic=-1 8250.nr_uarts=4 tsc=reliable mitigations=off" \
  -d trace:serial_update_parameters -D "$work/uart-trace.log" \
  -chardev file,id=console,path="$console" -serial chardev:console \
  -chardev serial,id=uart,path="$work/uart.pty" -serial chardev:uart \
  -chardev serial,id=kv,path="$work/kv.pty" -serial chardev:kv \
  -device qemu-xhci,id=xhci,p2=8 \
  -chardev serial,id=tid,path="$work/tid.pty" -device usb-serial,bus=xhci.0,chardev=tid,serial=TID \
  -chardev serial,id=qrn,path="$work/qrn.pty" -device usb-serial,bus=xhci.0,chardev=qrn,serial=QRN \
  -chardev serial,id=pull,path="$work/pull.pty" -device usb-serial,bus=xhci.0,id=pulled,chardev=pull,serial=PULL \
  -chardev serial,id=twin1,path="$work/twin1.pty" -device usb-serial,bus=xhci.0,chardev=twin1,serial=TWIN \
  -chardev serial,id=twin2,path="$work/twin2.pty" -device usb-serial,bus=xhci.0,chardev=twin2,serial=TWIN \
  -chardev null,id=spare \
  -chardev pipe,id=monitor,path="$work/monitor" -mon chardev=monitor,mode=readline \
  >"$work/qemu.out" 2>&1 &
qemu=$!
pids+=($qemu)
exec 3<>"$work/monitor.out"  # keep the monitor's output drained
cat <&3 >"$work/monitor.log" &
pids+=($!)

# Pull the adapter when the guest asks; wait for the guest to finish.
pulled=0
up_seconds=
kv_trace_start=
while kill -0 "$qemu" 2>/dev/null; do
  [ -z "$up_seconds" ] && grep -q "@@ INFO guest up" "$console" && up_seconds=$((SECONDS - boot_start))
  # Where QEMU's trace of the UARTs' speeds stood when the KV run began.
  [ -z "$kv_trace_start" ] && grep -q "^@@ KV-BEGIN" "$console" && kv_trace_start=$(wc -l 2>/dev/null <"$work/uart-trace.log" || echo 0)
  if [ $pulled = 0 ] && grep -q "^@@ PULL-NOW" "$console"; then
    echo "device_del pulled" >"$work/monitor.in"
    pulled=1
  fi
  if [ $pulled = 1 ] && grep -q "^@@ REPLUG-NOW" "$console"; then
    echo "device_add usb-serial,bus=xhci.0,id=other,chardev=spare,serial=OTHER,always-plugged=on" >"$work/monitor.in"
    sleep 2  # OTHER takes the free ttyUSB2 before the pulled adapter comes back
    echo "device_add usb-serial,bus=xhci.0,id=back,chardev=pull,serial=PULL" >"$work/monitor.in"
    pulled=2
  fi
  sleep 0.1
done
wait "$qemu" || fail "qemu ended with status $? (console below)"
guest_seconds=$((SECONDS - boot_start))
tr -d '\r' <"$console" >"$console.txt"

# Stop the devices: each writes its flash and its line-time figures.
for name in uart kv tid qrn pull twin1 twin2; do
  pid_var=pid_$name
  kill "${!pid_var}" 2>/dev/null || true
  wait "${!pid_var}" 2>/dev/null || true
done

# ---------------------------------------------------------------- checks
grep -q "^@@ DONE" "$console.txt" || fail "the guest did not finish its tests"
result() { grep "^@@ RESULT $1 " "$console.txt" | head -n 1; }
expect() {  # NAME EXIT LINE
  local got
  got=$(result "$1")
  [ "$got" = "@@ RESULT $1 exit=$2 line=$3" ] || fail "$1: expected exit=$2 line=$3, got \"${got#@@ RESULT }\""
}
# b - 10 for every byte: what a device's flash holds after receiving a file's bytes.
decode() { LC_ALL=C tr '\012-\377\000-\011' '\000-\365\366-\377'; }
ff() { head -c "$1" /dev/zero | LC_ALL=C tr '\000' '\377'; }
flash_is() {  # NAME DESCRIPTION (expected flash on stdin)
  # cmp stops at the first difference: the rest is read, so that the writer
  # is not killed by SIGPIPE, which would end the rig before its report.
  cmp -s - "$work/$1.img" || { cat >/dev/null; fail "$1: the emulated flash differs from $2"; }
}

expect ports 0 -
grep -Eq "^@@ PORTS COM[0-9]+ +/root/ports/COM[0-9]+ +.*USB.* \(COM[0-9]+\)" "$console.txt" ||
  fail "ports: the FTDI adapters are not listed with their readable names"
grep -q "^@@ INFO adapters: TID=COM[0-9]* QRN=COM[0-9]* PULL=COM[0-9]*$" "$console.txt" ||
  fail "ports: the adapters did not get port numbers ($(grep '^@@ INFO adapters' "$console.txt"))"

grep -q "^@@ RESULT held exit=3 " "$console.txt" && grep -q "^@@ INFO stderr: .*E001: Warn ComPort to be unable to open" "$console.txt" ||
  fail "held: a second upgrade on a port in use did not end in E001 with exit status 3"
expect uart-scanner 0 "Upgrade PASS"
head -c 262144 "$files/lb1y.bin" | decode | flash_is uart "the first-generation scanner file"

expect uart-kv 0 "Upgrade PASS"
{ head -c 66560 "$files/kv.bin" | decode; ff $((2097152 - 66560)); } | flash_is kv "the KV firmware file"
# Every speed the guest's driver programmed into the UARTs during the KV run,
# in order: opened at the scanners' 115200, set to 9600 for the escape into
# upgrade mode, then 38400 for the transfer.
speeds=$(tail -n +"$((${kv_trace_start:-0} + 1))" "$work/uart-trace.log" | grep -o 'baudrate=[0-9]*' | cut -d= -f2 | uniq | tr '\n' ' ')
[ -n "$kv_trace_start" ] && echo "$speeds" | grep -Eq "(^| )115200 9600 38400 $" ||
  fail "uart-kv: the UART did not run at 9600 and then 38400 (programmed: ${speeds:-nothing traced})"
echo "vm: uart-kv: speeds programmed into the UART: $speeds"

expect ftdi-tid 0 "Upgrade PASS"
# (The second image is cut out by dd: a tail cut short by head would die of
# SIGPIPE and end the rig.)
{ head -c 262144 "$files/pair.bin" | decode; dd if="$files/pair.bin" bs=1024 skip=257 count=256 status=none | decode; } |
  flash_is tid "the two images of the TID file"

expect ftdi-quorin 0 "Upgrade PASS"
head -c 65536 "$files/qr.bin" | decode | flash_is qrn "the Quorin file's body"

[ $pulled = 2 ] || fail "pulled: the guest never started the transfer to pull, or never asked to plug it in again"
expect pulled 1 "Upgrade Error"
pull_port=$(grep "^@@ INFO adapters:" "$console.txt" | sed 's/.*PULL=//')
grep -Eq "^@@ INFO replugged: PULL=$pull_port OTHER=COM[0-9]+ $pull_port was /dev/ttyUSB2, now /dev/ttyUSB([013-9]|[0-9]{2})$" "$console.txt" ||
  fail "replugged: the adapter did not keep $pull_port, or it reaches another ($(grep '^@@ INFO replugged' "$console.txt"))"

# The adapters of one serial number: one number each, which three lookups
# leave where they were, and an upgrade through either number reaches its
# adapter alone (each emulator received exactly one image).
twins=$(grep "^@@ INFO twins:" "$console.txt" | head -n 1)
echo "$twins" | grep -Eq "^@@ INFO twins: (COM[0-9]+->/dev/ttyUSB[0-9]+ ){2}numbers per adapter: 1 1; unchanged after 3 lookups$" ||
  fail "twins: each adapter must keep one number of its own (${twins#@@ INFO })"
expect twin-single 0 "Upgrade PASS"
grep -q "^@@ RESULT twin-children exit=0 " "$console.txt" || fail "twin-children: $(result twin-children)"
for name in twin1 twin2; do
  head -c 262144 "$files/lb1y.bin" | decode | flash_is $name "the scanner file"
  got=$(wc -l <"$work/$name.transfers" 2>/dev/null || echo 0)
  [ "$got" = 1 ] || fail "$name received $got images, not 1: the two numbers did not reach one adapter each"
done

# ---------------------------------------------------------------- figures
boot=$(grep "^@@ INFO guest up after" "$console.txt" | grep -o '[0-9.]* s$' || true)
echo "vm: guest up ${up_seconds:-?} s after QEMU started (${boot:-?} of them in the kernel), ran ${guest_seconds} s in all"
grep "^@@ TIME" "$console.txt" | sed 's/^@@ TIME /vm: time /'
# The data phase: the whole run less the program's start-up in the guest.
line_figure() {  # NAME TEST
  local line time startup
  line=$(grep '^LINE' "$work/$1.devsim" | awk '{ print $4 }')
  time=$(grep "^@@ TIME $2 " "$console.txt" | awk '{ print $4 }')
  startup=$(grep "^@@ TIME startup " "$console.txt" | awk '{ print $4 }')
  [ -n "$line" ] && [ -n "$time" ] && [ -n "$startup" ] &&
    awk -v l="$line" -v t="$time" -v s="$startup" -v n="$2" 'BEGIN {
      printf "vm: %s: line time %.2f s, data phase %.2f s through the guest driver (%.3f x)\n", n, l, t - s, (t - s) / l }'
}
line_figure uart uart-scanner || true
line_figure kv uart-kv || true

if [ $failures -gt 0 ]; then
  echo "vm: $failures check(s) failed; guest console:"
  grep -v "^@@ PORTS" "$console.txt" | tail -n 60
  cat "$work/qemu.out"
  echo "vm: stage took $((SECONDS - stage_start)) s"
  exit 1
fi
echo "vm: all checks passed; stage took $((SECONDS - stage_start)) s"
