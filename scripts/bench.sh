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
"$build/render_bench" "$panel" "${modules[@]}" --frames 60 > "$work/frames"
step "updates alone: time, heap allocations and the instructions the emulator ran in module code"
"$build/render_bench" "$panel" "${modules[@]}" --updates-only 10000 > "$work/updates"
step "gaugebench render, whole process"
render_cpu=$(cpu_seconds "$build/gaugebench" render "$panel" -o "$work/panel.png" "${modules[@]}")
step "gaugebench validate"
korvane_cpu=$(cpu_seconds "$build/gaugebench" validate "$pe/Korvane.gau")
dropwatch_cpu=$(cpu_seconds "$build/gaugebench" validate "$pe/Dropwatch.gau")

# The figures out of the runs' own lines.
ratio() { awk -v run="$1" '$0 ~ run { on = 1 } on && /ratio/ { print $2; exit }' "$work/frames"; }
per_frame() { awk -v run="$1" '$0 ~ run { on = 1 } on && /update \+ render/ { print $4; exit }' "$work/frames"; }
beyond() { awk -v file="$1" '$0 ~ "size of .*" file { print $(NF - 2); exit }' "$work/frames"; }
memcpy_ms=$(awk '/^memcpy of pixels/ { print $4 }' "$work/frames")
steady_allocations=$(awk '/heap allocations/ && /in [0-9]+ updates/ { sum += $3; n += $5 } END { print sum " in " n " frames" }' "$work/frames")
updates_allocations=$(sed -n 's/^heap allocations //p' "$work/updates")
instructions=$(awk '/^module-instructions / { n = split($2, p, "/"); total += $4; parts = parts sep p[n] " " $4; sep = ", " }
                   END { printf "%.0f (%s)", total, parts }' "$work/updates")
update_ms=$(sed -n 's/^update time \([0-9.]*\) ms$/\1/p' "$work/updates")
korvane_gauges=$("$build/gaugebench" list "$pe/Korvane.gau" 2>/dev/null | grep -c '^\[' || true)

row() { printf '| %s | %s | %s |\n' "$1" "$2" "$3"; }
echo "| Figure | Goal | Measured |"
echo "|---|---|---|"
row "instructions inside module code per full-panel update" "<= 2,000" "$instructions"
row "one full-panel update (and model step), module code in the emulator" "<= 1 ms" "$update_ms ms"
row "update + render, steady frame (cruise held)" "<= 4 x memcpy" \
  "$(ratio 'steady frames') x ($(per_frame 'steady frames') ms against $memcpy_ms ms)"
row "update + render, every gauge moving" "<= 10 x memcpy" \
  "$(ratio 'every gauge moves') x ($(per_frame 'every gauge moves') ms against $memcpy_ms ms)"
row "gaugebench render $panel, whole process" "<= 40 ms of processor time" "$render_cpu s"
row "heap allocations of the host per update" "0" "$steady_allocations; $updates_allocations"
row "Korvane.gau beyond its bitmaps" "<= 65,536 B" "$(beyond Korvane.gau) B"
row "Dropwatch.gau beyond its bitmaps" "<= 65,536 B" "$(beyond Dropwatch.gau) B"
row "gaugebench validate" "linear in the module" \
  "Korvane ($korvane_gauges gauges) $korvane_cpu s, Dropwatch (1 gauge) $dropwatch_cpu s of processor time"
