"""Debian's headless Chromium driven over the DevTools protocol on a pipe (no port, no package
beyond the standard library): open a page at a width, read its DOM, take screenshots, and see
every request it makes, which is recorded and refused."""

import base64
import json
import os
import shutil
import subprocess
import tempfile
import time

FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--remote-debugging-pipe"]


class Chromium:
    def __init__(self, executable="chromium"):
        self.profile = tempfile.mkdtemp(prefix="obrint-chromium-")
        to_browser_read, to_browser_write = os.pipe()
        from_browser_read, from_browser_write = os.pipe()

        def descriptors():  # the protocol's pipe: the browser reads fd 3, writes fd 4
            read, write = os.dup(to_browser_read), os.dup(from_browser_write)
            os.dup2(read, 3)
            os.dup2(write, 4)

        self.process = subprocess.Popen(
            [shutil.which(executable) or executable, *FLAGS, "--user-data-dir=" + self.profile,
             "about:blank"], pass_fds=(3, 4), preexec_fn=descriptors,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(to_browser_read)
        os.close(from_browser_write)
        self._out = os.fdopen(to_browser_write, "wb", buffering=0)
        self._in = os.fdopen(from_browser_read, "rb", buffering=0)
        self._buffer = b""
        self._next = 0
        self.page_url = None
        self.requests = []  # every URL the page asked for but its own
        self.problems = []  # console errors, exceptions, policy violations
        self._loaded = False
        targets = self.call("Target.getTargets")["targetInfos"]
        page = next(t for t in targets if t["type"] == "page")
        self.session = self.call("Target.attachToTarget",
                                 {"targetId": page["targetId"], "flatten": True})["sessionId"]
        for domain in ("Page", "Runtime", "Log", "Network"):
            self.call(domain + ".enable", session=True)
        self.call("Fetch.enable", {"patterns": [{"urlPattern": "*"}]}, session=True)

    def _send(self, method, params=None, session=False):
        self._next += 1
        message = {"id": self._next, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = self.session
        self._out.write(json.dumps(message).encode() + b"\0")
        return self._next

    def _receive(self, deadline):
        while b"\0" not in self._buffer:
            if time.monotonic() > deadline:
                raise TimeoutError("Chromium did not answer")
            chunk = self._in.read(1 << 20)
            if not chunk:
                raise EOFError("Chromium closed its pipe")
            self._buffer += chunk
        message, self._buffer = self._buffer.split(b"\0", 1)
        message = json.loads(message)
        if "method" in message:
            self._event(message["method"], message.get("params", {}))
        return message

    def _event(self, method, params):
        if method == "Fetch.requestPaused":
            url = params["request"]["url"]
            if url == self.page_url:
                self._send("Fetch.continueRequest", {"requestId": params["requestId"]}, True)
            else:
                self.requests.append(url)
                self._send("Fetch.failRequest",
                           {"requestId": params["requestId"], "errorReason": "BlockedByClient"}, True)
        elif method == "Network.requestWillBeSent":
            url = params["request"]["url"]
            if url != self.page_url and url not in self.requests:
                self.requests.append(url)
        elif method == "Log.entryAdded" and params["entry"]["level"] == "error":
            self.problems.append(params["entry"]["text"])
        elif method == "Runtime.exceptionThrown":
            self.problems.append(params["exceptionDetails"].get("exception", {}).get(
                "description", params["exceptionDetails"]["text"]))
        elif method == "Runtime.consoleAPICalled" and params["type"] in ("error", "warning"):
            self.problems.append(" ".join(str(a.get("value", a.get("description")))
                                          for a in params["args"]))
        elif method == "Page.loadEventFired":
            self._loaded = True

    def call(self, method, params=None, session=False, timeout=60):
        number = self._send(method, params, session)
        deadline = time.monotonic() + timeout
        while True:
            message = self._receive(deadline)
            if message.get("id") == number:
                if "error" in message:
                    raise RuntimeError(f"{method}: {message['error']}")
                return message["result"]

    def _screen(self, width, height, mobile):
        self.call("Emulation.setDeviceMetricsOverride",
                  {"width": width, "height": height, "deviceScaleFactor": 1, "mobile": mobile},
                  session=True)

    def open(self, path, width, height=900, mobile=False, media=""):
        """Loads the page at `path` at this width; the seconds from the request to its load
        event (the script has run and drawn the page by then)."""
        self._screen(width, height, mobile)
        self._size = (width, height, mobile)
        self.call("Emulation.setEmulatedMedia", {"media": media}, session=True)
        self.page_url = "file://" + os.path.abspath(path)
        self.requests, self.problems, self._loaded = [], [], False
        started = time.monotonic()
        self.call("Page.navigate", {"url": self.page_url}, session=True)
        deadline = started + 30
        while not self._loaded:
            self._receive(deadline)
        return time.monotonic() - started

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", {"expression": expression, "returnByValue": True,
                                                "awaitPromise": True}, session=True)
        if "exceptionDetails" in result:
            raise RuntimeError(f"{expression}: {result['exceptionDetails']}")
        return result["result"].get("value")

    def screenshot(self, path):
        """The whole page, however long, as a PNG: taken on a screen as tall as the page, so that
        every part of it is drawn (a part that draws itself only near the screen too)."""
        width, height, mobile = self._size
        size = None
        for _ in range(5):  # until the page is as tall as the screen it is on
            drawn = "new Promise(done => requestAnimationFrame(() => requestAnimationFrame(done)))"
            self.evaluate(drawn)
            now = self.evaluate("[document.documentElement.scrollWidth, "
                                "Math.ceil(document.documentElement.getBoundingClientRect().height)]")
            if now == size:
                break
            size = now
            self._screen(width, max(height, size[1]), mobile)
        shot = self.call("Page.captureScreenshot", {
            "format": "png", "clip": {"x": 0, "y": 0, "width": size[0], "height": size[1], "scale": 1}},
            session=True)
        self._screen(width, height, mobile)
        with open(path, "wb") as out:
            out.write(base64.b64decode(shot["data"]))

    def pdf(self, path):
        """The page as printed, on the paper its style asks for."""
        printed = self.call("Page.printToPDF", {"printBackground": True, "preferCSSPageSize": True},
                            session=True)
        with open(path, "wb") as out:
            out.write(base64.b64decode(printed["data"]))

    def close(self):
        try:
            self._send("Browser.close")
            self.process.wait(timeout=10)
        except Exception:
            self.process.kill()
            self.process.wait()
        shutil.rmtree(self.profile, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.close()
