import subprocess
import sys
import textwrap

import pytest


def run_python(code):
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True,
                          text=True, timeout=60)


REFUSAL = "hydrokit can only be imported in the main interpreter, not in a subinterpreter"


@pytest.mark.parametrize("main_first", [True, False])
def test_only_the_main_interpreter_may_import(main_first):
    # The classes are shared by the whole process and belong to the main interpreter; a
    # subinterpreter that tries first must not lock the main one out.
    result = run_python(f"""
        import _interpreters
        if {main_first}:
            import hydrokit
        interp = _interpreters.create(_interpreters.new_config("legacy"))
        failure = _interpreters.exec(interp, "import hydrokit")
        print(failure.type.__name__)
        print(failure.msg)
        _interpreters.destroy(interp)
        import hydrokit
        print(hydrokit.utils.ContinuousTimeSeries.__name__)
    """)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == ["ImportError", REFUSAL, "ContinuousTimeSeries"]


def test_isolated_interpreter_is_refused_by_the_import_system():
    result = run_python("""
        from concurrent import interpreters
        interp = interpreters.create()
        try:
            interp.exec("import hydrokit")
        except interpreters.ExecutionFailed as failure:
            print(failure.excinfo.type.__name__)
        interp.close()
    """)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "ImportError"
