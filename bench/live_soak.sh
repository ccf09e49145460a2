#!/usr/bin/env bash
# Soak of a running competition: ringolan-mkdemo --live changes the served demo file in place
# (RATE changes a second, page by page as a scoring program writes) while soak_client requests
# the ten pages as fast as the machine allows and live_follow.py times, for each change, how
# soon the changed shooter's answer shows it, checking every answer for a mix of two states.
#   bench/live_soak.sh BUILD_DIR [SECONDS] [SHOOTERS] [RATE]   (default 600 s, 10000, 10/s)
# Environment: THREADS and CONNECTIONS of the client (default 4 x 4), PER_PAGE (200).
# Passes when the client saw no failed page, no answer was torn, the median write-to-page was
# under 300 ms, and the server's peak resident memory grew by less than one snapshot image over
# the second half of the run.
set -uo pipefail

[ $# -ge 1 ] || { echo "usage: bench/live_soak.sh BUILD_DIR [SECONDS] [SHOOTERS] [RATE]" >&2; exit 2; }
build=$(cd "$1" && pwd) || exit 2
seconds=${2:-600}
shooters=${3:-10000}
rate=${4:-10}
threads=${THREADS:-4}
connections=${CONNECTIONS:-4}
per_page=${PER_PAGE:-200}
repo=$(cd "$(dirname "$0")/.." && pwd)
mkdemo=$build/tools/mkdemo/ringolan-mkdemo
server=$build/app/ringolan-server
client=$build/bench/soak_client
check=$build/bench/live_check
for f in "$mkdemo" "$server" "$client" "$check"; do
  [ -x "$f" ] || { echo "live_soak: $f is missing (build ringolan-mkdemo ringolan-server soak_client live_check)" >&2; exit 2; }
done

work=$(mktemp -d /tmp/ringolan-live-soak.XXXXXX)
db=$work/demo.mdb
server_pid=""; client_pid=""; sim_pid=""
cleanup() {
  for p in $sim_pid $client_pid; do kill "$p" 2>/dev/null; done
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null; wait "$server_pid" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
ok=yes
fail() { echo "FAIL: $*"; ok=no; }

"$mkdemo" --shooters "$shooters" -o "$db" >/dev/null || { echo "live_soak: mkdemo failed" >&2; exit 2; }
"$server" --db "$db" --web "$repo/Web" --port 0 --listen 127.0.0.1 --ini "$work/none.ini" \
  >"$work/server.out" 2>"$work/server.err" &
server_pid=$!
for _ in $(seq 600); do grep -q Listening "$work/server.out" 2>/dev/null && break; sleep 0.1; done
port=$(sed -n 's|.*http://[^:]*:\([0-9]*\)/.*|\1|p' "$work/server.out" | head -1)
[ -n "$port" ] || { echo "live_soak: the server did not start" >&2; cat "$work/server.err" >&2; exit 2; }
hwm() { awk '/^VmHWM/ {print $2}' "/proc/$server_pid/status"; }

"$client" --port "$port" --seconds "$seconds" --threads "$threads" --connections "$connections" --per-page "$per_page" \
  --seen "$work/seen" >"$work/client.out" 2>&1 &
client_pid=$!
for _ in $(seq 1200); do grep -q "^load:" "$work/client.out" 2>/dev/null && break; kill -0 "$client_pid" 2>/dev/null || break; sleep 0.1; done
grep -q "^load:" "$work/client.out" || { echo "live_soak: the client did not start" >&2; cat "$work/client.out" >&2; exit 2; }
echo "live_soak: $shooters shooters, $rate changes/s for $seconds s; server port $port; client $threads x $connections"

: >"$work/trace"
"$mkdemo" --live "$db" --changes-per-second "$rate" --seconds "$seconds" --trace "$work/trace" >"$work/sim.out" 2>&1 &
sim_pid=$!
python3 "$repo/bench/live_follow.py" "$check" "$work/trace" "$port" "$seconds" >"$work/follow.out" 2>&1 &
follow_pid=$!
sleep $((seconds / 2))
half_hwm=$(hwm)
wait "$client_pid"; client_pid=""
wait "$sim_pid"; sim_pid=""
wait "$follow_pid"
end_hwm=$(hwm)

echo "## client (pages as fast as possible)"
sed -n '/^page /,$p' "$work/client.out" | grep -v "^newest round" | head -20
echo "## simulator"
tail -1 "$work/sim.out"
echo "## write to page (each change, the changed shooter's answer)"
cat "$work/follow.out"
reads=$(grep -c "read again" "$work/server.err")
whole=$(grep -c "whole file" "$work/server.err")
echo "## server: $reads states read, $whole of them whole; peak memory $half_hwm KiB at half time, $end_hwm KiB at the end"
grep "read again" "$work/server.err" | awk -F', ' '{print $NF}' | sed 's/ ms)//' | sort -n |
  awk '{v[NR] = $1} END {if (NR) {p = int(NR * 0.99); if (p < 1) p = 1; printf "read times: median %d ms, p99 %d ms, max %d ms\n", v[int((NR + 1) / 2)], v[p], v[NR]}}'

failures=$(sed -n 's/.*SOAK answers=[0-9]* failures=\([0-9]*\).*/\1/p' "$work/client.out")
torn=$(sed -n 's/^LIVE .* torn=\([0-9]*\).*/\1/p' "$work/follow.out")
late=$(sed -n 's/^LIVE .* late=\([0-9]*\).*/\1/p' "$work/follow.out")
median=$(sed -n 's/^LIVE .* median_ms=\([0-9]*\).*/\1/p' "$work/follow.out")
image=$(( $(stat -c %s "$db") ))
[ "${failures:-1}" = 0 ] || fail "the client saw ${failures:-no result of} failed pages"
[ "${torn:-1}" = 0 ] || fail "${torn:-no result of} torn answers"
[ "${late:-1}" = 0 ] || fail "${late:-no result of} changes not shown within 5 s"
[ -n "$median" ] && [ "$median" -lt 300 ] || fail "median write-to-page ${median:-?} ms (goal < 300 ms)"
growth=$(( (end_hwm - half_hwm) * 1024 ))
[ "$growth" -lt "$image" ] || fail "peak memory grew by $growth bytes in the second half"
echo
echo "LIVESOAK result=$([ $ok = yes ] && echo pass || echo fail) failures=${failures:-?} torn=${torn:-?} late=${late:-?} median_ms=${median:-?} growth_bytes=$growth"
[ "$ok" = yes ]
