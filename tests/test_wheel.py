"""The repaired manylinux wheel carries the extension and its stubs, and works in a fresh
environment; the wheel and the builds of every compiler compute the same bits."""

import os
import pathlib
import shutil
import subprocess
import sys
import sysconfig
import venv
import zipfile

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent
STUB_FILES = sorted(p.name for p in (ROOT / "stubs" / "hydrokit-stubs").glob("*.pyi"))
PANDAS_FILES = sorted(p.name for p in (ROOT / "python" / "hydrokit_pandas").iterdir()
                      if p.is_file())

TYPED_SCRIPT = """\
from hydrokit import metrics
score: float = metrics.calculate_kge([1.0, 2.0, 3.0], [1.0, 2.0, 4.0])
metrics.calculate_kge("1.0", [1.0])
"""
STUBBED_ERRORS = [
    '3: error: Argument 1 to "calculate_kge" has incompatible type "str"; '
    'expected "Sequence[float] | NumericArray"  [arg-type]',
]

# Every computation, printed bit for bit: each build must print what the development one does.
COMPUTATIONS = ROOT / "tests" / "computations.py"
TAG = f"cp{sys.version_info.major}{sys.version_info.minor}"
# The ABI's tag: cp314t for the free-threaded build.
ABI = TAG + sys.abiflags
pytestmark = pytest.mark.wheel


def run(*command, cwd, env=None):
    return subprocess.run([str(c) for c in command], capture_output=True, text=True,
                          timeout=600, cwd=cwd, env=env)


@pytest.fixture(scope="session")
def development_bits(tmp_path_factory):
    computed = run(sys.executable, "-I", COMPUTATIONS, cwd=tmp_path_factory.mktemp("reference"))
    assert computed.returncode == 0, computed.stderr
    return computed.stdout


def assert_same_bits(python, origin, reference, cwd, env=None):
    """`python` imports hydrokit from `origin` and prints `reference` from every computation."""
    located = run(python, "-c", "import hydrokit; print(hydrokit.__file__)", cwd=cwd, env=env)
    assert located.stdout.startswith(str(origin)), located.stdout + located.stderr
    computed = run(python, COMPUTATIONS, cwd=cwd, env=env)
    assert computed.returncode == 0, computed.stderr
    assert computed.stdout == reference


# The cross compiler's build runs in the aarch64 interpreter of this version, under qemu-user.
CROSS_COMPILER = "aarch64-linux-gnu-g++"
VERSION = f"{sys.version_info.major}.{sys.version_info.minor}"
# 3.14t for the free-threaded build, which has no aarch64 interpreter here.
FLAVOUR = VERSION + sys.abiflags
AARCH64_VENV = ROOT / ".venv-aarch64"
HOST_MACHINE = os.uname().machine


def emulated():
    if not (AARCH64_VENV / "lib" / f"python{FLAVOUR}").is_dir():
        pytest.skip(f"no aarch64 CPython {FLAVOUR} (make test ARCH=aarch64 provisions 3.14's)")


@pytest.fixture(scope="session", params=[HOST_MACHINE, "aarch64"])
def machine(request):
    if request.param != HOST_MACHINE:
        emulated()
    return request.param


@pytest.fixture(scope="session")
def wheel(machine, tmp_path_factory, progress):
    """What `make wheel` writes to dist/: the tree's wheel, repaired by auditwheel (for aarch64,
    cross-compiled: ARCH=aarch64)."""
    progress(f"test_wheel: building and repairing the {machine} wheel")
    out = tmp_path_factory.mktemp("dist")
    env = {k: v for k, v in os.environ.items() if k != "ARCH"} | {"PYTHON": sys.executable}
    if machine != HOST_MACHINE:
        env["ARCH"] = machine
    built = subprocess.run([ROOT / "scripts" / "wheel.sh", out], capture_output=True, text=True,
                           timeout=600, cwd=ROOT, env=env)
    assert built.returncode == 0, built.stderr[-3000:]
    (path,) = out.glob("hydrokit-*.whl")
    assert built.stdout == f"{path}\n"
    return path


def fresh_venv(machine, env):
    """The python of a new, empty venv in `env` for `machine` (aarch64's runs emulated)."""
    if machine == HOST_MACHINE:
        venv.create(env, with_pip=False, symlinks=True)
        return env / "bin" / "python"
    made = run(ROOT / "scripts" / "aarch64.sh", "fresh-venv", env, sys.executable, cwd=ROOT)
    assert made.returncode == 0, made.stderr[-3000:]
    return pathlib.Path(made.stdout.strip())


def test_wheel_is_tagged_manylinux(wheel, machine):
    tags = [line.removeprefix("Tag: ") for line in
            zipfile.ZipFile(wheel).read("hydrokit-0.1.0.dist-info/WHEEL").decode().splitlines()
            if line.startswith("Tag: ")]
    # glibc 2.17 is the newest the module may ask for (the README promises it); auditwheel
    # writes that policy with its legacy alias.
    assert sorted(tags) == [f"{TAG}-{ABI}-manylinux2014_{machine}",
                            f"{TAG}-{ABI}-manylinux_2_17_{machine}"]
    platforms = wheel.name.removeprefix(f"hydrokit-0.1.0-{TAG}-{ABI}-").removesuffix(".whl")
    assert sorted(platforms.split(".")) == sorted(t.removeprefix(f"{TAG}-{ABI}-") for t in tags)


def test_wheel_holds_the_extension_the_stubs_the_companion_and_the_licence(wheel, machine):
    # auditwheel's repair adds the folders' own entries.
    names = [n for n in zipfile.ZipFile(wheel).namelist() if not n.endswith("/")]
    assert sorted(n.removeprefix("hydrokit-stubs/") for n in names
                  if n.startswith("hydrokit-stubs/")) == STUB_FILES
    assert sorted(n.removeprefix("hydrokit_pandas/") for n in names
                  if n.startswith("hydrokit_pandas/")) == PANDAS_FILES
    assert [n for n in names if n.endswith(".so")] == [
        "hydrokit" + sysconfig.get_config_var("EXT_SUFFIX").replace(HOST_MACHINE, machine)]
    assert "hydrokit-0.1.0.dist-info/licenses/LICENSE" in names
    metadata = zipfile.ZipFile(wheel).read("hydrokit-0.1.0.dist-info/METADATA").decode()
    for line in ["License-Expression: MIT", "Requires-Python: >=3.13",
                 "Classifier: Programming Language :: Python :: 3.13",
                 "Classifier: Programming Language :: Python :: 3.14",
                 "Classifier: Programming Language :: Python :: 3.15",
                 "Classifier: Programming Language :: C++",
                 "Classifier: Topic :: Scientific/Engineering :: Hydrology",
                 "Provides-Extra: pandas", 'Requires-Dist: pandas>=2.2; extra == "pandas"']:
        assert line in metadata.splitlines()
    assert "Project-URL" not in metadata


def test_wheel_installs_imports_computes_and_types(wheel, machine, development_bits, tmp_path):
    env = tmp_path / "env"
    python = fresh_venv(machine, env)
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

    # PYTHONPATH unset: nothing but the install can lend hydrokit.
    assert_same_bits(python, env, development_bits, tmp_path,
                     {k: v for k, v in os.environ.items() if k != "PYTHONPATH"})

    after = run(*mypy, cwd=tmp_path)
    assert [line.removeprefix("typed.py:") for line in after.stdout.splitlines()
            if ": error: " in line] == STUBBED_ERRORS


def runner(compiler):
    """The interpreter that imports `compiler`'s build, and the CMake settings aimed at it."""
    if compiler != CROSS_COMPILER:
        return sys.executable, []
    emulated()
    target = ROOT / ".toolchain" / f"{VERSION}-arm64" / "root"
    soabi = sysconfig.get_config_var("SOABI").replace(HOST_MACHINE, "aarch64")
    return AARCH64_VENV / "bin" / "python", [
        f"-DCMAKE_TOOLCHAIN_FILE={ROOT / 'cmake' / 'aarch64-linux-gnu.cmake'}",
        f"-DPython_INCLUDE_DIR={target / 'usr' / 'include' / f'python{VERSION}'}",
        f"-DSKBUILD_SOABI={soabi}"]


def compiled_with(compiler, progress, settings=()):
    """The tree built by `compiler` for this interpreter, in a CMake build of its own where any
    warning is an error (also one from a file compiled on an earlier run)."""
    if shutil.which(compiler) is None:
        pytest.skip(f"{compiler} is not installed (make test CXX={compiler} installs it)")
    progress(f"test_wheel: building the tree with {compiler} to compare its bits")
    build = ROOT / "build" / "compare" / f"{compiler}-{sysconfig.get_config_var('SOABI')}"
    env = os.environ | {"PATH": os.pathsep.join([os.path.dirname(sys.executable),
                                                 os.environ["PATH"]])}
    cmake = shutil.which("cmake", path=env["PATH"])
    for step in ([cmake, "-S", ROOT, "-B", build, "-G", "Ninja", f"-DCMAKE_CXX_COMPILER={compiler}",
                  f"-DPython_EXECUTABLE={sys.executable}", "-DCMAKE_COMPILE_WARNING_AS_ERROR=ON",
                  *settings],
                 [cmake, "--build", build]):
        done = run(*step, cwd=ROOT, env=env)
        assert done.returncode == 0, (done.stdout + done.stderr)[-5000:]
    return build


@pytest.mark.parametrize("compiler", ["g++", "clang++-19", CROSS_COMPILER])
def test_every_compiler_computes_the_same_bits(compiler, development_bits, tmp_path, progress):
    # The installed module does not say which compiler built it (the install strips its
    # .comment section), so each compiler's build is held to it, one of them to its own kin.
    # The compilers are compared under the build of record's interpreter: the other
    # interpreters' builds are held to its bits by their wheels' tests.
    if FLAVOUR != "3.14":
        pytest.skip("compilers are compared on CPython 3.14")
    python, settings = runner(compiler)
    build = compiled_with(compiler, progress, settings)
    assert_same_bits(python, build, development_bits, tmp_path,
                     os.environ | {"PYTHONPATH": str(build)})
