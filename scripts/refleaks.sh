#!/usr/bin/env bash
# Builds hydrokit against the debug interpreter's headers (Py_DEBUG changes the object layout,
# so the normal build cannot be loaded there) into build/refleaks and runs the leak loops of
# tests/refleaks.py on it.
set -euo pipefail

REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd -P)
BUILD=$REPO/build/refleaks

say() { printf 'refleaks: %s\n' "$*" >&2; }
die() { printf 'refleaks: error: %s\n' "$*" >&2; exit 1; }

# The release toolchain provides cmake and ninja (from PATH or installed into .venv).
"$REPO/scripts/provision.sh" >/dev/null
export PATH="$REPO/.venv/bin:$PATH"
PYTHON=$("$REPO/scripts/provision_debug.sh")

# A build made against other headers is thrown away: the object layout depends on them.
key=$({ readlink -f "$PYTHON"; "$PYTHON" -c 'import sys, sysconfig; print(sys.version)
import pathlib; print(pathlib.Path(sysconfig.get_path("include"), "pyconfig.h").read_text())'; } | sha256sum | cut -d' ' -f1)
if [[ ! -f $BUILD/interpreter-key || $(<"$BUILD/interpreter-key") != "$key" ]]; then
  rm -rf "$BUILD"
  mkdir -p "$BUILD"
  printf '%s\n' "$key" >"$BUILD/interpreter-key"
fi

say "building against $PYTHON into $BUILD"
cmake -S "$REPO" -B "$BUILD" -G Ninja -DPython_EXECUTABLE="$PYTHON" >/dev/null
cmake --build "$BUILD" >/dev/null

export PYTHONPATH="$BUILD${PYTHONPATH:+:$PYTHONPATH}"
module=$("$PYTHON" -c 'import hydrokit; print(hydrokit.__file__)')
[[ $module == "$BUILD"/* ]] || die "the loops would import $module instead of the debug build"
"$PYTHON" "$REPO/tests/refleaks.py"
