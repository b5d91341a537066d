#!/usr/bin/env python3
"""What a window manager asks of a client window, measured from outside.

  wmctl.py ping WINDOW SECONDS LIMIT   sends _NET_WM_PING every 100 ms for SECONDS
                                       and times each answer; fails when one takes
                                       longer than LIMIT seconds or never comes
  wmctl.py close WINDOW                sends WM_DELETE_WINDOW, as a close button does
"""
import select
import sys
import time

from Xlib import X, display, protocol


def client_message(d, window, kind, stamp):
    protocols = d.intern_atom("WM_PROTOCOLS")
    data = (32, [d.intern_atom(kind), stamp, window.id, 0, 0])
    return protocol.event.ClientMessage(window=window, client_type=protocols, data=data)


def ping(d, window, seconds, limit):
    root = d.screen().root
    # The client answers by sending the message back to the root window.
    root.change_attributes(event_mask=X.SubstructureNotifyMask)
    protocols = d.intern_atom("WM_PROTOCOLS")
    ping_atom = d.intern_atom("_NET_WM_PING")
    trips = []
    end = time.monotonic() + seconds
    stamp = 1000
    while time.monotonic() < end:
        stamp += 1
        window.send_event(client_message(d, window, "_NET_WM_PING", stamp), event_mask=0)
        d.flush()
        sent = time.monotonic()
        answered = None
        while answered is None and time.monotonic() - sent < limit + 2:
            while d.pending_events():
                e = d.next_event()
                if (e.type == X.ClientMessage and e.client_type == protocols
                        and e.data[1][0] == ping_atom and e.data[1][1] == stamp):
                    answered = time.monotonic() - sent
            if answered is None:
                select.select([d.fileno()], [], [], 0.01)
        if answered is None:
            print(f"ping: no answer within {limit + 2:.1f} s")
            return 1
        trips.append(answered)
        time.sleep(0.1)
    trips.sort()
    worst, median = trips[-1], trips[len(trips) // 2]
    print(f"ping: {len(trips)} answered, median {median * 1000:.1f} ms, worst {worst * 1000:.1f} ms")
    return 0 if worst <= limit else 1


def main(argv):
    d = display.Display()
    window = d.create_resource_object("window", int(argv[2], 0))
    if argv[1] == "ping":
        return ping(d, window, float(argv[3]), float(argv[4]))
    if argv[1] == "close":
        window.send_event(client_message(d, window, "WM_DELETE_WINDOW", X.CurrentTime), event_mask=0)
        d.flush()
        return 0
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
