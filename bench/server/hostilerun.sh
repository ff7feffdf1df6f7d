#!/usr/bin/env bash
# What hostile replays cost the other clients of a zolvex-server that plays them with the real
# verifier, on 127.0.0.1 only:
#   bench/server/hostilerun.sh [BUILD_DIR] [ROUNDS]
# Publishes one game for each replay to come, then sends ROUNDS of every hostile kind at once
# (larger than allowed, random bytes, cut gzip, a gzip bomb, a count made to reserve gigabytes, and
# the most ticks a replay may have, played to its end) while one client keeps asking for the start
# page, the highscore page and publishing new scores. Prints what each hostile replay was answered
# and how long the other client waited (median, p99, most); fails when a hostile replay is not
# refused or the other client was not answered at all. The server's resident memory is read
# before and after.
# ZOLVEX_BENCH_SMOKE=1: one round.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
rounds=${2:-4}
[ "${ZOLVEX_BENCH_SMOKE:-0}" = 1 ] && rounds=1
port=${ZOLVEX_BENCH_PORT:-18476}
work=$(mktemp -d /tmp/zolvex-hostile-XXXXXX)
pid=
trap '[ -n "$pid" ] && kill $pid 2>/dev/null; rm -rf "$work"' EXIT
kinds=6
mkdir "$work/games"
# The hostile replays' games, then the games the other client publishes meanwhile.
"$build/bench/server/bench_serverload" replays $((kinds * rounds + 400)) "$work/games"
"$build/server/zolvex-server" --listen 127.0.0.1:$port --data "$work/data" --rate 0 --quiet \
  --require-replay --verifier "$build/zolvex/zolvex-verify" --verify-workers 2 \
  2> "$work/server.log" &
pid=$!
until grep -q serving "$work/server.log" || ! kill -0 $pid 2>/dev/null; do sleep 0.05; done
grep -q serving "$work/server.log" || { echo "the server did not start:"; cat "$work/server.log"; exit 1; }

python3 - "$port" "$pid" "$rounds" "$kinds" "$work/games/targets.txt" \
  "$here/../../tests/autoplay/golden/game.replay" <<'EOF'
import gzip, http.client, random, statistics, sys, threading, time

port, pid, rounds, kinds = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
codes = open(sys.argv[5]).read().split()
golden = open(sys.argv[6], "rb").read()
hostile_codes, other_codes = codes[: kinds * rounds], codes[kinds * rounds :]

def rss_mb():
    with open(f"/proc/{pid}/status") as f:
        return next(int(l.split()[1]) / 1024 for l in f if l.startswith("VmRSS"))

def request(method, target, body=None, timeout=120):
    c = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout)
    headers = {"Content-Type": "application/gzip"} if body is not None else {}
    c.request(method, target, body=body, headers=headers)
    r = c.getresponse()
    data = r.read()
    c.close()
    return r.status, data.decode("latin-1")

rng = random.Random(20261210)
title = b"zolvex replay 1\nseed 5\nkind 2\nticks 30000\n" + b"400 300\n" * 30000
bodies = {
    "larger than allowed": bytes(rng.getrandbits(8) for _ in range(70000)),
    "random bytes": bytes(rng.getrandbits(8) for _ in range(4096)),
    "cut gzip": gzip.compress(golden)[:400],
    "gzip bomb (8 MB of text)": gzip.compress(b"0" * (8 << 20)),
    "claims 2^31 ticks": gzip.compress(b"zolvex replay 1\nseed 1\nkind 2\nticks 2147483647\n0 0\n"),
    "30000 ticks, played to the end": gzip.compress(title),
}
assert len(bodies) == kinds

for code in hostile_codes:
    status, body = request("GET", f"/score2.php?cs={code}")
    assert status == 200, (status, body)

before = rss_mb()
waits, failures = [], []
done = threading.Event()

def other_client():
    i = 0
    while not done.is_set():
        for target in ("/zvxinternal/", "/zvxinternal/highscore.html", f"/score2.php?cs={other_codes[i % len(other_codes)]}"):
            t0 = time.monotonic()
            try:
                status, _ = request("GET", target, timeout=30)
                if status != 200:
                    failures.append(f"{target.split('?')[0]}: {status}")
            except OSError as e:
                failures.append(f"{target.split('?')[0]}: {e}")
            waits.append(time.monotonic() - t0)
        i += 1
        time.sleep(0.05)

answers = {}
def hostile(kind, code):
    t0 = time.monotonic()
    try:
        status, body = request("POST", f"/replay.php?cs={code}", bodies[kind])
        line = body.replace("\r\n", " ").strip()
    except OSError as e:
        status, line = 0, str(e)
    answers.setdefault(kind, []).append((status, line, time.monotonic() - t0))

prober = threading.Thread(target=other_client)
prober.start()
time.sleep(0.5)
start = time.monotonic()
senders = []
for r in range(rounds):
    for k, kind in enumerate(bodies):
        t = threading.Thread(target=hostile, args=(kind, hostile_codes[r * kinds + k]))
        t.start()
        senders.append(t)
for t in senders:
    t.join()
took = time.monotonic() - start
time.sleep(0.5)
done.set()
prober.join()
after = rss_mb()

bad = []
print(f"{rounds} round(s) of {kinds} hostile replays, all sent at once; every one answered in {took:.1f} s")
print("| hostile replay | answers | slowest answer |")
print("|---|---|---|")
for kind, rows in answers.items():
    seen = sorted({f"{s} {l}" for s, l, _ in rows})
    print(f"| {kind} | {'; '.join(seen)} | {max(t for _, _, t in rows):.2f} s |")
    bad += [kind for s, l, _ in rows if "verified" in l or s in (0, 200) and "refused" not in l]
w = sorted(waits)
p99 = w[min(len(w) - 1, int(len(w) * 0.99))]
print(f"other client meanwhile: {len(w)} requests, median {statistics.median(w) * 1000:.1f} ms, "
      f"p99 {p99 * 1000:.1f} ms, most {w[-1] * 1000:.1f} ms; not answered 200: {len(failures)}")
print(f"server resident memory before / after: {before:.1f} / {after:.1f} MB")
if failures:
    print("not answered:", failures[:5])
if bad:
    print("NOT REFUSED:", sorted(set(bad)))
sys.exit(1 if bad or failures or not w else 0)
EOF
metrics=$(curl -s "http://127.0.0.1:$port/metrics")
echo "$metrics" | grep -E '^zolvex_(replays_total|verifier_seconds_total)' | sed 's/^/metrics: /'
echo "load: $(uptime)"
