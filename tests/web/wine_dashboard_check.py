#!/usr/bin/python3
"""TavroWeb.exe under Wine, beside Tavro.exe reading gps-sim, seen from the Linux Chromium:
the page shows the running hub, its stream and fix, and the satellites of its status block,
with no console error.

wine_dashboard_check.py URL SCREENSHOT      exit 77 without Chromium or python3-websocket"""

import os
import sys

sys.path.insert(0, os.path.dirname(__file__))
try:
    import cdp
except ImportError as missing:
    print(f"SKIP: {missing}")
    sys.exit(77)


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
        browser.screenshot(screenshot)
        browser.evaluate("1")
        if not shown or "windows edition" not in edition:
            print(f"FAIL: the page shows no running Windows hub after {took:.1f} s ({edition})")
            return 1
        if browser.errors:
            print(f"FAIL: console errors: {browser.errors[:3]}")
            return 1
        print(f"ok: {shown} satellites, the stream and the running hub shown after {took:.1f} s; "
              f"screenshot {screenshot}")
        return 0
    finally:
        browser.close()


if __name__ == "__main__":
    sys.exit(main())
