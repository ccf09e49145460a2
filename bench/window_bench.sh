#!/usr/bin/env bash
# The desktop program against ringolan-server on the same competition file, in one run: both
# answer through the same page service, so the window (offscreen, --port) should serve its
# pages as fast as the headless server. wrk -t1 -c8 with "Connection: close" on vstbl.php and a
# shooter page (est.php), each server measured twice, alternating.
#   bench/window_bench.sh [SHOOTERS] [SECONDS]     (default 5000 shooters, 10 s per measurement)
# Needs wrk (Debian package "wrk"; bench only). Builds a Release tree in build-rel (BUILD=...).
set -euo pipefail
cd "$(dirname "$0")/.."
shooters=${1:-5000}
seconds=${2:-10}
build=${BUILD:-build-rel}
command -v wrk >/dev/null || { echo "window_bench: wrk is missing (apt-get install wrk)" >&2; exit 3; }
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DRINGOLAN_SANITIZE=OFF -DRINGOLAN_WINDOW=ON >/dev/null
cmake --build "$build" -j2 --target ringolan ringolan-server ringolan-snapshot-reader ringolan-mkdemo >/dev/null
work=$(mktemp -d /tmp/ringolan-window-bench.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

free_port() { python3 -c "import socket; s=socket.socket(); s.bind(('127.0.0.1', 0)); print(s.getsockname()[1])"; }
wait_for() { for _ in $(seq 300); do curl -sf "$1" -o /dev/null && return 0; sleep 0.1; done; return 1; }

"$build/tools/mkdemo/ringolan-mkdemo" --shooters "$shooters" --seed 1 -o "$work/demo.mdb" >/dev/null
printf '[DB]\nName=%s\n[Webserver]\nAktive=1\nIE=0\ntaskicon=0\n' "$work/demo.mdb" >"$work/ringolan.ini"

headless_port=$(free_port)
"$build/app/ringolan-server" --db "$work/demo.mdb" --port "$headless_port" --listen 127.0.0.1 \
  --ini "$work/ringolan.ini" >"$work/server.out" 2>"$work/server.err" &
pids+=($!)
window_port=$(free_port)
QT_QPA_PLATFORM=offscreen "$build/app/window/ringolan" --ini "$work/ringolan.ini" --port "$window_port" \
  >"$work/window.out" 2>"$work/window.err" &
pids+=($!)
wait_for "http://127.0.0.1:$headless_port/vstbl.php" || { cat "$work/server.err" >&2; exit 1; }
wait_for "http://127.0.0.1:$window_port/vstbl.php" || { cat "$work/window.err" >&2; exit 1; }

est=""
for club in $(curl -sf "http://127.0.0.1:$headless_port/vstbl.php" | grep -o 'vst\.php?NR=[0-9]*' | sort -u | head -n 20); do
  est=$(curl -sf "http://127.0.0.1:$headless_port/$club" | grep -o 'est\.php?ST=[0-9]*' | head -n 1 || true)
  [ -n "$est" ] && break
done
[ -n "$est" ] || { echo "window_bench: no shooter page found" >&2; exit 1; }
for port in "$headless_port" "$window_port"; do
  cmp <(curl -sf "http://127.0.0.1:$headless_port/$est") <(curl -sf "http://127.0.0.1:$port/$est") ||
    { echo "window_bench: the two programs answer $est differently" >&2; exit 1; }
done

rps() {
  wrk -t1 -c8 -d"${seconds}s" -H "Connection: close" "$1" | awk '/Requests\/sec/ {print $2} /Non-2xx|Socket errors/ {print > "/dev/stderr"}'
}

echo "$shooters-shooter demo; wrk -t1 -c8 -d${seconds}s -H 'Connection: close'; two runs each, alternating"
printf '| %-12s | %-24s | %-24s | %5s |\n' page "ringolan-server answers/s" "window answers/s" ratio
for page in vstbl.php "$est"; do
  h1=$(rps "http://127.0.0.1:$headless_port/$page"); w1=$(rps "http://127.0.0.1:$window_port/$page")
  h2=$(rps "http://127.0.0.1:$headless_port/$page"); w2=$(rps "http://127.0.0.1:$window_port/$page")
  ratio=$(python3 -c "print(f'{($w1+$w2)/($h1+$h2):.2f}')")
  printf '| %-12s | %-24s | %-24s | %5s |\n' "${page%%\?*}" "$h1 / $h2" "$w1 / $w2" "$ratio"
done
