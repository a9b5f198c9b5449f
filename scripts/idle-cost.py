#!/usr/bin/env python3
"""What the running hub costs while the machine is busy with other things: other processes
hold many descriptors (76,000 by default) while the hub relays gps-sim to one program on a
virtual port and another port stays free. Prints the hub's share of one core, measured from
its own CPU times over the run.

usage: scripts/idle-cost.py [--build DIR] [--descriptors N] [--seconds S]
"""
import argparse
import os
import resource
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from contention import ROOT, Rig  # noqa: E402

HOLDER = """
import os, resource, signal, sys
count = int(sys.argv[1])
soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
resource.setrlimit(resource.RLIMIT_NOFILE, (min(hard, count + 64), hard))
held = [os.open("/dev/null", os.O_RDONLY) for _ in range(count)]
print("ready", flush=True)
signal.pause()
"""


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(ROOT, "build/native"))
    parser.add_argument("--descriptors", type=int, default=76000)
    parser.add_argument("--seconds", type=int, default=60)
    options = parser.parse_args()
    hard = resource.getrlimit(resource.RLIMIT_NOFILE)[1]
    per_holder = min(hard - 64, 16000)
    rig = Rig(options.build)
    holders = []
    try:
        left = options.descriptors
        while left > 0:
            count = min(left, per_holder)
            holder = subprocess.Popen([sys.executable, "-c", HOLDER, str(count)],
                                      stdout=subprocess.PIPE, text=True)
            holder.stdout.readline()
            holders.append(holder)
            left -= count
        rig.run("config", "set", "Port", "1")
        rig.run("config", "set", "Port0", "5")
        rig.run("config", "set", "Port1", "6")
        rig.start(rig.sim, "--com", "1", "--seed", "5", log="sim.log")
        rig.wait_for(lambda: os.path.exists(rig.link(1)), 10)
        hub = rig.start(rig.tavro, "run")
        rig.wait_for(lambda: os.path.exists(rig.link(5)), 10)
        client = subprocess.Popen(["cat", rig.link(5)], stdout=subprocess.DEVNULL)
        time.sleep(5)  # past the first open of the receiver
        start_cpu, start = cpu_seconds(hub.pid), time.monotonic()
        time.sleep(options.seconds)
        used = cpu_seconds(hub.pid) - start_cpu
        elapsed = time.monotonic() - start
        client.send_signal(signal.SIGTERM)
        client.wait()
        print(f"hub CPU: {100 * used / elapsed:.2f}% of one core over {elapsed:.0f} s, "
              f"{options.descriptors} descriptors held by {len(holders)} other processes, "
              f"one program on COM5, receiver at 4800 baud")
    finally:
        for holder in holders:
            holder.kill()
            holder.wait()
        rig.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
