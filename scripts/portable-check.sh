#!/usr/bin/env bash
# Builds the core with clang, without the Qt programs, every warning an error: what a port to
# another compiler or system meets first. Tests are left out unless TESTS=ON.
#   scripts/portable-check.sh            (build tree build-clang/; CC/CXX default to clang-14)
set -euo pipefail
cd "$(dirname "$0")/.."
export CC=${CC:-clang-14} CXX=${CXX:-clang++-14}
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S . -B build-clang -DCMAKE_BUILD_TYPE=Release -DRINGOLAN_WINDOW=OFF -DRINGOLAN_TESTS="${TESTS:-OFF}" \
  -DCMAKE_COMPILE_WARNING_AS_ERROR=ON "${launcher[@]}" >/dev/null
cmake --build build-clang -j"$(nproc)"
