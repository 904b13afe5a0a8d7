#!/usr/bin/env bash
# The whole suite: the Linux twin under the sanitizers, then the real PE
# files under Wine (in a display-less X server, for tests that open windows).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/build.sh linux win linux-asan

echo "== tests: Linux twin (AddressSanitizer, UndefinedBehaviorSanitizer)"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build/linux-asan --output-on-failure

echo "== tests: PE deliverables under Wine"
export WINEPREFIX="$root/build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -d "$WINEPREFIX" ]; then
  wineboot --init >/dev/null 2>&1 || true
  # The session wineboot opens has no display; tests that make windows need
  # the server to start again under the X server below.
  wineserver -w || true
fi
xvfb-run -a ctest --test-dir build/win --output-on-failure
