#!/usr/bin/env bash
# Builds hydrokit with ThreadSanitizer into build/tsan (the installs in the venvs are left
# alone) against free-threaded CPython built with ThreadSanitizer too (provisioned as
# 3.14t-tsan), and runs the thread tests, the mutation stress among them, on that build. Any
# report, from the test process or from a subprocess it starts, fails the run.
set -euo pipefail

REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd -P)
BUILD=$REPO/build/tsan
REPORTS=$BUILD/reports
CXX=${CXX:-g++}
TSAN_FLAGS="-fsanitize=thread -fno-omit-frame-pointer"
SCRIPT_NAME=tsan
# shellcheck source=messages.sh
source "$REPO/scripts/messages.sh"
# shellcheck source=instrumented.sh
source "$REPO/scripts/instrumented.sh"

PYTHON=$("$REPO/scripts/provision.sh" --python 3.14t-tsan)
# cmake and ninja may have been installed into the venv by the provisioning.
export PATH="${PYTHON%/*}:$PATH"
BASE=$("$PYTHON" -c 'import sys; print(sys.base_prefix)')
SUPPRESSIONS=$BASE/tsan-suppressions.txt
[[ -f $SUPPRESSIONS ]] || die "$BASE has no tsan-suppressions.txt: not a ThreadSanitizer build"

# The interpreter carries the TSan runtime, and the module's instrumentation calls into it.
build_instrumented "$TSAN_FLAGS"
# Reports go to files, so that one from a stress subprocess is seen too; CPython's own known
# races are suppressed, none of the module's.
export TSAN_OPTIONS="suppressions=$SUPPRESSIONS:log_path=$REPORTS/tsan:second_deadlock_stack=1"
module=$(instrumented_module)

# A float64 array that one thread writes while another scores it in place races as it would
# with numpy's own functions, by design (docs/concurrency.md); that stress runs in the suite,
# where it checks that memory stays safe, and not here, where the race itself is the report.
ARRAY_RACE="tests/test_threads.py::test_calls_while_other_threads_change_the_inputs[numpy arrays written]"
say "running the thread tests on $module"
status=0
(cd "$REPO" && "$PYTHON" -m pytest -q -p no:cacheprovider tests/test_threads.py \
  --deselect "$ARRAY_RACE") || status=$?

show_reports
((found == 0)) || die "ThreadSanitizer reported from $found process(es), shown above"
((status == 0)) || die "the thread tests failed under ThreadSanitizer (exit status $status)"
say "clean: no ThreadSanitizer report"
