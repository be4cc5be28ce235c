#!/usr/bin/env bash
# Builds hydrokit with AddressSanitizer and UndefinedBehaviorSanitizer into build/sanitize
# (the install in .venv is left alone) and runs the whole pytest suite against that build,
# with the compiler's sanitizer runtimes preloaded into the interpreter. Any sanitizer report,
# from the test process or from a subprocess it starts, fails the run.
set -euo pipefail

REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd -P)
BUILD=$REPO/build/sanitize
REPORTS=$BUILD/reports
CXX=${CXX:-g++}
SANITIZE_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover -fno-omit-frame-pointer"

SCRIPT_NAME=sanitize
# shellcheck source=messages.sh
source "$REPO/scripts/messages.sh"
# shellcheck source=instrumented.sh
source "$REPO/scripts/instrumented.sh"

PYTHON=$("$REPO/scripts/provision.sh")
# cmake and ninja may have been installed into the venv by the provisioning.
export PATH="$REPO/.venv/bin:$PATH"

runtime() {
  local path
  path=$(readlink -f "$("$CXX" -print-file-name="$1")")
  [[ -f $path ]] || die "$CXX has no $1: install its sanitizer runtime (libasan, libubsan)"
  printf '%s' "$path"
}
ASAN_RUNTIME=$(runtime libasan.so)
UBSAN_RUNTIME=$(runtime libubsan.so)

build_instrumented "$SANITIZE_FLAGS"
export LD_PRELOAD="$ASAN_RUNTIME $UBSAN_RUNTIME"
# Python's own allocator would hide heap errors from ASan; the interpreter's leaks at exit are
# not ours; a huge allocation must come back as MemoryError, not abort.
export PYTHONMALLOC=malloc
# ASan writes its reports to files, so that one from a subprocess of a test is seen too. The
# UBSan runtime writes to stderr whatever log_path says, so the suite's own stderr goes to a file:
# --capture=sys leaves the native code's writes to it uncaptured, also when a report ends the
# process in the middle of a test.
export ASAN_OPTIONS="detect_leaks=0:allocator_may_return_null=1:log_path=$REPORTS/asan"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
module=$(instrumented_module)

say "running the test suite on $module"
native_stderr=$BUILD/native-stderr.log
status=0
# Under ASan a failed `operator new` aborts instead of throwing std::bad_alloc, so the tests that
# expect MemoryError from a request beyond any machine's memory are left out; so is the wheel's
# test, which builds and imports its own uninstrumented copy.
(cd "$REPO" && "$PYTHON" -m pytest -q -p no:cacheprovider --capture=sys \
  -m "not exhausts_memory and not wheel" tests 2>"$native_stderr") || status=$?

show_reports
if grep -q 'runtime error:' "$native_stderr" || ((status != 0)); then
  printf '\n===== stderr of the test process =====\n' >&2
  cat "$native_stderr" >&2
  found=$((found + $(grep -c 'runtime error:' "$native_stderr" || true)))
fi
((found == 0)) || die "$found sanitizer report(s), shown above"
((status == 0)) || die "the test suite failed under the sanitizers (exit status $status)"
say "clean: no sanitizer report"
