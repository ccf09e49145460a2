#!/usr/bin/env bash
# Installs what is needed, builds with AddressSanitizer/UBSan and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
( cd tests/readers && npm ci --no-audit --no-fund --loglevel=error )
( cd tests/live && npm ci --no-audit --no-fund --loglevel=error )
# One translation unit per few sources (unity build): the sanitizer build takes about 40 % less CPU.
cmake -S . -B build-test -DCMAKE_BUILD_TYPE=Debug -DRINGOLAN_SANITIZE=ON -DCMAKE_UNITY_BUILD=ON
cmake --build build-test -j"$(nproc)"
# The PostgreSQL store tests run against a throwaway cluster.
bash scripts/with-postgres.sh ctest --test-dir build-test --output-on-failure -j"$(nproc)"
# A short libFuzzer run of every fuzz target, 6 s each (longer runs: scripts/fuzz.sh SECONDS).
bash scripts/fuzz.sh 6
# The Debian packages: built, checked with lintian, installed, served from, purged.
bash scripts/package-test.sh
