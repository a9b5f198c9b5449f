#!/usr/bin/env python3
"""A receiver that reads slowly, on a pseudo-terminal that Wine can open as a COM port.

slow-receiver.py <file for the terminal's path> <file for the bytes read>

Makes a raw pseudo-terminal, writes its path to the first file, reads nothing for
--stall seconds (so that a writer fills the terminal's buffer and its writes pend), then
reads --chunk bytes every --pause seconds and appends them to the second file. Ends after
--idle seconds without a byte once something was read, or after --limit seconds.
"""
import argparse
import os
import pty
import select
import time
import tty


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("path_file")
    parser.add_argument("output")
    parser.add_argument("--stall", type=float, default=8.0)
    parser.add_argument("--chunk", type=int, default=256)
    parser.add_argument("--pause", type=float, default=0.01)
    parser.add_argument("--idle", type=float, default=5.0)
    parser.add_argument("--limit", type=float, default=90.0)
    args = parser.parse_args()

    master, slave = pty.openpty()
    tty.setraw(master)
    tty.setraw(slave)
    with open(args.path_file, "w") as named:
        named.write(os.ttyname(slave) + "\n")
    start = time.monotonic()
    time.sleep(args.stall)
    last = None
    with open(args.output, "wb") as out:
        while time.monotonic() - start < args.limit:
            ready, _, _ = select.select([master], [], [], 0.2)
            if ready:
                data = os.read(master, args.chunk)
                if data:
                    out.write(data)
                    out.flush()
                    last = time.monotonic()
                time.sleep(args.pause)
            elif last is not None and time.monotonic() - last > args.idle:
                break
    os.close(slave)
    os.close(master)


if __name__ == "__main__":
    main()
