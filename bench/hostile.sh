#!/usr/bin/env bash
# A normal client's latency while careless or hostile clients hold connections to the page server.
# Writes the 5,000-shooter demo, starts ringolan-server on a free loopback port, measures a normal
# client alone (wrk -t1 -c8 "Connection: close", vstbl.php and a small est.php page in turn), then
# with 2,000 hostile connections of each behaviour and of all of them mixed, and prints one table.
# During the eventstall phase (event streams never read) three new rounds of the demo are written,
# so that events go out to the stalled streams; a phase without hostile clients writes three
# rounds as well, for comparison.
# Passes (exit 0) only when every p99 is under 50 ms and the normal client saw no error.
#   bench/hostile.sh BUILD_DIR [SECONDS]   (default 60 s per hostile phase; 10 s alone)
# Builds nothing: BUILD_DIR needs ringolan-server, ringolan-mkdemo and hostile_clients (Release).
# SERVER=PATH runs another ringolan-server binary (before/after comparisons). Needs wrk and curl.
set -euo pipefail

if [ $# -lt 1 ] || [ ! -d "$1" ]; then
  echo "usage: $0 BUILD_DIR [SECONDS]   (BUILD_DIR: a Release build folder)" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
seconds=${2:-60}
[ "$seconds" -ge 10 ] || { echo "hostile: SECONDS must be at least 10" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
hostile_total=2000
p99_limit_ms=50

server_exe=${SERVER:-$build/app/ringolan-server}
mkdemo_exe=$build/tools/mkdemo/ringolan-mkdemo
swarm_exe=$build/bench/hostile_clients
for exe in "$server_exe" "$mkdemo_exe" "$swarm_exe"; do
  [ -x "$exe" ] || { echo "hostile: $exe not found; build ringolan-server ringolan-mkdemo hostile_clients" >&2; exit 1; }
done
for tool in wrk curl; do
  command -v "$tool" >/dev/null || { echo "hostile: $tool is missing" >&2; exit 3; }
done
grep -qs '^CMAKE_BUILD_TYPE:STRING=Release$' "$build/CMakeCache.txt" ||
  echo "warning: $build is not a Release build; figures will not be representative" >&2

work=$(mktemp -d /tmp/ringolan-hostile.XXXXXX)
server_pid=""; swarm_pid=""; wrk_pid=""; rewriter_pid=""
cleanup() {
  if [ -n "$rewriter_pid" ]; then
    kill $(pgrep -P "$rewriter_pid" || true) "$rewriter_pid" 2>/dev/null || true
  fi
  for pid in "$wrk_pid" "$swarm_pid" "$server_pid"; do
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  done
  for pid in "$wrk_pid" "$swarm_pid" "$rewriter_pid" "$server_pid"; do
    [ -n "$pid" ] && wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

"$mkdemo_exe" --shooters 5000 --seed 1 -o "$work/demo.mdb" >/dev/null
mkdir -p "$work/web"
head -c $((32 * 1024 * 1024)) /dev/zero >"$work/web/large.bin"  # what slowread clients ask for
(
  ulimit -n "$(ulimit -Hn)" 2>/dev/null || ulimit -n 16384 2>/dev/null || true
  exec "$server_exe" --db "$work/demo.mdb" --web "$work/web" --port 0 --listen 127.0.0.1 --ini "$work/none.ini"
) >"$work/server.out" 2>"$work/server.err" &
server_pid=$!
for _ in $(seq 200); do grep -q Listening "$work/server.out" 2>/dev/null && break; sleep 0.1; done
port=$(sed -n 's|.*http://[^:]*:\([0-9]*\)/.*|\1|p' "$work/server.out")
[ -n "$port" ] || { echo "hostile: the server did not start" >&2; cat "$work/server.err" >&2; exit 1; }
base=http://127.0.0.1:$port

# The normal client's two pages: the big table and the first shooter page it links to.
curl -sf "$base/vstbl.php" -o "$work/vstbl.html" || { echo "hostile: vstbl.php failed" >&2; exit 1; }
est=$(grep -o 'est\.php?NR=[0-9]*' "$work/vstbl.html" | head -n 1 || true)
[ -n "$est" ] || est="est.php?NR=1"
curl -sf "$base/$est" -o /dev/null || { echo "hostile: /$est failed" >&2; exit 1; }
printf '/vstbl.php\n/%s\n' "$est" >"$work/targets.txt"

# wrk's output to "answers/s p50 p99 max errors" (times in ms).
summarize() {
  awk '
    function ms(v) {
      if (v ~ /us$/) { sub(/us$/, "", v); return v / 1000 }
      if (v ~ /ms$/) { sub(/ms$/, "", v); return v + 0 }
      if (v ~ /m$/)  { sub(/m$/, "", v);  return v * 60000 }
      if (v ~ /s$/)  { sub(/s$/, "", v);  return v * 1000 }
      return v + 0
    }
    $1 == "Latency" && NF >= 5 { max = ms($4) }
    $1 == "50%" { p50 = ms($2) }
    $1 == "99%" { p99 = ms($2) }
    /Requests\/sec/ { rps = $2 }
    /Socket errors/ {
      gsub(/,/, ""); errors += $4 + $6 + $8 + $10
    }
    /Non-2xx or 3xx/ { errors += $NF }
    END { printf "%.0f %.2f %.2f %.2f %d\n", rps, p50, p99, max, errors }
  ' "$1"
}

normal() {  # DURATION OUTFILE
  wrk -t1 -c8 -d"$1s" --latency -H "Connection: close" -s "$here/pages_wrk.lua" "$base/" -- "$work/targets.txt" \
    >"$2" 2>&1 &
  wrk_pid=$!
  wait "$wrk_pid" || true
  wrk_pid=""
}

rows=()
failed=0
record() {  # NAME CONNECTED WRK_OUTPUT
  local rps p50 p99 max errors
  read -r rps p50 p99 max errors <<<"$(summarize "$3")"
  rows+=("$(printf '| %-30s | %9s | %9s | %7s | %7s | %8s | %6s |' "$1" "$2" "$rps" "$p50" "$p99" "$max" "$errors")")
  if [ "$rps" = 0 ] || [ "$errors" != 0 ] || awk -v p="$p99" -v l="$p99_limit_ms" 'BEGIN { exit !(p >= l) }'; then
    failed=1
  fi
}

# Writes COUNT new rounds of the demo, evenly spread over the phase (to a temporary file, renamed
# over the served one).
next_round=1
rewrite_rounds() {  # FIRST_ROUND COUNT
  local r
  for r in $(seq "$1" $(($1 + $2 - 1))); do
    sleep $((seconds / ($2 + 1)))
    "$mkdemo_exe" --shooters 5000 --seed 1 --round "$r" -o "$work/next.mdb" >/dev/null
    mv -f "$work/next.mdb" "$work/demo.mdb"
  done
}

# NAME and hostile_clients counts (none: the normal client alone); rewrites=N before the call
# writes N rounds of the demo during the phase.
phase() {
  local name=$1 states_before
  shift
  states_before=$(grep -c "read again" "$work/server.err" || true)
  : >"$work/swarm.out"
  : >"$work/swarm.err"
  if [ $# -gt 0 ]; then
    "$swarm_exe" --port "$port" "$@" --seconds "$seconds" --warmup 3 --report 10 --hold 20 \
      >"$work/swarm.out" 2>"$work/swarm.err" &
    swarm_pid=$!
  fi
  if [ "${rewrites:-0}" -gt 0 ]; then
    rewrite_rounds "$next_round" "$rewrites" &
    rewriter_pid=$!
    next_round=$((next_round + rewrites))
  fi
  sleep 3
  normal $((seconds - 5)) "$work/wrk.out"
  if [ -n "$swarm_pid" ]; then
    wait "$swarm_pid" || true
    swarm_pid=""
  fi
  if [ -n "$rewriter_pid" ]; then
    wait "$rewriter_pid" || true
    rewriter_pid=""
    echo "$name: $(($(grep -c "read again" "$work/server.err" || true) - states_before)) new states served" >&2
  fi
  kill -0 "$server_pid" 2>/dev/null || { echo "hostile: the server ended during '$name'" >&2; cat "$work/server.err" >&2; exit 1; }
  local result connected=0
  if [ $# -gt 0 ]; then
    result=$(grep '^RESULT' "$work/swarm.out" || true)
    connected=$(sed -n 's/.*connected_mean=\([0-9.]*\).*/\1/p' <<<"$result")
    echo "$name: ${result:-no result from hostile_clients}" >&2
    grep -q '^t=' "$work/swarm.err" && tail -n 1 "$work/swarm.err" >&2
  fi
  record "$name" "${connected:-?}" "$work/wrk.out"
  sleep 2  # the server lets go of the last connections
}

echo "ringolan-server on 127.0.0.1:$port, 5,000-shooter demo; normal client: wrk -t1 -c8 -H 'Connection: close'" \
  "on /vstbl.php and /$est in turn; hostile phases of $seconds s (wrk for the last $((seconds - 5)) s)" >&2
normal 10 "$work/wrk.out"
record "alone" 0 "$work/wrk.out"
each=$hostile_total
phase "idle $each" --idle "$each"
phase "slow $each" --slow "$each"
phase "endless $each" --endless "$each"
phase "slowread $each" --slowread "$each"
rewrites=3 phase "3 rounds, no hostile"
rewrites=3 phase "eventstall $each + 3 rounds" --eventstall "$each"
phase "mixed 700/700/600" --idle 700 --slow 700 --endless 600
phase "mixed 500/500/500/500" --idle 500 --slow 500 --endless 500 --slowread 500

printf '| %-30s | %9s | %9s | %7s | %7s | %8s | %6s |\n' "hostile behaviour" "connected" "answers/s" "p50 ms" "p99 ms" \
  "max ms" "errors"
printf '|%s|%s|%s|%s|%s|%s|%s|\n' "$(printf -- '-%.0s' {1..32})" "-----------" "-----------" "---------" "---------" \
  "----------" "--------"
printf '%s\n' "${rows[@]}"
if [ "$failed" = 0 ]; then
  echo "PASS: every p99 under $p99_limit_ms ms, no errors"
else
  echo "FAIL: a p99 of $p99_limit_ms ms or more, or errors"
fi
exit "$failed"
