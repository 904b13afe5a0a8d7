#!/usr/bin/env bash
# Every speed and size figure of the bench host and the modules, each beside
# its goal, in one run: a benchmark to run by hand after scripts/build.sh
# (it builds nothing). About half a minute.
#
#   scripts/bench.sh [build-dir]      (default build/linux, the bench host's
#                                      tree; the PE modules are build/win's)
#
# Ratios measured in one run are what count: absolute times move with the
# machine and whatever else it runs.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/linux}
pe=build/win
panel=panel/panel.cfg
for needed in "$build/render_bench" "$build/gaugebench" "$pe/Korvane.gau" "$pe/Dropwatch.gau"; do
  [ -e "$needed" ] || { echo "bench: no $needed: run scripts/build.sh first" >&2; exit 1; }
done
modules=(--modules "$pe")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
step() { printf '%s\n' "bench: $*" >&2; }

# Processor time (user + system) of a command, in seconds: the least of
# three runs, the others being disturbed by whatever else runs.
cpu_seconds() {
  local best="" run
  for _ in 1 2 3; do
    run=$( { TIMEFORMAT='%U %S'; time "$@" > /dev/null 2>&1; } 2>&1 | awk '{ printf "%.3f", $1 + $2 }')
    if [ -z "$best" ] || awk -v a="$run" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$run; fi
  done
  echo "$best"
}

step "frames of the whole panel (render_bench)"
"$build/render_bench" "$panel" "${modules[@]}" --frames 60 --json > "$work/frames.json"
step "updates alone: time, heap allocations and the instructions the emulator ran in module code"
"$build/render_bench" "$panel" "${modules[@]}" --updates-only 10000 --json > "$work/updates.json"
step "gaugebench render, whole process"
render_cpu=$(cpu_seconds "$build/gaugebench" render "$panel" -o "$work/panel.png" "${modules[@]}")
step "gaugebench validate"
korvane_cpu=$(cpu_seconds "$build/gaugebench" validate "$pe/Korvane.gau")
dropwatch_cpu=$(cpu_seconds "$build/gaugebench" validate "$pe/Dropwatch.gau")

# The figures out of render_bench's JSON: one expression each, over the
# frames run (f) and the updates run (u).
figure() {
  python3 -c 'import json, os, sys
f = json.load(open(sys.argv[1])); u = json.load(open(sys.argv[2]))
name = lambda path: os.path.basename(path)
print(eval(sys.argv[3]))' "$work/frames.json" "$work/updates.json" "$1"
}
instructions=$(figure '"%.0f (%s)" % (sum(m["per_update"] for m in u["modules"]), ", ".join("%s %.0f" % (name(m["module"]), m["per_update"]) for m in u["modules"]))')
update_ms=$(figure '"%.3f" % u["update_ms"]')
steady=$(figure '"%.1f x (%.3f ms against %.3f ms)" % (f["steady"]["ratio_to_memcpy"], f["steady"]["frame_ms"], f["memcpy_ms"])')
moving=$(figure '"%.1f x (%.3f ms against %.3f ms)" % (f["moving"]["ratio_to_memcpy"], f["moving"]["frame_ms"], f["memcpy_ms"])')
allocations=$(figure '"%d in %d frames; %d in the first %d updates, %d in the %d after" % (f["steady"]["heap_allocations"] + f["moving"]["heap_allocations"], 2 * f["steady"]["frames"], u["heap_allocations"]["first"], u["heap_allocations"]["first_updates"], u["heap_allocations"]["after"], u["heap_allocations"]["after_updates"])')
beyond() { figure "[s[\"beyond_bitmaps\"] for s in f[\"sizes\"] if name(s[\"module\"]) == \"$1\"][0]"; }
korvane_gauges=$("$build/gaugebench" list "$pe/Korvane.gau" 2>/dev/null | grep -c '^\[' || true)

row() { printf '| %s | %s | %s |\n' "$1" "$2" "$3"; }
echo "| Figure | Goal | Measured |"
echo "|---|---|---|"
row "instructions inside module code per full-panel update" "<= 2,000" "$instructions"
row "one full-panel update (and model step), module code in the emulator" "<= 1 ms" "$update_ms ms"
row "update + render, steady frame (cruise held)" "<= 4 x memcpy" "$steady"
row "update + render, every gauge moving" "<= 10 x memcpy" "$moving"
row "gaugebench render $panel, whole process" "<= 40 ms of processor time" "$render_cpu s"
row "heap allocations of the host per update" "0" "$allocations"
row "Korvane.gau beyond its bitmaps" "<= 65,536 B" "$(beyond Korvane.gau) B"
row "Dropwatch.gau beyond its bitmaps" "<= 65,536 B" "$(beyond Dropwatch.gau) B"
row "gaugebench validate" "linear in the module" \
  "Korvane ($korvane_gauges gauges) $korvane_cpu s, Dropwatch (1 gauge) $dropwatch_cpu s of processor time"
