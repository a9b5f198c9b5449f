#!/usr/bin/python3
"""Bad requests against a running tavro-web beside `tavro run`: unknown paths, a wrong Host
header, a 1 MB header, 1,000 connections at once, live feeds that never read. Each gets a
clear refusal; the dashboard keeps answering, the hub keeps running, and the dashboard's
descriptors are back where they were once the senders are gone. Prints the figures.

dashboard_abuse_test.py TAVRO GPS_SIM TAVRO_WEB"""

import os
import resource
import socket
import sys
import time
import urllib.parse

sys.path.insert(0, os.path.dirname(__file__))
from stage import Checks, Stage  # noqa: E402


def descriptors(pid):
    return len(os.listdir(f"/proc/{pid}/fd"))


def resident_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def request(port, head, timeout=5.0):
    """Sends `head` (bytes) and returns the whole answer and the seconds it took."""
    start = time.time()
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as connection:
        connection.sendall(head)
        answer = b""
        while True:
            try:
                chunk = connection.recv(65536)
            except (ConnectionResetError, socket.timeout):
                break
            if not chunk:
                break
            answer += chunk
    return answer, time.time() - start


def get(port, path="/api/status", host=None):
    host = host or f"127.0.0.1:{port}"
    return request(port, f"GET {path} HTTP/1.1\r\nHost: {host}\r\n\r\n".encode())


def status_of(answer):
    line = answer.split(b"\r\n", 1)[0].decode(errors="replace")
    return int(line.split()[1]) if line.startswith("HTTP/1.1 ") else 0


def main():
    tavro, gps_sim, web = sys.argv[1:4]
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (min(hard, 4096), hard))
    checks = Checks()
    stage = Stage(tavro, gps_sim, web, name="tavro-web-abuse")
    try:
        stage.start_receiver()
        stage.start_hub()
        stage.wait_stream()
        url = stage.start_web()
        port = urllib.parse.urlparse(url).port
        pid = stage.processes["web"].pid
        hub = stage.processes["hub"]
        answer, _ = get(port)
        checks.check(status_of(answer) == 200, "the status answers")
        time.sleep(0.5)  # that connection is let go
        fds_before = descriptors(pid)
        rss_before = resident_kib(pid)

        answer, _ = get(port, "/no/such/page")
        checks.check(status_of(answer) == 404 and b"no such page" in answer, "unknown path: 404")
        answer, _ = get(port, "/", host=f"attacker.example:{port}")
        checks.check(status_of(answer) == 403 and b"does not answer to the host" in answer,
                     "wrong Host header: 403")
        answer, _ = request(port, b"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Big: " +
                            b"a" * (1 << 20) + b"\r\n\r\n", timeout=20)
        checks.check(status_of(answer) == 431, "1 MB header: 431")
        answer, _ = request(port, f"POST /api/settings HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n"
                            f"Origin: http://127.0.0.1:{port}\r\nContent-Type: application/json"
                            "\r\nContent-Length: 2\r\n\r\n{}".encode())
        checks.check(status_of(answer) == 403 and b"changes are off" in answer,
                     "a write while changes are off: 403")

        # 1,000 connections at once, none sending anything.
        crowd = []
        for _ in range(1000):
            connection = socket.socket()
            connection.setblocking(False)
            connection.connect_ex(("127.0.0.1", port))
            crowd.append(connection)
        time.sleep(1.5)
        answer, took = get(port)
        checks.check(status_of(answer) == 200 and took < 3,
                     f"1,000 idle connections: a page request is answered in {took * 1000:.0f} ms")
        let_go = 0
        for connection in crowd:
            try:
                let_go += connection.recv(64) == b""
            except BlockingIOError:
                pass  # still held, waiting for its request
            except OSError:
                let_go += 1
        held = descriptors(pid) - fds_before
        print(f"figures: 1,000 silent connections: {let_go} let go to make room, the dashboard "
              f"held {held} descriptors more (its table: 64)")
        for connection in crowd:
            connection.close()

        # Live feeds that never read, with small receive buffers.
        slow = []
        for _ in range(20):
            connection = socket.socket()
            connection.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
            connection.connect(("127.0.0.1", port))
            connection.sendall(f"GET /events HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n\r\n".encode())
            slow.append(connection)
        time.sleep(6)
        busy = 0
        for connection in slow:
            connection.setblocking(False)
            try:
                busy += connection.recv(16, socket.MSG_PEEK).startswith(b"HTTP/1.1 503")
            except OSError:
                pass
        print(f"figures: 20 feeds that never read: {busy} told 503 (at most 16 feeds)")
        answer, took = get(port)
        checks.check(status_of(answer) == 200 and took < 2,
                     f"20 feeds that never read: the status is answered in {took * 1000:.0f} ms")
        rss_during = resident_kib(pid)
        checks.check(rss_during - rss_before < 8192,
                     f"memory with them: {rss_before} KiB before, {rss_during} KiB with them")
        for connection in slow:
            connection.close()

        # A crowd connection its sender gave up on while the handshake was still under way
        # is half-open: nothing tells the dashboard until the head time-out (10 s) lets it go.
        deadline = time.time() + 13
        while descriptors(pid) != fds_before and time.time() < deadline:
            time.sleep(0.1)
        fds_after = descriptors(pid)
        checks.check(fds_after == fds_before,
                     f"descriptors of the dashboard: {fds_before} before, {fds_after} after")
        checks.check(stage.processes["web"].poll() is None, "the dashboard still runs")
        checks.check(hub.poll() is None and stage.run_tavro("status").returncode == 0,
                     "the hub still runs, its input port open")
    finally:
        code = checks.report(stage, ("hub", "web"))
    return code


if __name__ == "__main__":
    sys.exit(main())
