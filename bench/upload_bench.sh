#!/usr/bin/env bash
# Uploads the demo competition (50,000 shooters unless given) to a local ringolan-site with
# ringolan-upload and prints the total time, the bytes posted, the peak memory and CPU time of the
# upload process and the site's CPU time; then the time `gzip -6` takes for the same statement
# lines (kept with --keep-dumps) and the ratio of the two. Builds nothing: pass the folder of a
# (Release) build that has ringolan-upload, ringolan-site and ringolan-mkdemo. DATABASE is the
# site's --database (default: SQLite in the work folder), e.g. a postgresql:// address.
#   bench/upload_bench.sh BUILD_DIR [SHOOTERS] [DATABASE]
set -euo pipefail

if [ $# -lt 1 ] || [ ! -d "$1" ]; then
  echo "usage: $0 BUILD_DIR [SHOOTERS] [DATABASE]   (BUILD_DIR: a Release build folder)" >&2
  exit 2
fi
build=$1
shooters=${2:-50000}
database=${3:-sqlite}
upload=$build/upload/ringolan-upload
site=$build/site/ringolan-site
mkdemo=$build/tools/mkdemo/ringolan-mkdemo
for exe in "$upload" "$site" "$mkdemo"; do
  if [ ! -x "$exe" ]; then
    echo "$exe not found; build it first: cmake --build $build --target ringolan-upload ringolan-site ringolan-mkdemo" >&2
    exit 1
  fi
done
if ! grep -qs '^CMAKE_BUILD_TYPE:STRING=Release$' "$build/CMakeCache.txt"; then
  echo "warning: $build is not a Release build; times will not be representative" >&2
fi

work=$(mktemp -d)
site_pid=
cleanup() {
  [ -n "$site_pid" ] && kill "$site_pid" 2>/dev/null && wait "$site_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

"$mkdemo" --shooters "$shooters" --seed 1 -o "$work/demo.mdb" > /dev/null
hash=$(printf 'bench\n' | "$site" --hash-password --iterations 1000)
printf '{"accounts":[{"id":"bench","password":"%s"}]}\n' "$hash" > "$work/accounts.json"
printf 'bench\n' > "$work/pw"
mkfifo "$work/site.out"
"$site" --accounts "$work/accounts.json" --data "$work/site" --database "$database" --port 0 --listen 127.0.0.1 > "$work/site.out" &
site_pid=$!
exec 3< "$work/site.out"
read -r line <&3
port=$(sed -n 's/.*127\.0\.0\.1:\([0-9]*\)\/.*/\1/p' <<< "$line")
[ -n "$port" ] || { echo "ringolan-site did not start: $line" >&2; exit 1; }

args=(--db "$work/demo.mdb" --url "http://127.0.0.1:$port" --id bench --password-file "$work/pw"
      --work-dir "$work" --stats)
# An older build cannot keep its statement lines; it is timed without the gzip -6 comparison.
keep=yes
if "$upload" --help | grep -q -- --keep-dumps; then args+=(--keep-dumps); else keep=; fi
echo "demo: $shooters shooters, $(stat -c %s "$work/demo.mdb") bytes; site database: ${database%%://*}"
# CPU seconds (user + system) the site has used so far.
site_cpu() { awk -v hz="$(getconf CLK_TCK)" '{ printf "%.2f", ($14 + $15) / hz }' "/proc/$site_pid/stat"; }
now() { date +%s.%N; }
# a - b, and a / b
sub() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a - b }'; }
div() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
site_before=$(site_cpu)
started=$(now)
if [ -x /usr/bin/time ]; then
  /usr/bin/time -f 'time -v: wall %e s, cpu user %U s system %S s (with the reading child), peak %M KiB' \
    "$upload" "${args[@]}" > "$work/log" 2> "$work/err"
else
  "$upload" "${args[@]}" > "$work/log" 2> "$work/err"
fi
upload_s=$(sub "$(now)" "$started")
site_after=$(site_cpu)
cat "$work/log"
cat "$work/err"
echo "site cpu: $(sub "$site_after" "$site_before") s"

if [ -z "$keep" ]; then
  echo "upload $upload_s s (no --keep-dumps in this build: no gzip -6 comparison)"
  exit 0
fi

# The statement lines of all tables, in upload order, and gzip -6 over them.
mapfile -t tables < <(sed -n 's/^\(.*\)-Daten (.*) OK *$/\1/p' "$work/log")
for t in "${tables[@]}"; do cat "$work/dbench.$t.sql"; done > "$work/all.sql"
started=$(now)
gzip -6 -c "$work/all.sql" > "$work/all.sql.gz"
gzip_s=$(sub "$(now)" "$started")
printf 'dump: %d bytes in %d tables; gzip -6: %d bytes\n' "$(stat -c %s "$work/all.sql")" "${#tables[@]}" \
  "$(stat -c %s "$work/all.sql.gz")"
echo "upload $upload_s s, gzip -6 $gzip_s s, ratio $(div "$upload_s" "$gzip_s")"
