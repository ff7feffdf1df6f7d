#!/usr/bin/python3
"""The game in a real browser: headless Chromium loads /play/ from a zolvex-server on 127.0.0.1,
starts it with a click, plays a whole game with scripted pointer moves and clicks, types the name
into the game's highscore entry, publishes from the page and finds the name on the highscore page.

  PlayInBrowser.py --server EXE --play DIR [--verifier EXE] [--shots DIR]

Exits 77 (skipped) when the web build, Chromium, its driver or Selenium is missing. With --shots
it leaves screenshots of the start page, the game, the name entry, the publish dialogs and the
highscore page at 1366 x 768 and 390 x 844, and of the pages at 360 px.
"""
import argparse
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time
import zlib

SKIP = 77
CHROMIUM = "/usr/bin/chromium"
DRIVER = "/usr/bin/chromedriver"


def skip(why):
    print("SKIPPED: " + why)
    sys.exit(SKIP)


def png_pixels(data):
    """Width, height and rows of RGB(A) tuples of an 8-bit PNG (what Chromium writes)."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    at, idat, width, height, kind = 8, b"", 0, 0, 0
    while at < len(data):
        size, tag = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + size]
        if tag == b"IHDR":
            width, height, depth, kind = struct.unpack(">IIBB", body[:10])
            assert depth == 8 and kind in (2, 6)
        elif tag == b"IDAT":
            idat += body
        at += 12 + size
    step = 4 if kind == 6 else 3
    raw = zlib.decompress(idat)
    stride = width * step
    rows, prev = [], bytearray(stride)
    for y in range(height):
        f = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - step] if i >= step else 0
            b = prev[i]
            c = prev[i - step] if i >= step else 0
            if f == 1:
                line[i] = (line[i] + a) & 255
            elif f == 2:
                line[i] = (line[i] + b) & 255
            elif f == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(line)
        prev = line
    return width, height, step, rows


def lit_share(png, box):
    """The share of sampled pixels in box (x, y, w, h, in CSS px at scale 1) that are not black."""
    width, height, step, rows = png_pixels(png)
    x0, y0, w, h = [int(v) for v in box]
    seen = lit = 0
    for y in range(max(0, y0), min(height, y0 + h), 4):
        row = rows[y]
        for x in range(max(0, x0), min(width, x0 + w), 4):
            r, g, b = row[x * step], row[x * step + 1], row[x * step + 2]
            seen += 1
            lit += (r + g + b) > 30
    return lit / max(1, seen)


class Server:
    def __init__(self, exe, play, data, verifier=""):
        args = [exe, "--listen", "127.0.0.1:0", "--data", data, "--play", play, "--rate", "0",
                "--allow-unverified"]
        if verifier:
            args += ["--verifier", verifier]
        self.proc = subprocess.Popen(args, stderr=subprocess.PIPE, text=True)
        self.lines = []
        self.port = None
        for line in self.proc.stderr:
            self.lines.append(line)
            m = re.search(r"http://127\.0\.0\.1:(\d+)/", line)
            if m:
                self.port = int(m.group(1))
                break
        if not self.port:
            raise SystemExit("the server did not start:\n" + "".join(self.lines))
        threading.Thread(target=self._drain, daemon=True).start()

    def _drain(self):
        for line in self.proc.stderr:
            self.lines.append(line)

    def stop(self):
        self.proc.terminate()
        self.proc.wait(20)


class Page:
    def __init__(self, profile):
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
        opts = webdriver.ChromeOptions()
        opts.binary_location = CHROMIUM
        for a in ["--headless", "--no-sandbox", "--disable-dev-shm-usage", "--disable-gpu",
                  "--disable-quic", "--no-first-run", "--disable-background-networking",
                  "--disable-component-update", "--disable-sync", "--mute-audio",
                  "--user-data-dir=" + profile, "--window-size=1366,768"]:
            opts.add_argument(a)
        self.d = webdriver.Chrome(service=Service(DRIVER), options=opts)
        self.d.set_script_timeout(30)

    def size(self, w, h, mobile=False):
        self.d.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
            "width": w, "height": h, "deviceScaleFactor": 1, "mobile": mobile,
            "screenOrientation": {"type": "portraitPrimary" if h > w else "landscapePrimary",
                                  "angle": 0}})
        self.d.execute_cdp_cmd("Emulation.setTouchEmulationEnabled", {"enabled": mobile})

    def js(self, code, *args):
        return self.d.execute_script(code, *args)

    def until(self, what, code, seconds=60):
        end = time.time() + seconds
        while time.time() < end:
            v = self.js(code)
            if v:
                return v
            time.sleep(0.2)
        raise AssertionError("waited %ds for %s; the page says %r; console: %s" % (
            seconds, what, self.js("var m = document.getElementById('message');"
                                   "return m ? m.textContent : '';"), self.console()))

    def console(self):
        try:
            return [e["message"] for e in self.d.get_log("browser")][-20:]
        except Exception:
            return []

    def mouse(self, kind, x, y, buttons=0):
        self.d.execute_cdp_cmd("Input.dispatchMouseEvent", {
            "type": kind, "x": x, "y": y, "button": "left" if kind != "mouseMoved" else "none",
            "buttons": buttons, "clickCount": 1 if kind != "mouseMoved" else 0})

    def click(self, x, y):
        self.mouse("mouseMoved", x, y)
        self.mouse("mousePressed", x, y, 1)
        self.mouse("mouseReleased", x, y)

    def touch(self, kind, points):
        self.d.execute_cdp_cmd("Input.dispatchTouchEvent", {
            "type": kind, "touchPoints": [{"x": x, "y": y} for x, y in points]})

    def tap(self, x, y):
        self.touch("touchStart", [(x, y)])
        time.sleep(0.05)
        self.touch("touchEnd", [])

    def tap_on(self, css):
        r = self.js("var r = document.querySelector(arguments[0]).getBoundingClientRect();"
                    "return [r.left + r.width / 2, r.top + r.height / 2];", css)
        self.tap(r[0], r[1])

    def slide(self, x, y0, y1, steps=12):
        self.touch("touchStart", [(x, y0)])
        for i in range(1, steps + 1):
            self.touch("touchMove", [(x, y0 + (y1 - y0) * i / steps)])
            time.sleep(0.03)
        self.touch("touchEnd", [])

    def click_on(self, css):
        r = self.js("var r = document.querySelector(arguments[0]).getBoundingClientRect();"
                    "return [r.left + r.width / 2, r.top + r.height / 2];", css)
        self.click(r[0], r[1])

    def key(self, key, code, text=None, vk=0):
        for kind in ("keyDown", "keyUp"):
            e = {"type": kind if text is None or kind == "keyUp" else "keyDown", "key": key,
                 "code": code, "windowsVirtualKeyCode": vk, "nativeVirtualKeyCode": vk}
            if text is not None and kind == "keyDown":
                e["text"] = text
            self.d.execute_cdp_cmd("Input.dispatchKeyEvent", e)

    def type_text(self, text):
        for ch in text:
            self.key(ch, "Key" + ch.upper(), ch, ord(ch.upper()))
            time.sleep(0.08)

    def shot(self, folder, name):
        png = self.d.get_screenshot_as_png()
        if folder:
            with open(os.path.join(folder, name), "wb") as f:
                f.write(png)
        return png

    def log(self):
        return self.js(LOG_JS + "return log();") or ""


def canvas_box(page):
    return page.js("var r = document.getElementById('canvas').getBoundingClientRect();"
                   "return [r.left, r.top, r.width, r.height];")


def set_hidden(page, hidden):
    """The tab goes to the background (or comes back) as the page sees it."""
    page.js("Object.defineProperty(document, 'hidden', {value: arguments[0], configurable: true});"
            "Object.defineProperty(document, 'visibilityState', {value: arguments[0] ? 'hidden'"
            " : 'visible', configurable: true});"
            "document.dispatchEvent(new Event('visibilitychange'));", hidden)


def check_hidden_tab_stands_still(page):
    """While hidden the game draws nothing new (its time stands still); shown, it goes on. Waits
    by what the page shows, not by a fixed time: on a loaded machine the pass that was running
    when the tab was hidden may still hand over its picture a while later."""
    set_hidden(page, True)
    a = page.d.get_screenshot_as_png()
    settle = time.time() + 15
    while True:
        time.sleep(0.5)
        b = page.d.get_screenshot_as_png()
        if a == b:
            break
        assert time.time() < settle, "the game went on in a hidden tab"
        a = b
    time.sleep(1.5)
    assert page.d.get_screenshot_as_png() == b, "the game went on in a hidden tab"
    set_hidden(page, False)
    goes_on = time.time() + 30
    while page.d.get_screenshot_as_png() == b:
        assert time.time() < goes_on, "the game did not go on when its tab was shown again"
        time.sleep(0.25)


def play_a_game(page, shots):
    """Clicks through the title and plays: the cannon follows random heights and shoots. The game
    lasts 90 seconds at most; then its highscore entry takes the name and a click leaves it."""
    x, y, w, h = canvas_box(page)
    page.click(x + w / 2, y + h / 2)  # the title: a click starts the game
    rnd = random.Random(7)
    start = time.time()
    shot_taken = hidden_checked = False
    typed_at = None
    while time.time() - start < 300:
        # The cannon slides along the right edge; a click shoots.
        cy = y + h * (0.15 + 0.7 * rnd.random())
        cx = x + w * 0.95
        for i in range(4):
            page.mouse("mouseMoved", cx, cy + i * 3)
        page.click(cx, cy)
        time.sleep(0.15)
        now = time.time() - start
        if not shot_taken and now > 6:
            shot_taken = True
            png = page.shot(shots, "play-1366-game.png")
            share = lit_share(png, (x, y, w, h))
            assert share > 0.2, "the game's canvas is black (%.2f lit)" % share
        if not hidden_checked and now > 12:
            hidden_checked = True
            check_hidden_tab_stands_still(page)
        log = page.log()
        if "glsLoop: Lost" in log or "glsLoop: Won" in log:
            break
        if now > 100 and (typed_at is None or now - typed_at > 30):
            # The entry may hold the last name: cleared first.
            if typed_at is None:
                page.shot(shots, "play-1366-name-entry.png")
            typed_at = now
            for _ in range(24):
                page.key("Backspace", "Backspace", "\b", 8)
            page.type_text(NAME)
            page.key("Enter", "Enter", "\r", 13)
            time.sleep(1)
            page.shot(shots, "play-1366-name-entered.png")
    else:
        raise AssertionError("no game ended in 5 minutes")
    page.until("the game to close its level",
               LOG_JS + "return log().indexOf('glsExit: End') >= 0;", 60)
    return time.time() - start


NAME = "Webtester"


def sound_handed(page):
    """Blocks of sound the program has handed to the browser, those with something to hear in
    them, and the loudest sample."""
    text = page.js("return UTF8ToString(_zolvex_sound());")
    return tuple(int(v) for v in text.split())
# The program's log as the page holds it (none before the program has written one).
LOG_JS = ("function log() { try { return FS.readFile('/save/KVD/LOG.TXT', {encoding: 'utf8'}); }"
          " catch (e) { return ''; } }\n")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--server", required=True)
    ap.add_argument("--play", required=True)
    ap.add_argument("--verifier", default="")
    ap.add_argument("--shots", default="")
    a = ap.parse_args()
    for f in ("play.html", "zolvex-play.js", "zolvex-play.wasm", "zolvex-play.data"):
        if not os.path.isfile(os.path.join(a.play, f)):
            skip("no web build (%s missing; tools/build.sh web makes it)" % f)
    for exe in (CHROMIUM, DRIVER):
        if not os.access(exe, os.X_OK):
            skip(exe + " is not installed (tools/setup.sh installs it)")
    try:
        import selenium  # noqa: F401
    except ImportError:
        skip("python3-selenium is not installed (tools/setup.sh installs it)")
    if a.shots:
        os.makedirs(a.shots, exist_ok=True)

    work = tempfile.mkdtemp(prefix="zolvex-browser-")
    server = page = None
    try:
        server = Server(a.server, a.play, os.path.join(work, "data"), a.verifier)
        base = "http://127.0.0.1:%d" % server.port
        page = Page(os.path.join(work, "profile"))
        page.size(1366, 768)

        # The start page leads to the game.
        page.d.get(base + "/zvxinternal")
        page.shot(a.shots, "start-1366.png")
        label = page.js("var a = document.querySelector('a.playnow');"
                        "return a && getComputedStyle(a, '::before').content;")
        assert label == '"Play now"', label
        page.click_on("a.playnow")
        page.until("the game's page", "return location.pathname === '/play/';", 20)
        page.until("the program to load", "return typeof ready !== 'undefined' && ready;", 120)
        page.shot(a.shots, "play-1366-start.png")

        # The first click starts the program and its sound.
        page.click_on("#play")
        page.until("the game screen", "return started && !!Module.SDL2;", 30)
        page.until("the sound to run", "var c = Module.SDL2 && Module.SDL2.audioContext;"
                   "return c && c.state === 'running';", 30)
        # The music: each MP3 decoded by the browser into the wave the program loads and plays.
        page.until("the title", LOG_JS + "return log().indexOf('glsInit: End') >= 0;", 60)
        log = page.log()
        for name in ("back", "Track 30"):
            assert "Loading Sound /zolvex/snd/%s.wav" % name in log, log
        assert "glsInit: Music on" in log and "DSCheck" not in log, log
        time.sleep(2)
        png = page.shot(a.shots, "play-1366-title.png")
        share = lit_share(png, canvas_box(page))
        assert share > 0.2, "the title's canvas is black (%.2f lit)" % share
        # The title's music reaches the browser's sound: nearly every block handed over holds
        # something to hear.
        blocks, heard, peak = sound_handed(page)
        print("the title's sound: %d blocks handed to the browser, %d heard, peak %d" %
              (blocks, heard, peak))
        assert blocks >= 20 and heard >= blocks * 0.8 and peak >= 1000, (blocks, heard, peak)

        seconds = play_a_game(page, a.shots)
        print("a game played in %.0f s" % seconds)
        # The game's own sounds went on through the game: the browser kept asking (a block every
        # 23 ms or so), and at least 30 s of what it got held something to hear.
        blocks2, heard2, peak2 = sound_handed(page)
        per_second = (blocks2 - blocks) / seconds
        print("the game's sound: %d blocks handed over (%.0f a second), %d heard, peak %d" %
              (blocks2 - blocks, per_second, heard2 - heard, peak2))
        assert per_second >= 20 and heard2 - heard >= 30 * per_second, (
            blocks2 - blocks, heard2 - heard, seconds)

        # The screen closed: the page asks as the launcher does.
        page.click_on("#end")
        page.until("the new highscore's question",
                   "return !document.getElementById('newbest').hidden;", 60)
        points = page.js("return document.getElementById('points').textContent;")
        page.shot(a.shots, "play-1366-new-highscore.png")
        page.click_on("#yes")
        assert page.js("return document.getElementById('form').elements.name.value;") == NAME
        page.js("document.getElementById('form').elements.city.value = 'Testtown';")
        page.shot(a.shots, "play-1366-publish.png")
        page.click_on("#send")
        page.until("the result", "return !document.getElementById('uploaded').hidden;", 60)
        lines = page.js("return document.getElementById('uploaded').innerText;")
        page.shot(a.shots, "play-1366-uploaded.png")
        print(lines.replace("\n", " | "))
        assert "Your score has been successfuly uploaded!" in lines, (
            page.js("return document.getElementById('uploaded').innerHTML;"), page.console())
        assert "Your ranking: 1" in lines, lines
        # The replay went along: the server played it, or will (its verdict is the server's).
        verdict = page.js("return document.getElementById('verdict').textContent;")
        assert verdict.startswith("The server"), verdict

        # With the verifier, the browser's game is played again on the server and marked verified
        # on the highscore page: the WebAssembly game is the verifier's game.
        row = ("return Array.from(document.querySelectorAll('tr')).filter(function (r) {"
               " return r.innerText.indexOf(%r) >= 0; }).map(function (r) { return r.innerHTML; })"
               ".join('');" % NAME)
        deadline = time.time() + 180
        while True:
            page.d.get(base + "/zvxinternal/highscore.html")
            if not a.verifier or "replay verified" in page.js(row) or time.time() > deadline:
                break
            time.sleep(1)
        body = page.js("return document.body.innerText;")
        page.shot(a.shots, "highscore-1366.png")
        assert NAME in body and "Testtown" in body and points in body, body
        if a.verifier:
            assert "replay verified" in page.js(row), (page.js(row), "".join(server.lines[-10:]))
        print("the highscore page lists %s with %s points%s" %
              (NAME, points, ", verified" if a.verifier else ""))

        # A phone on its side: a tap starts the program and the game, a finger moves the cannon.
        page.size(844, 390, mobile=True)
        page.d.get(base + "/play/")
        page.until("the program to load", "return typeof ready !== 'undefined' && ready;", 120)
        page.tap_on("#play")
        page.until("the game screen", LOG_JS + "return started && log().indexOf('glsInit: End') >= 0;",
                   60)
        time.sleep(2)
        x, y, w, h = canvas_box(page)
        begun = LOG_JS + "return log().split('glsBegin: Return').length - 1"
        before = page.js(begun + ";")
        page.tap(x + w / 2, y + h / 2)
        page.until("a game begun by a tap", begun + " > %d;" % before, 30)
        page.slide(x + w * 0.95, y + h * 0.2, y + h * 0.8)
        page.shot(a.shots, "play-844x390-touch.png")
        print("a tap started a game on a phone's screen")

        # A page without storage (switched off, or a private window that refuses it) still plays.
        page.d.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument", {"source":
            "Object.defineProperty(window, 'indexedDB', {get: function () {"
            " throw new DOMException('storage is switched off', 'SecurityError'); }});"})
        page.size(1366, 768)
        page.d.get(base + "/play/")
        page.until("the program to load", "return typeof ready !== 'undefined' && ready;", 120)
        assert page.js("return Module.zolvexStorage;") is False
        page.click_on("#play")
        page.until("the game screen without storage",
                   LOG_JS + "return started && log().indexOf('glsInit: End') >= 0;", 60)
        print("a page without storage plays")

        if a.shots:
            # The phone: upright it asks to be turned; the pages at a phone's 390 px and at 360.
            page.size(390, 844, mobile=True)
            page.d.get(base + "/play/")
            page.until("the turn picture", "return getComputedStyle("
                       "document.getElementById('turn')).display === 'flex';", 20)
            page.shot(a.shots, "play-390x844-portrait.png")
            page.size(844, 390, mobile=True)
            time.sleep(1)
            page.shot(a.shots, "play-844x390-landscape.png")
            for w, h in ((1366, 768), (390, 844), (360, 740)):
                page.size(w, h, mobile=w < 500)
                for name, path in (("start", "/zvxinternal"), ("rules", "/zvxinternal/zvxrulesengl.htm"),
                                   ("highscore", "/zvxinternal/highscore.html")):
                    page.d.get(base + path)
                    overflow = page.js("return document.documentElement.scrollWidth - innerWidth;")
                    assert overflow <= 0, "%s is wider than %d px by %d" % (name, w, overflow)
                    page.shot(a.shots, "%s-%d.png" % (name, w))
        print("PASSED")
    except BaseException:
        if server:
            print("".join(server.lines[-30:]))
        raise
    finally:
        if page:
            page.d.quit()
        if server:
            server.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
