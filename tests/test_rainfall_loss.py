import math
from datetime import timedelta

import numpy as np
import hydrokit
import pytest
from hypothesis import given, strategies as st

split = hydrokit.rainfall_loss.run_deficit_and_constant
Result = hydrokit.rainfall_loss.DeficitConstantResult
Series = hydrokit.utils.IncrementalTimeSeries
HOUR = timedelta(hours=1)
NAN = math.nan


def rain(values, step=HOUR, kind="rainfall"):
    return Series(values, step, kind)


def fmin(a, b):
    """IEEE minNum: a NaN operand is ignored."""
    return b if math.isnan(a) else a if math.isnan(b) else min(a, b)


def fmax(a, b):
    return b if math.isnan(a) else a if math.isnan(b) else max(a, b)


def reference(values, step_seconds, d0, dmax, rate, dry_seconds):
    dt_h = step_seconds / 3600.0
    capacity = rate * dt_h
    r = 1.0 - math.exp(dt_h / (dry_seconds / -3600.0)) if dry_seconds > 0 else 0.0
    excess, loss, deficit, d = [], [], [], d0
    for p in values:
        recovered = fmin(d + fmax(dmax - d, 0.0) * r, dmax)
        if p > 0:
            lc = fmin(p, capacity)
            remaining = p - lc
            filled = fmin(remaining, recovered)
            d = recovered - filled
            loss.append(filled + lc)
            excess.append(remaining - filled)
        else:
            d = recovered
            loss.append(0.0)
            excess.append(0.0)
        deficit.append(d)
    return excess, loss, deficit


def parts(result):
    return result.excess.data, result.loss.data, result.deficit.data


@pytest.mark.parametrize(
    "values, d0, dmax, rate, dry, expected",
    [
        # 0.1 in of constant loss, then the 0.3 in deficit is filled
        ([0.5], 0.3, 1.0, 0.1, timedelta(0), ([0.5 - 0.1 - 0.3], [0.4], [0.0])),
        # rain below the step's loss capacity is all lost; the deficit only recovers
        ([0.05], 0.3, 1.0, 0.1, timedelta(0), ([0.0], [0.05], [0.3])),
        # no recovery: the deficit holds over dry and NaN steps
        ([0.0, -1.0, NAN], 0.3, 1.0, 0.1, timedelta(0), ([0.0] * 3, [0.0] * 3, [0.3] * 3)),
        # a microsecond to dry: every step starts from a full deficit
        (
            [0.0, 2.0, 0.0],
            0.1,
            1.0,
            0.0,
            timedelta(microseconds=1),
            ([0.0, 1.0, 0.0], [0.0, 1.0, 0.0], [1.0, 0.0, 1.0]),
        ),
        # a deficit above its maximum is pulled down before the first rain is taken
        ([0.5], 2.0, 1.0, 0.0, timedelta(0), ([0.0], [0.5], [0.5])),
        # NaN parameters are ignored by min and max instead of spreading
        ([0.5, 0.0], 0.3, NAN, 0.0, HOUR, ([0.2, 0.0], [0.3, 0.0], [0.0, 0.0])),
        ([0.5], 0.3, 1.0, NAN, timedelta(0), ([0.0], [0.5], [0.3])),
        ([0.0], NAN, 1.0, 0.0, timedelta(0), ([0.0], [0.0], [1.0])),
    ],
)
def test_worked_steps(values, d0, dmax, rate, dry, expected):
    assert parts(split(rain(values), d0, dmax, rate, dry)) == tuple(map(list, expected))


def test_nan_remaining_rain_fills_the_whole_deficit():
    excess, loss, deficit = parts(split(rain([math.inf]), 0.3, 1.0, math.inf, timedelta(0)))
    assert math.isnan(excess[0]) and loss == [math.inf] and deficit == [0.0]


depth = st.floats(0, 10)


@given(
    st.lists(st.one_of(depth, st.just(NAN), st.floats(-1, 0)), max_size=40),
    st.integers(1, 4).map(lambda k: k * 900),
    depth,
    depth,
    depth,
    st.integers(0, 10**11),
)
def test_matches_the_documented_order(values, step, d0, dmax, rate, dry_us):
    dry = timedelta(microseconds=dry_us)
    result = split(rain(values, timedelta(seconds=step)), d0, dmax, rate, dry)
    assert parts(result) == reference(values, step, d0, dmax, rate, dry_us / 1e6)


@given(st.lists(depth, max_size=40), depth, depth, depth, st.integers(0, 10**5))
def test_mass_balance_and_bounded_deficit(values, d0, dmax, rate, dry_minutes):
    d0 = min(d0, dmax)
    result = split(rain(values), d0, dmax, rate, timedelta(minutes=dry_minutes))
    excess, loss, deficit = parts(result)
    for p, e, l, d in zip(values, excess, loss, deficit):
        assert 0.0 <= d <= dmax and e >= 0.0 and l >= 0.0
        if p > 0:
            assert e + l == pytest.approx(p, rel=1e-12, abs=1e-15)


def test_result_series_and_record():
    result = split(rain([0.2, 0.0], timedelta(minutes=15), kind="volume"), 0.0, 1.0, 0.1, HOUR)
    for name in ("excess", "loss", "deficit"):
        series = getattr(result, name)
        assert type(series) is Series
        assert len(series.data) == 2
        assert (series.time_step, series.kind) == (timedelta(minutes=15), "rainfall")
        assert getattr(result, name) is not series
        with pytest.raises(AttributeError):
            setattr(result, name, series)
    empty = split(rain([], timedelta(minutes=5)), 0.0, 1.0, 0.1, HOUR)
    for series in (empty.excess, empty.loss, empty.deficit):
        assert (series.data, series.time_step) == ([], timedelta(minutes=5))


def test_result_class():
    assert Result.__doc__ == "Results from the deficit-and-constant rainfall loss model."
    assert [getattr(Result, name).__doc__ for name in ("excess", "loss", "deficit")] == [
        "Excess rainfall that becomes surface runoff (inches per time step).",
        "Total infiltrated depth per time step (constant loss + deficit fill, inches).",
        "Running soil moisture deficit at the end of each time step (inches).",
    ]
    assert Result.__module__ == "builtins"
    assert hydrokit.rainfall_loss.__all__ == ["DeficitConstantResult", "run_deficit_and_constant"]

    class Derived(Result):
        pass

    for cls in (Result, Derived):
        with pytest.raises(TypeError):
            cls()


@pytest.mark.parametrize(
    "args, error, message",
    [
        (
            (hydrokit.utils.ContinuousTimeSeries([1.0], HOUR, "rainfall"), "a", 1.0, 0.1, -HOUR),
            TypeError,
            "argument 'rainfall': 'ContinuousTimeSeries' object is not an instance of "
            "'IncrementalTimeSeries'",
        ),
        (
            (rain([1.0]), 0.0, None, "a", -HOUR),
            TypeError,
            "argument 'max_deficit': must be real number, not NoneType",
        ),
        (
            (rain([1.0]), 0.0, 1.0, "a", -HOUR),
            TypeError,
            "argument 'constant_loss_per_hr': must be real number, not str",
        ),
        (
            (rain([1.0]), 0.0, 1.0, 0.1, 60),
            TypeError,
            "argument 'time_to_dry': 'int' object is not an instance of 'timedelta'",
        ),
        (
            (rain([1.0]), 0.0, 1.0, 0.1, -HOUR),
            ValueError,
            "Cannot convert a negative timedelta to a duration.",
        ),
        (
            (rain([1.0]), 0.0),
            TypeError,
            "run_deficit_and_constant() missing 3 required positional arguments: "
            "'max_deficit', 'constant_loss_per_hr', and 'time_to_dry'",
        ),
    ],
)
def test_conversion_failures(args, error, message):
    with pytest.raises(error) as excinfo:
        split(*args)
    assert str(excinfo.value) == message


def test_docstring():
    assert split.__module__ == "rainfall_loss"
    assert split.__text_signature__ == (
        "(rainfall, initial_deficit, max_deficit, constant_loss_per_hr, time_to_dry)"
    )
    assert split.__doc__ == (
        "Separates gross rainfall into excess runoff and infiltration losses using the\n"
        "deficit-and-constant model.\n\n"
        "# Arguments\n\n"
        "* `rainfall` - Gross rainfall time series (inches per time step).\n"
        "* `initial_deficit` - Starting soil moisture deficit (inches).\n"
        "* `max_deficit` - Maximum soil moisture storage capacity (inches).\n"
        "* `constant_loss_per_hr` - Constant infiltration rate (inches/hour).\n"
        "* `time_to_dry` - Characteristic drying time for deficit recovery.\n\n"
        "# Returns\n\n"
        "A `DeficitConstantResult` with `excess`, `loss`, and `deficit` series."
    )


@pytest.mark.parametrize("nan_at", [None, 0, 4095, 4096, 9999])
def test_long_storms_match_the_documented_order_across_blocks(nan_at):
    # Thousands of steps carry the deficit from one block of work to the next; a NaN depth
    # anywhere must give what the step-by-step order gives.
    rng = np.random.default_rng(5)
    values = (rng.exponential(0.2, 10_000) * (rng.random(10_000) < 0.3)).tolist()
    if nan_at is not None:
        values[nan_at] = NAN
    result = split(rain(values), 0.4, 1.5, 0.08, timedelta(hours=30))
    assert parts(result) == reference(values, 3600, 0.4, 1.5, 0.08, 30 * 3600.0)
