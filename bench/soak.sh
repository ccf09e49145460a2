#!/usr/bin/env bash
# Soak with faults: a competition day on the loopback. soak_client requests the ten pages from
# ringolan-server as fast as the machine allows while this script writes the next round of the
# demo competition (ringolan-mkdemo --round N to a temporary file, renamed over the served file)
# every second. Several times over the run the served file is, for a few seconds, deleted,
# replaced by garbage, truncated to half or made unreadable, then put right by the next round.
#   bench/soak.sh BUILD_DIR [SECONDS] [SHOOTERS]     (default 600 s, 10000 shooters)
# Environment: THREADS and CONNECTIONS of the client (default 4 x 4), PER_PAGE addresses of each
# page the client collects (200), FAULT_SECONDS (3).
# Passes when the client saw no failed and no torn page, every second of every fault had
# answers, a round written after a fault was on the pages within 2 s, and the server's peak
# resident memory (VmHWM) grew by less than one snapshot image over the second half of the run.
# The page cache fills for the first minutes and resident memory swings by up to two snapshots
# while a new state is swapped in; a leak shows as a peak that keeps rising after that.
set -uo pipefail

[ $# -ge 1 ] || { echo "usage: bench/soak.sh BUILD_DIR [SECONDS] [SHOOTERS]" >&2; exit 2; }
build=$(cd "$1" && pwd) || exit 2
seconds=${2:-600}
shooters=${3:-10000}
threads=${THREADS:-4}
connections=${CONNECTIONS:-4}
per_page=${PER_PAGE:-200}
fault_seconds=${FAULT_SECONDS:-3}
repo=$(cd "$(dirname "$0")/.." && pwd)
mkdemo=$build/tools/mkdemo/ringolan-mkdemo
server=$build/app/ringolan-server
reader=$build/db/snapshot/ringolan-snapshot-reader
[ -x "$build/app/ringolan-snapshot-reader" ] && reader=$build/app/ringolan-snapshot-reader
client=$build/bench/soak_client
for f in "$mkdemo" "$server" "$reader" "$client"; do
  [ -x "$f" ] || { echo "soak: $f is missing (build ringolan-mkdemo ringolan-server ringolan-snapshot-reader soak_client)" >&2; exit 2; }
done

work=$(mktemp -d /tmp/ringolan-soak.XXXXXX)
chmod 755 "$work"
db=$work/demo.mdb
server_pid=""; client_pid=""
cleanup() {
  [ -n "$client_pid" ] && kill "$client_pid" 2>/dev/null
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null
    wait "$server_pid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

now_ms() { date +%s%3N; }

# Writes round $1 and renames it over the served file; logs "ms round".
round=0
write_round() {
  round=$1
  "$mkdemo" --shooters "$shooters" --seed 1 --round "$round" -o "$work/next.mdb" >/dev/null || { echo "soak: mkdemo failed" >&2; exit 2; }
  mv -f "$work/next.mdb" "$db"
  echo "$(now_ms) $round" >>"$work/written"
}

write_round 1
file_bytes=$(stat -c %s "$db")
# One snapshot: the image the reader child hands to the server for this file (9 bytes of tag and
# length before it); the server keeps one such image per state.
"$reader" "$db" 3>"$work/image" 2>/dev/null
snapshot_bytes=$(( $(stat -c %s "$work/image") - 9 ))
rm -f "$work/image"
[ "$snapshot_bytes" -gt 0 ] || { echo "soak: the reader built no image" >&2; exit 2; }

# chmod 000 does not keep root from reading: then the server runs as an unprivileged user.
as_user=()
unreadable_fault=yes
if [ "$(id -u)" = 0 ]; then
  if command -v setpriv >/dev/null && id nobody >/dev/null 2>&1; then
    as_user=(setpriv --reuid="$(id -u nobody)" --regid="$(id -g nobody)" --clear-groups --)
  else
    unreadable_fault="not tested (running as root without setpriv)"
  fi
fi

"${as_user[@]}" "$server" --db "$db" --web "$repo/Web" --port 0 --listen 127.0.0.1 --ini "$work/none.ini" \
  >"$work/server.out" 2>"$work/server.err" &
server_pid=$!
for _ in $(seq 600); do grep -q Listening "$work/server.out" 2>/dev/null && break; sleep 0.1; done
port=$(sed -n 's|.*http://[^:]*:\([0-9]*\)/.*|\1|p' "$work/server.out" | head -1)
if [ -z "$port" ]; then
  echo "soak: the server did not start${as_user:+ (it runs as nobody: the build folder must be readable by nobody)}" >&2
  cat "$work/server.err" >&2
  exit 2
fi

# "VmRSS VmHWM" of the server in KiB
memory() { awk '/^VmRSS/ {r=$2} /^VmHWM/ {h=$2} END {print r, h}' "/proc/$server_pid/status"; }
declare -a mem_lines
last_rss=0
record_memory() {
  local m
  m=$(memory)
  last_rss=${m% *}
  last_hwm=${m#* }
  mem_lines+=("$(printf '%-10s rss %7d KiB  hwm %7d KiB' "$1" "${m% *}" "${m#* }")")
}
record_memory start; start_hwm=$last_hwm

echo "soak: $shooters shooters, file $file_bytes bytes, snapshot image $snapshot_bytes bytes; server port $port (pid $server_pid${as_user:+, as nobody})"
echo "soak: $seconds s, client $threads threads x $connections connections, faults of $fault_seconds s"

"$client" --port "$port" --seconds "$seconds" --threads "$threads" --connections "$connections" --per-page "$per_page" \
  --seen "$work/seen" >"$work/client.out" 2>&1 &
client_pid=$!
# The client crawls first; its load begins with "load:".
for _ in $(seq 1200); do grep -q "^load:" "$work/client.out" 2>/dev/null && break; kill -0 "$client_pid" 2>/dev/null || break; sleep 0.1; done
grep -q "^load:" "$work/client.out" || { echo "soak: the client did not start" >&2; cat "$work/client.out" >&2; exit 2; }
load_start=$(date +%s)
tick_hz=$(getconf CLK_TCK)
# CPU seconds of the server so far (all threads; the reader children are not counted)
server_cpu() { awk -v t="$tick_hz" '{print ($14 + $15) / t}' "/proc/$server_pid/stat"; }
cpu_start=$(server_cpu)

# Fault plan: after 10 s of plain rounds, a fault of fault_seconds every `period` seconds, the
# kinds in turn, ending 8 s before the load does.
faults=(deleted garbage truncated)
[ "$unreadable_fault" = yes ] && faults+=(unreadable)
span=$((seconds - 18))
period=$(( span / 16 ))
[ "$period" -lt $((fault_seconds + 3)) ] && period=$((fault_seconds + 3))
half_at=$(( seconds / 2 ))
half_hwm=""
next_minute=60
fault_index=0
in_fault=""
server_died=""
fault_end=0
next_fault=10
r=1
: >"$work/faults"

apply_fault() {
  case $1 in
    deleted) rm -f "$db" ;;
    garbage) head -c "$file_bytes" /dev/urandom >"$work/garbage.mdb"; mv -f "$work/garbage.mdb" "$db" ;;
    truncated) truncate -s $((file_bytes / 2)) "$db" ;;
    unreadable) chmod 000 "$db" ;;
  esac
}

while :; do
  tick=$(date +%s.%N)
  t=$(( $(date +%s) - load_start ))
  [ "$t" -ge "$seconds" ] && break
  kill -0 "$client_pid" 2>/dev/null || break
  kill -0 "$server_pid" 2>/dev/null || { server_died=$t; break; }
  rss_now=$(awk '/^VmRSS/ {print $2}' "/proc/$server_pid/status" 2>/dev/null)
  [ -n "$rss_now" ] || { server_died=$t; break; }  # a zombie has no VmRSS
  if [ -z "$half_hwm" ] && [ "$t" -ge "$half_at" ]; then record_memory "${t}s (half)"; half_hwm=$last_hwm; fi
  if [ "$t" -ge "$next_minute" ]; then record_memory "${t}s"; next_minute=$((next_minute + 60)); fi
  if [ -n "$in_fault" ]; then
    if [ "$t" -ge "$fault_end" ]; then
      r=$((r + 1)); write_round "$r"
      echo "$(now_ms) end $in_fault $r" >>"$work/faults"
      in_fault=""
    fi
  elif [ "$t" -ge "$next_fault" ] && [ "$t" -lt $((seconds - 8)) ]; then
    in_fault=${faults[$((fault_index % ${#faults[@]}))]}
    fault_index=$((fault_index + 1))
    echo "$(now_ms) start $in_fault $r" >>"$work/faults"
    apply_fault "$in_fault"
    fault_end=$((t + fault_seconds))
    next_fault=$((t + period))
  else
    r=$((r + 1)); write_round "$r"
  fi
  sleep "$(awk -v s="$tick" -v n="$(date +%s.%N)" 'BEGIN {d = 1 - (n - s); print (d > 0) ? d : 0}')"
done
# A fault still open when the load ended is put right, but its recovery cannot be seen.
[ -n "$in_fault" ] && { r=$((r + 1)); write_round "$r"; echo "soak: the $in_fault fault was still open when the load ended"; }
if [ -n "$server_died" ]; then
  echo "soak: the server ended after $server_died s of the load" >&2
  tail -5 "$work/server.err" >&2
  server_pid=""  # nothing left to stop
  exit 1
fi
wait "$client_pid"; client_status=$?
client_pid=""
cpu_end=$(server_cpu)
[ -n "$half_hwm" ] || half_hwm=$start_hwm
record_memory "end"; end_hwm=$last_hwm

cat "$work/client.out"
echo
echo "server CPU during the load: $(awk -v a="$cpu_start" -v b="$cpu_end" -v s="$seconds" 'BEGIN {printf "%.1f s (%.2f cores)", b - a, (b - a) / s}')"
echo
echo "## faults: length, answers in its whole seconds and the newest round they showed; the round that put it right"
ok=yes
fail() { echo "FAIL: $*"; ok=no; }
[ "$client_status" = 0 ] || fail "the client reported failures or torn pages (exit $client_status)"
grep -q "^SOAK " "$work/client.out" || fail "the client gave no summary"

# Seconds of each fault with answers, and the first round >= the fixing round seen within 2 s.
recovered=0; fault_count=0; worst_ms=0
while read -r ms what kind rnd; do
  if [ "$what" = start ]; then
    started=$ms
    last_good=$rnd
    continue
  fi
  fault_count=$((fault_count + 1))
  seen_ms=$(awk -v r="$rnd" '$1 == "seen" && $3 >= r {print $2; exit}' "$work/seen")
  served=$(awk -v a="$started" -v b="$ms" '$1 == "second" && $2 >= a && $2 + 1000 <= b && $5 > n {n = $5} END {print n + 0}' "$work/seen")
  quiet=$(awk -v a="$started" -v b="$ms" '$1 == "second" && $2 >= a && $2 + 1000 <= b && $3 == 0 {n++} END {print n + 0}' "$work/seen")
  answers=$(awk -v a="$started" -v b="$ms" '$1 == "second" && $2 >= a && $2 + 1000 <= b {n += $3} END {print n + 0}' "$work/seen")
  if [ -z "$seen_ms" ]; then
    fail "$kind: round $rnd (written at $ms) was never seen"
    lag="never"
  else
    lag=$((seen_ms - ms))
    [ "$lag" -gt "$worst_ms" ] && worst_ms=$lag
    if [ "$lag" -le 2000 ]; then recovered=$((recovered + 1)); else fail "$kind: round $rnd seen $lag ms after it was written"; fi
  fi
  [ "$quiet" = 0 ] || fail "$kind: $quiet seconds of the fault without any answer"
  [ "$served" -ge 1 ] && [ "$served" -le "$last_good" ] || fail "$kind: round $served on the pages during the fault, the last good one is $last_good"
  printf '%-11s %5d ms: %6d answers showing round %4d (last good %4d); round %4d on the pages %s ms after it was written\n' \
    "$kind" $((ms - started)) "$answers" "$served" "$last_good" "$rnd" "$lag"
done <"$work/faults"
[ "$fault_count" -gt 0 ] || fail "no fault was injected (the run is too short)"

# Every round written: when the pages first showed it or a newer one.
echo
awk '$1 == "second" {n++; if ($3 == 0) {z++; if (list == "") list = ""; if (z <= 8) list = list " " n - 1}; if ($3 > max) max = $3}
     END {printf "seconds of the load without any answer: %d of %d%s; most answers in one second: %d\n", z, n, z ? " (at" list " s)" : "", max}' "$work/seen"
awk '
  FNR == NR { if ($1 == "seen") { n++; seen_ms[n] = $2; seen_round[n] = $3 } next }
  {
    lag = -1
    for (i = 1; i <= n; i++) if (seen_round[i] >= $2) { lag = seen_ms[i] - $1; break }
    if (lag < 0) { never++; next }
    lags[++m] = lag; sum += lag; if (lag > max) max = lag
  }
  END {
    for (i = 2; i <= m; i++) { v = lags[i]; for (j = i - 1; j >= 1 && lags[j] > v; j--) lags[j + 1] = lags[j]; lags[j + 1] = v }
    printf "rounds written: %d; on the pages after: median %d ms, max %d ms (%d shown, %d never before the end)\n", \
      m + never, m ? lags[int((m + 1) / 2)] : 0, max, m, never
  }' "$work/seen" "$work/written"

echo
echo "## server memory"
printf '%s\n' "${mem_lines[@]}"
growth=$(( (end_hwm - half_hwm) * 1024 ))
echo "peak resident memory (VmHWM): $half_hwm KiB at half time (${half_at} s), $end_hwm KiB at the end"
echo "growth over the second half: $growth bytes; one snapshot image: $snapshot_bytes bytes"
[ "$growth" -lt "$snapshot_bytes" ] || fail "peak memory grew by $growth bytes in the second half, more than one snapshot ($snapshot_bytes bytes)"

reads=$(grep -c "read again" "$work/server.err")
not_read=$(grep -c "not read" "$work/server.err")
failures=$(grep -c "^.\{20\}failure" "$work/server.err")
echo
written=$(wc -l <"$work/written")
awk -v n="$written" -v s="$seconds" -v f="$fault_count" -v d="$fault_seconds" 'BEGIN {
  want = s - f * d; if (n < 0.8 * want) printf "note: only %d rounds written for about %d planned: ringolan-mkdemo could not write one a second\n", n, want }'
echo "## server log: $reads states read, $not_read attempts not read, $failures page failures; rounds written: $r"
grep "not read" "$work/server.err" | sed 's/^/  /' | cut -c1-200 | sort -u -k4 | head -4
[ "$failures" = 0 ] || { fail "the server logged page failures"; grep "failure" "$work/server.err" | head -5; }
[ "$unreadable_fault" = yes ] || echo "unreadable file: $unreadable_fault"

summary="SOAKSH result=$([ $ok = yes ] && echo pass || echo fail) faults=$fault_count recovered=$recovered worst_recovery_ms=$worst_ms growth_bytes=$growth snapshot_bytes=$snapshot_bytes"
echo
echo "$summary"
[ "$ok" = yes ]
