#!/usr/bin/env bash
# Runs the long checks that CI leaves out (full-size demo read back through every reader)
# on an optimised build. Expects scripts/test.sh to have installed everything once.
set -euo pipefail
cd "$(dirname "$0")/.."
( cd tests/readers && [ -d node_modules ] || npm ci --no-audit --no-fund --loglevel=error )
cmake -S . -B build-long -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build-long -j"$(nproc)"
RINGOLAN_LONG_TESTS=1 ctest --test-dir build-long --output-on-failure -R 'FiftyThousand|KilledAfterRandomDelays'
