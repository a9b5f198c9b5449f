#!/usr/bin/python3
"""TavroWeb.exe under Wine, beside Tavro.exe reading gps-sim, seen from the Linux Chromium:
the page shows the running hub, its stream and fix, and the satellites of its status block,
with no console error. Given the hub's TCP port and a release file, also the hub's report:
the two virtual ports that programs hold are listed with their open counts and the bytes the
driver relayed to them, a TCP client this script keeps open is listed, and once the file exists (its program then closes COM9) the
port shows 0 programs.

wine_dashboard_check.py URL SCREENSHOT [TCP_PORT RELEASE_FILE]
exit 77 without Chromium or python3-websocket"""

import os
import socket
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(__file__))
try:
    import cdp
except ImportError as missing:
    print(f"SKIP: {missing}")
    sys.exit(77)

HELD = ("7", "9")  # COM numbers held by a program each; the last is let go
REPORT_WAIT_S = 30
RELEASE_WAIT_S = 10


def row(com):
    return f"document.querySelector('#ports tr[data-com=\"{com}\"]')"


def programs(browser, com):
    return browser.evaluate(f"(() => {{ const r = {row(com)}; return r && r.dataset.programs; }})()")


class Client:
    """A TCP client of the hub's network output that reads everything, so it stays served."""

    def __init__(self, port):
        self.socket = socket.create_connection(("127.0.0.1", port), timeout=10)
        self.address = "%s:%d" % self.socket.getsockname()[:2]
        self.received = 0
        threading.Thread(target=self._drain, daemon=True).start()

    def _drain(self):
        try:
            while True:
                data = self.socket.recv(4096)
                if not data:
                    return
                self.received += len(data)
        except OSError:
            return

    def close(self):
        self.socket.close()


def check_report(browser, tcp_port, release_file):
    client = Client(tcp_port)
    try:
        # Held, and the driver's traffic counts show bytes relayed to it (the fifth cell).
        held = " && ".join(f"{row(com)} && {row(com)}.dataset.programs === '1' && "
                           f"/^[1-9]/.test({row(com)}.cells[4].textContent)" for com in HELD)
        listed = f"document.querySelector('#clients tr[data-address=\"{client.address}\"]')"
        shown, took = browser.wait_for(f"({held} && {listed}) && true", REPORT_WAIT_S)
        ports = browser.evaluate("Array.from(document.querySelectorAll('#ports tbody tr'))"
                                 ".map((r) => r.textContent).join(' | ')")
        if not shown:
            clients = browser.evaluate("document.getElementById('clients').textContent")
            print(f"FAIL: after {took:.1f} s the ports read \"{ports}\" and the clients "
                  f"\"{clients}\" (held COM{' and COM'.join(HELD)}, client {client.address})")
            return False
        print(f"ok: COM{' and COM'.join(HELD)} listed with 1 program each and the client "
              f"{client.address} ({client.received} bytes read) after {took:.1f} s: {ports}")

        released = time.monotonic()
        with open(release_file, "w") as mark:
            mark.write("release\n")
        last = HELD[-1]
        shown, took = browser.wait_for(f"{row(last)} && {row(last)}.dataset.programs === '0'",
                                       RELEASE_WAIT_S)
        took = time.monotonic() - released
        if not shown or programs(browser, HELD[0]) != "1":
            print(f"FAIL: COM{last} shows {programs(browser, last)} programs and COM{HELD[0]} "
                  f"{programs(browser, HELD[0])} {took:.1f} s after its program was told to "
                  f"close it")
            return False
        print(f"ok: COM{last} shows 0 programs {took:.1f} s after its program was told to close "
              f"it; COM{HELD[0]} still 1")
        return True
    finally:
        client.close()


def main():
    url, screenshot = sys.argv[1:3]
    if cdp.find_chromium() is None:
        print("SKIP: Chromium is not installed")
        return 77
    browser = cdp.Browser(url)
    try:
        shown, took = browser.wait_for(
            "document.body && document.body.dataset.hub === 'running' && "
            "document.getElementById('status-line').textContent.startsWith('NMEA Stream') && "
            "document.querySelectorAll('#sky-marks .sat').length", 60)
        edition = browser.evaluate("document.getElementById('feed-state').textContent")
        if not shown or "windows edition" not in edition:
            browser.screenshot(screenshot)
            print(f"FAIL: the page shows no running Windows hub after {took:.1f} s ({edition})")
            return 1
        print(f"ok: {shown} satellites, the stream and the running hub shown after {took:.1f} s")
        if len(sys.argv) == 5 and not check_report(browser, int(sys.argv[3]), sys.argv[4]):
            browser.screenshot(screenshot)
            return 1
        browser.screenshot(screenshot)
        browser.evaluate("1")
        if browser.errors:
            print(f"FAIL: console errors: {browser.errors[:3]}")
            return 1
        print(f"screenshot {screenshot}")
        return 0
    finally:
        browser.close()


if __name__ == "__main__":
    sys.exit(main())
