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
  [fuzz_site_statements]=tests/site/fuzz_corpus/site_statements
  [fuzz_http_reply]=tests/upload/fuzz_corpus/http_reply
)
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then targets=("${!seeds[@]}"); fi
build=build-fuzz
CC=clang-14 CXX=clang++-14 cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DRINGOLAN_SANITIZE=ON -DRINGOLAN_FUZZ=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"
for target in "${targets[@]}"; do
  program=$(find "$build" -type f -name "$target" -perm -u+x | head -n1)
  corpus="$build/corpus/$target"
  mkdir -p "$corpus" "$build/crashes"
  cp -n "${seeds[$target]}"/* "$corpus"/ 2>/dev/null || true
  echo "== $target for ${seconds}s"
  "$program" -max_total_time="$seconds" -max_len=20000 -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$build/crashes/$target-" "$corpus" 2>&1 | grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units|==[0-9]+==ERROR|SUMMARY|Done)' || true
  if ls "$build/crashes/$target-"* >/dev/null 2>&1; then
    echo "$target: crash inputs in $build/crashes/" >&2
    exit 1
  fi
done
