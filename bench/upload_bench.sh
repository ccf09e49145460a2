#!/usr/bin/env bash
# Uploads the demo competition (50,000 shooters unless given) to a local ringolan-site with
# ringolan-upload and prints the total time, the bytes posted and the peak memory of the
# upload process. Builds nothing: pass the folder of a (Release) build that has
# ringolan-upload, ringolan-site and ringolan-mkdemo.
#   bench/upload_bench.sh BUILD_DIR [SHOOTERS]
set -euo pipefail

if [ $# -lt 1 ] || [ ! -d "$1" ]; then
  echo "usage: $0 BUILD_DIR [SHOOTERS]   (BUILD_DIR: a Release build folder)" >&2
  exit 2
fi
build=$1
shooters=${2:-50000}
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
"$site" --accounts "$work/accounts.json" --data "$work/site" --port 0 --listen 127.0.0.1 > "$work/site.out" &
site_pid=$!
exec 3< "$work/site.out"
read -r line <&3
port=$(sed -n 's/.*127\.0\.0\.1:\([0-9]*\)\/.*/\1/p' <<< "$line")
[ -n "$port" ] || { echo "ringolan-site did not start: $line" >&2; exit 1; }

args=(--db "$work/demo.mdb" --url "http://127.0.0.1:$port" --id bench --password-file "$work/pw"
      --work-dir "$work" --stats)
echo "demo: $shooters shooters, $(stat -c %s "$work/demo.mdb") bytes"
if [ -x /usr/bin/time ]; then
  /usr/bin/time -f 'time -v: wall %e s, peak %M KiB' "$upload" "${args[@]}" > "$work/log" 2> "$work/err"
else
  "$upload" "${args[@]}" > "$work/log" 2> "$work/err"
fi
cat "$work/log"
cat "$work/err"
echo "dump files: $(stat -c %s "$work/dbench.sql") bytes .sql, $(stat -c %s "$work/dbench.sql.gz") bytes .sql.gz (last table)"
