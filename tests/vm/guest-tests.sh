# The tests run inside the guest. Each reports on the console, for the host
# to check together with the emulated devices' flash:
#   @@ RESULT <name> exit=<status> line=<last line on stdout>
#   @@ TIME <name> <seconds>    @@ INFO <text>
# Lines: ttyS1 (COM2) a first-generation scanner, ttyS2 (COM3) a KV terminal;
# FTDI adapters with the serial numbers TID, QRN and PULL (a TID scanner and
# dock, a Quorin terminal, a scanner that is pulled mid-transfer), and two
# with the same serial number TWIN, each to a scanner of its own.
cli=/bin/tolm-upgrade-cli
limit="timeout 150"  # a hang ends the run instead of the guest (exit status 143)

uptime_s() { cut -d' ' -f1 /proc/uptime; }

# Runs the CLI, reports its exit status, last output line and time.
run() {
    name=$1; shift
    start=$(uptime_s)
    $limit $cli "$@" >"/tmp/$name.out" 2>"/tmp/$name.err"
    status=$?
    end=$(uptime_s)
    echo "@@ RESULT $name exit=$status line=$(tail -n 1 "/tmp/$name.out")"
    echo "@@ TIME $name $(awk "BEGIN { print $end - $start }")"
    [ "$status" = 0 ] || sed 's/^/@@ INFO stderr: /' "/tmp/$name.err" | tail -n 5
}

# The port names the adapters of a USB serial number got, found in the records.
ports_of() {
    for record in $(grep -l -- "^usb-0403-6001-$1-if00" "$TOLM_PORT_DIR"/COM*.id 2>/dev/null); do
        basename "${record%.id}"
    done
}
port_of() { ports_of "$1" | head -n 1; }

echo
echo "@@ INFO guest up after $(uptime_s) s"
mdev_wait=0
while [ "$(ls /dev/ttyUSB* 2>/dev/null | wc -l)" -lt 5 ] && [ $mdev_wait -lt 100 ]; do
    sleep 0.1; mdev_wait=$((mdev_wait + 1))
done

# The program's own start-up time, to tell the data phase from the whole run.
start=$(uptime_s)
$cli identify /files/lb1y.bin >/dev/null 2>&1
echo "@@ TIME startup $(awk "BEGIN { print $(uptime_s) - $start }")"

# The adapters get port numbers above the built-in ports by themselves.
$cli ports >/tmp/ports.out 2>/tmp/ports.err
echo "@@ RESULT ports exit=$? line=-"
sed 's/^/@@ PORTS /' /tmp/ports.out
sed 's/^/@@ INFO /' /tmp/ports.err
TID=$(port_of TID); QRN=$(port_of QRN); PULL=$(port_of PULL)
echo "@@ INFO adapters: TID=$TID QRN=$QRN PULL=$PULL"

# Two adapters with one serial number: after three lookups, each still has
# the one number it was given, and no number was added or moved.
twin_map() { for p in $(ports_of TWIN); do echo "$p->$(readlink "$TOLM_PORT_DIR/$p")"; done; }
first_map=$(twin_map)
$cli ports >/dev/null 2>&1; $cli ports >/dev/null 2>&1
counts=""
for tty in /sys/class/tty/ttyUSB*; do
    [ "$(cat "$tty/device/../../serial" 2>/dev/null)" = TWIN ] || continue
    n=0
    for entry in "$TOLM_PORT_DIR"/COM*; do
        [ "$(readlink "$entry")" = "/dev/${tty##*/}" ] && n=$((n + 1))
    done
    counts="$counts $n"
done
[ "$(twin_map)" = "$first_map" ] && same="unchanged" || same="changed"
echo "@@ INFO twins: $(echo $first_map) numbers per adapter:$counts; $same after 3 lookups"
TWIN_A=$(ports_of TWIN | head -n 1); TWIN_B=$(ports_of TWIN | sed -n 2p)

# A first-generation scanner through the 8250 UART; meanwhile a second run
# finds the port held.
$limit $cli upgrade --port COM2 /files/lb1y.bin >/tmp/uart.out 2>/tmp/uart.err &
first=$!
start=$(uptime_s)
while ! grep -qs progress /tmp/uart.err && kill -0 $first 2>/dev/null; do sleep 0.1; done
run held upgrade --port COM2 /files/lb1y.bin
wait $first
status=$?
end=$(uptime_s)
echo "@@ RESULT uart-scanner exit=$status line=$(tail -n 1 /tmp/uart.out)"
echo "@@ TIME uart-scanner $(awk "BEGIN { print $end - $start }")"

# KV firmware through the 8250 UART: the line must go from 9600 to 38400, and
# the 4 KB frames at 38400 (over a second on the line, against a reply time-out
# of one second) must not time out. QEMU's UART passes bytes on at once, so the
# driver's queue empties early, as an adapter's does: the frame's line time
# must still count before the reply is waited for. The speeds that the driver
# programs into the UART are traced by QEMU from the marker on (the host
# notes where its trace stood; no 8250 UART is used after this run).
echo "@@ KV-BEGIN"
sleep 1
run uart-kv upgrade --port COM3 /files/kv.bin

# An upgrade through each twin's number: the first as a single run, the other
# through a child process, as multi-port runs and stations start them.
run twin-single upgrade --port "$TWIN_A" /files/lb1y.bin
run twin-children upgrade --port "$TWIN_B" --json /files/lb1y.bin

# A TID two-image file and a Quorin upgrade through FTDI adapters, by the
# numbers they were given.
run ftdi-tid upgrade --port "$TID" /files/pair.bin
run ftdi-quorin upgrade --port "$QRN" --wait 60 /files/qr.bin

# The adapter pulled mid-transfer: the host removes it when asked.
timeout 60 $cli upgrade --port "$PULL" /files/full.bin >/tmp/pull.out 2>/tmp/pull.err &
pulled=$!
while ! grep -qs "progress  10%" /tmp/pull.err && kill -0 $pulled 2>/dev/null; do sleep 0.1; done
start=$(uptime_s)
echo "@@ PULL-NOW"
wait $pulled
status=$?
end=$(uptime_s)
echo "@@ RESULT pulled exit=$status line=$(tail -n 1 /tmp/pull.out)"
echo "@@ TIME pulled $(awk "BEGIN { print $end - $start }")"

# Plugged in again after another adapter took its tty name: the host adds
# the adapter OTHER (which becomes the pulled one's old ttyUSB2), then the
# pulled one. It keeps its number, which must not reach OTHER.
before=$(readlink "$TOLM_PORT_DIR/$PULL")
echo "@@ REPLUG-NOW"
waited=0
while [ "$(ls /dev/ttyUSB* 2>/dev/null | wc -l)" -lt 6 ] && [ $waited -lt 300 ]; do
    sleep 0.1; waited=$((waited + 1))
done
$cli ports >/tmp/replug.out 2>&1
echo "@@ INFO replugged: PULL=$(port_of PULL) OTHER=$(port_of OTHER) $PULL was $before, now $(readlink "$TOLM_PORT_DIR/$PULL")"
