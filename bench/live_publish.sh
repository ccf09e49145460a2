#!/usr/bin/env bash
# Live publishing against a local site: a demo competition changed in place by
# `ringolan-mkdemo --live` while `ringolan-upload --follow` publishes it to `ringolan-site`.
# Times each change from its last page write (the simulator's trace) to the acknowledgement of
# the first batch read after it (the publisher's trace), and checks at the end that the site
# holds what a classic upload of the final file sends (row counts per table).
#   bench/live_publish.sh BUILD_DIR [SHOOTERS] [RATE] [SECONDS] [DATABASE]   (default 300, 2/s, 30 s)
# DATABASE is the site's --database (default: SQLite in the work folder), e.g. a postgresql://
# address. Prints the first batch ("FIRST lines=N ms=M": from the publisher's start to its
# acknowledgement), each batch line, then "LIVE changes=N batches=N median_ms=M max_ms=M".
# A viewer holds the account's live event stream open meanwhile: "VIEW median_ms=A..B max_ms=A..B"
# is the time from each change to the site's live view announcing a state that holds it: the
# first state announced after the batch's acknowledgement (A) holds it unless that state was read
# before the acknowledgement, the second (B) always.
# KEEP_ACKS=FILE keeps the publisher's trace (per batch: times, lines, ms preparing and sending).
set -uo pipefail

[ $# -ge 1 ] || { echo "usage: bench/live_publish.sh BUILD_DIR [SHOOTERS] [RATE] [SECONDS] [DATABASE]" >&2; exit 2; }
build=$(cd "$1" && pwd) || exit 2
shooters=${2:-300}
rate=${3:-2}
seconds=${4:-30}
database=${5:-sqlite}
mkdemo=$build/tools/mkdemo/ringolan-mkdemo
site=$build/site/ringolan-site
upload=$build/upload/ringolan-upload
for f in "$mkdemo" "$site" "$upload" "$build/db/snapshot/ringolan-snapshot-reader"; do
  [ -x "$f" ] || { echo "live_publish: $f is missing (build ringolan-mkdemo ringolan-site ringolan-upload ringolan-snapshot-reader)" >&2; exit 2; }
done

work=$(mktemp -d /tmp/ringolan-live-publish.XXXXXX)
site_pid=""; follow_pid=""; viewer_pid=""
cleanup() {
  for p in $viewer_pid $follow_pid $site_pid; do kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

"$mkdemo" --shooters "$shooters" -o "$work/demo.mdb" >/dev/null || { echo "live_publish: mkdemo failed" >&2; exit 2; }
echo demo >"$work/pw"
hash=$(echo demo | "$site" --hash-password --iterations 1000)
echo "{\"accounts\":[{\"id\":\"demo\",\"password\":\"$hash\"},{\"id\":\"classic\",\"password\":\"$hash\"}]}" >"$work/accounts.json"
"$site" --accounts "$work/accounts.json" --data "$work/site" --database "$database" --port 0 --listen 127.0.0.1 >"$work/site.out" 2>&1 &
site_pid=$!
for _ in $(seq 100); do grep -q listening "$work/site.out" 2>/dev/null && break; sleep 0.1; done
port=$(sed -n 's|.*http://[^:]*:\([0-9]*\)/.*|\1|p' "$work/site.out" | head -1)
[ -n "$port" ] || { echo "live_publish: the site did not start" >&2; cat "$work/site.out" >&2; exit 2; }
url=http://127.0.0.1:$port/

"$upload" --follow --db "$work/demo.mdb" --url "$url" --id demo --password-file "$work/pw" \
  --trace "$work/acks" >"$work/follow.out" 2>"$work/follow.err" &
follow_pid=$!
started=$(date +%s%3N)
for _ in $(seq 3000); do [ -s "$work/acks" ] && break; sleep 0.02; done
[ -s "$work/acks" ] || { echo "live_publish: no first batch" >&2; cat "$work/follow.err" >&2; exit 1; }
echo "FIRST lines=$(awk 'NR==1{print $5}' "$work/acks") ms=$(( $(date +%s%3N) - started ))"
echo "live_publish: $shooters shooters, $rate changes/s for $seconds s, site $url"
# The viewer: the time of each state its event stream announces.
curl -sN "${url}a/demo/api/v1/events" |
  python3 -u -c 'import sys, time
for line in sys.stdin:
    if line.startswith("id: "): print(int(time.time() * 1000), line[4:].strip(), flush=True)' >"$work/views" &
viewer_pid=$!
for _ in $(seq 600); do [ -s "$work/views" ] && break; sleep 0.1; done
"$mkdemo" --live "$work/demo.mdb" --changes-per-second "$rate" --seconds "$seconds" --trace "$work/changes" >/dev/null
# Waits (at most 30 s) for a batch read after the last change: a cycle takes seconds at 50,000 shooters.
last_change=$(awk 'END{print $1}' "$work/changes")
for _ in $(seq 300); do
  [ "$(awk 'END{print $2}' "$work/acks")" -ge $(( ${last_change:-0} - 50 )) ] 2>/dev/null && break
  sleep 0.1
done
cp "$work/acks" "${KEEP_ACKS:-/dev/null}" 2>/dev/null
sleep 1; for _ in $(seq 300); do  # the live view's last state after the last batch
  [ "$(awk 'END{print $1}' "$work/views")" -gt "$(awk 'END{print $1}' "$work/acks")" ] 2>/dev/null && break
  sleep 0.1
done
kill "$follow_pid"; wait "$follow_pid" 2>/dev/null; follow_pid=""
pkill -P "$viewer_pid" curl 2>/dev/null; kill "$viewer_pid" 2>/dev/null; viewer_pid=""
cat "$work/follow.out"
grep -v "^$" "$work/follow.err" | tail -5

# The classic upload of the final file into the other account, then the counts of both.
"$upload" --db "$work/demo.mdb" --url "$url" --id classic --password-file "$work/pw" --work-dir "$work" >/dev/null ||
  { echo "live_publish: the classic upload failed" >&2; exit 1; }
same=yes
for t in starter raenge verein ergebnis zuordnung scheiben wettk wettb_def wettb_opt_def mann_teiln mannschaft veranstaltung; do
  a=$(curl -s "${url}ergebnisse/anzahl.php?id=demo&tabelle=$t"); b=$(curl -s "${url}ergebnisse/anzahl.php?id=classic&tabelle=$t")
  [ "$a" = "$b" ] || { echo "live_publish: $t has $a rows live, $b classic"; same=no; }
done

# Changes: "ms_after_last_write startnr ..."; acks: "ack_ms file_mtime_ms sequence deleted inserted attempts".
python3 - "$work/changes" "$work/acks" "$same" "$work/views" <<'PY'
import sys, statistics
changes = [int(l.split()[0]) for l in open(sys.argv[1]) if l.strip()]
acks = [tuple(int(x) for x in l.split()[:2]) for l in open(sys.argv[2]) if l.strip()]
views = [int(l.split()[0]) for l in open(sys.argv[4]) if l.strip()]
delays, first, seen, missing = [], [], [], 0
for c in changes:
    # the first batch read from the file after the change (its writes end just before c)
    hit = next((ack for ack, mtime in acks if mtime >= c - 50), None)
    if hit is None: missing += 1; continue
    delays.append(hit - c)
    after = [v for v in views if v >= hit][:2]
    if after: first.append(after[0] - c); seen.append(after[-1] - c)
if not delays: print("LIVE no change was published"); sys.exit(1)
if seen:
    print(f"VIEW changes={len(seen)} median_ms={statistics.median(first):.0f}..{statistics.median(seen):.0f} "
          f"max_ms={max(first)}..{max(seen)}")
print(f"LIVE changes={len(changes)} batches={len(acks)} unpublished={missing} "
      f"median_ms={statistics.median(delays):.0f} max_ms={max(delays)} same_counts={sys.argv[3]}")
sys.exit(0 if missing == 0 and sys.argv[3] == "yes" else 1)
PY
