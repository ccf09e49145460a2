#!/usr/bin/env bash
# The ten pages on the demo competition: (a) generated fresh on one thread (pages_bench, no
# cache), (b) through the running ringolan-server with its page cache (wrk, "Connection: close"),
# answers per second and per CPU second of the server, p99 latency, once on a steady file and
# once while ringolan-mkdemo writes a new state (another seed) to a temporary file and renames
# it over the served file every second.
#   bench/pages_bench.sh [SHOOTERS] [SECONDS]     (default 10000 shooters, 5 s per measurement)
# Needs wrk (Debian package "wrk"; bench only). Builds a Release tree in build-rel (BUILD=...).
# PAGES="erl.php merl.php" limits part (b) to these pages.
set -euo pipefail
cd "$(dirname "$0")/.."
shooters=${1:-10000}
seconds=${2:-5}
connections=${CONNECTIONS:-8}
build=${BUILD:-build-rel}
command -v wrk >/dev/null || { echo "pages_bench: wrk is missing (apt-get install wrk)" >&2; exit 3; }
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DRINGOLAN_SANITIZE=OFF >/dev/null
cmake --build "$build" -j2 --target ringolan-server ringolan-snapshot-reader ringolan-mkdemo pages_bench >/dev/null
work=$(mktemp -d /tmp/ringolan-pages-bench.XXXXXX)
server_pid=""; rewriter_pid=""
# Stops the rewriting loop and a ringolan-mkdemo it may be running.
stop_rewriter() {
  [ -n "$rewriter_pid" ] || return 0
  local children
  children=$(pgrep -P "$rewriter_pid" || true)
  kill "$rewriter_pid" $children 2>/dev/null || true
  wait "$rewriter_pid" 2>/dev/null || true
  rewriter_pid=""
}
cleanup() {
  stop_rewriter
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
mkdemo="$build/tools/mkdemo/ringolan-mkdemo"
"$mkdemo" --shooters "$shooters" --seed 1 -o "$work/demo.mdb" >/dev/null

echo "## (a) fresh: pages_bench --db demo.mdb --seconds $seconds (one thread, no cache)"
"$build/bench/pages_bench" --db "$work/demo.mdb" --seconds "$seconds" --lists "$work/lists"
echo

"$build/app/ringolan-server" --db "$work/demo.mdb" --web Web --port 0 --listen 127.0.0.1 --ini "$work/none.ini" \
  >"$work/server.out" 2>"$work/server.err" &
server_pid=$!
for _ in $(seq 300); do grep -q Listening "$work/server.out" 2>/dev/null && break; sleep 0.1; done
port=$(sed -n 's|.*http://[^:]*:\([0-9]*\)/.*|\1|p' "$work/server.out")
[ -n "$port" ] || { cat "$work/server.err" >&2; exit 1; }
tick=$(getconf CLK_TCK)

# CPU seconds of the server process so far (user + system, all threads)
server_cpu() { awk -v t="$tick" '{print ($14 + $15) / t}' "/proc/$server_pid/stat"; }

# Runs wrk on one list; prints answers/s, answers per server CPU second, p99 ms, errors.
measure() {
  local list=$1 c0 c1 out rps total p99 errors
  c0=$(server_cpu)
  out=$(wrk -t1 -c"$connections" -d"${seconds}s" --latency -H "Connection: close" -s bench/pages_wrk.lua \
        "http://127.0.0.1:$port/" -- "$list")
  c1=$(server_cpu)
  rps=$(awk '/Requests\/sec/ {print $2}' <<<"$out")
  total=$(awk '/requests in/ {print $1}' <<<"$out")
  p99=$(awk '$1 == "99%" {v=$2; if (v ~ /us$/) {sub("us","",v); v/=1000} else if (v ~ /ms$/) {sub("ms","",v)} else if (v ~ /s$/) {sub("s","",v); v*=1000}; printf "%.2f", v}' <<<"$out")
  errors=$(awk '/Socket errors|Non-2xx/ {printf "%s; ", $0}' <<<"$out")
  printf '%s %s %s %s\n' "$rps" "$(awk -v n="$total" -v a="$c0" -v b="$c1" 'BEGIN {printf "%.0f", (b > a) ? n / (b - a) : 0}')" "$p99" "${errors:-}"
}

# Writes a new state every second: another seed into a temporary file, renamed over the file.
rewrite_every_second() {
  local seed=2 start now
  while :; do
    start=$(date +%s.%N)
    "$mkdemo" --shooters "$shooters" --seed "$seed" -o "$work/next.mdb" >/dev/null
    mv -f "$work/next.mdb" "$work/demo.mdb"
    seed=$((seed + 1))
    now=$(date +%s.%N)
    sleep "$(awk -v s="$start" -v n="$now" 'BEGIN {d = 1 - (n - s); print (d > 0) ? d : 0}')"
  done
}

# Waits until the server has read no new state for 3 seconds (a rename of the last round may
# still be in the reader when the rewriting stops).
settle() {
  local last now quiet=0
  last=$(grep -c "read again" "$work/server.err" || true)
  while [ "$quiet" -lt 6 ]; do
    sleep 0.5
    now=$(grep -c "read again" "$work/server.err" || true)
    if [ "$now" = "$last" ]; then quiet=$((quiet + 1)); else quiet=0; last=$now; fi
  done
}

echo "## (b) through ringolan-server: wrk -t1 -c$connections -d${seconds}s --latency -H 'Connection: close' (2 cores shared with wrk)"
echo
echo "| page | addresses | answers/s | per server CPU s | p99 ms | answers/s, rewriting | per server CPU s, rewriting | p99 ms, rewriting | reloads |"
echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|"
for page in ${PAGES:-start.php vstbl.php vst.php est.php ofls.php sb.php erl.php merl.php mmerl.php erlsel.php}; do
  list="$work/lists/$page.txt"
  [ -s "$list" ] || { echo "| $page | 0 | | | | | | | |"; continue; }
  settle
  # one round first, so that the steady figures come from the cache
  while read -r target; do curl -s -o /dev/null "http://127.0.0.1:$port$target" 2>/dev/null || true; done <"$list"
  read -r r1 c1 p1 e1 <<<"$(measure "$list")"
  before=$(grep -c "read again" "$work/server.err" || true)
  rewrite_every_second & rewriter_pid=$!
  read -r r2 c2 p2 e2 <<<"$(measure "$list")"
  after=$(grep -c "read again" "$work/server.err" || true)
  stop_rewriter
  printf '| %s | %s | %s | %s | %s | %s | %s | %s | %s |\n' "$page" "$(wc -l <"$list")" "$r1" "$c1" "$p1" "$r2" "$c2" "$p2" "$((after - before))"
  [ -z "${e1:-}${e2:-}" ] || echo "  $page: ${e1:-} ${e2:-}" >&2
done
grep -E "not read|failure" "$work/server.err" | head -5 >&2 || true
