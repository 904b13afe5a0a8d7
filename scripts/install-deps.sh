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

# i386 programs run under qemu-i386 where the kernel runs no 32-bit code
# ("F": the emulator is opened now, so it serves every later exec).
. "$(dirname "$0")/i386.sh"
probe_dir=$(mktemp -d)
trap 'rm -rf "$probe_dir"' EXIT
i386_build_probe "$probe_dir/probe"
if ! "$probe_dir/probe" 2>/dev/null; then
  if ! dpkg -s qemu-user-static >/dev/null 2>&1; then
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends qemu-user-static
  fi
  binfmt=$(dirname "$i386_binfmt")
  [ -e "$binfmt/register" ] || $SUDO mount -t binfmt_misc binfmt_misc "$binfmt"
  if [ ! -e "$i386_binfmt" ]; then
    echo ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
      | $SUDO tee "$binfmt/register" >/dev/null
  fi
  "$probe_dir/probe" || { echo "install-deps: i386 programs do not run on this machine" >&2; exit 1; }
  echo "install-deps: this kernel runs no 32-bit code: i386 programs run under qemu-i386, Wine cannot run"
fi
