#!/usr/bin/env bash
# Every speed and size figure of the bench host and the modules, each beside
# its goal, in one run: a benchmark to run by hand after scripts/build.sh
# (it builds nothing). A few minutes, most of them cachegrind's.
#
#   scripts/bench.sh [build-dir]      (default build/linux, the bench host's
#                                      tree; the PE modules are build/win's)
#
# Ratios measured in one run are what count: absolute times move with the
# machine and whatever else it runs. The host's instructions per update are
# counted, not timed (valgrind's cachegrind, the slope between two runs of
# different lengths, so that start-up falls out): they hold on any machine.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/linux}
pe=build/win
panel=panel/panel.cfg
for needed in "$build/render_bench" "$build/gaugebench" "$pe/Korvane.gau" "$pe/Dropwatch.gau"; do
  [ -e "$needed" ] || { echo "bench: no $needed: run scripts/build.sh first" >&2; exit 1; }
done
for tool in valgrind cg_annotate python3; do
  command -v "$tool" >/dev/null || { echo "bench: no $tool on this machine (apt-get install valgrind python3)" >&2; exit 1; }
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
step "the host's instructions per update (cachegrind: 1000 updates, then 3000)"
# Instructions of the whole process for n updates; the difference of two
# lengths is the updates' alone. Each run has ten minutes.
host_instructions() {
  timeout --foreground -k 10 600 valgrind --tool=cachegrind --cache-sim=no --cachegrind-out-file="$work/cachegrind.$1" \
    "$build/render_bench" "$panel" "${modules[@]}" --updates-only "$1" > /dev/null 2>&1
  # awk reads to the end: leaving early would stop cg_annotate with SIGPIPE
  # once its report outgrows the pipe, and fail the run.
  cg_annotate "$work/cachegrind.$1" | awk '/PROGRAM TOTALS/ && !found { gsub(",", "", $1); print $1; found = 1 }'
}
short=$(host_instructions 1000)
long=$(host_instructions 3000)
step "gaugebench render, whole process, and zlib level 1 of its picture's pixels"
render_cpu=$(cpu_seconds "$build/gaugebench" render "$panel" -o "$work/panel.png" "${modules[@]}")
# The least processor time of three compressions of the pixels (the PNG's
# rows, decompressed) at zlib's fastest level, the interpreter's start left out.
zlib_cpu=$(python3 -c 'import struct, sys, time, zlib
data = open(sys.argv[1], "rb").read()
at, rows = 8, b""
while at < len(data):
    size, kind = struct.unpack(">I4s", data[at:at + 8])
    if kind == b"IDAT": rows += data[at + 8:at + 8 + size]
    at += 12 + size
pixels = zlib.decompress(rows)
best = None
for _ in range(3):
    start = time.process_time()
    zlib.compress(pixels, 1)
    spent = time.process_time() - start
    best = spent if best is None else min(best, spent)
print("%.4f" % best)' "$work/panel.png")
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
module=$(figure '"%.0f (%s)" % (sum(m["per_update"] for m in u["modules"]), ", ".join("%s %.0f" % (name(m["module"]), m["per_update"]) for m in u["modules"]))')
entries=$(figure '", ".join("%s %.2f" % (name(m["module"]), m["entries_per_update"]) for m in u["modules"])')
entries_most=$(figure '"%.2f" % max(m["entries_per_update"] for m in u["modules"])')
module_total=$(figure '"%.0f" % sum(m["per_update"] for m in u["modules"])')
update_ms=$(figure '"%.3f" % u["update_ms"]')
steady_ratio=$(figure '"%.2f" % f["steady"]["ratio_to_memcpy"]')
moving_ratio=$(figure '"%.2f" % f["moving"]["ratio_to_memcpy"]')
steady=$(figure '"%.1f x (%.3f ms against %.3f ms)" % (f["steady"]["ratio_to_memcpy"], f["steady"]["frame_ms"], f["memcpy_ms"])')
moving=$(figure '"%.1f x (%.3f ms against %.3f ms)" % (f["moving"]["ratio_to_memcpy"], f["moving"]["frame_ms"], f["memcpy_ms"])')
steady_allocations=$(figure '"%d" % u["heap_allocations"]["after"]')
allocations=$(figure '"%d in the %d updates after the first %d (%d in those); %d in %d frames, the first ones among them" % (u["heap_allocations"]["after"], u["heap_allocations"]["after_updates"], u["heap_allocations"]["first_updates"], u["heap_allocations"]["first"], f["steady"]["heap_allocations"] + f["moving"]["heap_allocations"], 2 * f["steady"]["frames"])')
host_per_update=$(awk -v a="$short" -v b="$long" 'BEGIN { printf "%.3f", (b - a) / 2000 / 1e6 }')
render_ratio=$(awk -v a="$render_cpu" -v b="$zlib_cpu" 'BEGIN { printf "%.1f", (b > 0 ? a / b : 0) }')
beyond() { figure "[s[\"beyond_bitmaps\"] for s in f[\"sizes\"] if name(s[\"module\"]) == \"$1\"][0]"; }
korvane_gauges=$("$build/gaugebench" list "$pe/Korvane.gau" 2>/dev/null | grep -c '^\[' || true)

row() { printf '| %s | %s | %s | %s |\n' "$1" "$2" "$3" "$4"; }
# at MEASURED GOAL: whether a figure is at most its goal.
at() { awk -v m="$1" -v g="$2" 'BEGIN { print (m <= g ? "yes" : "**no**") }'; }
echo "| Figure | Goal | Measured | At goal |"
echo "|---|---|---|---|"
row "the host's instructions per full-panel update (cachegrind, 3000 updates less 1000)" "<= 0.35 M" \
  "$host_per_update M" "$(at "$host_per_update" 0.35)"
row "starts of the emulator per full-panel update, for each module" "1" "$entries" "$(at "$entries_most" 1)"
row "instructions inside module code per full-panel update" "<= 1,500" "$module" "$(at "$module_total" 1500)"
row "one full-panel update (and model step), module code in the emulator" "" "$update_ms ms" ""
row "update + render, steady frame (cruise held)" "<= 2 x memcpy" "$steady" "$(at "$steady_ratio" 2)"
row "update + render, every gauge moving" "<= 6 x memcpy" "$moving" "$(at "$moving_ratio" 6)"
row "gaugebench render $panel, whole process, against zlib level 1 of its pixels" "<= 2.5 x" \
  "$render_ratio x ($render_cpu s against $zlib_cpu s of processor time)" "$(at "$render_ratio" 2.5)"
row "heap allocations of the host per update, steady state" "0" "$allocations" "$(at "$steady_allocations" 0)"
row "Korvane.gau beyond its bitmaps" "<= 65,536 B" "$(beyond Korvane.gau) B" "$(at "$(beyond Korvane.gau)" 65536)"
row "Dropwatch.gau beyond its bitmaps" "<= 65,536 B" "$(beyond Dropwatch.gau) B" "$(at "$(beyond Dropwatch.gau)" 65536)"
row "gaugebench validate" "linear in the module" \
  "Korvane ($korvane_gauges gauges) $korvane_cpu s, Dropwatch (1 gauge) $dropwatch_cpu s of processor time" ""
