#!/usr/bin/env bash
# Runs libFuzzer targets (clang, ASan, UBSan) for a while each, starting from the seed corpora in
# the repository; new inputs are kept in build-fuzz/corpus/, crashes in build-fuzz/crashes/.
#   scripts/fuzz.sh [SECONDS] [TARGET...]      (default: 60 s, every target below)
# A crash makes the script fail; turn the crashing input into a regression test.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
declare -A seeds=(
  [fuzz_request_parser]=tests/server/fuzz_corpus/request_parser
  [fuzz_page_params]=tests/pages/fuzz_corpus/page_params
  [fuzz_api_params]=tests/api/fuzz_corpus/api_params
  [fuzz_site_statements]=tests/site/fuzz_corpus/site_statements
  [fuzz_http_reply]=tests/upload/fuzz_corpus/http_reply
  [fuzz_snapshot]=tests/db/snapshot/fuzz_corpus/snapshot
)
# The snapshot target damages a small demo file and reads it in the reader child process: its
# inputs are short lists of damages, and one input may take a while.
declare -A options=(
  [fuzz_snapshot]="-max_len=2048 -len_control=0 -timeout=60"
)
order=(fuzz_request_parser fuzz_page_params fuzz_api_params fuzz_site_statements fuzz_http_reply fuzz_snapshot)
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then targets=("${order[@]}"); fi
for target in "${targets[@]}"; do
  if [ -z "${seeds[$target]:-}" ]; then echo "unknown fuzz target: $target" >&2; exit 2; fi
done
build=build-fuzz
# Unity build (one translation unit per few sources): on 2 cores 2.2 min instead of 3.3.
CC=clang-14 CXX=clang++-14 cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DRINGOLAN_SANITIZE=ON -DRINGOLAN_FUZZ=ON -DRINGOLAN_WINDOW=OFF -DCMAKE_COMPILE_WARNING_AS_ERROR=ON \
  -DCMAKE_UNITY_BUILD=ON >/dev/null
extra=()
for target in "${targets[@]}"; do
  if [ "$target" = fuzz_snapshot ]; then extra=(ringolan-snapshot-reader); fi
done
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}" "${extra[@]}"
mkdir -p "$build/crashes"
for target in "${targets[@]}"; do
  program=$(find "$build" -type f -name "$target" -perm -u+x | head -n1)
  corpus="$build/corpus/$target"
  mkdir -p "$corpus"
  cp -n "${seeds[$target]}"/* "$corpus"/ 2>/dev/null || true
  echo "== $target for ${seconds}s"
  # libmdb's warnings about damaged pages (snapshot target) are not findings.
  # shellcheck disable=SC2086
  "$program" -max_total_time="$seconds" ${options[$target]:--max_len=20000 -timeout=10} \
    -print_final_stats=1 -artifact_prefix="$build/crashes/$target-" "$corpus" 2>&1 |
    grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units|stat::peak_rss_mb|==[0-9]+==ERROR|SUMMARY|Done|fuzz_)' || true
  if ls "$build/crashes/$target-"* >/dev/null 2>&1; then
    echo "$target: crash inputs in $build/crashes/" >&2
    exit 1
  fi
done
