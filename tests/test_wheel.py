"""The repaired manylinux wheel carries the extension and its stubs, and works in a fresh
environment."""

import os
import pathlib
import re
import subprocess
import sys
import sysconfig
import venv
import zipfile

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent
STUB_FILES = sorted(p.name for p in (ROOT / "stubs" / "hydrokit-stubs").glob("*.pyi"))

TYPED_SCRIPT = """\
from hydrokit import metrics
score: float = metrics.calculate_kge([1.0, 2.0, 3.0], [1.0, 2.0, 4.0])
metrics.calculate_kge("1.0", [1.0])
"""
STUBBED_ERRORS = [
    '3: error: Argument 1 to "calculate_kge" has incompatible type "str"; '
    'expected "Sequence[float] | NumericArray"  [arg-type]',
]

# Runs every computation in the fresh venv and in the development one: the same bits.
COMPUTATIONS = ROOT / "tests" / "computations.py"
pytestmark = pytest.mark.wheel


def run(*command, cwd):
    return subprocess.run([str(c) for c in command], capture_output=True, text=True,
                          timeout=300, cwd=cwd)


@pytest.fixture(scope="session")
def wheel(tmp_path_factory):
    """What `make wheel` writes to dist/: the tree's wheel, repaired by auditwheel."""
    out = tmp_path_factory.mktemp("dist")
    built = subprocess.run([ROOT / "scripts" / "wheel.sh", out], capture_output=True, text=True,
                           timeout=300, cwd=ROOT, env=os.environ | {"PYTHON": sys.executable})
    assert built.returncode == 0, built.stderr[-3000:]
    (path,) = out.glob("hydrokit-*.whl")
    assert built.stdout == f"{path}\n"
    return path


def test_wheel_is_tagged_manylinux(wheel):
    machine = os.uname().machine
    tags = [line.removeprefix("Tag: ") for line in
            zipfile.ZipFile(wheel).read("hydrokit-0.1.0.dist-info/WHEEL").decode().splitlines()
            if line.startswith("Tag: ")]
    # The oldest policy may also carry its legacy alias (manylinux2014 for manylinux_2_17).
    assert tags and all(re.fullmatch(rf"cp314-cp314-manylinux(_2_\d+|2014)_{machine}", t)
                        for t in tags)
    platforms = wheel.name.removeprefix("hydrokit-0.1.0-cp314-cp314-").removesuffix(".whl")
    assert sorted(platforms.split(".")) == sorted(t.removeprefix("cp314-cp314-") for t in tags)


def test_wheel_holds_the_extension_the_stubs_and_the_licence(wheel):
    # auditwheel's repair adds the folders' own entries.
    names = [n for n in zipfile.ZipFile(wheel).namelist() if not n.endswith("/")]
    assert sorted(n.removeprefix("hydrokit-stubs/") for n in names
                  if n.startswith("hydrokit-stubs/")) == STUB_FILES
    assert [n for n in names if n.endswith(".so")] == [
        "hydrokit" + sysconfig.get_config_var("EXT_SUFFIX")]
    assert "hydrokit-0.1.0.dist-info/licenses/LICENSE" in names
    metadata = zipfile.ZipFile(wheel).read("hydrokit-0.1.0.dist-info/METADATA").decode()
    for line in ["License-Expression: MIT", "Requires-Python: >=3.14",
                 "Classifier: Programming Language :: Python :: 3.14",
                 "Classifier: Programming Language :: C++",
                 "Classifier: Topic :: Scientific/Engineering :: Hydrology"]:
        assert line in metadata.splitlines()
    assert "Project-URL" not in metadata


def test_wheel_installs_imports_computes_and_types(wheel, tmp_path):
    env = tmp_path / "env"
    venv.create(env, with_pip=False, symlinks=True)
    python = env / "bin" / "python"
    script = tmp_path / "typed.py"
    script.write_text(TYPED_SCRIPT, encoding="utf-8")
    mypy = [sys.executable, "-m", "mypy", "--strict", "--no-error-summary",
            "--cache-dir", tmp_path / "mypy-cache", "--python-executable", python, script.name]

    # Before the install mypy must not find hydrokit: the stubs checked below come
    # from the wheel, not from the development environment.
    before = run(*mypy, cwd=tmp_path)
    assert 'Cannot find implementation or library stub for module named "hydrokit"' in before.stdout

    installed = run(sys.executable, "-m", "pip", "--python", python, "install", "--quiet",
                    "--no-index", "--no-deps", wheel, cwd=tmp_path)
    assert installed.returncode == 0, installed.stderr

    # Isolated (-I): neither the working directory nor PYTHONPATH can lend the source tree.
    located = run(python, "-I", "-c", "import hydrokit; print(hydrokit.__file__)", cwd=tmp_path)
    assert located.stdout.startswith(str(env)), located.stdout + located.stderr
    computed = run(python, "-I", COMPUTATIONS, cwd=tmp_path)
    assert computed.returncode == 0, computed.stderr
    assert computed.stdout == run(sys.executable, "-I", COMPUTATIONS, cwd=tmp_path).stdout

    after = run(*mypy, cwd=tmp_path)
    assert [line.removeprefix("typed.py:") for line in after.stdout.splitlines()
            if ": error: " in line] == STUBBED_ERRORS
