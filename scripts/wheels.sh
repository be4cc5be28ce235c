#!/usr/bin/env bash
# Writes hydrokit's manylinux wheel for each CPython version given (default: 3.13 3.14 3.15;
# 3.14t is the free-threaded one) into dist/, installs each into a fresh venv of its own
# interpreter there and checks that it computes the same bits as .venv's hydrokit
# (tests/computations.py). What `auditwheel show` says of each wheel goes beside it
# (<wheel>.auditwheel.txt). Provisions the interpreters it lacks; expects .venv built from the
# tree (make build). The wheels' paths go to stdout.
# ARCH=aarch64 writes the aarch64 wheels instead, each checked in a venv of the arm64
# interpreter under qemu-user (scripts/aarch64.sh).
set -euo pipefail

REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd -P)
DIST=$REPO/dist
SCRIPT_NAME=wheels
# shellcheck source=messages.sh
source "$REPO/scripts/messages.sh"

LOG=$(mktemp)
WORK=$(mktemp -d)
trap 'rm -rf "$LOG" "$WORK"' EXIT

(($#)) || set -- 3.13 3.14 3.15
# Run from an empty folder without PYTHONPATH: only the installed module can be imported.
computations() {
  (cd "$WORK" && env -u PYTHONPATH "$1" "$REPO/tests/computations.py")
}
computations "$REPO/.venv/bin/python" >"$WORK/reference" || die "the computations failed in .venv"

for version in "$@"; do
  python=$("$REPO/scripts/provision.sh" --python "$version")
  wheel=$(PYTHON=$python "$REPO/scripts/wheel.sh" "$DIST")
  env=$WORK/env-$version
  if [[ ${ARCH:-} == aarch64 ]]; then
    env_python=$("$REPO/scripts/aarch64.sh" fresh-venv "$env" "$python" "$wheel") ||
      die "no aarch64 venv for ${wheel##*/}"
  else
    run "venv for $version" "$python" -m venv --without-pip "$env"
    run "installing ${wheel##*/}" "$python" -m pip --python "$env/bin/python" install \
      --quiet --no-index --no-deps "$wheel"
    env_python=$env/bin/python
  fi
  computations "$env_python" >"$WORK/$version" 2>"$LOG" || {
    cat "$LOG" >&2
    die "the computations failed with ${wheel##*/}"
  }
  diff -u "$WORK/reference" "$WORK/$version" >&2 ||
    die "${wheel##*/} computes other bits than .venv (diff above)"
  "${python%/*}/auditwheel" show "$wheel" >"$wheel.auditwheel.txt" 2>&1 ||
    die "auditwheel show failed on ${wheel##*/}"
  say "${wheel##*/}: same bits as .venv; $(tr -s ' \n' ' ' <"$wheel.auditwheel.txt" | grep -o 'consistent with[^.]*')"
  printf '%s\n' "$wheel"
done
