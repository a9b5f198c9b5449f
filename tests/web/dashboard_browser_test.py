#!/usr/bin/python3
"""The dashboard in headless Chromium against `tavro run` and gps-sim's four-constellation
receiver: every satellite of `tavro status --json` in the sky plot and the bars, the same
position and fix, the reader on COM5, the time export's row, a hub stop and start shown within 2 s without a reload,
a stopped receiver's fix shown as the last known one and a receiver without a fix shown without
values, and no console error. Saves screenshots (their paths are printed).

dashboard_browser_test.py TAVRO GPS_SIM TAVRO_WEB SCREENSHOT
Exit 77 (skipped) without Chromium or python3-websocket."""

import socket
import sys
import time

sys.path.insert(0, __import__("os").path.dirname(__file__))

try:
    import cdp
except ImportError as missing:
    print(f"SKIP: {missing} (Debian: python3-websocket)")
    sys.exit(77)
from stage import Checks, Stage

SHOWN_WITHIN_S = 2.0

PAGE_SATELLITES = """[...document.querySelectorAll('#sky-marks .sat')].map(g =>
    [Number(g.dataset.id), g.dataset.constellation, g.dataset.used === 'true'])"""
PAGE_BARS = """[...document.querySelectorAll('#bars .bar')].map(g =>
    [Number(g.dataset.id), g.dataset.constellation, Number(g.dataset.snr)])"""
PAGE_FIX = """(() => { const p = document.getElementById('position');
    const t = document.getElementById('utc-time'); const f = document.getElementById('fix-text');
    return p && t && f ? [p.dataset.latitude, p.dataset.longitude, t.dataset.utc, f.textContent,
        p.textContent] : null; })()"""
PAGE_HUB = "document.body.dataset.hub"
# What the page shows of the fix's freshness: the note, whether the fix card, the sky and the
# bars are greyed, the position and DOP cells, and the footer.
PAGE_FRESHNESS = """(() => { const note = document.getElementById('fix-age');
    const greyed = (id) => document.getElementById(id).closest('.card').classList.contains('not-current');
    const feed = document.getElementById('feed-state');
    return note && { current: note.dataset.current, note: note.textContent, fixGreyed: greyed('fix'),
        skyGreyed: greyed('sky'), barsGreyed: greyed('bars'), flowing: feed.dataset.flowing,
        footer: feed.textContent, position: document.getElementById('position').textContent,
        dop: document.getElementById('dop').textContent }; })()"""


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def wait_until(predicate, timeout):
    start = time.time()
    while time.time() - start < timeout:
        value = predicate()
        if value:
            return value, time.time() - start
        time.sleep(0.1)
    return None, timeout


def satellites_of(status):
    """The whole sky where the hub reports it, else the block's twelve entries."""
    listed = status.get("sky") if isinstance(status.get("sky"), list) else status.get("satellites", [])
    return sorted((s["prn"], s["constellation"], s["used"]) for s in listed if s["prn"] > 0)


def agree(stage, browser, read_page, read_status, timeout=10):
    """Reads the page and the hub until both tell the same (the drive moves on every second);
    returns the last pair."""
    deadline = time.time() + timeout
    while True:
        before = read_status(stage.status())
        page = read_page()
        after = read_status(stage.status())
        if page == before or page == after or time.time() > deadline:
            return page, before if page == before else after
        time.sleep(0.1)


def main():
    tavro, gps_sim, web, screenshot = sys.argv[1:5]
    if cdp.find_chromium() is None:
        print("SKIP: Chromium is not installed (Debian: chromium)")
        return 77
    checks = Checks()
    stage = Stage(tavro, gps_sim, web)
    browser = None
    try:
        stage.start_receiver("--constellations", "gps,glonass,galileo,beidou")
        # The time export to unit 3 (the segment stays, as time services expect).
        stage.run_tavro("config", "set", "NTP Unit", "3")
        stage.start_hub()
        stage.open_reader(5)
        stage.wait_stream()
        url = stage.start_web("--allow-changes")
        print(f"dashboard: {url}")
        browser = cdp.Browser(url)
        _, took = browser.wait_for(f"{PAGE_HUB} === 'running' && "
                                   "document.querySelectorAll('#sky-marks .sat').length > 0", 20)
        checks.check(took < 20, "the page shows the running hub and its sky")
        browser.evaluate("window.tavroLoadMark = performance.timeOrigin")

        # A cycle of each constellation first: the receiver lists them one after another.
        wait_until(lambda: len({e[1] for e in satellites_of(stage.status())}) == 4, 20)
        page, status = agree(stage, browser, lambda: sorted(map(tuple, browser.evaluate(PAGE_SATELLITES))),
                             satellites_of)
        constellations = sorted({entry[1] for entry in status})
        checks.check(page == status and len(constellations) == 4,
                     f"sky plot: {len(page)} marks of {constellations}, as tavro status --json: "
                     f"{len(status)} satellites")
        whole, _ = wait_until(lambda: (lambda s: isinstance(s.get("sky"), list) and
                                       len(s["sky"]) == s["satsInView"] and s)(stage.status()), 10)
        checks.check(bool(whole), "the sky holds every satellite in view: " +
                     (f"{len(whole['sky'])} of {whole['satsInView']}" if whole else "it does not"))
        page, status = agree(stage, browser,
                             lambda: sorted((b[0], b[1]) for b in browser.evaluate(PAGE_BARS)),
                             lambda s: sorted((e[0], e[1]) for e in satellites_of(s)))
        checks.check(page == status, f"signal bars: {len(page)} bars for {len(status)} satellites")
        legend = browser.evaluate("[...document.querySelectorAll('#legend li')].map(li => li.textContent)")
        checks.check(all(name in legend for name in
                         ("GPS", "GLONASS", "Galileo", "BeiDou", "QZSS", "SBAS", "NavIC")),
                     f"legend names every constellation: {legend}")

        def page_fix():
            fix = browser.evaluate(PAGE_FIX)
            return fix and (float(fix[0]), float(fix[1]), fix[2], fix[3])

        def status_fix(s):
            return (s.get("latitude"), s.get("longitude"), s.get("utcTime"), s.get("fixText"))

        page, status = agree(stage, browser, page_fix, status_fix)
        checks.check(page == status, f"position, time and fix: page {page}, hub {status}")
        checks.check(browser.evaluate("document.getElementById('status-line').textContent")
                     .startswith("NMEA Stream | 3D Fix"), "the status line")
        live = browser.evaluate(PAGE_FRESHNESS)
        checks.check(live["current"] == "true" and not live["fixGreyed"] and not live["skyGreyed"]
                     and live["flowing"] == "true" and live["footer"].startswith("receiving data"),
                     f"a current fix, shown as such: {live}")

        reader, _ = browser.wait_for("(() => { const r = document.querySelector("
                                     "'#ports tr[data-com=\"5\"]'); return r && "
                                     "r.dataset.programs === '1' && r.textContent; })()", 10)
        checks.check(bool(reader) and "in use" in reader, f"COM5's reader in the port table: {reader}")

        # Four constellations at 4800 baud fill the line without a pause, so no fix's arrival
        # is known and no sample is written (the chrony test counts them): the row says so.
        export, _ = browser.wait_for("(() => { const t = document.getElementById('time-export');"
                                     " return t && t.textContent; })()", 10)
        checks.check(bool(export) and "NTP unit 3, 0 samples" in export,
                     f"the time export's row: {export}")

        browser.screenshot(screenshot)
        print(f"screenshot: {screenshot}")

        stage.stop("hub")
        _, took = browser.wait_for(f"{PAGE_HUB} === 'notRunning' && "
                                   "document.getElementById('hub-state').textContent === "
                                   "'Hub not running'", 10)
        checks.check(took <= SHOWN_WITHIN_S, f"hub stopped: 'Hub not running' after {took:.2f} s")
        stage.start_hub()
        started = time.time()
        while stage.run_tavro("status").returncode == 4 and time.time() - started < 20:
            time.sleep(0.02)
        _, took = browser.wait_for(f"{PAGE_HUB} === 'running' && "
                                   "document.getElementById('hub-state').hidden", 10)
        checks.check(took <= SHOWN_WITHIN_S, f"hub started again: shown after {took:.2f} s")
        checks.check(browser.evaluate("window.tavroLoadMark === performance.timeOrigin"),
                     "no reload of the page")

        # Settings, with this start's token: a change as tavro config set makes it, and its
        # refusal in the same words.
        browser.call("Page.navigate", url=f"{url}#token={stage.token()}")
        browser.wait_for("document.getElementById('settings-card') && "
                         "!document.getElementById('settings-card').hidden && "
                         "document.getElementById('setting-TCP-Port')", 10)

        def set_on_page(name, value):
            field = f"setting-{name.replace(' ', '-')}"
            browser.evaluate(f"document.getElementById('settings-result').textContent = '';"
                             f"document.getElementById('{field}').value = '{value}';"
                             f"document.getElementById('{field}').nextSibling.click()")
            answer, _ = browser.wait_for("(() => { const r = document.getElementById("
                                         "'settings-result'); return r.dataset.ok !== undefined "
                                         "&& !r.textContent.startsWith('setting ') && "
                                         "[r.dataset.ok, r.textContent]; })()", 10)
            browser.evaluate("delete document.getElementById('settings-result').dataset.ok")
            return answer

        tcp_port = str(free_port())
        answer = set_on_page("TCP Port", tcp_port)
        stored = stage.run_tavro("config", "get", "TCP Port").stdout.strip()
        checks.check(answer and answer[0] == "true" and stored == tcp_port,
                     f"TCP Port set from the page: {answer}, stored {stored}")
        listening, _ = wait_until(lambda: stage.status().get("tcp", {}).get("listening"), 10)
        checks.check(listening, "the running hub took it: NMEA over TCP is served")
        answer = set_on_page("TCP Address", "no-such-address")
        expected = stage.run_tavro("config", "set", "TCP Address", "no-such-address").stderr
        checks.check(answer and answer[0] == "false" and
                     answer[1].strip() in expected.replace("tavro config: ", ""),
                     f"a refused value, in tavro config set's words: {answer}")

        # The receiver stops: its last fix stays on the page, greyed with its age, its satellites
        # greyed, and the footer no longer says that data arrives.
        stage.stop("sim")
        stale, _ = browser.wait_for(f"(() => {{ const f = {PAGE_FRESHNESS}; return f && "
                                    "f.current === 'false' && f.flowing === 'false' && f; })()", 10)
        checks.check(bool(stale) and stale["fixGreyed"] and stale["skyGreyed"] and stale["barsGreyed"]
                     and stale["note"].startswith("last known fix, ") and stale["note"].endswith(" ago")
                     and stale["position"] != "–" and not stale["footer"].startswith("receiving"),
                     f"a stopped receiver's fix, shown as the last known one: {stale}")
        stale_shot = screenshot.replace(".png", "-not-current.png")
        browser.screenshot(stale_shot)
        print(f"screenshot: {stale_shot}")

        # A receiver that reports no fix (DOP 99.99): no position, speed, course or DOP.
        stage.start_receiver("--constellations", "gps,glonass,galileo,beidou", "--fix", "none")
        none, _ = browser.wait_for(f"(() => {{ const f = {PAGE_FRESHNESS}; return f && "
                                   "f.flowing === 'true' && f.position === '–' && f; })()", 30)
        checks.check(bool(none) and none["current"] == "false" and none["position"] == "–"
                     and none["dop"] == "–" and none["note"].startswith("the receiver reports no fix")
                     and none["footer"].startswith("receiving data"),
                     f"a receiver without a fix, shown without values: {none}")

        time.sleep(0.5)
        browser.evaluate("1")  # collects the events still queued
        checks.check(not browser.errors,
                     f"no console error: {len(browser.errors)} {browser.errors[:3]}")
    finally:
        if browser is not None:
            browser.close()
        code = checks.report(stage, ("hub", "sim", "web"))
    return code


if __name__ == "__main__":
    sys.exit(main())
