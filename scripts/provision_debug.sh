#!/usr/bin/env bash
# Sets up CPython 3.14's debug build (Py_DEBUG: reference totals and allocated-block counts)
# for `make refleaks`. Uses python3.14d from PATH when there is one; otherwise unpacks Debian
# sid's packages, those of the release toolchain plus python3.14-dbg, into
# <repo>/.toolchain/debug the same private way scripts/provision.sh does. Progress goes to
# stderr; the debug interpreter is printed on stdout.
set -euo pipefail

# shellcheck source=provision.sh
source "$(dirname "${BASH_SOURCE[0]}")/provision.sh"

TOOLCHAIN=$REPO/.toolchain/debug
ROOT=$TOOLCHAIN/root
DEBS+=(python3.14-dbg libpython3.14-dbg)
DEBUG_CHECK='import sys, array, datetime; sys.gettotalrefcount(); sys.getallocatedblocks()'

# The release toolchain's steps patch and complete python3.14; its debug twin needs the same.
prepare_debug_interpreter() {
  local py=$ROOT/usr/bin/python3.14d libdir
  libdir=$(unpacked_libdir)
  point_at_unpacked_libraries "$py"
  # Debian's python3.14d headers are links into python3.14/, and a compiler looks for the
  # "pyconfig.h" of a linked Python.h beside the link's target: the release configuration. A
  # real copy of the tree with the debug configuration in it keeps Py_DEBUG.
  local inc=$ROOT/usr/include/python3.14d
  [[ -f $inc/Python.h ]] || die "missing $inc/Python.h"
  rm -rf "$inc.copy"
  cp -rL "$inc" "$inc.copy"
  rm -rf "$inc"
  mv "$inc.copy" "$inc"
  cp "$ROOT/usr/include/${libdir##*/}/python3.14d/pyconfig.h" "$inc/pyconfig.h"
  run "debug interpreter check ($DEBUG_CHECK)" "$py" -c "$DEBUG_CHECK"
  run "debug headers check (Py_REF_DEBUG)" check_debug_headers "$py"
}

# Compiles against the interpreter's own include directory: reference totals need Py_REF_DEBUG.
check_debug_headers() {
  local inc
  inc=$("$1" -c 'import sysconfig; print(sysconfig.get_path("include"))')
  printf '#include <Python.h>\n#ifndef Py_REF_DEBUG\n#error "%s is not a debug build"\n#endif\n' \
    "$inc" | "${CXX:-g++}" -fsyntax-only -x c++ -isystem "$inc" -
}

usable() {
  { "$1" -c "$DEBUG_CHECK" && check_debug_headers "$1"; } 2>/dev/null
}

main_debug() {
  local py
  if py=$(command -v python3.14d) && usable "$py"; then
    say "using $py"
  else
    provision_toolchain
    py=$ROOT/usr/bin/python3.14d
    usable "$py" || prepare_debug_interpreter
  fi
  say "ready"
  printf '%s\n' "$py"
}

main_debug
