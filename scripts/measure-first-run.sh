#!/usr/bin/env bash
# What a newcomer's first run costs: a fresh clone of this checkout in a new
# temporary folder, an empty compiler cache, the README's two commands one
# after the other (the main job, then the test command), each stage's wall
# and processor seconds (user + system, the figure that carries from one
# machine to another) printed as a table. A benchmark, not a test: it takes
# as long as a first run does.
#   scripts/measure-first-run.sh [--keep] [--main-only]
# --keep leaves the clone (and its trees) behind; --main-only stops after the
# main job. The packages are taken as installed: what install-deps.sh costs
# on a machine without them is its download and unpacking, not measured here.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
keep=no main_only=no
for option in "$@"; do
  case "$option" in
    --keep) keep=yes ;;
    --main-only) main_only=yes ;;
    -h|--help) sed -n '2,12p' "$0"; exit 0 ;;
    *) echo "measure-first-run.sh: unknown option '$option'" >&2; exit 2 ;;
  esac
done

work=$(mktemp -d "${TMPDIR:-/tmp}/first-run.XXXXXX")
cleanup() { [ "$keep" = yes ] && echo "kept: $work" || rm -rf "$work"; }
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

git clone -q "$source_dir" "$work/clone"
# An empty cache of its own: nothing compiled before is found, and the
# user's own cache is left as it was.
export CCACHE_DIR="$work/ccache"
export KORVANE_STAGES="$work/stages.tsv"
: >"$KORVANE_STAGES"
cd "$work/clone"
. scripts/stages.sh

status=0
echo "== the main job, in $work/clone"
stage "main job: install-deps.sh" ./scripts/install-deps.sh || status=$?
[ "$status" -ne 0 ] || stage "main job: run.sh" ./scripts/run.sh || status=$?
if [ "$status" -eq 0 ] && [ "$main_only" = no ]; then
  echo "== the test command"
  stage "test command: install-deps.sh --tests" ./scripts/install-deps.sh --tests || status=$?
  [ "$status" -ne 0 ] || stage "test command: test.sh" ./scripts/test.sh || status=$?
fi

echo
echo "Stage (nested stages indented)                         wall s   processor s (user + sys)"
sort -n -k1,1 "$KORVANE_STAGES" | awk -F '\t' '{
  label = sprintf("%*s%s", 2 * $2, "", $3)
  printf "%-52s %8.1f %8.1f (%.1f + %.1f)\n", label, $4, $5 + $6, $5, $6 }'
[ "$status" -eq 0 ] || echo "measure-first-run.sh: a stage failed (status $status): the figures stop there" >&2
exit "$status"
