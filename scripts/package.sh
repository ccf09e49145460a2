#!/usr/bin/env bash
# Builds the Debian packages into build-pkg/*.deb: a Release build of only the packaged programs
# (no tests, no benchmarks), linked with full RELRO like Debian's own builds, then CPack.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=build-pkg
# One translation unit per few sources (unity build): on 2 cores 2.0 min instead of 3.6.
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DRINGOLAN_TESTS=OFF -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_EXE_LINKER_FLAGS="-Wl,-z,relro,-z,now" -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON -DCMAKE_UNITY_BUILD=ON
cmake --build "$BUILD" -j"$(nproc)" --target ringolan_packaged
# The man pages when the build can make them.
# (grep reads the whole list: with -q it could end first and fail the pipe under pipefail.)
if cmake --build "$BUILD" --target help | grep -w man >/dev/null; then cmake --build "$BUILD" --target man; fi
rm -f "$BUILD"/*.deb
( cd "$BUILD" && cpack -G DEB )
ls -l "$BUILD"/*.deb
