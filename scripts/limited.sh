# Sourced by the run and test scripts.
#
# limited SECONDS COMMAND...: COMMAND with a time-out, in a process group of
# its own that the time-out, Ctrl-C or TERM ends whole, so that no child it
# started (a flight's JSBSim, gaugebench serve, chromium) is left behind.
limited() {
  local seconds=$1 what="${2##*/} ${3:-}" pid status=0
  shift
  timeout -k 10 "$seconds" "$@" &
  pid=$!
  trap 'kill -TERM -- "-$pid" 2>/dev/null || kill -TERM "$pid" 2>/dev/null; wait "$pid" || true; exit 130' INT
  trap 'kill -TERM -- "-$pid" 2>/dev/null || kill -TERM "$pid" 2>/dev/null; wait "$pid" || true; exit 143' TERM
  wait "$pid" || status=$?
  trap - INT TERM
  [ "$status" -ne 124 ] || echo "${0##*/}: $what did not finish within $seconds s" >&2
  return "$status"
}
