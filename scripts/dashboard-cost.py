#!/usr/bin/python3
"""What an open dashboard costs the hub: the hub's CPU time with no page open, with one page's
live feed open, and with none again, in one run (gps-sim's four-constellation receiver at
4800 baud, `tavro run` with two virtual ports, `tavro-web` beside it all the time). CPU time
is the scheduler's own count (/proc/PID/task/*/schedstat, nanoseconds).

scripts/dashboard-cost.py [seconds per phase, default 30]   (after a native build)"""

import os
import socket
import sys
import threading
import time
import urllib.parse

here = os.path.dirname(os.path.abspath(__file__))
root = os.path.dirname(here)
sys.path.insert(0, os.path.join(root, "tests", "web"))
from stage import Stage  # noqa: E402

BUILD = os.path.join(root, "build", "native")


def cpu_ns(pid):
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        with open(f"/proc/{pid}/task/{task}/schedstat") as stat:
            total += int(stat.read().split()[0])
    return total


def load():
    with open("/proc/loadavg") as average:
        return average.read().split()[0]


class Feed(threading.Thread):
    """One page's live feed, read as a browser reads it."""

    def __init__(self, port):
        super().__init__(daemon=True)
        self.port = port
        self.events = 0
        self.stopped = False

    def run(self):
        with socket.create_connection(("127.0.0.1", self.port)) as connection:
            connection.sendall(f"GET /events HTTP/1.1\r\nHost: 127.0.0.1:{self.port}\r\n\r\n"
                               .encode())
            connection.settimeout(1)
            while not self.stopped:
                try:
                    chunk = connection.recv(65536)
                except socket.timeout:
                    continue
                if not chunk:
                    break
                self.events += chunk.count(b"\ndata: ") + chunk.startswith(b"data: ")


def measure(pids, seconds):
    before = {name: cpu_ns(pid) for name, pid in pids.items()}
    time.sleep(seconds)
    return {name: (cpu_ns(pid) - before[name]) / (seconds * 1e9) * 100 for name, pid in pids.items()}


def main():
    seconds = float(sys.argv[1]) if len(sys.argv) > 1 else 30
    stage = Stage(os.path.join(BUILD, "hub/posix/tavro"), os.path.join(BUILD, "tools/gps-sim/gps-sim"),
                  os.path.join(BUILD, "web/tavro-web"), name="tavro-dashboard-cost")
    try:
        stage.start_receiver("--constellations", "gps,glonass,galileo,beidou")
        stage.start_hub()
        stage.wait_stream()
        url = stage.start_web()
        pids = {"hub": stage.processes["hub"].pid, "dashboard": stage.processes["web"].pid}
        print(f"{seconds:.0f} s per phase, load {load()} at the start")
        rows = []
        idle = measure(pids, seconds)
        rows.append(("no page open", idle, None))
        feed = Feed(urllib.parse.urlparse(url).port)
        feed.start()
        time.sleep(1)
        start_events = feed.events
        open_page = measure(pids, seconds)
        rows.append(("one page's live feed open", open_page, (feed.events - start_events) / seconds))
        feed.stopped = True
        feed.join()
        time.sleep(1)
        rows.append(("no page open again", measure(pids, seconds), None))
        print(f"{'phase':28} {'hub CPU':>9} {'dashboard CPU':>14} {'feed events/s':>14}")
        for name, figures, rate in rows:
            print(f"{name:28} {figures['hub']:8.3f}% {figures['dashboard']:13.3f}% "
                  f"{'' if rate is None else f'{rate:.1f}':>14}")
        print(f"load {load()} at the end")
    finally:
        stage.close()


if __name__ == "__main__":
    main()
