#!/usr/bin/env bash
# The live view's API on the publishing site against the range server's on the same demo, in one
# run on this machine (loopback). Per program: 500 viewers, each with the API's event stream open
# (build/bench/event_clients) and asking for an API answer about once a second as the live view
# does (wrk -t2 -c500 with bench/site_live_wrk.lua: one of /state, /lists, every list, /clubs and
# shooters, then a random pause of 0 to 2 s), while the data change: on the site the
# demo is uploaded again and again with ringolan-upload (rounds 1, 2, ... of the demo), on the
# range the file is replaced by the next round every UPLOAD_PAUSE seconds. Prints a table with
# answers/s, p50 and p99 of the API answers, errors, the states the event clients received and
# the changes made; passes (exit 0) when the site's p99 is under 50 ms.
#   bench/site_live_bench.sh BUILD_DIR [SECONDS] [SHOOTERS]   (default 30 s, 2000 shooters)
# Builds nothing: BUILD_DIR (Release) needs ringolan-site, ringolan-server, ringolan-upload,
# ringolan-mkdemo and event_clients. VIEWERS (default 500) sets the viewers, POLL_MS (default
# 1000) their mean pause between answers. DATABASE is the site's --database (default: SQLite in
# the work folder), e.g. a postgresql:// address. Needs wrk and curl.
set -euo pipefail

if [ $# -lt 1 ] || [ ! -d "$1" ]; then
  echo "usage: $0 BUILD_DIR [SECONDS] [SHOOTERS] [DATABASE]   (BUILD_DIR: a Release build folder)" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
seconds=${2:-30}
shooters=${3:-2000}
database=${4:-sqlite}
viewers=${VIEWERS:-500}
poll_ms=${POLL_MS:-1000}
pause=${UPLOAD_PAUSE:-2}
goal_ms=50
here=$(cd "$(dirname "$0")" && pwd)

site_exe=$build/site/ringolan-site
server_exe=$build/app/ringolan-server
upload_exe=$build/upload/ringolan-upload
mkdemo_exe=$build/tools/mkdemo/ringolan-mkdemo
clients_exe=$build/bench/event_clients
for exe in "$site_exe" "$server_exe" "$upload_exe" "$mkdemo_exe" "$clients_exe"; do
  [ -x "$exe" ] || { echo "site_live_bench: $exe not found; build it first" >&2; exit 1; }
done
for tool in wrk curl; do
  command -v "$tool" >/dev/null || { echo "site_live_bench: $tool is missing" >&2; exit 3; }
done
grep -qs '^CMAKE_BUILD_TYPE:STRING=Release$' "$build/CMakeCache.txt" ||
  echo "warning: $build is not a Release build; figures will not be representative" >&2

work=$(mktemp -d /tmp/ringolan-site-live.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
ulimit -n "$(ulimit -Hn)" 2>/dev/null || true

# Starts a program that prints its address; sets started_pid and started_port.
start() {  # NAME COMMAND...
  local name=$1
  shift
  "$@" >"$work/$name.out" 2>"$work/$name.err" &
  started_pid=$!
  pids+=("$started_pid")
  for _ in $(seq 300); do grep -qi 'listening on' "$work/$name.out" 2>/dev/null && break; sleep 0.1; done
  started_port=$(sed -n 's|.*http://[^:]*:\([0-9]*\)/.*|\1|p' "$work/$name.out" | head -n 1)
  [ -n "$started_port" ] || { echo "site_live_bench: $name did not start" >&2; cat "$work/$name.err" >&2; exit 1; }
}

"$mkdemo_exe" --shooters "$shooters" --seed 1 -o "$work/site.mdb" >/dev/null
cp "$work/site.mdb" "$work/range.mdb"
hash=$(printf 'bench\n' | "$site_exe" --hash-password --iterations 1000)
printf '{"accounts":[{"id":"bench","password":"%s"}]}\n' "$hash" >"$work/accounts.json"
printf 'bench\n' >"$work/pw"
start site "$site_exe" --accounts "$work/accounts.json" --data "$work/data" --database "$database" --port 0 --listen 127.0.0.1
site_pid=$started_pid site_port=$started_port
upload() {  # FILE
  "$upload_exe" --db "$1" --url "http://127.0.0.1:$site_port/" --id bench --password-file "$work/pw" \
    --work-dir "$work" >"$work/upload.log" 2>&1
}
upload "$work/site.mdb"
mkdir -p "$work/web"
start range "$server_exe" --db "$work/range.mdb" --web "$work/web" --ini "$work/none.ini" --port 0 --listen 127.0.0.1
range_pid=$started_pid range_port=$started_port

# The addresses the live view asks for: overview, every list, clubs, shooters of the first lists.
api_targets() {  # PREFIX PORT
  local prefix=$1 port=$2
  curl -s "http://127.0.0.1:$port$prefix/lists" >"$work/lists.json"
  printf '%s\n' "$prefix/state" "$prefix/lists" "$prefix/clubs"
  local ids
  ids=$(grep -o '"id":[0-9]*' "$work/lists.json" | cut -d: -f2)
  for id in $ids; do printf '%s\n' "$prefix/lists/$id" "$prefix/state"; done
  for id in $ids; do
    curl -s "http://127.0.0.1:$port$prefix/lists/$id" | grep -o '"startnr":[0-9]*' | cut -d: -f2 | head -n 10
  done | sort -un | while read -r nr; do printf '%s\n' "$prefix/shooters/$nr"; done
}

# Changes the data in a loop: "site" uploads the next round, "range" replaces the file.
change_loop() {  # KIND
  local round=1
  while :; do
    "$mkdemo_exe" --shooters "$shooters" --seed 1 --round "$round" -o "$work/next.mdb" >/dev/null
    if [ "$1" = site ]; then upload "$work/next.mdb"; else mv -f "$work/next.mdb" "$work/range.mdb"; fi
    echo "$round" >>"$work/changes-$1"
    round=$((round + 1))
    sleep "$pause"
  done
}

ms() { awk '{ v = $1; if (v ~ /us$/) { sub(/us$/, "", v); print v / 1000 } else if (v ~ /ms$/) { sub(/ms$/, "", v); print v + 0 }
              else if (v ~ /s$/) { sub(/s$/, "", v); print v * 1000 } else print v }'; }

# One measurement: "answers/s p50_ms p99_ms errors non2xx states changes".
measure() {  # KIND PREFIX PORT
  local kind=$1 prefix=$2 port=$3 events_pid changer_pid
  api_targets "$prefix" "$port" >"$work/targets-$kind.txt"
  "$clients_exe" --port "$port" --clients "$viewers" --path "$prefix/events" --seconds 3600 --report 60 \
    >"$work/events-$kind.out" 2>"$work/events-$kind.err" &
  events_pid=$!
  pids+=("$events_pid")
  for _ in $(seq 600); do grep -q '^SETTLED' "$work/events-$kind.out" 2>/dev/null && break; sleep 0.1; done
  grep -q '^SETTLED' "$work/events-$kind.out" || { echo "site_live_bench: event clients did not connect" >&2; exit 1; }
  change_loop "$kind" &
  changer_pid=$!
  pids+=("$changer_pid")
  wrk -t2 -c"$viewers" -d"${seconds}s" --latency -s "$here/site_live_wrk.lua" "http://127.0.0.1:$port/" \
    -- "$work/targets-$kind.txt" "$poll_ms" >"$work/wrk-$kind.out" 2>&1 || true
  kill "$changer_pid" 2>/dev/null || true
  wait "$changer_pid" 2>/dev/null || true
  kill -TERM "$events_pid" 2>/dev/null || true
  wait "$events_pid" 2>/dev/null || true
  local p50 p99 rps errors non2xx states changes
  p50=$(awk '$1 == "50%" { print $2 }' "$work/wrk-$kind.out" | ms)
  p99=$(awk '$1 == "99%" { print $2 }' "$work/wrk-$kind.out" | ms)
  rps=$(awk '/Requests\/sec/ { printf "%.0f", $2 }' "$work/wrk-$kind.out")
  errors=$(awk '/Socket errors/ { gsub(/,/, ""); print $4 + $6 + $8 + $10 }' "$work/wrk-$kind.out")
  non2xx=$(awk '/Non-2xx or 3xx/ { print $NF }' "$work/wrk-$kind.out")
  states=$(grep -c '^STATE' "$work/events-$kind.out" || true)
  changes=$(wc -l <"$work/changes-$kind" 2>/dev/null || echo 0)
  echo "${rps:-0} ${p50:-0} ${p99:-0} ${errors:-0} ${non2xx:-0} $states $changes"
}

echo "demo: $shooters shooters; $viewers viewers (event stream, an answer every ${poll_ms} ms on average) for ${seconds}s per program" >&2
read -r r_rps r_p50 r_p99 r_err r_non r_states r_changes <<<"$(measure range /api/v1 "$range_port")"
read -r s_rps s_p50 s_p99 s_err s_non s_states s_changes <<<"$(measure site /a/bench/api/v1 "$site_port")"
for pid in $site_pid $range_pid; do
  kill -0 "$pid" 2>/dev/null || { echo "site_live_bench: a server ended" >&2; exit 1; }
done

echo
echo "| API of | answers/s | p50 ms | p99 ms | socket errors | non-2xx | states seen by event clients | changes made |"
echo "|---|---:|---:|---:|---:|---:|---:|---:|"
printf '| range server /api/v1/ (reference) | %s | %s | %s | %s | %s | %s | %s |\n' "$r_rps" "$r_p50" "$r_p99" "$r_err" "${r_non:-0}" "$r_states" "$r_changes"
printf '| site /a/bench/api/v1/ | %s | %s | %s | %s | %s | %s | %s |\n' "$s_rps" "$s_p50" "$s_p99" "$s_err" "${s_non:-0}" "$s_states" "$s_changes"
if awk -v p="$s_p99" -v g="$goal_ms" 'BEGIN { exit !(p < g) }'; then
  echo "PASS: the site's p99 is under $goal_ms ms"
else
  echo "FAIL: the site's p99 is not under $goal_ms ms"
  exit 1
fi
