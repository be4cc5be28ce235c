import itertools
import math
import threading
from datetime import timedelta

import hydrokit
import pytest
from hypothesis import given, settings, strategies as st

clark = hydrokit.rainfall_transform.run_clark_uh
Series = hydrokit.utils.IncrementalTimeSeries
HOUR = timedelta(hours=1)
SECOND = timedelta(seconds=1)


def rain(values, step=HOUR):
    return Series(values, step, "rainfall")


def unit_hydrograph(area, tc, storage_r, step=HOUR):
    return clark(rain([1.0], step), area, tc, storage_r).data


def fraction(x):
    x = min(x, 1.0)
    return x**1.5 * 1.414 if x < 0.5 else (1.0 - x) ** 1.5 * -1.414 + 1.0


def translation(area, tc_seconds, dt):
    ordinates, previous = [], 0.0
    for i in range(1, math.ceil(tc_seconds / dt) + 1):
        s = fraction((i * dt) / tc_seconds)
        ordinates.append(((s - previous) * area) * 1.00833 / (dt / 3600.0))
        previous = s
    return ordinates


def reference_unit(area, tc_seconds, k, dt):
    """The reservoir routing of the translation hydrograph, started from rest."""
    t_ordinates = translation(area, tc_seconds, dt)
    two_k = k + k
    den = dt + (1 - 0.0) * two_k
    c2 = ((1 - 0.0) * two_k - dt) / den
    c1 = (two_k * 0.0 + dt) / den
    c0 = (dt - two_k * 0.0) / den
    inflow = iter(t_ordinates)
    unit, total, previous = [0.0], 0.0, 0.0
    for t in itertools.count(1):
        now = next(inflow, 0.0)
        unit.append(c2 * unit[-1] + (c0 * now + c1 * previous))
        previous = now
        total += unit[-1]
        if t > len(t_ordinates) and c2 <= 0:
            # the whole alternating tail, sum of U * C2**k for k >= 1, in the first step
            unit[-1] = unit[-1] + unit[-1] * c2 / (1 - c2)
            return unit
        if t > len(t_ordinates) and not (abs(unit[-1]) * abs(c2) / (1 - c2) > 1e-9 * abs(total)):
            return unit


def convolve(values, unit):
    q = [0.0] * (len(values) + len(unit) - 1)
    for i, p in enumerate(values):
        if p != 0.0:
            for j, u in enumerate(unit):
                q[i + j] = u * p + q[i + j]
    return q


def test_two_hour_concentration_without_storage_is_pure_translation():
    upper_branch = (1.0 - 0.5) ** 1.5 * -1.414 + 1.0
    expected = [upper_branch * 100.0 * 1.00833 / 1.0, ((1.0 - upper_branch) * 100.0) * 1.00833]
    assert round(upper_branch, 6) == 0.500076
    assert translation(100.0, 7200.0, 3600.0) == expected
    assert unit_hydrograph(100.0, 2 * HOUR, timedelta(0)) == [0.0, *expected, 0.0]


@pytest.mark.parametrize(
    "area, tc, storage_r, step",
    [
        (100.0, 2 * HOUR, HOUR, HOUR),
        (640.0, timedelta(minutes=90), timedelta(minutes=45), HOUR),  # m rounds up to 2
        (3.5, HOUR, timedelta(hours=5), HOUR),  # tc of one step
        (1e4, timedelta(hours=7, seconds=1), timedelta(seconds=30), timedelta(minutes=15)),
        (250.0, timedelta(microseconds=1), timedelta(0), timedelta(seconds=1)),
    ],
)
def test_unit_hydrograph_order_of_operations(area, tc, storage_r, step):
    unit = unit_hydrograph(area, tc, storage_r, step)
    dt = step.total_seconds()
    assert unit == reference_unit(area, tc / timedelta(seconds=1), storage_r.total_seconds(), dt)
    assert sum(unit) * (dt / 3600) / 1.00833 == pytest.approx(area, rel=1e-6)


@settings(max_examples=60)
@given(
    st.floats(1e-3, 1e6),
    st.integers(1, 20 * 3600),
    st.integers(0, 10 * 3600),
    st.sampled_from([60, 900, 3600]),
)
def test_unit_hydrograph_holds_one_inch(area, tc_seconds, storage_seconds, step):
    tc, storage_r = timedelta(seconds=tc_seconds), timedelta(seconds=storage_seconds)
    unit = unit_hydrograph(area, tc, storage_r, timedelta(seconds=step))
    assert unit[0] == 0.0
    assert sum(unit) * (step / 3600) / 1.00833 == pytest.approx(area, rel=1e-6)


@given(st.integers(1, 12), st.floats(1.0, 1e5))
def test_zero_storage_reproduces_translation(steps, area):
    unit = unit_hydrograph(area, steps * HOUR, timedelta(0))
    ordinates = translation(area, steps * 3600.0, 3600.0)
    assert unit[0] == 0.0
    assert unit[1 : steps + 1] == pytest.approx(ordinates, rel=1e-12, abs=1e-9)
    assert all(abs(u) <= 1e-12 * area for u in unit[steps + 1 :])


# Magnitudes kept clear of subnormals, where doubling is not exact.
def signed(low, high):
    return st.one_of(st.floats(low, high), st.floats(-high, -low))


@given(
    st.lists(st.one_of(signed(1e-6, 5.0), st.just(0.0), st.just(-0.0)), max_size=12),
    st.one_of(signed(1e-3, 1e4), st.just(0.0)),
    st.integers(1, 6),
    st.integers(0, 4),
)
def test_convolution_and_area_scaling(values, area, tc_hours, storage_hours):
    tc, storage_r = tc_hours * HOUR, storage_hours * HOUR
    unit = unit_hydrograph(area, tc, storage_r)
    runoff = clark(rain(values), area, tc, storage_r)
    assert runoff.data == convolve(values, unit)
    assert (runoff.kind, runoff.time_step) == ("discharge", HOUR)
    assert clark(rain(values), 2 * area, tc, storage_r).data == [2 * q for q in runoff.data]


@pytest.mark.parametrize("changed", [
    {"area": 640.0 * (1 + 2**-52)}, {"tc": 6 * HOUR + timedelta(microseconds=1)},
    {"storage_r": 9 * HOUR}, {"step": timedelta(minutes=30)},
], ids=["area-ulp", "tc-microsecond", "storage", "step"])
def test_a_kept_unit_hydrograph_serves_only_the_same_inputs(changed):
    def run(area=640.0, tc=6 * HOUR, storage_r=8 * HOUR, step=HOUR):
        return [q.hex() for q in clark(rain([0.3, 0.0, 1.2], step), area, tc, storage_r).data]

    # A new thread has kept nothing: its result is built from scratch.
    fresh = []
    thread = threading.Thread(target=lambda: fresh.append(run(**changed)))
    thread.start()
    thread.join()
    kept = run()
    assert run(**changed) == fresh[0] != kept
    assert run() == kept


def test_zero_rain_is_skipped_and_nan_spreads():
    unit = unit_hydrograph(math.inf, 2 * HOUR, HOUR)
    # an infinite area would turn 0 * inf into NaN if a dry step touched the result
    assert clark(rain([0.0, -0.0]), math.inf, 2 * HOUR, HOUR).data == [0.0] * (len(unit) + 1)
    finite = unit_hydrograph(1.0, 2 * HOUR, HOUR)
    spread = clark(rain([0.0, math.nan, 0.0]), 1.0, 2 * HOUR, HOUR).data
    assert [math.isnan(q) for q in spread] == [False] + [True] * len(finite) + [False]


@pytest.mark.parametrize("values", [[], [2.0, 1.0, 0.0]])
def test_zero_concentration_time_gives_zeros(values):
    assert clark(rain(values), 100.0, timedelta(0), HOUR).data == [0.0] * len(values)


def test_empty_rainfall_keeps_the_length_rule():
    unit = unit_hydrograph(100.0, 3 * HOUR, HOUR)
    assert clark(rain([]), 100.0, 3 * HOUR, HOUR).data == [0.0] * (len(unit) - 1)


@pytest.mark.parametrize(
    "storage_r",
    [
        timedelta(0),  # C2 = -1
        timedelta(microseconds=1),
        timedelta(microseconds=50),  # once "too long"
        timedelta(seconds=1),  # once about 4,900 alternating ordinates
        timedelta(minutes=17),
        timedelta(minutes=30),  # half the step: C2 = 0
    ],
)
@pytest.mark.parametrize("tc_hours", [1, 3, 7])
def test_storage_within_half_a_step_keeps_one_recession_ordinate(storage_r, tc_hours):
    area = 640.0
    unit = unit_hydrograph(area, tc_hours * HOUR, storage_r)
    assert len(unit) == 1 + tc_hours + 1
    assert unit == reference_unit(area, tc_hours * 3600.0, storage_r.total_seconds(), 3600.0)
    assert math.fsum(unit) == pytest.approx(math.fsum(translation(area, tc_hours * 3600.0, 3600.0)),
                                            rel=1e-9, abs=0)


@pytest.mark.parametrize("beyond_half", [timedelta(microseconds=1), SECOND, HOUR])
def test_storage_beyond_half_a_step_keeps_its_recession(beyond_half):
    area, storage_r = 640.0, timedelta(minutes=30) + beyond_half
    unit = unit_hydrograph(area, 3 * HOUR, storage_r)
    assert unit == reference_unit(area, 3 * 3600.0, storage_r.total_seconds(), 3600.0)
    assert math.fsum(unit) == pytest.approx(math.fsum(translation(area, 3 * 3600.0, 3600.0)),
                                            rel=1e-8, abs=0)


@settings(max_examples=40)
@given(
    st.lists(st.one_of(st.floats(1e-3, 4.0), st.just(0.0)), max_size=120),
    st.integers(1, 4),
    st.integers(0, 3),
)
def test_long_storms_convolve_step_by_step(values, tc_hours, storage_hours):
    # Rain steps fused into one sweep, some too far apart for it, and runs of zeros.
    tc, storage_r = tc_hours * HOUR, storage_hours * HOUR
    unit = unit_hydrograph(250.0, tc, storage_r)
    assert clark(rain(values), 250.0, tc, storage_r).data == convolve(values, unit)


@pytest.mark.exhausts_memory
def test_unit_hydrograph_beyond_memory_is_a_memory_error():
    # About 8.6e13 ordinates at a one-second step: far more than any machine holds.
    with pytest.raises(MemoryError):
        clark(rain([1.0], SECOND), 1.0, timedelta(days=999_999_999), HOUR)


def test_storage_too_long_for_the_step():
    with pytest.raises(ValueError) as excinfo:
        clark(rain([1.0], timedelta(seconds=1)), 1.0, timedelta(seconds=1), timedelta(days=12))
    assert str(excinfo.value) == (
        "storage_r is too long for the time step: the unit hydrograph does not decay within "
        "10000000 steps"
    )


NEGATIVE = "Cannot convert a negative timedelta to a duration."


@pytest.mark.parametrize(
    "args, error, message",
    [
        ((rain([1.0]), 1.0, -HOUR, HOUR), ValueError, NEGATIVE),
        ((rain([1.0]), 1.0, HOUR, -HOUR), ValueError, NEGATIVE),
        # the types of all four are checked before either sign
        (
            (rain([1.0]), 1.0, -HOUR, 3600),
            TypeError,
            "argument 'storage_r': 'int' object is not an instance of 'timedelta'",
        ),
        (
            (rain([1.0]), "big", 7200, HOUR),
            TypeError,
            "argument 'basin_area': must be real number, not str",
        ),
        (
            (hydrokit.utils.ContinuousTimeSeries([1.0], HOUR, "rainfall"), 1.0, HOUR, HOUR),
            TypeError,
            "argument 'rainfall': 'ContinuousTimeSeries' object is not an instance of "
            "'IncrementalTimeSeries'",
        ),
        (
            (rain([1.0]), 1.0, HOUR),
            TypeError,
            "run_clark_uh() missing 1 required positional argument: 'storage_r'",
        ),
    ],
)
def test_conversion_failures(args, error, message):
    with pytest.raises(error) as excinfo:
        clark(*args)
    assert str(excinfo.value) == message


def test_docstring():
    assert clark.__module__ == "rainfall_transform"
    assert clark.__text_signature__ == "(rainfall, basin_area, tc, storage_r)"
    assert clark.__doc__ == (
        "Transforms excess rainfall into a runoff hydrograph using the Clark unit hydrograph.\n\n"
        "# Arguments\n\n"
        "* `rainfall` - Excess rainfall series (inches per time step).\n"
        "* `basin_area` - Drainage area in acres.\n"
        "* `tc` - Time of concentration. Controls the duration and shape of the\n"
        "  translation hydrograph.\n"
        "* `storage_r` - Linear reservoir storage coefficient. Controls attenuation.\n\n"
        "# Returns\n\n"
        "A `ContinuousTimeSeries` (kind=discharge, cfs) at the same time step as `rainfall`."
    )
