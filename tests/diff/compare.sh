#!/usr/bin/env bash
# The differential check: the same hostile inputs through the Linux twin and
# through the real PE under Wine (tools/diffdrive in each tree), the result
# files compared bit for bit. A difference is reported by line: the kind of
# call, the gauge, the element or field, the input, and both results.
#
#   tests/diff/compare.sh <linux build dir> <windows build dir>
#   tests/diff/compare.sh --twice <linux build dir> [<windows build dir>]
#
# --twice runs the Linux twin twice instead (no Wine): the file must repeat.
# Result files go to <linux build dir>/diff/. Exit status 1 on a difference.
set -euo pipefail

twice=no
if [ "${1:-}" = --twice ]; then twice=yes; shift; fi
[ $# -ge 1 ] || { sed -n '2,11p' "$0" >&2; exit 2; }
linux=$(cd "$1" && pwd)
windows=${2:-}
[ -z "$windows" ] || windows=$(cd "$windows" && pwd)
[ "$twice" = yes ] || [ -n "$windows" ] || { echo "compare.sh: the Windows build directory is missing" >&2; exit 2; }
out=$linux/diff
mkdir -p "$out"

# First differences, side by side, named by their first four fields.
report() {
  awk -F'\t' -v a="$1" -v b="$2" -v an="$3" -v bn="$4" '
    BEGIN {
      n = 0
      while ((getline left < a) > 0) {
        line++
        if ((getline right < b) <= 0) { print "  " bn " ends at line " line; n++; break }
        if (left == right) continue
        split(left, l, "\t"); split(right, r, "\t")
        printf "  line %d: %s %s, %s, input %s\n", line, l[1], l[2], l[3], l[4]
        lr = left; rr = right
        for (i = 1; i <= 4; i++) { sub(/^[^\t]*\t?/, "", lr); sub(/^[^\t]*\t?/, "", rr) }
        printf "    %-6s %s\n    %-6s %s\n", an, lr, bn, rr
        if (++n == 10) { print "  (more differences not shown)"; break }
      }
      if (n == 0 && (getline right < b) > 0) print "  " an " ends at line " line
    }'
}

status=0
for module in Korvane Dropwatch; do
  pe_args=()
  [ -n "$windows" ] && [ -f "$windows/$module.gau" ] && pe_args=(--pe "$windows/$module.gau")
  first=$out/$module.twin.txt
  "$linux/diffdrive" "$linux/$module.gau" "${pe_args[@]}" -o "$first"
  if [ "$twice" = yes ]; then
    second=$out/$module.twin-again.txt
    "$linux/diffdrive" "$linux/$module.gau" "${pe_args[@]}" -o "$second"
    names=(twin again)
  else
    second=$out/$module.pe.txt
    WINEDEBUG=-all wine "$windows/diffdrive.exe" "Z:$windows/$module.gau" -o "Z:$second"
    names=(twin PE)
  fi
  if cmp -s "$first" "$second"; then
    echo "diff $module: ${names[0]} and ${names[1]} agree ($(wc -l <"$first") calls)"
  else
    echo "diff $module: ${names[0]} and ${names[1]} DIFFER ($first, $second):"
    report "$first" "$second" "${names[0]}" "${names[1]}"
    status=1
  fi
done
exit $status
