#!/usr/bin/env bash
# Installs every build and test dependency on a fresh Debian 12 machine.
set -euo pipefail
pkgs=(build-essential cmake pkg-config zlib1g-dev libsqlite3-dev libpugixml-dev nettle-dev libssl-dev
      libgtest-dev qt6-base-dev fonts-dejavu-core tzdata
      clang libclang-rt-14-dev)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
