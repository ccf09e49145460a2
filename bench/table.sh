#!/usr/bin/env bash
# The performance table: runs every benchmark of this folder once on this machine, keeps their
# full output in build-rel/bench-logs/ and prints one Markdown table of the key figures, each
# with the command that made it.
#   bench/table.sh [--write]     (--write also puts the table into bench/README.md)
# Needs wrk and nginx (Debian "wrk", "nginx-light"); takes about 15 minutes on two cores.
# HOSTILE_SECONDS (default 20) and PAGE_SECONDS (default 5) shorten or lengthen the runs.
set -euo pipefail
cd "$(dirname "$0")/.."
write=""
[ "${1:-}" = "--write" ] && write=1
build=build-rel
logs=$build/bench-logs
page_seconds=${PAGE_SECONDS:-5}
hostile_seconds=${HOSTILE_SECONDS:-20}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DRINGOLAN_SANITIZE=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target ringolan-server ringolan-snapshot-reader ringolan-mkdemo \
  ringolan-upload ringolan-site snapshot_bench pages_bench hostile_clients >/dev/null
mkdir -p "$logs"

run() {  # run NAME COMMAND...: output to the log, the command line kept beside it
  local name=$1; shift
  echo "== $name: $*" >&2
  printf '%s\n' "$*" >"$logs/$name.cmd"
  "$@" >"$logs/$name.log" 2>&1 || { echo "$name failed; see $logs/$name.log" >&2; tail -20 "$logs/$name.log" >&2; return 1; }
}

run snapshot "$build/bench/snapshot_bench" 1000 10000 50000
run pages env BUILD="$build" bench/pages_bench.sh 10000 "$page_seconds"
run http env BUILD="$build" bench/http_bench.sh 5000 10
run hostile bash bench/hostile.sh "$build" "$hostile_seconds"
run upload bash bench/upload_bench.sh "$build" 50000

table=$(python3 - "$logs" <<'PY'
import re, sys, pathlib
logs = pathlib.Path(sys.argv[1])
def text(name): return (logs / f"{name}.log").read_text(errors="replace")
def cmd(name): return "`" + (logs / f"{name}.cmd").read_text().strip().replace("env BUILD=build-rel ", "BUILD=build-rel ") + "`"
rows = []
def row(figure, value, command): rows.append(f"| {figure} | {value} | {command} |")

# snapshot build: the isolated build (reader child) as the server does it
size = None
for line in text("snapshot").splitlines():
    m = re.match(r"== (\d+) shooters: (\d+) rows, file (\d+) bytes", line)
    if m: size = (int(m[1]), int(m[3]))
    m = re.match(r"isolated build \(child\)\s+(\d+) ms\s+child peak\s+([\d.]+) MiB", line)
    if m and size:
        row(f"snapshot build, {size[0]:,} shooters ({size[1] / 1048576:.1f} MiB file), reader child",
            f"{int(m[1]):,} ms, child peak {float(m[2]):.0f} MiB", cmd("snapshot"))

# pages: (a) fresh per CPU second, (b) through the server, steady and rewritten every second
pages = text("pages")
fresh = {}
for line in pages.splitlines():
    cells = [c.strip() for c in line.strip().strip("|").split("|")]
    if len(cells) == 8 and cells[0].endswith(".php") and cells[2].replace(".", "").isdigit():
        fresh[cells[0]] = cells[2]
for line in pages.splitlines():
    cells = [c.strip() for c in line.strip().strip("|").split("|")]
    if len(cells) == 9 and cells[0].endswith(".php") and cells[1].isdigit():
        page = cells[0]
        row(f"`{page}` (10,000 shooters): fresh pages per CPU s / cached answers per server CPU s / p99 steady / p99 rewritten every second",
            f"{fresh.get(page, '?')} / {cells[3]} / {cells[4]} ms / {cells[7]} ms", cmd("pages"))

http = text("http")
m = re.search(r"ratio ringolan/nginx: ([\d.]+)", http)
row("`vstbl.php` (5,000 shooters) answers/s, ringolan-server / nginx, same bytes", m[1] if m else "?", cmd("http"))
m = re.search(r"with 1,000 slow clients connected: ([\d.]+) answers/s, p99 ([\d.]+) ms", http)
if m: row("`vstbl.php` p99 with 1,000 slow clients", f"{m[2]} ms ({float(m[1]):,.0f} answers/s)", cmd("http"))

hostile = text("hostile")
for line in hostile.splitlines():
    cells = [c.strip() for c in line.strip().strip("|").split("|")]
    if len(cells) == 7 and cells[0] and not cells[0].startswith(("-", "hostile")):
        try: float(cells[4])
        except ValueError: continue
        who = "alone" if cells[0] == "alone" else f"beside {cells[1]} hostile connections, {cells[0]}"
        row(f"normal client p99 (`vstbl.php` and `est.php`, 5,000 shooters), {who}",
            f"{cells[4]} ms ({cells[2]} answers/s, {cells[6]} errors)", cmd("hostile"))

upload = text("upload")
m = re.search(r"wall ([\d.]+) s, .*peak (\d+) KiB", upload)
if m: row("upload of 50,000 shooters to a local ringolan-site", f"{m[1]} s, peak {int(m[2]) // 1024} MiB (upload process)", cmd("upload"))
m = re.search(r"upload ([\d.]+) s, gzip -6 ([\d.]+) s, ratio ([\d.]+)", upload)
if m: row("upload of 50,000 shooters against `gzip -6` on the same lines", f"{m[1]} s / {m[2]} s = {m[3]}", cmd("upload"))

print("| figure | value | command |")
print("|---|---|---|")
print("\n".join(rows))
PY
)
printf '%s\n' "$table" | tee "$logs/table.md"
if [ -n "$write" ]; then
  python3 - "$logs/table.md" <<'PY'
import sys, pathlib, datetime
readme = pathlib.Path("bench/README.md")
table = pathlib.Path(sys.argv[1]).read_text().strip()
start, end = "<!-- table:begin -->", "<!-- table:end -->"
text = readme.read_text()
stamp = f"Made by `bench/table.sh --write` on {datetime.date.today().isoformat()}."
block = f"{start}\n{stamp}\n\n{table}\n{end}"
if start in text:
    text = text[:text.index(start)] + block + text[text.index(end) + len(end):]
else:
    text = text.rstrip() + "\n\n## The performance table\n\n" + block + "\n"
readme.write_text(text)
PY
  echo "bench/README.md updated" >&2
fi
