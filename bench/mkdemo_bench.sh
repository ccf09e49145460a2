#!/usr/bin/env bash
# Times ringolan-mkdemo for 1,000 / 10,000 / 50,000 shooters and prints wall time, peak memory
# and file size. Builds nothing: pass the folder of a (Release) build.
#   bench/mkdemo_bench.sh BUILD_DIR [SHOOTERS...]
set -euo pipefail

if [ $# -lt 1 ] || [ ! -d "$1" ]; then
  echo "usage: $0 BUILD_DIR [SHOOTERS...]   (BUILD_DIR: a Release build folder)" >&2
  exit 2
fi
build=$1
shift
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1000 10000 50000)

exe=$build/tools/mkdemo/ringolan-mkdemo
if [ ! -x "$exe" ]; then
  echo "$exe not found; build it first: cmake --build $build --target ringolan-mkdemo" >&2
  exit 1
fi
if grep -qs '^CMAKE_BUILD_TYPE:STRING=Release$' "$build/CMakeCache.txt"; then :; else
  echo "warning: $build is not a Release build; times will not be representative" >&2
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

printf '%10s %10s %12s %14s %12s\n' shooters "wall s" "peak MiB" "file bytes" rows
for n in "${sizes[@]}"; do
  out=$work/demo_$n.mdb
  if [ -x /usr/bin/time ]; then
    /usr/bin/time -f '%e %M' -o "$work/time" "$exe" --shooters "$n" --seed 1 -o "$out" > "$work/summary"
    read -r wall kib < "$work/time"
    peak=$(awk -v k="$kib" 'BEGIN { printf "%.0f", k / 1024 }')
  else
    start=$(date +%s.%N)
    "$exe" --shooters "$n" --seed 1 -o "$out" > "$work/summary"
    end=$(date +%s.%N)
    wall=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }')
    peak=-
  fi
  rows=$(sed -n 's/.* tables, \([0-9]*\) rows,.*/\1/p' "$work/summary")
  printf '%10s %10s %12s %14s %12s\n' "$n" "$wall" "$peak" "$(stat -c %s "$out")" "$rows"
  rm -f "$out"
done
