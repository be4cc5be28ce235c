#!/usr/bin/env bash
# Installs the benchmarks' peers into <repo>/.venv (or the venv of $PYTHON): numba and scipy, which every run needs, and
# the metric packages, which are optional: one that does not install on this Python is named
# in the results table instead of stopping the run. The tests never need any of them.
set -euo pipefail

REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd -P)
VPY=${PYTHON:-$REPO/.venv/bin/python}
STAMP=$(dirname "$(dirname "$VPY")")/.bench-stamp
REQUIRED=(numba scipy)
REQUIRED_IMPORTS='import numba, scipy.signal'
OPTIONAL=(hydroeval HydroErr)

say() { printf 'provision-bench: %s\n' "$*" >&2; }

[[ -x $VPY ]] || { say "error: no $VPY (run make build first)"; exit 1; }

key=$(printf '%s\n' "${REQUIRED[@]}" "${OPTIONAL[@]}" | sha256sum | cut -d' ' -f1)
if [[ -f $STAMP && $(<"$STAMP") == "$key" ]] && "$VPY" -c "$REQUIRED_IMPORTS" 2>/dev/null; then
  say "benchmark packages up to date"
  exit 0
fi

LOG=$(mktemp)
trap 'rm -f "$LOG"' EXIT

say "installing ${REQUIRED[*]}"
if ! "$VPY" -m pip install "${REQUIRED[@]}" >"$LOG" 2>&1 || ! "$VPY" -c "$REQUIRED_IMPORTS" 2>>"$LOG"; then
  tail -n 40 "$LOG" >&2
  say "error: installing ${REQUIRED[*]} failed"
  exit 1
fi
for package in "${OPTIONAL[@]}"; do
  say "installing $package"
  if ! "$VPY" -m pip install "$package" >"$LOG" 2>&1; then
    say "$package does not install here; the results will say so"
  fi
done
printf '%s\n' "$key" >"$STAMP"
