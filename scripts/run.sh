#!/usr/bin/env bash
# The main job: build both builds and run the bench host over Korvane.gau.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh linux win
build/linux/gaugebench list build/linux/Korvane.gau --pe build/win/Korvane.gau
echo
build/linux/gaugebench bombrun build/linux/Dropwatch.gau
