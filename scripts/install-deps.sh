#!/usr/bin/env bash
# Installs every Debian package Ringolan needs to build, test and run. Idempotent.
set -euo pipefail

PACKAGES=(
  cmake g++ make pkg-config
  mdbtools mdbtools-dev
  libsqlite3-dev libicu-dev
  libasio-dev
  qt6-base-dev
  zlib1g-dev libdeflate-dev libssl-dev openssl
  nlohmann-json3-dev
  libqrencode-dev
  libgtest-dev
  nodejs chromium
  clang libclang-rt-14-dev
  dpkg-dev lintian adduser curl util-linux procps
  help2man
  libpq-dev postgresql
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# npm ships inside some nodejs builds; take Debian's only when the command is absent.
command -v npm >/dev/null 2>&1 || missing+=(npm)

if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
