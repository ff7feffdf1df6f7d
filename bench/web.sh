#!/usr/bin/env bash
# The game in a browser, measured in headless Chromium against a zolvex-server on loopback:
#   bench/web.sh [build-dir] [web-program-dir] [seconds-of-play]
# Prints one line per figure: the bytes a first visit of /play/ brings (compressed, as sent), the
# time from the address to the program's start and from the click to the first picture, the
# program's work for each picture (the pass of its loop that drew it) and the time between pictures (median, p99, over the
# seconds of play, a whole game by default), and the page's memory (WebAssembly memory and the
# JavaScript heap). The work per pass is wall time on the page's one thread: on a shared machine
# it counts the neighbours' turns too; say what the load was.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "${1:-$here/../build}")
play=$(realpath "${2:-$here/../build-web/zolvex}")
seconds=${3:-95}
exec /usr/bin/python3 - "$build/server/zolvex-server" "$play" "$seconds" "$here/../tests/web" <<'PY'
import os, random, shutil, statistics, sys, tempfile, time
server_exe, play, seconds, tests = sys.argv[1], sys.argv[2], float(sys.argv[3]), sys.argv[4]
sys.path.insert(0, tests)
import PlayInBrowser as P

# Each picture the program hands to the page, and each pass of its loop: the program works from
# the moment it is woken until it waits again.
HOOKS = """
window.zb = {frames: [], work: [], woke: 0, drawn: false};
var put = CanvasRenderingContext2D.prototype.putImageData;
CanvasRenderingContext2D.prototype.putImageData = function () {
  zb.frames.push(performance.now());
  zb.drawn = true;
  return put.apply(this, arguments);
};
var sleep = Asyncify.handleSleep;
Asyncify.handleSleep = function (start) {
  if (zb.woke && zb.drawn) zb.work.push(performance.now() - zb.woke);
  zb.drawn = false;
  return sleep.call(Asyncify, function (wakeUp) {
    start(function (v) { zb.woke = performance.now(); return wakeUp(v); });
  });
};
"""


def pct(values, p):
    v = sorted(values)
    return v[min(len(v) - 1, int(round(p / 100 * (len(v) - 1))))]


work = tempfile.mkdtemp(prefix="zolvex-webbench-")
server = page = None
try:
    server = P.Server(server_exe, play, os.path.join(work, "data"))
    base = "http://127.0.0.1:%d" % server.port
    page = P.Page(os.path.join(work, "profile"))
    page.size(1366, 768)
    page.d.get(base + "/play/")
    page.until("the program to load", "return typeof ready !== 'undefined' && ready;", 120)
    ready_ms = page.js("return performance.now();")
    sent = page.js("var n = performance.getEntriesByType('navigation')[0].transferSize;"
                   "performance.getEntriesByType('resource').forEach(function (r) {"
                   "  n += r.transferSize; }); return n;")
    plain = page.js("var n = performance.getEntriesByType('navigation')[0].decodedBodySize;"
                    "performance.getEntriesByType('resource').forEach(function (r) {"
                    "  n += r.decodedBodySize; }); return n;")
    page.js(HOOKS)
    clicked = page.js("return performance.now();")
    page.click_on("#play")
    page.until("the first picture", "return zb.frames.length > 0;", 60)
    first = page.js("return zb.frames[0];") - clicked
    x, y, w, h = P.canvas_box(page)
    time.sleep(1)
    page.click(x + w / 2, y + h / 2)  # the title: a click starts the game
    rnd = random.Random(3)
    page.js("zb.frames = []; zb.work = [];")
    end = time.time() + seconds
    while time.time() < end:
        cy = y + h * (0.15 + 0.7 * rnd.random())
        page.click(x + w * 0.95, cy)
        time.sleep(0.25)
    frames = page.js("return zb.frames;")
    busy = page.js("return zb.work;")
    gaps = [b - a for a, b in zip(frames, frames[1:])]
    heap = page.js("return HEAPU8.length;")
    js = page.d.execute_cdp_cmd("Performance.enable", {}) or page.d.execute_cdp_cmd(
        "Performance.getMetrics", {})
    jsheap = {m["name"]: m["value"] for m in js["metrics"]}.get("JSHeapUsedSize", 0)
    print("first visit: %.2f MB sent (%.2f MB unpacked)" % (sent / 1e6, plain / 1e6))
    print("address to program ready: %.0f ms; click to first picture: %.0f ms" % (ready_ms, first))
    print("work per picture (the loop's pass that drew it): median %.2f ms, p99 %.2f ms (%d)" % (
        statistics.median(busy), pct(busy, 99), len(busy)))
    print("time between pictures: median %.2f ms, p99 %.2f ms (%d pictures in %.0f s)" % (
        statistics.median(gaps), pct(gaps, 99), len(frames), seconds))
    print("page memory: %.0f MB WebAssembly, %.0f MB JavaScript heap" % (
        heap / 1e6, jsheap / 1e6))
finally:
    if page:
        page.d.quit()
    if server:
        server.stop()
    shutil.rmtree(work, ignore_errors=True)
PY
