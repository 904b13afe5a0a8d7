#!/usr/bin/env bash
# Fuzzes every file the bench host reads and the live server's parsers of
# what comes from the network (tests/fuzz): builds the harnesses with clang
# and libFuzzer in build/fuzz, runs each for a fixed time over its corpus,
# and prints a line per harness. Run it by hand for longer runs; the
# test command runs it for a few seconds each.
#
#   scripts/fuzz.sh [--time SECONDS] [--merge] [harness...]
#
#   --time   seconds per harness (default 600)
#   --merge  afterwards, minimise the kept corpus (tests/fuzz/corpus/<name>)
#            together with what the run found, and write it back
#   harness  panel_config calculator pe_image dib scenario http_request
#            websocket_frame gdb_packets dwarf_lines lcov_tracefile fdm_packet
#            (default: all)
#
# New inputs go to build/fuzz/corpus/<name>, crashes, leaks and slow inputs
# to build/fuzz/findings/<name>/; a reproducer worth keeping belongs in
# tests/fuzz/findings/. Rerun one with build/fuzz/fuzz_<name> <file>. Exit
# status 1 when any harness found something.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

seconds=600
merge=no
harnesses=()
while [ $# -gt 0 ]; do
  case "$1" in
    --time) seconds=$2; shift 2 ;;
    --merge) merge=yes; shift ;;
    -h|--help) sed -n '2,20p' "$0"; exit 0 ;;
    -*) echo "fuzz.sh: unknown option $1" >&2; exit 2 ;;
    *) harnesses+=("$1"); shift ;;
  esac
done
[ ${#harnesses[@]} -gt 0 ] || harnesses=(panel_config calculator pe_image dib scenario http_request websocket_frame gdb_packets dwarf_lines lcov_tracefile fdm_packet)

cxx=${FUZZ_CXX:-$(command -v clang++-14 || command -v clang++ || true)}
[ -n "$cxx" ] || { echo "fuzz.sh: clang++ not found (scripts/install-deps.sh --tests installs clang-14)" >&2; exit 2; }
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
build=$root/build/fuzz
# A tree configured in another checkout (a moved or copied one) is configured
# afresh; the corpus it grew stays.
if [ -f "$build/CMakeCache.txt" ] \
  && [ "$(sed -n 's/^CMAKE_HOME_DIRECTORY:[A-Z]*=//p' "$build/CMakeCache.txt")" != "$root/tests/fuzz" ]; then
  rm -rf "$build/CMakeCache.txt" "$build/CMakeFiles" "$build/Makefile" "$build/cmake_install.cmake"
fi
# Each library of the tree compiles as one unit: the readers share their
# headers, and the sanitizers' and coverage's instrumentation makes each
# unit's share of them dear.
cmake -S tests/fuzz -B "$build" -DCMAKE_CXX_COMPILER="$cxx" -DKORVANE_FUZZ=ON -DCMAKE_UNITY_BUILD=ON \
  -DCMAKE_UNITY_BUILD_BATCH_SIZE=0 "${launcher[@]}" >/dev/null
cmake --build "$build" -j"$(nproc 2>/dev/null || echo 2)" >/dev/null

# A harness gets its time and a margin for the last input and the report;
# --foreground lets Ctrl-C reach it (it has no children to leave behind).
limit=$((seconds + 120))
for name in "${harnesses[@]}"; do
  [ -x "$build/fuzz_$name" ] || { echo "fuzz.sh: no harness '$name'" >&2; exit 2; }
done

# fuzz NAME: runs one harness, its line into $build/NAME.result; false on a finding.
fuzz() {
  local name=$1 binary=$build/fuzz_$1 work=$build/corpus/$1 findings=$build/findings/$1 log=$build/$1.log
  local dict=() result found runs speed cov corpus
  mkdir -p "$work" "$findings"
  [ -f "tests/fuzz/dict/$name.dict" ] && dict=("-dict=tests/fuzz/dict/$name.dict")
  # -timeout: an input that takes a second is a finding (slow input), not a wait.
  if ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
     timeout --foreground -k 10 "$limit" \
     "$binary" -max_total_time="$seconds" -timeout=2 -rss_limit_mb=1024 -detect_leaks=1 \
       -print_final_stats=1 -artifact_prefix="$findings/" "${dict[@]}" \
       "$work" "tests/fuzz/corpus/$name" >"$log" 2>&1; then
    result=clean
  else
    # The newest finding; libFuzzer names them (crash-<sha1>, leak-..., slow-unit-...).
    # shellcheck disable=SC2012
    found=$(ls -t "$findings" | head -1)
    result="FOUND: ${found:-no reproducer, the harness itself failed} (log $log)"
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  corpus=$(grep -o 'corp: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  printf '%-15s %4ss %9s runs %6s/s  cov %5s  corpus %5s  %s\n' "$name" "$seconds" "${runs:-?}" "${speed:-?}" \
    "${cov:-?}" "${corpus:-?}" "$result" >"$build/$name.result"
  [ "$result" = clean ]
}

# Each harness runs on one processor: as many at once as there are, the
# lines printed in the harnesses' order.
slots=$(nproc 2>/dev/null || echo 2)
status=0
pids=()
for name in "${harnesses[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$slots" ]; do wait -n || true; done
  fuzz "$name" &
  pids+=($!)
done
for i in "${!harnesses[@]}"; do
  wait "${pids[$i]}" || status=1
  name=${harnesses[$i]}
  cat "$build/$name.result"
  if [ "$merge" = yes ]; then
    binary=$build/fuzz_$name work=$build/corpus/$name
    kept=$build/merged/$name
    rm -rf "$kept"
    mkdir -p "$kept"
    # Edges only, not hit counts: a tenth of the inputs for the same edges.
    ASAN_OPTIONS=detect_leaks=0 timeout --foreground -k 10 "$limit" "$binary" -merge=1 -use_counters=0 -detect_leaks=0 "$kept" \
      "tests/fuzz/corpus/$name" "$work" \
      >"$build/$name.merge.log" 2>&1
    rm -rf "tests/fuzz/corpus/$name"
    mv "$kept" "tests/fuzz/corpus/$name"
    echo "              corpus kept: $(find "tests/fuzz/corpus/$name" -type f | wc -l) inputs"
  fi
done
exit $status
