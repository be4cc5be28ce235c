# Sourced by the scripts: progress and errors on stderr, prefixed with $SCRIPT_NAME, and quiet
# runs of commands whose output shows only when they fail (kept in $LOG, which the caller
# creates and removes).

say() { printf '%s: %s\n' "$SCRIPT_NAME" "$*" >&2; }
die() { printf '%s: error: %s\n' "$SCRIPT_NAME" "$*" >&2; exit 1; }

run() {
  local what=$1
  shift
  if ! "$@" >"$LOG" 2>&1; then
    tail -n 40 "$LOG" >&2
    die "$what failed"
  fi
}
