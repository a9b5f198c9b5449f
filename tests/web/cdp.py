"""Headless Chromium driven through its DevTools protocol, for the dashboard's browser tests."""

import json
import os
import re
import shutil
import subprocess
import tempfile
import time
import urllib.request

import websocket  # Debian: python3-websocket

CHROMIUM_FLAGS = [
    "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    "--remote-debugging-port=0",
]


def find_chromium():
    for name in ("chromium", "chromium-browser"):
        path = shutil.which(name)
        if path:
            return path
    return None


class Browser:
    """One headless Chromium with one page; console errors and exceptions are collected."""

    def __init__(self, url, width=1280, height=1700):
        self.profile = tempfile.mkdtemp(prefix="tavro-chromium-")
        self.log = open(os.path.join(self.profile, "chromium.log"), "w+")
        self.process = subprocess.Popen(
            [find_chromium(), *CHROMIUM_FLAGS, f"--user-data-dir={self.profile}",
             f"--window-size={width},{height}", "about:blank"],
            stdout=self.log, stderr=subprocess.STDOUT)
        port = self._devtools_port()
        page = next(target for target in self._targets(port) if target["type"] == "page")
        self.socket = websocket.create_connection(page["webSocketDebuggerUrl"], timeout=30)
        self.next_id = 0
        self.errors = []
        self.call("Runtime.enable")
        self.call("Log.enable")
        self.call("Page.enable")
        self.call("Emulation.setDeviceMetricsOverride", width=width, height=height,
                  deviceScaleFactor=1, mobile=False)
        self.call("Page.navigate", url=url)

    def _devtools_port(self):
        deadline = time.time() + 30
        while time.time() < deadline:
            self.log.seek(0)
            found = re.search(r"DevTools listening on ws://[^:]+:(\d+)/", self.log.read())
            if found:
                return int(found.group(1))
            if self.process.poll() is not None:
                break
            time.sleep(0.1)
        self.log.seek(0)
        raise RuntimeError("Chromium did not start:\n" + self.log.read())

    @staticmethod
    def _targets(port):
        with urllib.request.urlopen(f"http://127.0.0.1:{port}/json/list", timeout=10) as answer:
            return json.load(answer)

    def _note(self, message):
        method = message.get("method")
        params = message.get("params", {})
        if method == "Runtime.exceptionThrown":
            details = params.get("exceptionDetails", {})
            self.errors.append("exception: " + json.dumps(details.get("exception", details))[:500])
        elif method == "Runtime.consoleAPICalled" and params.get("type") in ("error", "assert"):
            self.errors.append("console: " + json.dumps(params.get("args"))[:500])
        elif method == "Log.entryAdded" and params.get("entry", {}).get("level") == "error":
            entry = params["entry"]
            self.errors.append(f"log: {entry.get('text')} {entry.get('url', '')}")

    def call(self, method, **params):
        self.next_id += 1
        self.socket.send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        while True:
            message = json.loads(self.socket.recv())
            if message.get("id") == self.next_id:
                if "error" in message:
                    raise RuntimeError(f"{method}: {message['error']}")
                return message.get("result", {})
            self._note(message)

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True)
        if "exceptionDetails" in result:
            raise RuntimeError(f"{expression}: {result['exceptionDetails']}")
        return result["result"].get("value")

    def wait_for(self, expression, timeout):
        """Evaluates `expression` until it is truthy; returns (value, seconds taken) or
        (None, timeout)."""
        start = time.time()
        while time.time() - start < timeout:
            try:
                value = self.evaluate(expression)
            except RuntimeError:
                value = None  # the page is not there yet
            if value:
                return value, time.time() - start
            time.sleep(0.05)
        return None, timeout

    def screenshot(self, path):
        import base64
        data = self.call("Page.captureScreenshot", format="png", captureBeyondViewport=True)
        with open(path, "wb") as file:
            file.write(base64.b64decode(data["data"]))

    def close(self):
        try:
            self.socket.close()
        except Exception:
            pass
        self.process.terminate()
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.log.close()
        shutil.rmtree(self.profile, ignore_errors=True)
