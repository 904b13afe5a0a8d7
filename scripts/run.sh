#!/usr/bin/env bash
# The main job: build both builds, draw the shipped panel at a steady cruise
# into panel.png, fly the take-off scenario, whose pictures land in
# out/takeoff_*.png, and fly the take-off in JSBSim, the crew starting the
# engines on the panel's own switches and the panel driven by the model, whose
# pictures and animation land in out/flight/. The gauge listing goes to
# out/gauges.txt; the bomb counter's short bomb run is printed. The bench
# host (build/linux) runs the real PE modules (build/win) in its emulator.
set -euo pipefail
cd "$(dirname "$0")/.."

. scripts/limited.sh
. scripts/stages.sh

stage "build (the deliverables, gaugebench)" scripts/build.sh --tools linux win
mkdir -p out
bench=build/linux/gaugebench
modules=(--modules build/win --pe build/win)

# The listing is written beside and moved into place, whole or not at all.
trap 'rm -f out/gauges.txt.part' EXIT
stage "list" limited 120 "$bench" list build/win/Korvane.gau > out/gauges.txt.part
mv out/gauges.txt.part out/gauges.txt
echo "gauges, their elements and mouse areas: out/gauges.txt"
echo
stage "render" limited 300 "$bench" render panel/panel.cfg -o panel.png "${modules[@]}"
echo
stage "scenario" limited 900 "$bench" scenario scenarios/takeoff.txt --out out "${modules[@]}"
echo
stage "fly" limited 1800 "$bench" fly fdm/scripts/takeoff.xml --scenario scenarios/takeoff_crew.txt --out out/flight \
  --at 8,40,150,300,375,480,540 --animation out/flight/takeoff.png --animation-every 2 "${modules[@]}"
echo
stage "bombrun" limited 120 "$bench" bombrun build/win/Dropwatch.gau
