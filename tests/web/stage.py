"""A private stage for the dashboard's end-to-end tests: gps-sim on COM1, `tavro run` with
virtual ports COM5 and COM6, and `tavro-web`, each in its own COM directory, settings folder and
status block, so the tests run beside other tests and a hub of the user's own."""

import json
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time


class Checks:
    """Named checks that go on after a failure; report() prints the closing count."""

    def __init__(self):
        self.passed = 0
        self.failed = []

    def check(self, condition, what):
        print(("ok: " if condition else "FAILED: ") + what)
        if condition:
            self.passed += 1
        else:
            self.failed.append(what)

    def report(self, stage, logs):
        """Prints the logs of `stage` after a failure, closes it, and returns the exit code."""
        if self.failed:
            for name in logs:
                print(f"--- {name} log\n{stage.text(name)}")
        stage.close()
        print(f"{self.passed} passed, {len(self.failed)} failed")
        return 1 if self.failed else 0


class Stage:
    def __init__(self, tavro, gps_sim, web, name="tavro-web-test"):
        self.tavro = tavro
        self.gps_sim = gps_sim
        self.web_program = web
        self.root = tempfile.mkdtemp(prefix=name + "-")
        self.env = dict(os.environ)
        self.env.update({
            "TAVRO_DEVDIR": os.path.join(self.root, "dev"),
            "XDG_CONFIG_HOME": os.path.join(self.root, "config"),
            "TAVRO_SHM": f"/{name}-{os.getpid()}",
            "HOME": self.root,
        })
        self.processes = {}
        self.reader = None

    def log(self, name):
        return open(os.path.join(self.root, name + ".log"), "a")

    def start(self, name, arguments):
        process = subprocess.Popen(arguments, env=self.env, stdout=self.log(name),
                                   stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        self.processes[name] = process
        return process

    def stop(self, name):
        process = self.processes.pop(name, None)
        if process and process.poll() is None:
            process.send_signal(signal.SIGTERM)
            try:
                process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()

    def run_tavro(self, *arguments):
        return subprocess.run([self.tavro, *arguments], env=self.env, capture_output=True,
                              text=True, timeout=30)

    def link(self, com):
        return os.path.join(self.env["TAVRO_DEVDIR"], f"COM{com}")

    def wait_path(self, path, timeout=20):
        deadline = time.time() + timeout
        while time.time() < deadline:
            if os.path.exists(path):
                return True
            time.sleep(0.05)
        return False

    def status(self):
        result = self.run_tavro("status", "--json")
        return json.loads(result.stdout) if result.stdout.strip() else {}

    def start_receiver(self, *extra):
        self.start("sim", [self.gps_sim, "--com", "1", "--quiet", *extra])
        assert self.wait_path(self.link(1)), "gps-sim made no COM1"
        # "Multi GNSS": every constellation gps-sim tracks, not GPS alone.
        for name, value in (("Port", "1"), ("Port0", "5"), ("Port1", "6"), ("Multi GNSS", "1")):
            result = self.run_tavro("config", "set", name, value)
            assert result.returncode == 0, result.stderr

    def start_hub(self):
        self.start("hub", [self.tavro, "run"])
        assert self.wait_path(self.link(5)), "the hub made no COM5"

    def wait_stream(self, timeout=30):
        deadline = time.time() + timeout
        while time.time() < deadline:
            status = self.status()
            if status.get("fixState") == 3 and status.get("latitude"):
                return status
            time.sleep(0.2)
        raise AssertionError("no 3D fix from the hub: " + json.dumps(self.status())[:400])

    def open_reader(self, com):
        """A program that holds virtual port COM<com> open, as a reader does."""
        self.reader = os.open(self.link(com), os.O_RDONLY | os.O_NOCTTY | os.O_NONBLOCK)

    def start_web(self, *extra):
        process = self.start("web", [self.web_program, "--port", "0", *extra])
        deadline = time.time() + 20
        while time.time() < deadline:
            with open(os.path.join(self.root, "web.log")) as log:
                found = re.search(r"dashboard on (http://\S+)", log.read())
            if found:
                return found.group(1)
            if process.poll() is not None:
                break
            time.sleep(0.05)
        raise AssertionError("tavro-web did not start: " + self.text("web"))

    def token(self):
        """The token tavro-web printed at start (with --allow-changes), else ""."""
        found = re.search(r"#token=([0-9a-f]+)", self.text("web"))
        return found.group(1) if found else ""

    def text(self, name):
        try:
            with open(os.path.join(self.root, name + ".log")) as log:
                return log.read()
        except OSError:
            return ""

    def close(self, keep=False):
        if self.reader is not None:
            os.close(self.reader)
        for name in list(self.processes):
            self.stop(name)
        if not keep:
            shutil.rmtree(self.root, ignore_errors=True)
