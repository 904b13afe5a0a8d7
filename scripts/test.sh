#!/usr/bin/env bash
# The whole suite: the bench host's tests (x86-64, the real PE modules in its
# emulator), the modules' i386 twin under the sanitizers, the twin against
# the real PE bit for bit, every reader of the bench host fuzzed a few
# seconds each, and the live panel in a browser.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

. scripts/limited.sh
. scripts/stages.sh

stage "build (every tree)" scripts/build.sh linux win twin

# Every test has a time-out of its own (ctest's default for those that name
# none); a tree without tests is a broken configuration, not a pass.
ctest_args=(--output-on-failure --no-tests=error --timeout 1200)

echo "== tests: the bench host (x86-64, the PE modules in its emulator)"
stage "tests: the bench host" ctest --test-dir build/linux "${ctest_args[@]}"

# Under QEMU's user-mode emulator (kernels without 32-bit code) LeakSanitizer
# cannot stop the process's threads to scan them (it waits for ever): leaks
# are looked for where the twin runs natively only.
# shellcheck source=scripts/i386.sh
. scripts/i386.sh
leaks=1
i386_native || leaks=0
sanitizers=("ASAN_OPTIONS=detect_leaks=$leaks" UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1)
if [ "$leaks" = 1 ]; then
  echo "== tests: the i386 twin (AddressSanitizer, UndefinedBehaviorSanitizer, LeakSanitizer)"
else
  echo "== tests: the i386 twin under qemu-i386 (AddressSanitizer, UndefinedBehaviorSanitizer; no LeakSanitizer there)"
fi
stage "tests: the i386 twin" env "${sanitizers[@]}" ctest --test-dir build/twin "${ctest_args[@]}"

echo "== tests: the twin against the real PE in the emulator (the same hostile inputs, results bit for bit)"
stage "tests: the differential" env "${sanitizers[@]}" tests/diff/compare.sh build/twin build/linux

# The live panel (gaugebench serve) in a real browser: Debian's chromium
# driven by playwright-core, pinned in tests/web/package-lock.json. The pinned
# tarballs come from npm's own cache where it has them (a fresh clone on the
# same machine), so only a new machine needs the registry. Three files at a
# time; then the flights flown by hand on the keys, alone: their pilot reacts
# to what the page shows in real time, and beside two other files' browsers
# and servers on two cores a stalled second now and then spoiled the
# take-off (off the runway, or still rolling at 33 kt after 90 s).
echo "== tests: the live panel in a browser"
cd tests/web
stage "tests: browser (npm ci)" limited 600 npm ci --prefer-offline --fetch-timeout=60000 --no-audit --no-fund --loglevel=error
flights=flight_model.test.mjs
mapfile -t others < <(find . -maxdepth 1 -name '*.test.mjs' ! -name "$flights" -printf '%f\n' | sort)
export KORVANE_BUILD="$root/build/linux" KORVANE_PE_DIR="$root/build/win"
stage "tests: browser" limited 1200 node --test --test-concurrency=3 "${others[@]}"
stage "tests: browser, the hand-flown flights alone" limited 900 node --test "$flights"

# Every file the bench host reads, fuzzed a few seconds each over the kept
# corpora (scripts/fuzz.sh runs longer by hand). After the browser's tests,
# not beside them: on two cores the fuzzers' build slowed the real-time
# flights there past their margins (a hand-flown take-off off the runway).
cd "$root"
echo "== tests: fuzzing the bench host's readers (${KORVANE_FUZZ_SECONDS:-10} s each)"
stage "tests: fuzzing (build and run)" scripts/fuzz.sh --time "${KORVANE_FUZZ_SECONDS:-10}"
