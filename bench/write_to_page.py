#!/usr/bin/env python3
"""Write-to-page latency: runs `ringolan-mkdemo --live FILE --changes K` against a file that a
running server follows and measures, from the simulator's end (its last page write), the time
until the server's /api/v1/state answers a new state, and until a page (GET PATH) shows it.
    write_to_page.py MKDEMO FILE PORT K [RUNS] [PATH]
Prints one line per run and the median."""
import http.client, statistics, subprocess, sys, time, json

mkdemo, file, port, changes = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
runs = int(sys.argv[5]) if len(sys.argv) > 5 else 5
path = sys.argv[6] if len(sys.argv) > 6 else "/erlsel.php"
conn = http.client.HTTPConnection("127.0.0.1", port, timeout=10)

def get(p):
    conn.request("GET", p)
    r = conn.getresponse()
    return r.status, r.read()

def state():
    status, body = get("/api/v1/state")
    return json.loads(body)["state"] if status == 200 else None

seed = int(time.time())
results = []
for run in range(runs):
    before = state()
    subprocess.run([mkdemo, "--live", file, "--changes", str(changes), "--seed", str(seed + run)],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    t0 = time.monotonic()
    while True:
        s = state()
        if s is not None and s != before:
            break
        if time.monotonic() - t0 > 30:
            print("no new state within 30 s", file=sys.stderr)
            sys.exit(1)
        time.sleep(0.002)
    t_state = time.monotonic() - t0
    get(path)
    t_page = time.monotonic() - t0
    results.append(t_state * 1000)
    print(f"run {run + 1}: {changes} changes, new state {s} after {t_state*1000:.0f} ms, page after {t_page*1000:.0f} ms")
    time.sleep(0.5)
print(f"median write-to-state {statistics.median(results):.0f} ms over {runs} runs ({changes} changes each)")
