#!/usr/bin/env bash
# Configures and builds the trees the README's commands use:
#   build/linux       the Linux twin (i386 ELF), bench host and tools; it also
#                     draws the bitmaps of Korvane.gau (build/linux/art)
#   build/win         the PE32 deliverables (MinGW-w64), carrying those
#                     bitmaps, and their tests
#   build/linux-asan  the Linux twin under AddressSanitizer and UBSan (tests)
# Trees are built in the order linux, win, linux-asan whatever the order given,
# since the PE build takes its bitmaps from the Linux tree.
# Usage: scripts/build.sh [linux] [win] [linux-asan]   (default: linux win)
# KORVANE_LINUX_TARGETS="a b" builds only those targets of build/linux.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc 2>/dev/null || echo 2)

requested=("$@")
[ "${#requested[@]}" -gt 0 ] || requested=(linux win)
trees=()
for tree in linux win linux-asan; do
  for r in "${requested[@]}"; do
    if [ "$r" = "$tree" ]; then trees+=("$tree"); break; fi
  done
done
for r in "${requested[@]}"; do
  case "$r" in linux|win|linux-asan) ;; *) echo "unknown tree: $r" >&2; exit 2 ;; esac
done

# Rebuilds of the same sources, in this checkout or a fresh clone elsewhere,
# come from the compiler cache: paths are taken relative to the checkout and
# the working directory is left out of the cache key.
launcher=()
if command -v ccache >/dev/null 2>&1; then
  export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=true
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi

# Whether Wine can run the Windows tree's tests on this machine.
. scripts/i386.sh
wine_runs=yes
i386_native || wine_runs=no

for tree in "${trees[@]}"; do
  case "$tree" in
    win)
      cmake -S . -B build/win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" \
        >/dev/null ;;
    linux)
      cmake -S . -B build/linux -DCMAKE_TOOLCHAIN_FILE=cmake/linux-i386.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DKORVANE_PE_DIR="$root/build/win" "${launcher[@]}" >/dev/null ;;
    linux-asan)
      cmake -S . -B build/linux-asan -DCMAKE_TOOLCHAIN_FILE=cmake/linux-i386.cmake -DCMAKE_BUILD_TYPE=Debug \
        -DKORVANE_SANITIZE=ON -DKORVANE_PE_DIR="$root/build/win" "${launcher[@]}" >/dev/null ;;
    *) echo "unknown tree: $tree" >&2; exit 2 ;;
  esac
  targets=()
  if [ "$tree" = win ] && [ "$wine_runs" = no ]; then
    # Wine cannot run the Windows tree's tests here: build what the Linux
    # side reads and ships (the deliverables) and the Windows tool.
    targets=(--target Korvane Dropwatch gaugebench)
    echo "== building build/$tree: deliverables and gaugebench.exe only (this kernel runs no 32-bit code, so no Wine)"
  elif [ "$tree" = linux ] && [ -n "${KORVANE_LINUX_TARGETS:-}" ]; then
    # The test command runs the suite on the sanitized tree: of this one it
    # needs only what the other trees and the browser tests take from it.
    read -r -a targets <<<"$KORVANE_LINUX_TARGETS"
    targets=(--target "${targets[@]}")
    echo "== building build/$tree: ${KORVANE_LINUX_TARGETS}"
  else
    echo "== building build/$tree"
  fi
  cmake --build "build/$tree" -j"$jobs" "${targets[@]}"
done
