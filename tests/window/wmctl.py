#!/usr/bin/env python3
"""What a window manager asks of a client window, measured from outside.

  wmctl.py ping WINDOW LIMIT UNTIL     sends _NET_WM_PING every 100 ms until the file
                                       UNTIL exists (at most 10 minutes) and times each
                                       answer; fails when one takes longer than LIMIT
                                       seconds or never comes
  wmctl.py close WINDOW                sends WM_DELETE_WINDOW, as a close button does

The client answers a ping by sending it back to the root window for the window
manager, which alone receives it there (it holds the root's substructure
redirection). The answer is therefore seen through the RECORD extension, as the
client's SendEvent request leaving for the server.
"""
import os
import struct
import sys
import threading
import time

from Xlib import X, display, protocol
from Xlib.ext import record

SEND_EVENT = 25
CLIENT_MESSAGE = 33


def client_message(d, window, kind, stamp):
    protocols = d.intern_atom("WM_PROTOCOLS")
    data = (32, [d.intern_atom(kind), stamp, window.id, 0, 0])
    return protocol.event.ClientMessage(window=window, client_type=protocols, data=data)


class Answers:
    """Times at which answers (SendEvent of a ping back to the root) left a client."""

    def __init__(self, root, ping_atom):
        self.root, self.ping_atom = root, ping_atom
        self.seen = {}
        self.lock = threading.Lock()
        self.ready = threading.Event()
        self.d = display.Display()
        self.ctx = self.d.record_create_context(0, [record.AllClients], [{
            "core_requests": (SEND_EVENT, SEND_EVENT), "core_replies": (0, 0),
            "ext_requests": (0, 0, 0, 0), "ext_replies": (0, 0, 0, 0),
            "delivered_events": (0, 0), "device_events": (0, 0), "errors": (0, 0),
            "client_started": False, "client_died": False}])
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        self.d.record_enable_context(self.ctx, self._intercepted)

    def _intercepted(self, reply):
        self.ready.set()
        if reply.category != record.FromClient:
            return
        data, at = reply.data, 0
        while at + 44 <= len(data):
            opcode, length = data[at], struct.unpack_from("<H", data, at + 2)[0]
            if opcode == SEND_EVENT:
                destination = struct.unpack_from("<I", data, at + 4)[0]
                event = data[at + 12:at + 44]
                if (event[0] & 0x7F) == CLIENT_MESSAGE and destination == self.root:
                    l0, l1 = struct.unpack_from("<II", event, 12)
                    if l0 == self.ping_atom:
                        with self.lock:
                            self.seen.setdefault(l1, time.monotonic())
            at += max(length, 1) * 4

    def answered(self, stamp):
        with self.lock:
            return self.seen.get(stamp)


def ping(d, window, limit, until):
    answers = Answers(d.screen().root.id, d.intern_atom("_NET_WM_PING"))
    stamp = 1000
    # The recording is live once its first (start-of-data) reply has come.
    if not answers.ready.wait(5):
        print("ping: the RECORD extension did not start")
        return 1
    trips = []
    end = time.monotonic() + 600
    while not os.path.exists(until) and time.monotonic() < end:
        stamp += 1
        sent = time.monotonic()
        window.send_event(client_message(d, window, "_NET_WM_PING", stamp), event_mask=0)
        d.flush()
        while answers.answered(stamp) is None and time.monotonic() - sent < limit + 2:
            time.sleep(0.002)
        at = answers.answered(stamp)
        if at is None:
            print(f"ping: no answer within {limit + 2:.1f} s")
            return 1
        trips.append(at - sent)
        time.sleep(0.1)
    if not trips:
        print("ping: none sent")
        return 1
    trips.sort()
    worst, median = trips[-1], trips[len(trips) // 2]
    print(f"ping: {len(trips)} answered, median {median * 1000:.1f} ms, worst {worst * 1000:.1f} ms")
    return 0 if worst <= limit else 1


def main(argv):
    d = display.Display()
    window = d.create_resource_object("window", int(argv[2], 0))
    if argv[1] == "ping":
        return ping(d, window, float(argv[3]), argv[4])
    if argv[1] == "close":
        window.send_event(client_message(d, window, "WM_DELETE_WINDOW", X.CurrentTime), event_mask=0)
        d.flush()
        return 0
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
