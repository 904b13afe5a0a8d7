#!/usr/bin/env bash
# The generated bash completion, driven as bash drives it: COMP_WORDS as
# readline splits the line ('=' a word of its own), COMP_CWORD the last word,
# and what COMPREPLY then holds, sorted, one word per '|'.
#   completion.sh <gaugebench.bash> <scratch folder>
set -u
source "$1" || exit 1
rm -rf "$2" && mkdir -p "$2/shots" && cd "$2" || exit 1
touch "my panel.cfg" "engine.txt"

# line (words split at blanks; a trailing blank is an empty last word) => reply
cases=(
  "gaugebench --color |always|auto|never"
  "gaugebench --color =|always|auto|never"
  "gaugebench --color = ne|never"
  "gaugebench render --color |always|auto|never"
  "gaugebench --color never ren|render"
  "gaugebench -q --color always sce|scenario"
  "gaugebench render --qu|--quiet"
  "gaugebench scenario engine.txt --col|--color|--colour"
  "gaugebench render my|my panel.cfg"
  "gaugebench render -o my|my panel.cfg"
  "gaugebench fly x.xml --at |"
  "gaugebench fly x.xml --at 1|"
  "gaugebench scenario engine.txt --out |shots"
  "gaugebench new Demo --dir |shots"
  "gaugebench render --main-window o|open"
  "gaugebench help fl|fly"
  "gaugebench vocabulary --json e|engine.txt"
)
failed=0
for entry in "${cases[@]}"; do
  line=${entry%%|*} want=${entry#*|}
  read -ra COMP_WORDS <<<"$line"
  [[ $line != *" " ]] || COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _gaugebench
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd'|')
  if [ "$got" != "$want" ]; then
    echo "'$line<TAB>': got '$got', expected '$want'"
    failed=1
  fi
done
exit $failed
