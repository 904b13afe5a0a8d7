#!/usr/bin/env bash
# Installs every package the build and the tests need on a fresh Debian machine.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

packages=(
  cmake make g++ g++-multilib
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  googletest
  wine wine32:i386
  xvfb xauth
  pkg-config libcairo2-dev:i386 libfreetype-dev:i386 fonts-dejavu-core fonts-dejavu-extra
)

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
# wine32 lives in the i386 architecture; the multiarch foreign arch must exist first.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  need_update=1
fi
if [ "${#missing[@]}" -gt 0 ] || [ -n "${need_update:-}" ]; then
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
