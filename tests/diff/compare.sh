#!/usr/bin/env bash
# The differential check: the same hostile inputs through the modules' i386
# twin (the twin tree's diffdrive on its own <Module>.gau) and through the
# real PE in the bench host's emulator (the host tree's diffdrive on the PE
# tree's <Module>.gau), the result files compared bit for bit. A difference
# is reported by line: the kind of call, the gauge, the element or field,
# the input, and both results.
#
#   tests/diff/compare.sh <twin build dir> <host build dir> [<PE dir>]
#   tests/diff/compare.sh --twice <build dir> [<PE dir>]
#
# The PE dir defaults to the host tree's KORVANE_PE_DIR (build/win); the
# twin takes its bitmaps from there. --twice runs one tree's diffdrive twice
# instead (the twin's on its modules, the host's on the PE): the file must
# repeat. Result files go to the first build dir's diff/. Exit status 1 on a
# difference, 2 when something needed is missing.
set -euo pipefail

usage() { sed -n '2,16p' "$0" >&2; exit 2; }
# Under qemu-i386 LeakSanitizer cannot stop the twin's threads and waits for
# ever at its exit: unless the caller chose, leaks are looked for only where
# the kernel runs the twin itself.
if [ -z "${ASAN_OPTIONS:-}" ]; then
  # shellcheck source=scripts/i386.sh
  . "$(dirname "$0")/../../scripts/i386.sh"
  if i386_native; then export ASAN_OPTIONS=detect_leaks=1; else export ASAN_OPTIONS=detect_leaks=0; fi
fi
twice=no
if [ "${1:-}" = --twice ]; then twice=yes; shift; fi
if [ "$twice" = yes ]; then
  if [ $# -lt 1 ] || [ $# -gt 2 ]; then usage; fi
elif [ $# -lt 2 ] || [ $# -gt 3 ]; then
  usage
fi
dir_of() { [ -d "$1" ] || { echo "compare.sh: no build directory $1" >&2; exit 2; }; (cd "$1" && pwd); }
cached_pe_dir() { sed -n 's/^KORVANE_PE_DIR:[A-Z]*=//p' "$1/CMakeCache.txt" 2>/dev/null | head -n 1; }

first=$(dir_of "$1")
if [ "$twice" = yes ]; then
  pe=${2:-$(cached_pe_dir "$first")}
else
  host=$(dir_of "$2")
  pe=${3:-$(cached_pe_dir "$host")}
fi
[ -n "$pe" ] || { echo "compare.sh: no PE dir given, and none in the host tree's CMakeCache.txt (KORVANE_PE_DIR)" >&2; exit 2; }
pe=$(dir_of "$pe")
for tool in "$first/diffdrive" ${host:+"$host/diffdrive"}; do
  [ -x "$tool" ] || { echo "compare.sh: $tool is missing: build its tree first (scripts/build.sh)" >&2; exit 2; }
done

out=$first/diff
mkdir -p "$out"
# A result file is whole or absent: an interrupted or failed run leaves none.
trap 'rm -f "$out"/*.part' EXIT

# drive FILE DIFFDRIVE MODULE [ARG...]: diffdrive's results for MODULE into FILE.
# Under the i386 emulator the sanitized twin takes minutes, not seconds.
drive() {
  local file=$1 status=0
  shift
  timeout --foreground -k 10 1200 "$@" -o "$file.part" || status=$?
  if [ "$status" -ne 0 ]; then
    [ "$status" -ne 124 ] || echo "compare.sh: $* did not finish within 1200 s" >&2
    echo "compare.sh: $* failed (exit status $status)" >&2
    return 1
  fi
  [ -s "$file.part" ] || { echo "compare.sh: $* wrote no calls" >&2; return 1; }
  mv "$file.part" "$file"
}

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

# run_first MODULE / run_second MODULE: the two command lines, into the
# arrays of the same names. The twin's tree holds the module's twin, which
# has no bitmaps of its own; the host's tree runs the PE itself.
commands() {
  local module=$1
  if [ -f "$first/$module.gau" ]; then
    run_first=("$first/diffdrive" "$first/$module.gau")
    [ ! -f "$pe/$module.gau" ] || run_first+=(--pe "$pe/$module.gau")
  elif [ "$twice" = yes ]; then
    run_first=("$first/diffdrive" "$pe/$module.gau")
  else
    echo "compare.sh: the twin $first/$module.gau is missing: build its tree first (scripts/build.sh twin)" >&2
    exit 2
  fi
  if [ "$twice" = yes ]; then
    run_second=("${run_first[@]}")
  else
    run_second=("$host/diffdrive" "$pe/$module.gau")
  fi
  local file
  for file in "${run_first[1]}" "${run_second[1]}"; do
    [ -f "$file" ] || { echo "compare.sh: $file is missing: build its tree first (scripts/build.sh)" >&2; exit 2; }
  done
}
modules=(Korvane Dropwatch)
for module in "${modules[@]}"; do commands "$module"; done

status=0
calls=0
for module in "${modules[@]}"; do
  commands "$module"
  if [ "$twice" = yes ]; then
    names=(first again)
    a=$out/$module.first.txt b=$out/$module.again.txt
  else
    names=(twin PE)
    a=$out/$module.twin.txt b=$out/$module.pe.txt
  fi
  rm -f "$a" "$b"
  if ! drive "$a" "${run_first[@]}" || ! drive "$b" "${run_second[@]}"; then
    status=1
    continue
  fi
  lines=$(wc -l <"$a")
  calls=$((calls + lines))
  if cmp -s "$a" "$b"; then
    echo "diff $module: ${names[0]} and ${names[1]} agree ($lines calls)"
  else
    echo "diff $module: ${names[0]} and ${names[1]} DIFFER ($a, $b):"
    report "$a" "$b" "${names[0]}" "${names[1]}"
    status=1
  fi
done
if [ "$status" = 0 ]; then
  echo "diff: $calls calls compared bit for bit, no difference"
else
  echo "diff: $calls calls compared bit for bit; differences or failures above"
fi
exit $status
