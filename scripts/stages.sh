# Sourced by the build, run and test scripts.
#
# stage NAME COMMAND...: runs COMMAND. Where KORVANE_STAGES names a file (as
# scripts/measure-first-run.sh sets it), a line is added to it when COMMAND
# ends: its start, its depth among stages, NAME, the wall seconds and the
# processor seconds (user, system) of the processes it ran. The processor
# time is the shell's count of its waited-for children, read before and
# after with no process started in between.
stage() {
  local name=$1 status=0 started user0 sys0 user1 sys1 depth=${KORVANE_STAGE_DEPTH:-0}
  shift
  if [ -z "${KORVANE_STAGES:-}" ]; then
    "$@"
    return
  fi
  started=$EPOCHREALTIME
  times >"$KORVANE_STAGES.times.$$"
  { read -r _ _; read -r user0 sys0; } <"$KORVANE_STAGES.times.$$"
  KORVANE_STAGE_DEPTH=$((depth + 1)) "$@" || status=$?
  times >"$KORVANE_STAGES.times.$$"
  { read -r _ _; read -r user1 sys1; } <"$KORVANE_STAGES.times.$$"
  rm -f "$KORVANE_STAGES.times.$$"
  awk -v start="$started" -v end="$EPOCHREALTIME" -v depth="$depth" -v name="$name" \
    -v u0="$user0" -v s0="$sys0" -v u1="$user1" -v s1="$sys1" '
    function seconds(t, parts) { split(t, parts, "m"); sub("s", "", parts[2]); return parts[1] * 60 + parts[2] }
    BEGIN { printf "%s\t%d\t%s\t%.1f\t%.1f\t%.1f\n", start, depth, name, end - start,
            seconds(u1) - seconds(u0), seconds(s1) - seconds(s0) }' >>"$KORVANE_STAGES"
  return "$status"
}
