#!/usr/bin/env python3
"""The delay a network source adds, beside the serial path, in one run: two hubs, one reading
a receiver on a pseudo-terminal ("Port"), the other the same sentences from a TCP server
("Source" tcp://), each relaying to a program on its virtual port. Every sentence is written
to both at once; the delay is from each write to its program's read. Prints p50/p99/max of
both and the difference of the medians.

usage: scripts/source-latency.py [--build DIR] [--count N] [--interval-ms MS]
"""
import argparse
import os
import select
import socket
import sys
import time
import tty

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from contention import ROOT, Rig  # noqa: E402


def sentence(body):
    checksum = 0
    for c in body.encode():
        checksum ^= c
    return f"${body}*{checksum:02X}\r\n".encode()


def open_raw(path):
    fd = os.open(path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    tty.setraw(fd)
    return fd


def read_until(fd, wanted, buffers, deadline):
    """Reads fd until `wanted` has arrived; the time it came, or None."""
    while wanted not in buffers[fd]:
        left = deadline - time.perf_counter()
        if left <= 0 or not select.select([fd], [], [], left)[0]:
            return None
        try:
            buffers[fd] += os.read(fd, 4096)
        except BlockingIOError:
            continue
    buffers[fd] = buffers[fd].split(wanted, 1)[1]
    return time.perf_counter()


def percentile(values, share):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(share * len(ordered)))]


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(ROOT, "build/native"))
    parser.add_argument("--count", type=int, default=300)
    parser.add_argument("--interval-ms", type=int, default=57)
    options = parser.parse_args()
    serial, network = Rig(options.build), Rig(options.build)
    network.env["TAVRO_SHM"] += "-source"  # a status block of its own
    readers = []
    try:
        # The serial path: a pseudo-terminal as COM1.
        master, slave = os.openpty()
        tty.setraw(master)
        os.makedirs(serial.dev, exist_ok=True)
        os.symlink(os.ttyname(slave), serial.link(1))
        serial.run("config", "set", "Port", "1")
        serial.run("config", "set", "Port0", "5")
        # The network path: a TCP server as Source.
        server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        server.bind(("127.0.0.1", 0))
        server.listen(1)
        port = server.getsockname()[1]
        network.run("config", "set", "Source", f"tcp://127.0.0.1:{port}")
        network.run("config", "set", "Port0", "5")
        serial.start(serial.tavro, "run")
        network.start(network.tavro, "run")
        for rig in (serial, network):
            if not rig.wait_for(lambda: os.path.exists(rig.link(5)), 10):
                sys.exit("a hub did not make its virtual port")
        server.settimeout(10)
        peer, _ = server.accept()
        peer.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        readers = [open_raw(serial.link(5)), open_raw(network.link(5))]
        buffers = {fd: b"" for fd in readers}
        # Both hubs relay before the clock starts (the serial port opens a few seconds in).
        for attempt in range(100):
            line = sentence(f"GPTXT,01,01,02,warm {attempt}")
            os.write(master, line)
            peer.sendall(line)
            deadline = time.perf_counter() + 0.2
            if all(read_until(fd, line, buffers, deadline) for fd in readers):
                break
        else:
            sys.exit("the hubs did not relay")
        delays = ([], [])
        for n in range(options.count):
            line = sentence(f"GPTXT,01,01,02,{n:06d}")
            # Alternate which goes first, so that neither always waits for the other's write.
            order = (0, 1) if n % 2 == 0 else (1, 0)
            sent = [0.0, 0.0]
            for which in order:
                sent[which] = time.perf_counter()
                if which == 0:
                    os.write(master, line)
                else:
                    peer.sendall(line)
            deadline = time.perf_counter() + 1.0
            for which, fd in enumerate(readers):
                got = read_until(fd, line, buffers, deadline)
                if got is not None:
                    delays[which].append((got - sent[which]) * 1e3)
            time.sleep(options.interval_ms / 1000)
        print(f"{options.count} sentences every {options.interval_ms} ms, "
              f"{os.cpu_count()} cores, load {os.getloadavg()[0]:.2f}")
        for name, values in (("serial (pty)", delays[0]), ("network (tcp://)", delays[1])):
            print(f"  {name:18} n={len(values):4d}  p50 {percentile(values, 0.5):.3f} ms  "
                  f"p99 {percentile(values, 0.99):.3f} ms  max {max(values):.3f} ms")
        difference = percentile(delays[1], 0.5) - percentile(delays[0], 0.5)
        print(f"  network p50 - serial p50: {difference:+.3f} ms")
    finally:
        for fd in readers:
            os.close(fd)
        serial.close()
        network.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
