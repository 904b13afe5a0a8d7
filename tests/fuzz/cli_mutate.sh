#!/usr/bin/env bash
# Mutated files through the command line: the shipped panel configuration
# and scenarios and the kept corpus of PE modules, mutated from a seed (bytes
# flipped, chunks cut, repeated or swapped, words of the format's dictionary
# put in), each given to the Linux tree's gaugebench as a user would:
#   panel configurations  gaugebench render <file>
#   scenarios             gaugebench scenario <file> (its panel: panel/panel.cfg)
#   PE modules            gaugebench validate <file> (run in the emulator)
# Exit status 0, 1 or 3 (with its message) is an answer; a signal, a
# sanitizer report or a time-out is a finding, kept under
# build/fuzz/cli-findings/ with the command that ran it.
#
#   tests/fuzz/cli_mutate.sh [--runs N] [--seed N] [--build build/linux] [--pe build/win]
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD

runs=200 seed=1 build=build/linux pe=build/win
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --pe) pe=$2; shift 2 ;;
    *) sed -n '2,13p' "$0" >&2; exit 2 ;;
  esac
done
bench=$root/$build/gaugebench
[ -x "$bench" ] || { echo "cli_mutate.sh: $bench is missing: build $build first" >&2; exit 2; }
work=$root/build/fuzz/cli
findings=$root/build/fuzz/cli-findings
rm -rf "$work"
mkdir -p "$work" "$findings"
# The mutants' seeds; a scenario names its panel relative to itself, so the
# mutant sits where the shipped ones find the shipped panel.
mkdir -p "$work/seeds/panel_config" "$work/seeds/scenario" "$work/seeds/pe_image" "$work/panel" "$work/scenarios"
cp panel/panel.cfg "$work/seeds/panel_config/"
cp panel/panel.cfg "$work/panel/"
cp panel/panel.cfg "$work/scenarios/"
cp scenarios/*.txt "$work/seeds/scenario/"
cp tests/fuzz/corpus/pe_image/* "$work/seeds/pe_image/"

status=0 accepted=0 refused=0 found=0
for ((i = 0; i < runs; i++)); do
  kinds=(panel_config scenario pe_image)
  kind=${kinds[i % 3]}
  case "$kind" in
    panel_config) input=$work/mutant.cfg ;;
    scenario) input=$work/scenarios/mutant.txt ;;
    pe_image) input=$work/mutant.gau ;;
  esac
  python3 - "$seed" "$i" "$work/seeds/$kind" "tests/fuzz/dict/$kind.dict" "$input" <<'EOF'
import os, random, re, sys
seed, index, corpus, dictionary, out = sys.argv[1:]
rng = random.Random(f"{seed}:{index}")
files = sorted(os.listdir(corpus))
data = bytearray(open(os.path.join(corpus, rng.choice(files)), "rb").read())
words = []
if os.path.exists(dictionary):
    for line in open(dictionary, encoding="latin-1"):
        m = re.match(r'^"(.*)"\s*$', line)
        if m:
            words.append(m.group(1).encode("latin-1").decode("unicode_escape").encode("latin-1"))
for _ in range(rng.randint(1, 8)):
    if not data:
        data = bytearray(b"\n")
    at = rng.randrange(len(data))
    span = rng.randint(1, min(64, len(data) - at))
    op = rng.randrange(6)
    if op == 0:
        data[at] ^= 1 << rng.randrange(8)
    elif op == 1:
        data[at] = rng.choice([0, 0xFF, 0x7F, 0x80, ord("\n"), ord(","), ord("-")])
    elif op == 2:
        del data[at:at + span]
    elif op == 3:
        data[at:at] = data[at:at + span] * rng.randint(2, 16)
    elif op == 4 and words:
        data[at:at] = rng.choice(words)
    else:
        other = rng.randrange(len(data))
        data[at:at + span], data[other:other + span] = data[other:other + span], data[at:at + span]
open(out, "wb").write(data)
EOF
  case "$kind" in
    panel_config) command=("$bench" render "$input" -o "$work/out.png" --modules "$pe") ;;
    scenario) command=("$bench" scenario "$input" --out "$work/out" --modules "$pe" --no-progress) ;;
    pe_image) command=("$bench" validate "$input") ;;
  esac
  set +e
  timeout 60 "${command[@]}" >"$work/stdout" 2>"$work/stderr"
  code=$?
  set -e
  if { [ "$code" -le 1 ] || [ "$code" = 3 ]; } && ! grep -q "Sanitizer\|runtime error" "$work/stderr"; then
    if [ "$code" = 0 ]; then accepted=$((accepted + 1)); else refused=$((refused + 1)); fi
    continue
  fi
  found=$((found + 1)) status=1
  keep=$findings/$kind-$seed-$i.${input##*.}
  cp "$input" "$keep"
  { printf '%q ' "${command[@]}"; echo; echo "exit $code"; cat "$work/stderr"; } >"$keep.log"
  echo "cli_mutate: $kind mutant $i: exit $code, kept as $keep"
done
echo "cli_mutate: $runs mutants: $accepted accepted, $refused refused with a message, $found findings"
exit $status
