#!/usr/bin/env python3
"""Follows the trace of `ringolan-mkdemo --live --trace FILE` while a server serves the file:
for each change, asks GET /api/v1/shooters/{startnr} until the answer shows the shooter's new
shots and rings, and passes every answer through live_check (a torn answer mixes two states).
    live_follow.py LIVE_CHECK TRACE PORT SECONDS
Prints "LIVE changes=N shown=N late=N torn=N median_ms=M p99_ms=M max_ms=M" at the end;
late: not shown within 5 s."""
import http.client, json, subprocess, sys, time

check_program, trace_path, port, seconds = sys.argv[1], sys.argv[2], int(sys.argv[3]), float(sys.argv[4])
check = subprocess.Popen([check_program], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, bufsize=1)
conn = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
lags, late, torn, torn_examples, answers = [], 0, 0, [], 0

def shooter(startnr):
    global conn
    for _ in range(3):
        try:
            conn.request("GET", f"/api/v1/shooters/{startnr}")
            r = conn.getresponse()
            body = r.read()
            return body if r.status == 200 else None
        except (http.client.HTTPException, OSError):
            conn = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
    return None

def shows(body, shots, sum10):
    global torn, answers
    answers += 1
    check.stdin.write(body.decode("utf-8").replace("\n", " ") + "\n")
    verdict = check.stdout.readline().strip()
    if verdict != "ok":
        torn += 1
        if len(torn_examples) < 5:
            torn_examples.append(verdict[:200])
    d = json.loads(body)
    got = [s for t in d["targets"] for s in t["shots"]]
    return len(got) == shots and round(sum(s["ring"] for s in got) * 10) == sum10

def shows_quietly(body, shots, sum10):
    d = json.loads(body)
    got = [s for t in d["targets"] for s in t["shots"]]
    return len(got) == shots and round(sum(s["ring"] for s in got) * 10) == sum10

end = time.time() + seconds
queue = []  # changes read from the trace, not yet followed
with open(trace_path) as trace:
    pending = ""

    def read_trace():
        global pending
        while True:
            line = trace.readline()
            if not line:
                return
            pending += line
            if pending.endswith("\n"):
                queue.append(tuple(int(x) for x in pending.split()))
                pending = ""

    while time.time() < end:
        read_trace()
        if not queue:
            time.sleep(0.005)
            continue
        written_ms, startnr, shots, sum10 = queue.pop(0)
        # Changes that piled up while one was followed are skipped: each followed one is timed
        # from its own write.
        if time.time() * 1000 - written_ms > 1000:
            continue
        while True:
            body = shooter(startnr)
            now_ms = time.time() * 1000
            read_trace()
            # A later change of the same shooter may come first: it shows this one as well.
            wanted = [(shots, sum10)] + [(c[2], c[3]) for c in queue if c[1] == startnr]
            if body is not None and any(shows(body, a, b) for a, b in wanted[:1]) or \
               body is not None and any(shows_quietly(body, a, b) for a, b in wanted[1:]):
                lags.append(now_ms - written_ms)
                break
            if now_ms - written_ms > 5000:
                late += 1
                break
            time.sleep(0.003)

lags.sort()
def q(p):
    return lags[min(len(lags) - 1, int(p * len(lags)))] if lags else 0
for e in torn_examples:
    print("  " + e)
print(f"LIVE changes={len(lags) + late} shown={len(lags)} late={late} torn={torn} answers={answers} "
      f"median_ms={q(0.5):.0f} p99_ms={q(0.99):.0f} max_ms={lags[-1] if lags else 0:.0f}")
