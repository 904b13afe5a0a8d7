#!/usr/bin/env bash
# Configures and builds the trees the README's commands use:
#   build/win    the PE32 deliverables (MinGW-w64): Korvane.gau with its
#                bitmaps, Dropwatch.gau, KorvaneArtless.gau (Korvane without
#                bitmaps, which artgen reads) and the PE test fixtures
#   build/linux  the bench host for this machine's own 64-bit processor,
#                which runs the PE modules in its emulator: gaugebench,
#                render_bench, artgen (it draws Korvane's bitmaps into
#                build/linux/art), diffdrive and the host's tests
#   build/twin   the modules' i386 twin under AddressSanitizer and UBSan: its
#                tests and the twin's side of the differential
# Korvane.gau carries bitmaps that artgen draws from KorvaneArtless.gau, so
# with both linux and win asked for the order is: win, the art in linux, win
# again (Korvane.gau), the rest of linux; the twin comes last. Whatever the
# order given:
#   scripts/build.sh [--tools] [linux] [win] [twin]      (default: linux win)
# linux alone needs build/win built before; win alone builds Korvane.gau from
# the art already drawn, or leaves it out until there is some. --tools builds
# only what the commands run (the deliverables and gaugebench), not the
# tests and their fixtures: the main job's first run on a fresh machine.
# A tree configured from another checkout (a moved or copied one) is made
# afresh: its cache and its rules name the other checkout's files.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
. scripts/stages.sh
jobs=$(nproc 2>/dev/null || echo 2)

usage() { sed -n '2,22p' "$0"; }
want_linux=no want_win=no want_twin=no tools_only=no
[ "${1:-}" != --tools ] || { tools_only=yes; shift; }
[ $# -gt 0 ] || set -- linux win
for r in "$@"; do
  case "$r" in
    linux) want_linux=yes ;;
    win) want_win=yes ;;
    twin) want_twin=yes ;;
    -h|--help) usage; exit 0 ;;
    *) echo "build.sh: unknown tree '$r' (expected linux, win or twin)" >&2; usage >&2; exit 2 ;;
  esac
done

# Rebuilds of the same sources, in this checkout or a fresh clone elsewhere,
# come from the compiler cache: paths are taken relative to the checkout and
# the working directory is left out of the cache key.
launcher=()
if command -v ccache >/dev/null 2>&1; then
  export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=true
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi

# configure TREE [TOOLCHAIN]: CMake keeps the toolchain of a tree's first
# configuration, so a tree first made with another one (build/linux was the
# i386 tree once) is configured afresh.
configure() {
  local tree=$1 toolchain=${2:+$root/$2} cached fresh=() args=()
  if [ -f "build/$tree/CMakeCache.txt" ] \
    && [ "$(sed -n 's/^CMAKE_HOME_DIRECTORY:[A-Z]*=//p' "build/$tree/CMakeCache.txt")" != "$root" ]; then
    echo "== build/$tree was configured in another checkout: made afresh here"
    rm -rf "build/$tree"
  fi
  if [ -f "build/$tree/CMakeCache.txt" ]; then
    cached=$(sed -n 's/^CMAKE_TOOLCHAIN_FILE:[A-Z]*=//p' "build/$tree/CMakeCache.txt")
    [ "$cached" = "$toolchain" ] || fresh=(--fresh)
  fi
  [ -z "$toolchain" ] || args=(-DCMAKE_TOOLCHAIN_FILE="$toolchain")
  # The main job's run (--tools) configures no tests: it needs neither their
  # packages nor their targets; a later full build switches them on.
  if [ "$tree" != twin ]; then
    if [ "$tools_only" = yes ]; then args+=(-DKORVANE_TESTS=OFF); else args+=(-DKORVANE_TESTS=ON); fi
  fi
  case "$tree" in
    win) args+=(-DCMAKE_BUILD_TYPE=Release) ;;
    # Optimised as RelWithDebInfo is, without its debug information (a third
    # of the compile time); KORVANE_DEBUG_INFO=1 keeps it, for a debugger.
    linux)
      if [ -n "${KORVANE_DEBUG_INFO:-}" ]; then
        args+=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
      else
        args+=(-DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" "-DCMAKE_C_FLAGS_RELEASE=-O2 -DNDEBUG")
      fi
      args+=(-DKORVANE_PE_DIR="$root/build/win") ;;
    twin) args+=(-DCMAKE_BUILD_TYPE=Debug -DKORVANE_SANITIZE=ON -DKORVANE_PE_DIR="$root/build/win") ;;
  esac
  stage "configure build/$tree" timeout --foreground 600 cmake "${fresh[@]}" -S . -B "build/$tree" "${args[@]}" "${launcher[@]}" >/dev/null
}
configure_tree() {
  case "$1" in
    win) configure win cmake/mingw-i686.cmake ;;
    linux) configure linux ;;
    twin) configure twin cmake/linux-i386.cmake ;;
  esac
}
# build TREE [TARGET...]: a build that hangs is stopped after an hour (the
# whole suite takes minutes); Ctrl-C reaches the compilers as usual.
build() {
  local tree=$1
  shift
  if [ $# -gt 0 ]; then
    echo "== building build/$tree: $*"
    stage "build/$tree: $*" timeout --foreground 3600 cmake --build "build/$tree" -j"$jobs" --target "$@"
  else
    echo "== building build/$tree"
    stage "build/$tree" timeout --foreground 3600 cmake --build "build/$tree" -j"$jobs"
  fi
}

# What each tree builds: everything, or with --tools what the commands run.
win_first=() win_targets=() linux_targets=()
if [ "$tools_only" = yes ]; then
  win_first=(KorvaneArtless Dropwatch)
  win_targets=(Korvane Dropwatch korvane_panel_background)
  linux_targets=(gaugebench)
fi

if [ "$want_win" = yes ]; then
  # Without the art Korvane.gau is not defined yet: all is KorvaneArtless,
  # Dropwatch and the fixtures.
  configure_tree win
  build win "${win_first[@]}"
fi
if [ "$want_linux" = yes ] && [ "$want_win" = yes ]; then
  configure_tree linux
  build linux korvane_art
  # Configured again: Korvane.gau is defined once its bitmaps are drawn.
  configure_tree win
  build win "${win_targets[@]}"
fi
if [ "$want_win" = yes ] && [ ! -f build/win/Korvane.gau ]; then
  if [ "$want_linux" = yes ]; then
    echo "build.sh: build/win built no Korvane.gau, yet build/linux drew its bitmaps (expected build/linux/art/korvane_bitmaps.rc)" >&2
    exit 1
  fi
  echo "build.sh: build/win has no Korvane.gau yet: build/linux draws its bitmaps (scripts/build.sh linux win)" >&2
fi
if [ "$want_linux" = yes ]; then
  [ -f build/win/KorvaneArtless.gau ] \
    || { echo "build.sh: build/linux needs build/win/KorvaneArtless.gau: run scripts/build.sh linux win" >&2; exit 1; }
  [ "$want_win" = yes ] || configure_tree linux
  build linux "${linux_targets[@]}"
fi
if [ "$want_twin" = yes ]; then
  configure_tree twin
  build twin
fi
