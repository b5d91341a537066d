#!/usr/bin/python3
# A private system bus with a stand-in for logind on it, for the tests of the
# sleep guard: a dbus-daemon of its own listening on DIR/bus and, unless
# --without-login1, org.freedesktop.login1 whose Manager.Inhibit hands out the
# write end of a pipe. Each call, and the moment its caller closes that end,
# is appended to DIR/calls:
#   inhibit WHAT|WHO|WHY|MODE
#   released
# DIR/ready appears once the bus answers; SIGTERM ends both.
#   fake-login1.py DIR [--without-login1]
import ctypes
import os
import signal
import subprocess
import sys
import time

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

folder = sys.argv[1]
with_login1 = "--without-login1" not in sys.argv[2:]
socket = os.path.join(folder, "bus")


def die_with_parent():
    ctypes.CDLL(None).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG


daemon = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=unix:path=" + socket],
                          preexec_fn=die_with_parent, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL)
for _ in range(200):
    if os.path.exists(socket):
        break
    time.sleep(0.025)


def record(line):
    with open(os.path.join(folder, "calls"), "a") as calls:
        calls.write(line + "\n")


def released(fd, _condition):
    record("released")
    os.close(fd)
    return False


class Manager(dbus.service.Object):
    @dbus.service.method("org.freedesktop.login1.Manager", in_signature="ssss", out_signature="h")
    def Inhibit(self, what, who, why, mode):
        record(f"inhibit {what}|{who}|{why}|{mode}")
        read_end, write_end = os.pipe()
        # EOF on the read end: every copy of the write end is closed.
        GLib.io_add_watch(read_end, GLib.IO_IN | GLib.IO_HUP | GLib.IO_ERR, released)
        handed = dbus.types.UnixFd(write_end)  # a copy of its own, sent with the reply
        os.close(write_end)
        return handed


dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.bus.BusConnection("unix:path=" + socket)
if with_login1:
    name = dbus.service.BusName("org.freedesktop.login1", bus)
    manager = Manager(bus, "/org/freedesktop/login1")
loop = GLib.MainLoop()


def stop(*_):
    daemon.terminate()
    loop.quit()


GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGTERM, stop)
open(os.path.join(folder, "ready"), "w").close()
loop.run()
daemon.wait()
