# Sourced by sanitize.sh and tsan.sh (after messages.sh): hydrokit built with a sanitizer's
# flags into $BUILD for $PYTHON with $CXX, beside the venvs' installs, and the reports that
# the sanitizer writes into $REPORTS.

# The sources reach the compiler by absolute path (the CMake list is globbed from its own
# directory), so reports name the files in full; the project's own flags, -ffp-contract=off
# among them, still apply on top of these. The C++ runtime stays a shared library, so that the
# sanitizer's operator new and delete replace its own.
build_instrumented() {
  local flags=$1
  say "building with $flags into $BUILD"
  cmake -S "$REPO" -B "$BUILD" -G Ninja -DCMAKE_CXX_COMPILER="$CXX" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPython_EXECUTABLE="$PYTHON" \
    -DHYDROKIT_STATIC_CXX_RUNTIME=OFF \
    -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_MODULE_LINKER_FLAGS="$flags" >/dev/null
  cmake --build "$BUILD" >/dev/null
  rm -rf "$REPORTS"
  mkdir -p "$REPORTS"
  export PYTHONPATH="$BUILD${PYTHONPATH:+:$PYTHONPATH}"
}

# The module the tests will import, which must be the instrumented build.
instrumented_module() {
  local module
  module=$("$PYTHON" -c 'import hydrokit; print(hydrokit.__file__)')
  [[ $module == "$BUILD"/* ]] || die "the tests would import $module instead of the instrumented build"
  printf '%s' "$module"
}

# Shows every report file on stderr; sets $found to their number.
show_reports() {
  found=0
  local report
  for report in "$REPORTS"/*; do
    [[ -e $report ]] || continue
    printf '\n===== %s =====\n' "${report##*/}" >&2
    cat "$report" >&2
    found=$((found + 1))
  done
}
