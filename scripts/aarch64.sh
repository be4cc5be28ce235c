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
#
# Progress goes to stderr; `build` prints the venv's python.
set -euo pipefail

# shellcheck source=provision.sh
source "$(dirname "${BASH_SOURCE[0]}")/provision.sh"
SCRIPT_NAME=aarch64

TARGET_ARCH=arm64
EMULATOR=qemu-aarch64-static
AARCH64_VENV=$REPO/.venv-aarch64
# The interpreter that runs the test suite under emulation; wheels exist for more.
RUN_VERSION=3.14
AARCH64_PACKAGES=(pip pytest numpy hypothesis)
HOST_PYTHON=$REPO/.venv/bin/python

# Installs the Debian packages behind commands $2... as package $1 when one is missing.
ensure_system_package() {
  local package=$1 command
  shift
  for command in "$@"; do
    command -v "$command" >/dev/null && continue
    ((EUID == 0)) || die "$command is missing: install it (apt-get install $package) and rerun"
    say "installing $package"
    export DEBIAN_FRONTEND=noninteractive
    # Other builds on this machine may hold dpkg's lock for a while.
    local apt=(apt-get install -y --no-install-recommends -o DPkg::Lock::Timeout=600 "$package")
    if ! "${apt[@]}" >"$LOG" 2>&1; then
      run "apt-get update" apt-get -o DPkg::Lock::Timeout=600 update
      run "apt-get install $package" "${apt[@]}"
    fi
    return
  done
}

ensure_cross_tools() {
  ensure_system_package g++-aarch64-linux-gnu aarch64-linux-gnu-g++
  ensure_system_package qemu-user-static "$EMULATOR"
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
  local version
  version=$("$1" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
  ensure_cross_tools
  provision_target "$version"
  printf '%s
' _PYTHON_HOST_PLATFORM=linux-aarch64 "SETUPTOOLS_EXT_SUFFIX=$(target_ext_suffix)" \
    "SKBUILD_CMAKE_DEFINE=CMAKE_TOOLCHAIN_FILE=$REPO/cmake/aarch64-linux-gnu.cmake;Python_INCLUDE_DIR=$ROOT/usr/include/$PY"
}

# Debian's interpreter packages carry no compiled bytecode (installation compiles it), and
# under emulation compiling the standard library at every start costs seconds: the host
# interpreter of the same version compiles it once (bytecode does not depend on the machine).
compile_target_stdlib() {
  local host_version
  host_version=$("$HOST_PYTHON" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
  [[ $host_version == "$VERSION" ]] || die "$HOST_PYTHON is $host_version, not $VERSION"
  say "compiling the aarch64 standard library's bytecode"
  run "compileall" "$HOST_PYTHON" -m compileall -q -j0 -x '/test/' "$ROOT/usr/lib/$PY"
}

# The venv's python: the emulator started on the venv's interpreter link, with this file's
# path as argv[0] so that it becomes sys.executable. -L serves the target's libraries from
# the unpacked root to objects whose own search path would look in /usr/lib/aarch64-linux-gnu.
write_emulated_python() {
  local python=$AARCH64_VENV/bin/python
  rm -f "$python"
  cat >"$python" <<EOF
#!/bin/sh
exec $EMULATOR -L "$ROOT" -0 "\$0" "\$(dirname "\$0")/$PY" "\$@"
EOF
  chmod +x "$python"
}

site_packages() {
  printf '%s\n' "$AARCH64_VENV/lib/$PY/site-packages"
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

# Host pip installs aarch64 wheels ($@) into the venv: the emulated one would take minutes.
install_into_venv() {
  local platforms
  mapfile -t platforms < <(target_platforms)
  "$HOST_PYTHON" -m pip install --quiet --disable-pip-version-check --upgrade \
    --target "$(site_packages)" "${platforms[@]}" --only-binary=:all: \
    --implementation cp --python-version "$VERSION" "$@"
}

provision_aarch64_venv() {
  local key imports="import ${AARCH64_PACKAGES[*]}"
  imports=${imports// /, }
  imports=${imports/import,/import}
  key=$(printf '%s\n' "$(toolchain_key)" "$EMULATOR" "${AARCH64_PACKAGES[@]}" |
    sha256sum | cut -d' ' -f1)
  if [[ -f $AARCH64_VENV/.provision-stamp && $(<"$AARCH64_VENV/.provision-stamp") == "$key" ]] &&
    "$AARCH64_VENV/bin/python" -c "$imports" 2>/dev/null; then
    say "venv up to date in $AARCH64_VENV"
    return
  fi
  ensure_patchelf
  point_at_unpacked_libraries "$ROOT/usr/bin/$PY"
  compile_target_stdlib
  say "creating $AARCH64_VENV"
  rm -rf "$AARCH64_VENV"
  run "venv creation" "$EMULATOR" "$ROOT/usr/bin/$PY" -m venv --without-pip "$AARCH64_VENV"
  write_emulated_python
  say "installing ${AARCH64_PACKAGES[*]}"
  run "pip install ${AARCH64_PACKAGES[*]}" install_into_venv "${AARCH64_PACKAGES[@]}"
  run "import check ($imports)" "$AARCH64_VENV/bin/python" -c "$imports"
  printf '%s\n' "$key" >"$AARCH64_VENV/.provision-stamp"
}

build() {
  [[ -x $HOST_PYTHON ]] || die "no $HOST_PYTHON: run make build first"
  ensure_cross_tools
  provision_target "$RUN_VERSION"
  provision_aarch64_venv
  local wheel
  wheel=$(ARCH=aarch64 PYTHON=$HOST_PYTHON "$REPO/scripts/wheel.sh" "$REPO/build/aarch64-wheel")
  say "installing ${wheel##*/} into $AARCH64_VENV"
  run "pip install ${wheel##*/}" install_into_venv --no-deps --no-index "$wheel"
  printf '%s\n' "$AARCH64_VENV/bin/python"
}

if [[ ${BASH_SOURCE[0]} == "$0" ]]; then
  case ${1:-} in
    build) build ;;
    wheel-settings) (($# == 2)) || die "usage: ${0##*/} wheel-settings PYTHON"; wheel_settings "$2" ;;
    *) die "usage: ${0##*/} build | wheel-settings PYTHON" ;;
  esac
fi
