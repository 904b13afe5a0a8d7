#!/usr/bin/env bash
# Configures and builds the trees the README's commands use:
#   build/win         the PE32 deliverables (MinGW-w64) and their tests
#   build/linux       the Linux twin (i386 ELF), bench host and tools
#   build/linux-asan  the Linux twin under AddressSanitizer and UBSan (tests)
# Usage: scripts/build.sh [win] [linux] [linux-asan]   (default: win linux)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc 2>/dev/null || echo 2)

trees=("$@")
[ "${#trees[@]}" -gt 0 ] || trees=(win linux)

for tree in "${trees[@]}"; do
  case "$tree" in
    win)
      cmake -S . -B build/win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null ;;
    linux)
      cmake -S . -B build/linux -DCMAKE_TOOLCHAIN_FILE=cmake/linux-i386.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DKORVANE_PE_DIR="$root/build/win" >/dev/null ;;
    linux-asan)
      cmake -S . -B build/linux-asan -DCMAKE_TOOLCHAIN_FILE=cmake/linux-i386.cmake -DCMAKE_BUILD_TYPE=Debug \
        -DKORVANE_SANITIZE=ON -DKORVANE_PE_DIR="$root/build/win" >/dev/null ;;
    *) echo "unknown tree: $tree" >&2; exit 2 ;;
  esac
  echo "== building build/$tree"
  cmake --build "build/$tree" -j"$jobs"
done
