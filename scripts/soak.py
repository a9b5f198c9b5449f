#!/usr/bin/env python3
"""Soak: everything at once against one `tavro run` for a while, then the verdict.

A simulated receiver at 115200 baud (10 fixes a second) that is unplugged and plugged in again,
SIGHUP reloads, settings changed while the hub runs, 100 TCP clients (20 steady readers, 79
that come and go, one that never reads), 7 programs reading virtual ports, one flooding the
receiver with sentences through the eighth, and `tavro status` asked over and over. Then:

- every steady reader (virtual ports and TCP) got the same bytes in the same order: nothing
  lost, nothing reordered (they are compared with each other, from where each began);
- the hub's descriptors and memory are where they were after the warm-up (flat);
- its CPU use, the figures, and "soak passed" (exit 0), or what failed (exit 1).

    scripts/soak.py                  # 10 minutes, build/native's programs
    scripts/soak.py --minutes 1      # the short variant CI runs
"""
import argparse
import json
import os
import random
import selectors
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import termios
import threading
import time
import tty

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Soak:
    def __init__(self, build, minutes):
        self.tavro = os.path.join(build, "hub/posix/tavro")
        self.sim = os.path.join(build, "tools/gps-sim/gps-sim")
        self.seconds = minutes * 60
        self.root = tempfile.mkdtemp(prefix="tavro-soak-")
        self.dev = os.path.join(self.root, "dev")
        self.env = dict(os.environ, TAVRO_DEVDIR=self.dev,
                        XDG_CONFIG_HOME=os.path.join(self.root, "config"), HOME=self.root,
                        TAVRO_SHM="/TavroSoak-%d" % os.getpid())
        self.env.pop("NOTIFY_SOCKET", None)
        self.stop = threading.Event()
        self.streams = {}  # steady reader -> bytearray
        self.lock = threading.Lock()
        self.counts = {"status": 0, "status_failed": 0, "hup": 0, "unplug": 0, "settings": 0,
                       "tcp_churn": 0, "flood_bytes": 0}
        self.failures = []
        self.threads = []

    # ---- set-up ---------------------------------------------------------------------------
    def run_tavro(self, *arguments):
        return subprocess.run([self.tavro, *arguments], env=self.env, capture_output=True,
                              text=True, timeout=30)

    def start(self):
        self.tcp_port = free_port()
        for name, value in [("Port", "1"), ("Baud", "115200"), ("TCP Port", str(self.tcp_port)),
                            ("TCP Clients", "128"), ("TCP Write", "1")] + \
                [("Port%d" % i, str(11 + i)) for i in range(8)]:
            result = self.run_tavro("config", "set", name, value)
            if result.returncode != 0:
                raise SystemExit("soak: cannot set %s: %s" % (name, result.stderr))
        self.sim_process = subprocess.Popen(
            [self.sim, "--com", "9", "--baud", "115200", "--rate", "10", "--seed", "7",
             "--quiet"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.wait_for(lambda: os.path.islink(os.path.join(self.dev, "COM9")), "gps-sim's link")
        self.by_id = os.path.join(self.root, "by-id")
        os.makedirs(self.by_id)
        self.receiver = os.path.join(self.by_id, "usb-receiver")
        self.sim_terminal = os.path.realpath(os.path.join(self.dev, "COM9"))
        os.symlink(self.sim_terminal, self.receiver)
        os.symlink(self.receiver, os.path.join(self.dev, "COM1"))
        self.hub_log = open(os.path.join(self.root, "hub.log"), "w")
        self.hub = subprocess.Popen([self.tavro, "run"], env=self.env, stdout=self.hub_log,
                                    stderr=self.hub_log)
        self.wait_for(lambda: all(os.path.islink(os.path.join(self.dev, "COM%d" % (11 + i)))
                                  for i in range(8)), "the virtual ports")
        self.wait_for(lambda: self.run_tavro("status").returncode == 0, "the stream")

    def wait_for(self, condition, what, seconds=20):
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            if condition():
                return
            time.sleep(0.05)
        raise SystemExit("soak: no %s within %d s" % (what, seconds))

    # ---- the hub's figures ----------------------------------------------------------------
    def sample(self):
        pid = self.hub.pid
        fds = len(os.listdir("/proc/%d/fd" % pid))
        rss = 0
        with open("/proc/%d/status" % pid) as status:
            for line in status:
                if line.startswith("VmRSS:"):
                    rss = int(line.split()[1])
        with open("/proc/%d/stat" % pid) as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
        cpu = (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
        return {"fds": fds, "rss_kib": rss, "cpu_s": cpu, "at": time.monotonic()}

    # ---- the load -------------------------------------------------------------------------
    def spawn(self, body, *arguments):
        thread = threading.Thread(target=body, args=arguments, daemon=True)
        thread.start()
        self.threads.append(thread)

    def pty_reader(self, com):
        fd = os.open(os.path.join(self.dev, "COM%d" % com), os.O_RDWR | os.O_NOCTTY)
        tty.setraw(fd)
        stream = bytearray()
        with self.lock:
            self.streams["COM%d" % com] = stream
        while not self.stop.is_set():
            try:
                chunk = os.read(fd, 65536)
            except OSError:
                break
            stream += chunk
        os.close(fd)

    def pty_flood(self, com):
        fd = os.open(os.path.join(self.dev, "COM%d" % com), os.O_RDWR | os.O_NOCTTY)
        tty.setraw(fd)
        sentence = b"$PMTK000*32\r\n" * 64
        try:
            while not self.stop.is_set():
                # The hub takes what the receiver's line can carry; the writer waits meanwhile.
                self.counts["flood_bytes"] += os.write(fd, sentence)
                termios.tcflush(fd, termios.TCIFLUSH)  # what it is sent is not measured here
        except OSError:
            pass  # the hub has stopped
        os.close(fd)

    def tcp_clients(self):
        selector = selectors.DefaultSelector()
        steady = []
        for i in range(20):
            s = socket.create_connection(("127.0.0.1", self.tcp_port))
            s.setblocking(False)
            stream = bytearray()
            with self.lock:
                self.streams["tcp%d" % i] = stream
            selector.register(s, selectors.EVENT_READ, stream)
            steady.append(s)
        # A small buffer: with Linux's default one a client that never reads takes in megabytes
        # before anyone can tell (NetworkOutput.h).
        stalled = socket.socket()
        stalled.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        stalled.connect(("127.0.0.1", self.tcp_port))
        churn = []
        while not self.stop.is_set():
            # The churners: up to 79 at once, each leaving after a moment.
            while len(churn) < 79:
                try:
                    s = socket.create_connection(("127.0.0.1", self.tcp_port), timeout=2)
                except OSError:
                    break
                s.setblocking(False)
                churn.append((s, time.monotonic() + random.uniform(0.2, 3)))
                self.counts["tcp_churn"] += 1
            now = time.monotonic()
            for entry in [c for c in churn if c[1] < now]:
                try:
                    entry[0].recv(65536)
                except OSError:
                    pass
                entry[0].close()
                churn.remove(entry)
            for key, _ in selector.select(timeout=0.05):
                try:
                    chunk = key.fileobj.recv(65536)
                except BlockingIOError:
                    continue
                if not chunk:
                    self.failures.append("a steady TCP reader was disconnected")
                    selector.unregister(key.fileobj)
                    continue
                key.data.extend(chunk)
        for s in steady + [c[0] for c in churn] + [stalled]:
            s.close()

    def status_load(self):
        while not self.stop.is_set():
            result = self.run_tavro("status", "--json")
            self.counts["status"] += 1
            if result.returncode not in (0, 3):
                self.counts["status_failed"] += 1

    def chaos(self):
        next_unplug = time.monotonic() + 20
        next_hup = time.monotonic() + 7
        next_setting = time.monotonic() + 5
        limit = 128
        while not self.stop.wait(0.2):
            now = time.monotonic()
            if now >= next_unplug:
                os.remove(self.receiver)
                time.sleep(2)
                os.symlink(self.sim_terminal, self.receiver)
                self.counts["unplug"] += 1
                next_unplug = now + 30
            if now >= next_hup:
                self.hub.send_signal(signal.SIGHUP)
                self.counts["hup"] += 1
                next_hup = now + 15
            if now >= next_setting:
                limit = 120 if limit == 128 else 128
                if self.run_tavro("config", "set", "TCP Clients", str(limit)).returncode != 0:
                    self.failures.append("a setting could not be changed")
                self.counts["settings"] += 1
                next_setting = now + 10

    # ---- the verdict ----------------------------------------------------------------------
    def check_streams(self):
        with self.lock:
            streams = {name: bytes(stream) for name, stream in self.streams.items()}
        reference_name = max((n for n in streams if n.startswith("COM")),
                             key=lambda n: len(streams[n]))
        reference = streams[reference_name]
        compared = 0
        for name, stream in streams.items():
            if len(stream) < 4096:
                self.failures.append("%s received only %d bytes" % (name, len(stream)))
                continue
            # Whichever began first holds the other's first bytes.
            later, earlier = stream, reference
            start = earlier.find(later[:512])
            if start < 0:
                later, earlier = reference, stream
                start = earlier.find(later[:512])
            if start < 0:
                self.failures.append("%s and %s share no start" % (name, reference_name))
                continue
            # Both stopped reading at about the same time: the last few KB may differ in
            # length, not in content.
            common = min(len(later), len(earlier) - start) - 16384
            if later[:common] != earlier[start:start + common]:
                at = next(i for i in range(common) if later[i] != earlier[start + i])
                self.failures.append("%s differs from %s at byte %d" % (name, reference_name, at))
            compared += max(0, common)
        return len(streams), compared

    def run(self):
        self.start()
        for com in range(11, 18):
            self.spawn(self.pty_reader, com)
        self.spawn(self.pty_flood, 18)
        self.spawn(self.tcp_clients)
        self.spawn(self.status_load)
        time.sleep(5)
        first = self.sample()
        self.spawn(self.chaos)
        samples = [first]
        end = time.monotonic() + self.seconds
        while time.monotonic() < end and self.hub.poll() is None:
            time.sleep(min(10, max(0, end - time.monotonic())))
            if self.hub.poll() is None:
                samples.append(self.sample())
        report = json.loads(self.run_tavro("status", "--json").stdout or "{}")
        self.stop.set()
        for thread in self.threads:
            thread.join(timeout=10)
        if self.hub.poll() is not None:
            self.failures.append("the hub ended during the soak (%d)" % self.hub.returncode)
        last = samples[-1]
        self.hub.send_signal(signal.SIGTERM)
        try:
            code = self.hub.wait(timeout=15)
            if code != 0:
                self.failures.append("the hub stopped with %d" % code)
        except subprocess.TimeoutExpired:
            self.failures.append("the hub did not stop on SIGTERM")
            self.hub.kill()
        self.sim_process.terminate()
        self.sim_process.wait()
        readers, compared = self.check_streams()
        # Flat: after the warm-up, descriptors move only with the clients that come and go,
        # and memory does not grow.
        fds = [s["fds"] for s in samples]
        rss = [s["rss_kib"] for s in samples]
        if max(fds) - min(fds) > 120 or fds[-1] - fds[0] > 40:
            self.failures.append("descriptors not flat: %s" % fds)
        if rss[-1] > rss[0] + 2048:
            self.failures.append("memory grew: %d KiB to %d KiB" % (rss[0], rss[-1]))
        dropped = {p["com"]: p.get("bytesDropped") for p in report.get("virtualPorts", [])}
        tcp = report.get("tcp", {})
        cpu = 100 * (last["cpu_s"] - first["cpu_s"]) / max(1e-9, last["at"] - first["at"])
        print("soak: %.1f min, %d steady readers, %.1f MB compared in order" %
              ((last["at"] - first["at"]) / 60, readers, compared / 1e6))
        print("soak: hub CPU %.1f %%, descriptors %d..%d (first %d, last %d), RSS %d..%d KiB" %
              (cpu, min(fds), max(fds), fds[0], fds[-1], min(rss), max(rss)))
        print("soak: %s" % ", ".join("%s %d" % item for item in self.counts.items()))
        print("soak: virtual ports dropped %s; TCP stalled %s, refused %s, rate-limited %s" %
              (dropped, tcp.get("stalled"), tcp.get("refused"), tcp.get("rateLimited")))
        if self.counts["status_failed"] != 0:
            self.failures.append("tavro status failed %d times" % self.counts["status_failed"])
        if not tcp.get("stalled"):
            self.failures.append("the client that never reads was not dropped")
        if self.failures:
            print("soak failed:\n  " + "\n  ".join(self.failures), file=sys.stderr)
            print("(hub log and files in %s)" % self.root, file=sys.stderr)
            return 1
        shutil.rmtree(self.root, ignore_errors=True)
        print("soak passed")
        return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--minutes", type=float, default=10)
    parser.add_argument("--build", default=os.path.join(ROOT, "build/native"))
    args = parser.parse_args()
    sys.exit(Soak(args.build, args.minutes).run())


if __name__ == "__main__":
    main()
