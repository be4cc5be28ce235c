"""The stubs let mypy accept typed hydrokit code and refuse what the module refuses."""

import pathlib
import shutil
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent
TYPED_EXAMPLE = ROOT / "examples" / "typed_usage.py"

# Both ways of reaching a submodule that work at runtime must type-check.
PRELUDE = """\
import array
from datetime import timedelta
import numpy
import pandas
import hydrokit
import hydrokit_pandas
from hydrokit import baseflow, metrics, rainfall_loss, reach, reservoir, utils
HOUR = timedelta(hours=1)
flow = pandas.Series([1.0, 2.0, 3.0], pandas.date_range("2024-05-01", periods=3, freq="h"))
series = utils.ContinuousTimeSeries([1.0, 2.0], HOUR, "discharge")
rain = utils.IncrementalTimeSeries([1.0, 2.0], HOUR, "rainfall")
layer = baseflow.LinearReservoir(HOUR, 0.5, 1.0)
curves = hydrokit.reservoir.reservoir_utils
one_kind_of_outlet: dict[str, hydrokit.reservoir.reservoir_utils.ConstantDischargeInfo] = {
    "pipe": curves.ConstantDischargeInfo(1.0)}
"""

# Each line runs and type-checks: what a user passes where numbers are taken.
ACCEPTED = [
    'utils.ContinuousTimeSeries(numpy.array([1.0, 2.0]), HOUR, "discharge")',
    'utils.IncrementalTimeSeries(numpy.arange(4), HOUR, "rainfall")',
    'utils.ContinuousTimeSeries(array.array("d", [1.0, 2.0]), HOUR, "elevation")',
    'utils.ContinuousTimeSeries((1, 2.5), HOUR, "volume")',
    'curves.ElevationStorage(range(3), [0.0, 1e3, 5e3]).get_storage(numpy.float64(1.5))',
    "metrics.calculate_kge(numpy.linspace(1.0, 2.0, 5), [1.0, 1.2, 1.5, 1.9, 2.0], True)",
    "layer.gw_fraction = 0.25",
    "layer.initial_q = 3",
    "layer.num_reservoir = 2",
    "reservoir.run_level_pool_routing(series, 0.5, curves.ElevationStorage([0.0, 1.0], [0.0, 1e9]),"
    " one_kind_of_outlet)",
    "memoryview(series).tolist()",
    "numpy.asarray(series).sum()",
    'hydrokit_pandas.run_clark_uh(flow, 45.0, numpy.timedelta64(3, "h"), pandas.offsets.Hour(4),'
    ' units="si").max()',
    'hydrokit_pandas.calculate_kge(flow, flow * 1.1, missing="propagate") + 1.0',
    'hydrokit_pandas.run_linear_reservoir(45.0, flow, {"gw": layer})[1]["gw"]',
]

SEQUENCE = '"Sequence[float] | NumericArray"'
OUTLETS = ('"UnControlledDischargeInfo | ControlledDischargeInfo | SpecifiedDischargeInfo'
           ' | ConstantDischargeInfo"')

# Each line fails at runtime with the exception shown, and mypy reports it as shown.
MISUSES = [
    ("import hydrokit.utils", ModuleNotFoundError,
     'Cannot find implementation or library stub for module named "hydrokit.utils"  '
     "[import-not-found]"),
    ("from hydrokit.reservoir import reservoir_utils", ModuleNotFoundError,
     'Cannot find implementation or library stub for module named "hydrokit.reservoir"  '
     "[import-not-found]"),
    ('utils.ContinuousTimeSeries("1.0", HOUR, "discharge")', TypeError,
     f'Argument 1 to "ContinuousTimeSeries" has incompatible type "str"; expected {SEQUENCE}  '
     "[arg-type]"),
    ("curves.ElevationStorage({1.0: 2.0}, [1.0])", TypeError,
     f'Argument 1 to "ElevationStorage" has incompatible type "dict[float, float]"; '
     f"expected {SEQUENCE}  [arg-type]"),
    ("metrics.calculate_kge(series, [1.0])", TypeError,
     f'Argument 1 to "calculate_kge" has incompatible type "ContinuousTimeSeries"; '
     f"expected {SEQUENCE}  [arg-type]"),
    ('utils.ContinuousTimeSeries([1.0], 3600, "discharge")', TypeError,
     'Argument 2 to "ContinuousTimeSeries" has incompatible type "int"; expected "timedelta"  '
     "[arg-type]"),
    ('utils.ContinuousTimeSeries([1.0], HOUR, "flow")', ValueError,
     "Argument 3 to \"ContinuousTimeSeries\" has incompatible type \"Literal['flow']\"; "
     "expected \"Literal['discharge', 'rainfall', 'elevation', 'volume']\"  [arg-type]"),
    ("rain.disaggregate(60.0)", TypeError,
     'Argument 1 to "disaggregate" of "IncrementalTimeSeries" has incompatible type "float"; '
     'expected "int"  [arg-type]'),
    ("metrics.calculate_kge([1.0], [1.0], use_log=1)", TypeError,
     'Argument "use_log" to "calculate_kge" has incompatible type "int"; expected "bool"  '
     "[arg-type]"),
    ("reach.run_muskingum_routing(series, HOUR, 0.2, 1)", TypeError,
     'Missing positional argument "initial_outflow" in call to "run_muskingum_routing"  '
     "[call-arg]"),
    ("baseflow.run_linear_reservoir(1.0, rain, [layer])", TypeError,
     'Argument 3 to "run_linear_reservoir" has incompatible type "list[LinearReservoir]"; '
     'expected "dict[str, LinearReservoir]"  [arg-type]'),
    ("reservoir.run_level_pool_routing(series, 1.0, curves.ElevationStorage([0.0, 1.0], "
     '[0.0, 1.0]), {"a": layer})', TypeError,
     f'Dict entry 0 has incompatible type "str": "LinearReservoir"; expected "str": {OUTLETS}  '
     "[dict-item]"),
    ("reservoir.LevelPoolResult()", TypeError,
     'Too few arguments for "LevelPoolResult"  [call-arg]'),
    ("rainfall_loss.DeficitConstantResult()", TypeError,
     'Too few arguments for "DeficitConstantResult"  [call-arg]'),
    ("class Layer(baseflow.LinearReservoir): pass", TypeError,
     'Cannot inherit from final class "LinearReservoir"  [misc]'),
    ("series.data = []", AttributeError,
     'Property "data" defined in "ContinuousTimeSeries" is read-only  [misc]'),
    ("layer.k_duration = HOUR", AttributeError,
     'Property "k_duration" defined in "LinearReservoir" is read-only  [misc]'),
    ('hydrokit_pandas.run_clark_uh(flow, 45.0, HOUR, HOUR, units="metric")', ValueError,
     'Argument "units" to "run_clark_uh" has incompatible type "Literal[\'metric\']"; '
     "expected \"Literal['us', 'si']\"  [arg-type]"),
    ("hydrokit_pandas.run_muskingum_routing(flow, 3.0, 0.2, 1, 0.0)", TypeError,
     'Argument 2 to "run_muskingum_routing" has incompatible type "float"; '
     'expected "timedelta | timedelta64[Any] | Tick | Day"  [arg-type]'),
    ("hydrokit_pandas.calculate_kge([1.0, 2.0], flow)", TypeError,
     'Argument 1 to "calculate_kge" has incompatible type "list[float]"; '
     'expected "Series[float]"  [arg-type]'),
    ('hydrokit_pandas.run_clark_uh(flow, 45.0, HOUR, HOUR, "si")', TypeError,
     'Too many positional arguments for "run_clark_uh"  [call-arg]'),
]


@pytest.fixture(scope="module")
def mypy_cache(tmp_path_factory):
    # A cache kept across sessions replays old errors under the file paths they had then.
    return tmp_path_factory.mktemp("mypy-cache")


def mypy_errors(path, cache):
    """mypy --strict on one file: its error lines without the file name, and its output."""
    result = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--no-error-summary", "--cache-dir",
         str(cache), path.name],
        capture_output=True, text=True, timeout=120, cwd=path.parent)
    assert result.returncode in (0, 1), result.stderr
    return [line.removeprefix(path.name + ":") for line in result.stdout.splitlines()
            if ": error: " in line], result.stdout


def test_stubs_pass_mypy_strict(tmp_path, mypy_cache):
    # Errors inside an installed stub package are silenced when user code is checked,
    # so the stubs are checked as a package of their own.
    shutil.copytree(ROOT / "stubs" / "hydrokit-stubs", tmp_path / "hydrokit")
    result = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--no-site-packages", "--cache-dir",
         str(mypy_cache / "stubs"), "-p", "hydrokit"],
        capture_output=True, text=True, timeout=120, cwd=tmp_path)
    assert (result.returncode, result.stdout) == (0, "Success: no issues found in 10 source files\n")


def test_companion_package_passes_mypy_strict(mypy_cache):
    result = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--cache-dir", str(mypy_cache / "pandas"),
         "python/hydrokit_pandas"], capture_output=True, text=True, timeout=120, cwd=ROOT)
    assert (result.returncode, result.stdout) == (0,
                                                  "Success: no issues found in 6 source files\n")


def test_typed_example_passes_mypy_strict(mypy_cache):
    assert mypy_errors(TYPED_EXAMPLE, mypy_cache) == ([], "")


def test_typed_example_runs():
    result = subprocess.run([sys.executable, str(TYPED_EXAMPLE)], capture_output=True,
                            text=True, timeout=60)
    assert result.returncode == 0, result.stderr
    peaks = {line[:17].strip(): float(line[17:].split()[0]) for line in result.stdout.splitlines()}
    assert peaks["peak outflow"] < peaks["peak inflow"]
    assert peaks["low-flow pipe"] == 15.0


def test_mypy_accepts_the_normal_uses_and_reports_every_misuse(tmp_path, mypy_cache):
    script = tmp_path / "misuse.py"
    first = PRELUDE.count("\n") + len(ACCEPTED) + 1
    script.write_text(PRELUDE + "".join(code + "\n" for code in ACCEPTED)
                      + "".join(code + "\n" for code, _, _ in MISUSES), encoding="utf-8")
    assert mypy_errors(script, mypy_cache)[0] == [
        f"{first + i}: error: {message}" for i, (_, _, message) in enumerate(MISUSES)]


@pytest.mark.parametrize("code", ACCEPTED)
def test_each_normal_use_runs(code):
    exec(PRELUDE + code, {})


@pytest.mark.parametrize("code, exception, message", MISUSES, ids=[m[0] for m in MISUSES])
def test_each_misuse_fails_at_runtime(code, exception, message):
    namespace = {}
    exec(PRELUDE, namespace)
    with pytest.raises(exception):
        exec(code, namespace)
