#!/usr/bin/env bash
# The whole suite: the Linux twin under the sanitizers, then the real PE
# files under Wine (in a display-less X server, for tests that open windows).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

# Of the optimised Linux tree the suite needs the art the PE build carries
# and the modules and gaugebench that the browser tests serve.
KORVANE_LINUX_TARGETS="korvane_art gaugebench" scripts/build.sh linux win linux-asan

. scripts/i386.sh
native=yes
i386_native || native=no

# Under the user-mode emulator LeakSanitizer cannot stop the process's
# threads to scan them (it waits for ever): leaks are looked for on kernels
# that run 32-bit code only.
leaks=1
[ "$native" = yes ] || leaks=0
echo "== tests: Linux twin (AddressSanitizer, UndefinedBehaviorSanitizer$([ "$leaks" = 1 ] && echo ', LeakSanitizer'))"
ASAN_OPTIONS=detect_leaks=$leaks UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build/linux-asan --output-on-failure

# Every file the bench host reads, fuzzed a few seconds each over the kept
# corpora (scripts/fuzz.sh runs longer by hand).
echo "== tests: fuzzing the bench host's readers (${KORVANE_FUZZ_SECONDS:-10} s each)"
scripts/fuzz.sh --time "${KORVANE_FUZZ_SECONDS:-10}"

# The live panel (gaugebench serve) in a real browser: Debian's chromium
# driven by playwright-core, pinned in tests/web/package-lock.json. The pinned
# tarballs come from npm's own cache where it has them (a fresh clone on the
# same machine), so only a new machine needs the registry.
echo "== tests: the live panel in a browser"
(cd tests/web && npm ci --prefer-offline --fetch-timeout=60000 --no-audit --no-fund --loglevel=error \
  && KORVANE_BUILD="$root/build/linux" KORVANE_PE_DIR="$root/build/win" node --test)

# Wine needs the processor's own 32-bit mode. Where the kernel has none, the
# PE files are still checked from the Linux side (the deliverable tests read
# them), and this stage says plainly that it did not run.
if [ "$native" = no ]; then
  echo "== tests: PE deliverables under Wine, and the twin against the PE: NOT RUN (this kernel runs no 32-bit code)"
  exit 0
fi

echo "== tests: PE deliverables under Wine"
export WINEPREFIX="$root/build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -d "$WINEPREFIX" ]; then
  wineboot --init >/dev/null 2>&1 || true
  # The session wineboot opens has no display; tests that make windows need
  # the server to start again under the X server below.
  wineserver -w || true
fi
xvfb-run -a ctest --test-dir build/win --output-on-failure

echo "== tests: the Linux twin against the real PE (the same hostile inputs, results bit for bit)"
xvfb-run -a tests/diff/compare.sh build/linux build/win
