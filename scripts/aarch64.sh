#!/usr/bin/env bash
# hydrokit for 64-bit ARM Linux, cross-compiled here with Debian's aarch64 compiler against
# Debian sid's arm64 CPython and run under qemu-user's emulator:
#
#   scripts/aarch64.sh build    installs the aarch64 build of the tree, from its repaired
#                               wheel, into <repo>/.venv-aarch64 (CPython 3.14)
#
# .venv-aarch64/bin/python runs the emulated interpreter with that venv's packages; it is also
# the interpreter's own sys.executable, so subprocesses and console scripts run emulated too
# (no binfmt registration needed).
#
#   scripts/aarch64.sh wheel-settings PYTHON
#                               the environment in which scripts/wheel.sh builds the aarch64
#                               wheel for PYTHON's version (ARCH=aarch64 scripts/wheel.sh)
#   scripts/aarch64.sh fresh-venv DIR PYTHON [WHEEL]
#                               a new venv in DIR of the aarch64 interpreter of PYTHON's
#                               version, holding nothing or only WHEEL; prints its python
#
# Progress goes to stderr; `build` prints the venv's python.
set -euo pipefail

# shellcheck source=provision.sh
source "$(dirname "${BASH_SOURCE[0]}")/provision.sh"
SCRIPT_NAME=aarch64

TARGET_ARCH=arm64
EMULATOR=qemu-aarch64-static
AARCH64_VENV=$REPO/.venv-aarch64
# The suite's packages; pandas, scipy, dask and xarray for the docs' examples it runs. The
# venv's check imports only the first four, which prove that the emulated interpreter loads
# native wheels: the others would add 20 s of importing under emulation to every check.
AARCH64_CHECKED=(pip pytest numpy hypothesis)
AARCH64_PACKAGES=("${AARCH64_CHECKED[@]}" pandas scipy dask xarray)
HOST_PYTHON=$REPO/.venv/bin/python

ensure_cross_tools() {
  ensure_command aarch64-linux-gnu-g++ g++-aarch64-linux-gnu
  ensure_command "$EMULATOR" qemu-user-static
}

# Unpacks the arm64 interpreter $1 (X.Y): headers and libraries into $ROOT.
provision_target() {
  select_target "$1" "$TARGET_ARCH"
  provision_toolchain
}

# The extension suffix the target interpreter imports (its sysconfig data, read as text).
target_ext_suffix() {
  local data=("$ROOT/usr/lib/$PY"/_sysconfigdata_*aarch64*.py) suffix
  [[ -f ${data[0]} ]] || die "no aarch64 sysconfig data in $ROOT/usr/lib/$PY"
  suffix=$(grep -oE "'EXT_SUFFIX': '[^']+'" "${data[0]}" | head -n1 | cut -d"'" -f4)
  [[ $suffix == *aarch64* ]] || die "no aarch64 EXT_SUFFIX in ${data[0]}"
  printf '%s\n' "$suffix"
}

# For scripts/wheel.sh: the environment (one NAME=value a line) in which host interpreter $1
# builds a wheel for the arm64 interpreter of its version; the host one runs the build and
# names the wheel's Python tags.
wheel_settings() {
  ensure_cross_tools
  provision_target "$(version_of "$1")"
  printf '%s
' _PYTHON_HOST_PLATFORM=linux-aarch64 "SETUPTOOLS_EXT_SUFFIX=$(target_ext_suffix)" \
    "SKBUILD_CMAKE_DEFINE=CMAKE_TOOLCHAIN_FILE=$REPO/cmake/aarch64-linux-gnu.cmake;Python_INCLUDE_DIR=$ROOT/usr/include/$PY"
}

# The version X.Y of interpreter $1.
version_of() {
  "$1" -c 'import sys; print("%d.%d" % sys.version_info[:2])'
}

# Makes the unpacked arm64 interpreter of host interpreter $HOST_PYTHON's version ready to run
# under the emulator. Debian's interpreter packages carry no compiled bytecode (installation
# compiles it), and under emulation compiling the standard library at every start costs
# seconds: the host interpreter compiles it once (bytecode does not depend on the machine).
prepare_target_interpreter() {
  provision_target "$(version_of "$HOST_PYTHON")"
  ensure_command patchelf patchelf
  # Patched once only: rewriting the file under an interpreter that runs from it crashes that.
  local loader
  loader=$(patchelf --print-interpreter "$ROOT/usr/bin/$PY")
  [[ $loader == "$(unpacked_libdir)"/* ]] || point_at_unpacked_libraries "$ROOT/usr/bin/$PY"
  say "compiling the aarch64 standard library's bytecode"
  run "compileall" "$HOST_PYTHON" -m compileall -q -j0 -x '/test/' "$ROOT/usr/lib/$PY"
}

# The python of an emulated venv: it starts the emulator on the venv's interpreter link, with
# its own path as argv[0] so that it becomes sys.executable. QEMU_LD_PREFIX serves the
# target's libraries from the unpacked root to objects whose own search path would look in
# /usr/lib/aarch64-linux-gnu; set in the environment rather than as -L, it also tells the
# programs inside that they run emulated (the suite's time bounds stretch).
emulated_python() {
  cat <<EOF
#!/bin/sh
QEMU_LD_PREFIX="$ROOT" exec $EMULATOR -0 "\$0" "\$(dirname "\$0")/$PY" "\$@"
EOF
}

# A venv in $1 of the prepared interpreter.
make_emulated_venv() {
  local venv=$1
  rm -rf "$venv"
  run "venv creation" "$EMULATOR" "$ROOT/usr/bin/$PY" -m venv --without-pip "$venv"
  rm -f "$venv/bin/python"
  emulated_python >"$venv/bin/python"
  chmod +x "$venv/bin/python"
}

# The manylinux platforms the unpacked glibc runs: manylinux_2_17 (aarch64's first) up to its
# own version.
target_platforms() {
  local debs=("$TOOLCHAIN"/debs/libc6_*.deb) version minor
  version=$(dpkg-deb -f "${debs[0]}" Version) || die "no libc6 package in $TOOLCHAIN/debs"
  [[ $version =~ ^2\.([0-9]+) ]] || die "unexpected glibc version $version"
  for ((minor = 17; minor <= BASH_REMATCH[1]; ++minor)); do
    printf -- '--platform=manylinux_2_%d_aarch64\n' "$minor"
  done
}

# The host's pip installs aarch64 wheels ($2...) into venv $1: the emulated one would take
# minutes.
install_into_venv() {
  local venv=$1 platforms
  shift
  mapfile -t platforms < <(target_platforms)
  "$HOST_PYTHON" -m pip install --quiet --disable-pip-version-check --upgrade \
    --target "$venv/lib/$PY/site-packages" "${platforms[@]}" --only-binary=:all: \
    --implementation cp --python-version "$VERSION" "$@"
}

provision_aarch64_venv() {
  local key imports="import ${AARCH64_CHECKED[*]}"
  imports=${imports// /, }
  imports=${imports/import,/import}
  key=$(printf '%s\n' "$(toolchain_key)" "$(emulated_python)" "${AARCH64_PACKAGES[@]}" |
    sha256sum | cut -d' ' -f1)
  if [[ -f $AARCH64_VENV/.provision-stamp && $(<"$AARCH64_VENV/.provision-stamp") == "$key" ]] &&
    "$AARCH64_VENV/bin/python" -c "$imports" 2>/dev/null; then
    say "venv up to date in $AARCH64_VENV"
    return
  fi
  prepare_target_interpreter
  say "creating $AARCH64_VENV"
  make_emulated_venv "$AARCH64_VENV"
  say "installing ${AARCH64_PACKAGES[*]}"
  run "pip install ${AARCH64_PACKAGES[*]}" install_into_venv "$AARCH64_VENV" "${AARCH64_PACKAGES[@]}"
  run "import check ($imports)" "$AARCH64_VENV/bin/python" -c "$imports"
  printf '%s\n' "$key" >"$AARCH64_VENV/.provision-stamp"
}

# The suite runs in .venv-aarch64, .venv's version (3.14).
build() {
  [[ -x $HOST_PYTHON ]] || die "no $HOST_PYTHON: run make build first"
  ensure_cross_tools
  provision_target "$(version_of "$HOST_PYTHON")"
  provision_aarch64_venv
  local wheel
  wheel=$(ARCH=aarch64 PYTHON=$HOST_PYTHON "$REPO/scripts/wheel.sh" "$REPO/build/aarch64-wheel")
  say "installing ${wheel##*/} into $AARCH64_VENV"
  run "pip install ${wheel##*/}" install_into_venv "$AARCH64_VENV" --no-deps --no-index "$wheel"
  printf '%s\n' "$AARCH64_VENV/bin/python"
}

# A fresh venv in $1 of the arm64 interpreter of host interpreter $2's version, holding
# nothing or only aarch64 wheel $3.
fresh_venv() {
  HOST_PYTHON=$2
  ensure_cross_tools
  prepare_target_interpreter
  make_emulated_venv "$1"
  if (($# > 2)); then
    run "pip install ${3##*/}" install_into_venv "$1" --no-deps --no-index "$3"
  fi
  printf '%s\n' "$1/bin/python"
}

if [[ ${BASH_SOURCE[0]} == "$0" ]]; then
  case ${1:-} in
    build) build ;;
    wheel-settings) (($# == 2)) || die "usage: ${0##*/} wheel-settings PYTHON"; wheel_settings "$2" ;;
    fresh-venv) (($# == 3 || $# == 4)) || die "usage: ${0##*/} fresh-venv DIR PYTHON [WHEEL]"
      shift; fresh_venv "$@" ;;
    *) die "usage: ${0##*/} build | wheel-settings PYTHON | fresh-venv DIR PYTHON [WHEEL]" ;;
  esac
fi
