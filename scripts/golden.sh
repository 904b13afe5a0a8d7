#!/usr/bin/env bash
# Writes the golden listings of the PE modules (tests/golden/<Module>.json)
# from the built modules, after a change to their records has been reviewed:
# the test command compares every build against them.
#
#   scripts/golden.sh [build-dir]     (default build/linux; modules from build/win)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/linux}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for module in Korvane Dropwatch; do
  "$build/gaugebench" list "build/win/$module.gau" --json "$work/$module.json" > /dev/null
  python3 tests/golden/listing.py normalize "$work/$module.json" "tests/golden/$module.json"
  echo "golden: tests/golden/$module.json"
done
