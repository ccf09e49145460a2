#!/usr/bin/env bash
# Screenshots of the page server's pages at a phone and a desktop size, taken by headless Chromium.
#
#   scripts/screenshots.sh [--db FILE.mdb] [--out DIR] [--build DIR] [ADDRESS...]
#
# Starts build/app/ringolan-server on the competition file (default demo/demo.mdb, made by
# scripts/demo.sh) on a free port of 127.0.0.1, saves <out>/<address>-phone.png (390x844) and
# <out>/<address>-desktop.png (1280x900) for every address (default: the start page, the shooter
# page, a target picture, a results list and the club list of the file's first ranked shooter),
# and stops the server. Chromium is not a dependency of Ringolan: without it the script says so
# and ends with exit code 3.
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
DB="$ROOT/demo/demo.mdb"
OUT="$ROOT/docs/screenshots"
BUILD="$ROOT/build"
ADDRESSES=()

usage() { sed -n '4p' "$0" | sed 's/^#  *//'; }

while [ $# -gt 0 ]; do
  case "$1" in
    --db) DB="$2"; shift 2 ;;
    --out) OUT="$2"; shift 2 ;;
    --build) BUILD="$2"; shift 2 ;;
    -h|--help) usage; exit 0 ;;
    --*) echo "screenshots: unknown option $1" >&2; usage >&2; exit 2 ;;
    *) ADDRESSES+=("$1"); shift ;;
  esac
done

SERVER="$BUILD/app/ringolan-server"
[ -x "$SERVER" ] || { echo "screenshots: $SERVER not built (cmake --build $BUILD --target ringolan-server)" >&2; exit 2; }
[ -f "$DB" ] || { echo "screenshots: no competition file $DB (scripts/demo.sh makes demo/demo.mdb)" >&2; exit 2; }

BROWSER=""
for b in chromium chromium-browser google-chrome; do
  if command -v "$b" >/dev/null 2>&1; then BROWSER="$(command -v "$b")"; break; fi
done
if [ -z "$BROWSER" ]; then
  echo "screenshots: Chromium not found. The screenshots need a headless Chromium (chromium," \
       "chromium-browser or google-chrome on PATH); it is not part of Ringolan's dependencies." >&2
  exit 3
fi

# First value of column want in table, among the rows whose column col equals val (all rows without col).
# awk reads to the end: leaving early would fail the pipeline on mdb-export's broken pipe.
first_value() {
  mdb-export -d '|' -Q "$DB" "$1" | awk -F'|' -v want="$2" -v col="${3:-}" -v val="${4:-}" '
    NR == 1 { for (i = 1; i <= NF; i++) { h = tolower($i); if (h == tolower(want)) w = i; if (col != "" && h == tolower(col)) c = i }
              next }
    !done && w && (col == "" || (c && $c == val)) { print $w; done = 1 }'
}

if [ ${#ADDRESSES[@]} -eq 0 ]; then
  st="$(first_value raenge Startnr)"
  titel="$(first_value raenge ErglistID)"
  erg="$(first_value ergebnis Erg_id Startnr "$st")"
  bz="$(first_value ergebnis DP_Id Startnr "$st")"
  sid="$(first_value zuordnung Scheiben_id Erg_id "$erg")"
  ADDRESSES=(start.php "est.php?ST=$st" "sb.php?ST=$st&sb=LG1&bz=$bz&sid=$sid"
             "erl.php?startnr=$st&titel=$titel&Rang=1" vstbl.php)
fi

port_in_use() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
PORT=""
base=$((20000 + RANDOM % 20000))
for p in $(seq "$base" $((base + 200))); do
  if ! port_in_use "$p"; then PORT="$p"; break; fi
done
[ -n "$PORT" ] || { echo "screenshots: no free port found" >&2; exit 1; }

WORK="$(mktemp -d)"
SERVER_PID=""
cleanup() {
  if [ -n "$SERVER_PID" ]; then
    kill "$SERVER_PID" 2>/dev/null || true
    wait "$SERVER_PID" 2>/dev/null || true
  fi
  rm -rf "$WORK"
}
trap cleanup EXIT

"$SERVER" --db "$DB" --port "$PORT" --bind 127.0.0.1 >"$WORK/server.log" 2>&1 &
SERVER_PID=$!
for _ in $(seq 1 150); do
  port_in_use "$PORT" && break
  if ! kill -0 "$SERVER_PID" 2>/dev/null; then
    echo "screenshots: ringolan-server ended:" >&2; cat "$WORK/server.log" >&2; SERVER_PID=""; exit 1
  fi
  sleep 0.2
done
port_in_use "$PORT" || { echo "screenshots: ringolan-server does not answer on port $PORT" >&2; exit 1; }

SANDBOX=()
[ "$(id -u)" -ne 0 ] || SANDBOX=(--no-sandbox)  # Chromium refuses its sandbox as root
mkdir -p "$OUT"
for address in "${ADDRESSES[@]}"; do
  address="${address#/}"
  name="$(printf '%s' "${address:-index}" | tr -c 'A-Za-z0-9.' '_' | cut -c1-80)"
  for size in phone:390,844 desktop:1280,900; do
    file="$OUT/$name-${size%%:*}.png"
    timeout 90 "$BROWSER" --headless "${SANDBOX[@]}" --disable-gpu --hide-scrollbars --no-first-run \
      --user-data-dir="$WORK/profile" --virtual-time-budget=3000 --window-size="${size#*:}" \
      --screenshot="$file" "http://127.0.0.1:$PORT/$address" >"$WORK/browser.log" 2>&1 ||
      { echo "screenshots: Chromium failed on $address:" >&2; tail -5 "$WORK/browser.log" >&2; exit 1; }
    echo "$file"
  done
done
