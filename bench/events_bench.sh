#!/usr/bin/env bash
# The API's longest list under load while 2,000 event streams are open, and how fast a new state of
# the competition file reaches all of them. Writes the 10,000-shooter demo, starts ringolan-server on a
# free loopback port, runs wrk -t2 -c64 on /api/v1/lists/ID (the list with the longest answer) for
# SECONDS without event clients, then connects 2,000 clients to /api/v1/events (build/bench/event_clients)
# and runs the same wrk again: answers per server CPU second (user + system from /proc/PID/stat) and
# p99. Then, with the clients still connected, writes rounds 2, 3 and 4 of the demo (to a temporary
# file, renamed over the served one) and measures, per round, the time from the rename to the first
# client's receipt of the new state and the spread of the receipts over the clients.
# Passes (exit 0) when the list answers 200 at ≥ 5,000 answers per server CPU second with the
# clients connected, and every round reaches every client with a spread p99 under 1 s.
#   bench/events_bench.sh BUILD_DIR [SECONDS]   (default 30 s per wrk run)
# Builds nothing: BUILD_DIR needs ringolan-server, ringolan-mkdemo and event_clients (Release).
# SERVER=PATH runs another ringolan-server binary. Needs wrk and curl; node picks the list ids when
# it is there (else grep).
set -euo pipefail

if [ $# -lt 1 ] || [ ! -d "$1" ]; then
  echo "usage: $0 BUILD_DIR [SECONDS]   (BUILD_DIR: a Release build folder)" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
seconds=${2:-30}
[ "$seconds" -ge 5 ] || { echo "events_bench: SECONDS must be at least 5" >&2; exit 2; }
shooters=10000
clients=2000
rounds="2 3 4"
rate_goal=5000       # answers per server CPU second with the clients connected
spread_goal_ms=1000  # p99 of first-to-last receipt of a new state

server_exe=${SERVER:-$build/app/ringolan-server}
mkdemo_exe=$build/tools/mkdemo/ringolan-mkdemo
clients_exe=$build/bench/event_clients
for exe in "$server_exe" "$mkdemo_exe" "$clients_exe"; do
  [ -x "$exe" ] || { echo "events_bench: $exe not found; build ringolan-server ringolan-mkdemo event_clients" >&2; exit 1; }
done
for tool in wrk curl; do
  command -v "$tool" >/dev/null || { echo "events_bench: $tool is missing" >&2; exit 3; }
done
grep -qs '^CMAKE_BUILD_TYPE:STRING=Release$' "$build/CMakeCache.txt" ||
  echo "warning: $build is not a Release build; figures will not be representative" >&2

work=$(mktemp -d /tmp/ringolan-events.XXXXXX)
server_pid=""; clients_pid=""; wrk_pid=""
cleanup() {
  for pid in "$wrk_pid" "$clients_pid" "$server_pid"; do
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  done
  for pid in "$wrk_pid" "$clients_pid" "$server_pid"; do
    [ -n "$pid" ] && wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

db=$work/demo.mdb
"$mkdemo_exe" --shooters "$shooters" --seed 1 -o "$db" >/dev/null
mkdir -p "$work/web"
(
  ulimit -n "$(ulimit -Hn)" 2>/dev/null || ulimit -n 16384 2>/dev/null || true
  exec "$server_exe" --db "$db" --web "$work/web" --port 0 --listen 127.0.0.1 --ini "$work/none.ini"
) >"$work/server.out" 2>"$work/server.err" &
server_pid=$!
for _ in $(seq 300); do grep -q Listening "$work/server.out" 2>/dev/null && break; sleep 0.1; done
port=$(sed -n 's|.*http://[^:]*:\([0-9]*\)/.*|\1|p' "$work/server.out")
[ -n "$port" ] || { echo "events_bench: the server did not start" >&2; cat "$work/server.err" >&2; exit 1; }
base=http://127.0.0.1:$port
tick=$(getconf CLK_TCK)

server_cpu() { awk -v t="$tick" '{print ($14 + $15) / t}' "/proc/$server_pid/stat"; }
server_rss_kib() { awk '/^VmRSS/ {print $2}' "/proc/$server_pid/status"; }
now_ms() { date +%s%3N; }

# The ids of /api/v1/lists: the first array of objects with an "id" (the answer itself or one of
# its members); grep for "id" numbers without node.
list_ids() {
  if command -v node >/dev/null; then
    node -e '
      const j = JSON.parse(require("fs").readFileSync(process.argv[1], "utf8"));
      const arrays = Array.isArray(j) ? [j] : Object.values(j).filter(Array.isArray);
      for (const a of arrays) {
        const ids = a.filter(x => x && typeof x === "object" && "id" in x).map(x => x.id);
        if (ids.length) { console.log(ids.join("\n")); break; }
      }' "$1" 2>/dev/null || true
  else
    grep -o '"id" *: *"\?[0-9A-Za-z_-]*' "$1" | sed 's/.*: *"\?//' || true
  fi
}

# The list whose answer is longest; id 1 when /api/v1/lists does not answer 200.
lists_status=$(curl -s -o "$work/lists.json" -w '%{http_code}' "$base/api/v1/lists" || echo 000)
list_id=1
list_bytes=0
if [ "$lists_status" = 200 ]; then
  while read -r id; do
    [ -n "$id" ] || continue
    bytes=$(curl -s -o /dev/null -w '%{size_download}' "$base/api/v1/lists/$id" || echo 0)
    if [ "$bytes" -gt "$list_bytes" ]; then list_bytes=$bytes; list_id=$id; fi
  done < <(list_ids "$work/lists.json")
fi
target=/api/v1/lists/$list_id
list_status=$(curl -s -o "$work/list.json" -w '%{http_code}' "$base$target" || echo 000)
list_bytes=$(wc -c <"$work/list.json")
if [ "$list_status" != 200 ]; then
  echo "events_bench: /api/v1/lists answered $lists_status and $target $list_status; measuring that answer" >&2
fi

# wrk on the list with the server's CPU: "answers/s per_cpu_s p99_ms errors non2xx".
measure() {  # OUTFILE
  local c0 c1
  c0=$(server_cpu)
  wrk -t2 -c64 -d"${seconds}s" --latency "$base$target" >"$1" 2>&1 &
  wrk_pid=$!
  wait "$wrk_pid" || true
  wrk_pid=""
  c1=$(server_cpu)
  awk -v a="$c0" -v b="$c1" '
    function ms(v) {
      if (v ~ /us$/) { sub(/us$/, "", v); return v / 1000 }
      if (v ~ /ms$/) { sub(/ms$/, "", v); return v + 0 }
      if (v ~ /m$/)  { sub(/m$/, "", v);  return v * 60000 }
      if (v ~ /s$/)  { sub(/s$/, "", v);  return v * 1000 }
      return v + 0
    }
    $1 == "99%" { p99 = ms($2) }
    /requests in/ { total = $1 }
    /Requests\/sec/ { rps = $2 }
    /Socket errors/ { gsub(/,/, ""); errors += $4 + $6 + $8 + $10 }
    /Non-2xx or 3xx/ { non2xx = $NF }
    END { printf "%.0f %.0f %.2f %d %d\n", rps, (b > a) ? total / (b - a) : 0, p99, errors, non2xx }
  ' "$1"
}

echo "ringolan-server on 127.0.0.1:$port, $shooters-shooter demo; wrk -t2 -c64 -d${seconds}s on $target" \
  "($list_status, $list_bytes bytes); $clients event clients" >&2
curl -s -o /dev/null "$base$target"  # in the cache before the first run
read -r rps_alone cpu_alone p99_alone err_alone non_alone <<<"$(measure "$work/wrk-alone.out")"
rss_alone=$(server_rss_kib)

# The event clients stay connected until the end.
"$clients_exe" --port "$port" --clients "$clients" --seconds 3600 --report 10 --state-wait 10 \
  >"$work/events.out" 2>"$work/events.err" &
clients_pid=$!
for _ in $(seq 600); do grep -q '^SETTLED' "$work/events.out" 2>/dev/null && break; sleep 0.1; done
settled=$(grep '^SETTLED' "$work/events.out" || true)
[ -n "$settled" ] || { echo "events_bench: the event clients did not all connect in 60 s" >&2; cat "$work/events.err" >&2; exit 1; }
echo "event clients: $settled" >&2
connected=$(sed -n 's/.*connected=\([0-9]*\).*/\1/p' <<<"$settled")
read -r rps_with cpu_with p99_with err_with non_with <<<"$(measure "$work/wrk-events.out")"
rss_with=$(server_rss_kib)

# The newest state the clients have reported so far.
newest_state() { sed -n 's/^STATE n=\([0-9]*\) .*/\1/p' "$work/events.out" | sort -n | tail -n 1; }
field() { sed -n "s/.* $1=\([^ ]*\).*/\1/p" <<<"$2"; }

round_rows=()
spread_failed=0
for r in $rounds; do
  before=$(newest_state)
  before=${before:-0}
  t0=$(now_ms)
  "$mkdemo_exe" --shooters "$shooters" --seed 1 --round "$r" -o "$work/next.mdb" >/dev/null
  mv -f "$work/next.mdb" "$db"
  written=$(now_ms)
  line=""
  for _ in $(seq 600); do  # up to 30 s
    line=$(awk -v b="$before" '/^STATE n=/ { split($2, kv, "="); if (kv[2] + 0 > b + 0) { print; exit } }' "$work/events.out")
    [ -n "$line" ] && break
    sleep 0.05
  done
  if [ -z "$line" ]; then
    round_rows+=("$(printf '| %5s | %7s | %9s | %8s | %8s | %8s | %7s | %7s |' "$r" "$(((written - t0)))" "none" "" "" "" "" "")")
    spread_failed=1
    continue
  fi
  first=$(field first_epoch_ms "$line")
  p50=$(field p50_ms "$line"); p99=$(field p99_ms "$line"); max=$(field max_ms "$line")
  got=$(field clients "$line"); missing=$(field missing "$line")
  round_rows+=("$(printf '| %5s | %7s | %9s | %8s | %8s | %8s | %7s | %7s |' "$r" "$((written - t0))" \
    "$((first - written))" "$p50" "$p99" "$max" "$got" "$missing")")
  if [ "$missing" != 0 ] || [ "$got" -lt "$connected" ] || awk -v p="$p99" -v l="$spread_goal_ms" 'BEGIN { exit !(p >= l) }'; then
    spread_failed=1
  fi
  sleep 2  # the warming of this round is over before the next one is written
done

kill -TERM "$clients_pid" 2>/dev/null || true
wait "$clients_pid" || true
clients_pid=""
result=$(grep '^RESULT' "$work/events.out" || true)
echo "event clients: ${result:-no RESULT line}" >&2
kill -0 "$server_pid" 2>/dev/null || { echo "events_bench: the server ended" >&2; cat "$work/server.err" >&2; exit 1; }

echo
echo "| wrk -t2 -c64 on $target ($list_status, $list_bytes bytes) | event clients | answers/s | per server CPU s | p99 ms | errors | non-2xx | server VmRSS KiB after |"
echo "|---|---:|---:|---:|---:|---:|---:|---:|"
printf '| alone | 0 | %s | %s | %s | %s | %s | %s |\n' "$rps_alone" "$cpu_alone" "$p99_alone" "$err_alone" "$non_alone" "$rss_alone"
printf '| with event clients | %s | %s | %s | %s | %s | %s | %s |\n' "$connected" "$rps_with" "$cpu_with" "$p99_with" \
  "$err_with" "$non_with" "$rss_with"
echo
echo "| round | write ms | write → first receipt ms | spread p50 ms | spread p99 ms | spread max ms | clients | missing |"
echo "|------:|--------:|----------:|---------:|---------:|---------:|--------:|--------:|"
printf '%s\n' "${round_rows[@]}"
echo

failed=0
if [ "$list_status" != 200 ]; then
  echo "NOT JUDGED: $target answered $list_status, not a list (the API has no lists on this build)"
  failed=1
elif [ "$cpu_with" -ge "$rate_goal" ] && [ "$err_with" = 0 ] && [ "$non_with" = 0 ]; then
  echo "PASS: $cpu_with answers per server CPU second with $connected event clients (goal $rate_goal)"
else
  echo "FAIL: $cpu_with answers per server CPU second with $connected event clients, $err_with errors, $non_with non-2xx (goal $rate_goal, none)"
  failed=1
fi
if [ "$connected" != "$clients" ]; then
  echo "FAIL: only $connected of $clients event clients connected"
  failed=1
elif [ "$spread_failed" = 0 ]; then
  echo "PASS: every round reached all $connected event clients, spread p99 under $spread_goal_ms ms"
else
  echo "FAIL: a round missed clients or its spread p99 was $spread_goal_ms ms or more"
  failed=1
fi
exit "$failed"
