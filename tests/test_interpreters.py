import subprocess
import sys
import textwrap


def run_python(code):
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True,
                          text=True, timeout=60)


def test_second_interpreter_is_refused_at_import():
    # The classes are shared by the whole process, so an interpreter that shares the GIL
    # but not the objects must not get them.
    result = run_python("""
        import _interpreters
        import hydrokit
        interp = _interpreters.create(_interpreters.new_config("legacy"))
        failure = _interpreters.exec(interp, "import hydrokit")
        print(failure.type.__name__)
        print(failure.msg)
        _interpreters.destroy(interp)
    """)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [
        "ImportError",
        "hydrokit can only be imported in one interpreter per process; it is already loaded "
        "in another",
    ]


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
