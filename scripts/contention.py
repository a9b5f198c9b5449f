#!/usr/bin/env python3
"""The POSIX hub under contention, measured with real processes (the CI suite runs short
versions of the same behaviours):

  starts    simultaneous double starts: the survivor must have all its ports, the other
            start must hand over and end with 0
  idle      16 and 200 silent connections held on the command socket while `tavro send
            release` is timed; a burst of 120 concurrent senders
  cleaner   the COM directory removed under a running hub: time until links and socket are
            back, and what `tavro status` says meanwhile
  reuse     gps-sim killed and its terminal number taken by another program: that terminal's
            modes and pending input must stay untouched (60 s)
  hotplug   the receiver's link taken away and put back in a watched folder (as in
            /dev/serial/by-id): time until the hub has closed and re-opened its input port

usage: scripts/contention.py [--build DIR] [--trials N] [--hold SECONDS] [PART ...]
"""
import argparse
import fcntl
import os
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import termios
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


class Rig:
    def __init__(self, build):
        self.tavro = os.path.join(build, "hub/posix/tavro")
        self.sim = os.path.join(build, "tools/gps-sim/gps-sim")
        for program in (self.tavro, self.sim):
            if not os.access(program, os.X_OK):
                sys.exit(f"{program} is missing: build the native preset first")
        self.root = tempfile.mkdtemp(prefix="tavro-contention-")
        self.dev = os.path.join(self.root, "dev")
        self.env = dict(os.environ, TAVRO_DEVDIR=self.dev,
                        XDG_CONFIG_HOME=os.path.join(self.root, "config"),
                        TAVRO_SHM=f"/TavroContention-{os.getpid()}", HOME=self.root)
        self.children = []

    def link(self, number):
        return os.path.join(self.dev, f"COM{number}")

    def run(self, *arguments):
        done = subprocess.run([self.tavro, *arguments], env=self.env, capture_output=True,
                              text=True, timeout=30)
        return done.returncode, done.stdout + done.stderr

    def start(self, program, *arguments, log="hub.log"):
        out = open(os.path.join(self.root, log), "a")
        child = subprocess.Popen([program, *arguments], env=self.env, stdout=out,
                                 stderr=subprocess.STDOUT)
        self.children.append(child)
        return child

    def wait_for(self, condition, timeout):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            if condition():
                return True
            time.sleep(0.01)
        return condition()

    def stop(self, child, sig=signal.SIGTERM):
        if child.poll() is None:
            child.send_signal(sig)
            try:
                child.wait(10)
            except subprocess.TimeoutExpired:
                child.kill()
                child.wait()
        return child.returncode

    def close(self):
        for child in self.children:
            self.stop(child, signal.SIGKILL)
        shutil.rmtree(self.root, ignore_errors=True)


def connect(rig):
    s = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
    s.connect(os.path.join(rig.dev, "TavroMsgWnd"))
    return s


def request(rig, code=0):
    s = connect(rig)
    s.settimeout(10)
    s.send(struct.pack("<I", code))
    reply = s.recv(8)
    s.close()
    return len(reply) == 4 and struct.unpack("<I", reply)[0] == 0


def part_starts(rig, trials):
    rig.run("config", "set", "Port0", "5")
    rig.run("config", "set", "Port1", "6")
    good = 0
    for trial in range(trials):
        first = rig.start(rig.tavro, "run", log="first.log")
        second = rig.start(rig.tavro, "run", log="second.log")
        rig.wait_for(lambda: first.poll() is not None or second.poll() is not None, 15)
        loser, winner = (first, second) if first.poll() is not None else (second, first)
        handed_over = loser.wait(10) == 0
        ports = rig.wait_for(lambda: all(os.path.exists(rig.link(n)) for n in (5, 6)), 5)
        alive = winner.poll() is None
        good += handed_over and ports and alive
        if not (handed_over and ports and alive):
            print(f"  trial {trial}: loser exit {loser.returncode}, ports {ports}, "
                  f"winner alive {alive}")
        rig.stop(winner)
    print(f"starts: {good}/{trials} double starts left one hub with all its ports "
          f"and a start that handed over with 0")
    return good == trials


def part_idle(rig, trials):
    rig.run("config", "set", "Port0", "5")
    hub = rig.start(rig.tavro, "run")
    rig.wait_for(lambda: os.path.exists(os.path.join(rig.dev, "TavroMsgWnd")), 10)
    ok = True
    for held in (16, 200):
        worst = 0.0
        for _ in range(trials):
            idle = [connect(rig) for _ in range(held)]  # made afresh for every trial
            start = time.monotonic()
            code, output = rig.run("send", "release")
            elapsed = time.monotonic() - start
            worst = max(worst, elapsed)
            if code != 0:
                print(f"  send release failed behind {held} idle connections: {output.strip()}")
                ok = False
            for s in idle:
                s.close()
        ok = ok and worst <= 2.5
        print(f"idle: {held} silent connections held, `tavro send release` answered "
              f"in at most {worst * 1000:.0f} ms over {trials} trials")
    results = []
    lock = threading.Lock()

    def sender():
        start = time.monotonic()
        try:
            answered = request(rig)
        except OSError:
            answered = False
        with lock:
            results.append((answered, time.monotonic() - start))

    threads = [threading.Thread(target=sender) for _ in range(120)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    answered = sum(1 for a, _ in results if a)
    slowest = max(t for _, t in results)
    print(f"idle: 120 concurrent senders, {answered} answered, slowest {slowest * 1000:.0f} ms")
    rig.stop(hub)
    return ok and answered == 120 and slowest <= 1.0


def part_cleaner(rig, trials):
    rig.run("config", "set", "Port0", "5")
    hub = rig.start(rig.tavro, "run")
    rig.wait_for(lambda: os.path.exists(os.path.join(rig.dev, "TavroMsgWnd")), 10)
    worst = 0.0
    wrong_status = 0
    for _ in range(trials):
        shutil.rmtree(rig.dev)
        start = time.monotonic()
        back = rig.wait_for(lambda: os.path.exists(rig.link(5)) and os.path.exists(
            os.path.join(rig.dev, "TavroMsgWnd")), 10)
        worst = max(worst, time.monotonic() - start if back else 99)
        code, output = rig.run("status")
        wrong_status += "not running" in output
        time.sleep(0.3)
    print(f"cleaner: COM directory removed {trials} times; links and socket back within "
          f"{worst * 1000:.0f} ms at worst; status said 'not running' {wrong_status} times")
    rig.stop(hub)
    return worst <= 2.0 and wrong_status == 0


def part_reuse(rig, hold):
    rig.run("config", "set", "Port", "1")
    rig.run("config", "set", "Port0", "5")
    sim = rig.start(rig.sim, "--com", "1", "--seed", "3", log="sim.log")
    rig.wait_for(lambda: os.path.exists(rig.link(1)), 10)
    number = os.path.realpath(rig.link(1))
    hub = rig.start(rig.tavro, "run")
    if not rig.wait_for(lambda: rig.run("status")[1].startswith("NMEA Stream"), 30):
        print("reuse: the hub never read the simulated receiver")
        return False
    rig.stop(sim, signal.SIGKILL)
    # Take terminals until the simulator's number comes round again (the hub lets go of its
    # end at its next re-open, 7.5 s at most).
    held, target = [], None
    end = time.monotonic() + 30
    while target is None and time.monotonic() < end:
        master, slave = os.openpty()
        if os.ttyname(slave) == number:
            target = (master, slave)
        else:
            held.append((master, slave))
            if len(held) > 64:
                for m, s in held[:32]:
                    os.close(m)
                    os.close(s)
                del held[:32]
            time.sleep(0.05)
    if target is None:
        print(f"reuse: {number} was not handed out again within 30 s (another program has it)")
        return False
    master, slave = target
    modes = termios.tcgetattr(slave)
    modes[3] |= termios.ECHO | termios.ICANON
    termios.tcsetattr(slave, termios.TCSANOW, modes)
    os.write(master, b"typed ahead\n")
    time.sleep(0.1)
    before = termios.tcgetattr(slave)
    pending = struct.unpack("i", fcntl.ioctl(slave, termios.FIONREAD, b"\0" * 4))[0]
    time.sleep(hold)
    after = termios.tcgetattr(slave)
    still = struct.unpack("i", fcntl.ioctl(slave, termios.FIONREAD, b"\0" * 4))[0]
    untouched = before == after and pending == still == 12
    print(f"reuse: {number} taken by another program for {hold} s: modes "
          f"{'unchanged' if before == after else 'CHANGED'}, pending input {pending} -> {still} "
          f"bytes")
    rig.stop(hub)
    for m, s in held + [target]:
        os.close(m)
        os.close(s)
    return untouched


def part_hotplug(rig, trials):
    sim = rig.start(rig.sim, "--com", "9", "--seed", "3", log="sim.log")
    rig.wait_for(lambda: os.path.exists(rig.link(9)), 10)
    by_id = os.path.join(rig.root, "by-id")
    os.makedirs(by_id)
    receiver = os.path.join(by_id, "usb-receiver")
    terminal = os.path.realpath(rig.link(9))
    os.symlink(terminal, receiver)
    os.symlink(receiver, rig.link(1))
    rig.run("config", "set", "Port", "1")
    rig.run("config", "set", "Port0", "5")
    hub = rig.start(rig.tavro, "run")

    def closed():
        return rig.run("status")[0] == 3  # running, input port closed

    if not rig.wait_for(lambda: rig.run("status")[0] == 0, 30):
        print("hotplug: the hub never opened the receiver")
        return False
    worst_close, worst_open = 0.0, 0.0
    for _ in range(trials):
        os.unlink(receiver)
        start = time.monotonic()
        rig.wait_for(closed, 10)
        worst_close = max(worst_close, time.monotonic() - start)
        time.sleep(0.5)
        os.symlink(terminal, receiver)
        start = time.monotonic()
        rig.wait_for(lambda: not closed(), 10)
        worst_open = max(worst_open, time.monotonic() - start)
        time.sleep(0.5)
    print(f"hotplug: {trials} times away and back: closed within {worst_close * 1000:.0f} ms, "
          f"re-opened within {worst_open * 1000:.0f} ms at worst (each look costs a `tavro "
          f"status` run of a few ms)")
    rig.stop(hub)
    rig.stop(sim)
    return worst_open <= 0.5


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(ROOT, "build/native"))
    parser.add_argument("--trials", type=int, default=30)
    parser.add_argument("--hold", type=int, default=60)
    parser.add_argument("parts", nargs="*", default=["starts", "idle", "cleaner", "reuse", "hotplug"])
    options = parser.parse_args()
    ok = True
    for part in options.parts:
        rig = Rig(options.build)
        try:
            if part == "starts":
                ok &= part_starts(rig, options.trials)
            elif part == "idle":
                ok &= part_idle(rig, min(options.trials, 10))
            elif part == "cleaner":
                ok &= part_cleaner(rig, min(options.trials, 10))
            elif part == "reuse":
                ok &= part_reuse(rig, options.hold)
            elif part == "hotplug":
                ok &= part_hotplug(rig, min(options.trials, 10))
            else:
                sys.exit(f"unknown part {part}")
        finally:
            rig.close()
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
