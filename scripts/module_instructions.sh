#!/usr/bin/env bash
# How many instructions the modules' own code (the Linux twins Korvane.gau and
# Dropwatch.gau) executes per full-panel update of panel/panel.cfg at the
# held cruise, and in which functions. A benchmark to run by hand; it builds
# nothing (build/linux first, with symbols: RelWithDebInfo).
#
#   scripts/module_instructions.sh [build-dir] [updates] [panel.cfg]
#
# QEMU's user-mode emulator logs every instruction executed inside the
# modules' text (one translation block per instruction, none chained). Two
# runs, of n and of 2n updates after the same set-up, are subtracted, so
# what the set-up costs drops out.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/linux}
n=${2:-100}
panel=${3:-panel/panel.cfg}
bench=$build/render_bench
qemu=$(command -v qemu-i386-static || command -v qemu-i386 || true)
[ -x "$bench" ] || { echo "no $bench: build $build first" >&2; exit 1; }
[ -n "$qemu" ] || { echo "qemu-i386 is not installed" >&2; exit 1; }
args=("$panel" --modules "$build")
[ -d build/win ] && args+=(--pe build/win)

work=$(mktemp -d)
trap '[ -n "${KEEP:-}" ] && echo "kept $work" >&2 || rm -rf "$work"' EXIT

# The modules' text as the emulator lays it out (the same from run to run).
"$qemu" "$bench" "${args[@]}" --updates-only 1 | grep '^module-text ' > "$work/ranges"
[ -s "$work/ranges" ] || { echo "render_bench reported no module text" >&2; exit 1; }
filter=$(awk '{ printf "%s%s+%s", (NR > 1 ? "," : ""), $3, $4 }' "$work/ranges")

# Executions per guest PC after `updates` updates.
count() {
  "$qemu" -singlestep -d exec,nochain -dfilter "$filter" -D "$work/log" "$bench" "${args[@]}" --updates-only "$1" \
    | grep '^module-text ' | cmp -s - "$work/ranges" || { echo "the modules moved between runs" >&2; exit 1; }
  awk -F'[][/]' '/^Trace/ { ++count[$3] } END { for (pc in count) print pc, count[pc] }' "$work/log" | sort > "$work/$1"
}
count "$n"
count $((2 * n))

# Per update and per PC: (count(2n) - count(n)) / n, the PC turned into the
# module file and its address there.
join -a 2 -e 0 -o 0,1.2,2.2 "$work/$n" "$work/$((2 * n))" | awk -v n="$n" -v ranges="$work/ranges" '
  function hex(s,   v, i, c) { v = 0; sub(/^0x/, "", s); s = tolower(s)
                                for (i = 1; i <= length(s); ++i) { c = index("0123456789abcdef", substr(s, i, 1)); v = v * 16 + c - 1 }
                                return v }
  BEGIN { while ((getline line < ranges) > 0) { split(line, f, " "); path[++m] = f[2]; start[m] = hex(f[3]);
          size[m] = hex(f[4]); vaddr[m] = hex(f[5]) } }
  { pc = hex($1); d = ($3 - $2) / n; if (d == 0) next
    for (i = 1; i <= m; ++i) if (pc >= start[i] && pc < start[i] + size[i]) {
      printf "%s 0x%x %.2f\n", path[i], pc - start[i] + vaddr[i], d } }' > "$work/per_pc"

# Functions by their symbols; one that nm gives no size (the PIC thunks)
# reaches to the next.
: > "$work/per_function"
for module in $(cut -d' ' -f2 "$work/ranges"); do
  nm -C -n -S --defined-only "$module" | awk '$(NF > 3 ? 3 : 2) ~ /^[tTwW]$/' > "$work/symbols"
  awk -v module="$module" -v symbols="$work/symbols" '
    function hex(s,   v, i, c) { v = 0; sub(/^0x/, "", s); s = tolower(s)
                                for (i = 1; i <= length(s); ++i) { c = index("0123456789abcdef", substr(s, i, 1)); v = v * 16 + c - 1 }
                                return v }
    BEGIN { while ((getline line < symbols) > 0) { ++k; lo[k] = hex(substr(line, 1, 8)); sized = substr(line, 10, 8) ~ /^[0-9a-f]+$/ && substr(line, 18, 1) == " "
            hi[k] = sized ? lo[k] + hex(substr(line, 10, 8)) : -1; name[k] = substr(line, sized ? 21 : 12) }
            for (i = 1; i <= k; ++i) if (hi[i] < 0) hi[i] = i < k ? lo[i + 1] : lo[i] + 16 }
    $1 == module { pc = hex($2); f = "?"; for (i = 1; i <= k; ++i) if (pc >= lo[i] && pc < hi[i]) { f = name[i]; break }
                   sum[f] += $3 }
    END { short = module; sub(/.*\//, "", short); sub(/\.gau$/, "", short)
          for (f in sum) printf "%.1f %s %s\n", sum[f], short, f }' "$work/per_pc" >> "$work/per_function"
done

awk '{ t += $3; short = $1; sub(/.*\//, "", short); sub(/\.gau$/, "", short); m[short] += $3 }
     END { printf "instructions inside module code per full-panel update: %.0f (Korvane %.0f, Dropwatch %.0f)\n",
           t, m["Korvane"], m["Dropwatch"] }' "$work/per_pc"
echo "top functions (instructions per update):"
sort -rn "$work/per_function" | awk -v top="${TOP:-25}" 'NR <= top { printf "  %8.1f  %s\n", $1, substr($0, index($0, $2)) }'
