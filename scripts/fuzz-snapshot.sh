#!/usr/bin/env bash
# Fuzzes the isolated snapshot build with libFuzzer: damaged demo files must give an image or
# an error, never a crash of the parent. Builds with clang into build-fuzz (ASan, UBSan).
#   scripts/fuzz-snapshot.sh [SECONDS]   (default 300)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-300}
build=build-fuzz
CC=clang-14 CXX=clang++-14 cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DRINGOLAN_SANITIZE=ON -DRINGOLAN_FUZZ=ON >/dev/null
cmake --build "$build" -j2 --target fuzz_snapshot ringolan-snapshot-reader
corpus="$build/fuzz-corpus"
mkdir -p "$corpus"
# Seeds: one damage in the header page, a few in the catalog, the file cut at 40 %.
printf '\x00\x10\x00\x00\x00\xff' >"$corpus/seed-header"
printf '\x00\x00\x08\x00\x00\x41\x10\x09\x00\x00\x00\x80\x0c\x00\x00\x7f' >"$corpus/seed-catalog"
printf '\x01\x00\x00\x03\x00' >"$corpus/seed-cut"
# libmdb's warnings about damaged rows go to stderr of the reader; keep them out of the log.
exec "$build/tests/db/snapshot/fuzz_snapshot" -max_total_time="$seconds" -timeout=60 \
  -max_len=2048 -len_control=0 -print_final_stats=1 "$corpus" 2> >(grep -v -e '^warning: ' -e 'beyond EOF' \
  -e '^error: reading page' >&2)
