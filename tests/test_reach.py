import math
import struct
import warnings
from datetime import timedelta

import hydrokit
import pytest
from hypothesis import given, settings, strategies as st
from test_threads import on_worker_thread

route = hydrokit.reach.run_muskingum_routing
Series = hydrokit.utils.ContinuousTimeSeries
HOUR = timedelta(hours=1)
ADVICE = "`x` is outside the recommended range [0.0, 0.5]."


def hourly(values, kind="discharge"):
    return Series(values, HOUR, kind)


def reference(inflow, k_seconds, x, dt, start, passes):
    """The recurrence with the coefficients in their documented order and grouping."""
    k = k_seconds / float(passes)
    a = (1 - x) * (k + k)
    b = (k + k) * x
    d = dt + a
    c0, c1, c2 = (dt - b) / d, (b + dt) / d, (a - dt) / d
    for _ in range(passes):
        out = [start]
        for t in range(1, len(inflow)):
            out.append(c2 * out[t - 1] + (c0 * inflow[t] + c1 * inflow[t - 1]))
        inflow, start = out, out[0]
    return out


@pytest.mark.parametrize(
    "sub_reaches, expected",
    [
        (1, [10, 10.476190, 15.487528, 21.922039, 20.530592]),
        (2, [10, 10.532544, 13.796086, 20.126046, 22.755425]),
    ],
)
def test_worked_hydrograph(sub_reaches, expected):
    inflow = [10.0, 20.0, 30.0, 20.0, 10.0]
    result = route(hourly(inflow, "volume"), timedelta(hours=2), 0.2, sub_reaches, 10.0)
    assert result.data == pytest.approx(expected, abs=5e-7)
    assert result.data == reference(inflow, 7200.0, 0.2, 3600.0, 10.0, sub_reaches)
    assert (result.kind, result.time_step) == ("discharge", HOUR)


finite = st.floats(-1e6, 1e6)


@given(
    st.lists(finite, min_size=1, max_size=30),
    st.integers(0, 10**6),
    st.floats(0, 0.5),
    st.integers(1, 4),
    finite,
)
def test_recurrence_order_and_grouping(inflow, k_microseconds, x, sub_reaches, start):
    k = timedelta(microseconds=k_microseconds)
    result = route(Series(inflow, timedelta(seconds=900), "discharge"), k, x, sub_reaches, start)
    assert result.data == reference(inflow, k_microseconds / 1e6, x, 900.0, start, sub_reaches)
    assert result.data[0] == start


def bits(values):
    """Exact values, zeros with their sign; a NaN's payload is the processor's choice."""
    return [None if math.isnan(v) else struct.pack("d", v) for v in values]


@settings(max_examples=60)
@given(
    st.lists(st.one_of(finite, st.sampled_from([math.nan, math.inf, -math.inf, -0.0])),
             min_size=1, max_size=40),
    st.integers(1, 10**7),
    st.floats(0, 0.5),
    st.integers(1, 20),
)
def test_sub_reaches_across_groups_match_passes_one_after_another(inflow, k_ms, x, sub_reaches):
    # Passes are routed side by side in groups; counts on both sides of the group size.
    k = timedelta(milliseconds=k_ms)
    result = route(Series(inflow, HOUR, "discharge"), k, x, sub_reaches, inflow[0])
    expected = reference(inflow, k_ms / 1e3, x, 3600.0, inflow[0], sub_reaches)
    assert bits(result.data) == bits(expected)


special = st.sampled_from([math.nan, math.inf, -math.inf, -0.0, 0.0])


@settings(max_examples=150)
@given(
    st.lists(st.one_of(finite, special), min_size=1, max_size=300),
    st.integers(0, 10**7),
    st.floats(0, 0.5),
    st.integers(1, 40),
    st.one_of(finite, special),
)
def test_long_series_through_many_sub_reaches(inflow, k_ms, x, sub_reaches, start):
    # Lengths and counts that begin and end the routing at every offset between passes.
    k = timedelta(milliseconds=k_ms)
    result = route(Series(inflow, HOUR, "discharge"), k, x, sub_reaches, start)
    expected = reference(inflow, k_ms / 1e3, x, 3600.0, start, sub_reaches)
    assert bits(result.data) == bits(expected)


@given(st.lists(st.floats(-1e6, 1e6), min_size=1, max_size=50), st.floats(0, 0.5))
def test_zero_storage_repeats_inflow(inflow, x):
    result = route(hourly(inflow), timedelta(0), x, 3, inflow[0]).data
    tolerance = 1e-13 * len(inflow) * max(map(abs, inflow))
    assert all(abs(o - i) <= tolerance for o, i in zip(result, inflow))


@pytest.mark.parametrize("sub_reaches", [1, 5])
def test_single_value_is_the_initial_outflow(sub_reaches):
    assert route(hourly([3.0]), timedelta(days=3), 0.3, sub_reaches, -7.5).data == [-7.5]


@pytest.mark.parametrize("x", [0.0, 0.5, 0.25])
def test_no_advice_inside_range(x):
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        route(hourly([1.0, 2.0]), HOUR, x, 1, 1.0)


@pytest.mark.parametrize("caller", [lambda call: call(), on_worker_thread],
                         ids=["main thread", "worker thread"])
@pytest.mark.parametrize("x", [0.51, -0.1, math.nan])
def test_advice_outside_range_routes_anyway(x, caller):
    # A long inflow, so that the routing itself would let other threads run.
    inflow = hourly([1.0, 2.0] * 50_000)
    with pytest.warns(UserWarning) as record:
        result = caller(lambda: route(inflow, HOUR, x, 1, 1.0))
    assert [str(w.message) for w in record] == [ADVICE]
    assert record[0].filename == __file__
    expected = reference([1.0, 2.0], 3600.0, x, 3600.0, 1.0, 1)[1]
    assert result.data[1] == expected or math.isnan(x) and math.isnan(result.data[1])
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with pytest.raises(UserWarning) as excinfo:
            caller(lambda: route(inflow, HOUR, x, 1, 1.0))
    assert str(excinfo.value) == ADVICE


def test_advice_comes_before_the_sign_of_k():
    with pytest.warns(UserWarning):
        with pytest.raises(ValueError) as excinfo:
            route(hourly([1.0]), timedelta(hours=-1), 0.7, 1, 1.0)
    assert str(excinfo.value) == "Cannot convert a negative timedelta to a duration."
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with pytest.raises(UserWarning):
            route(hourly([1.0]), timedelta(hours=-1), 0.7, 1, 1.0)


@pytest.mark.parametrize(
    "inflow, k, sub_reaches, error, message",
    [
        ([1.0, 2.0], HOUR, 0, ValueError, "sub_reaches must be at least 1"),
        ([1.0, 2.0], HOUR, -3, ValueError, "sub_reaches must be at least 1"),
        # k's sign is checked before the count, the count before any routing
        ([1.0], -HOUR, 0, ValueError, "Cannot convert a negative timedelta to a duration."),
        ([], HOUR, 0, ValueError, "sub_reaches must be at least 1"),
        ([], HOUR, 1, BaseException, "index out of bounds: the len is 0 but the index is 0"),
    ],
)
def test_failures_after_conversion(inflow, k, sub_reaches, error, message):
    with pytest.raises(error) as excinfo:
        route(hourly(inflow), k, 0.2, sub_reaches, 1.0)
    assert str(excinfo.value) == message
    if error is BaseException:
        assert type(excinfo.value).__name__ == "PanicException"
        assert not isinstance(excinfo.value, Exception)


@pytest.mark.parametrize(
    "args, error, message",
    [
        (
            (hydrokit.utils.IncrementalTimeSeries([1.0], HOUR, "discharge"), 1.0, "x", 1, 1.0),
            TypeError,
            "argument 'inflow': 'IncrementalTimeSeries' object is not an instance of "
            "'ContinuousTimeSeries'",
        ),
        (
            (hourly([1.0]), 3600.0, "x", 1, 1.0),
            TypeError,
            "argument 'k': 'float' object is not an instance of 'timedelta'",
        ),
        # every conversion precedes the advice: no warning, the later argument's error
        (
            (hourly([1.0]), -HOUR, 0.9, 1.5, 1.0),
            TypeError,
            "argument 'sub_reaches': 'float' object cannot be interpreted as an integer",
        ),
        ((hourly([1.0]), -HOUR, 0.9, 2**63, 1.0), OverflowError, "int too big to convert"),
        (
            (hourly([1.0]), -HOUR, 0.9, 1, None),
            TypeError,
            "argument 'initial_outflow': must be real number, not NoneType",
        ),
        (
            (hourly([1.0]), HOUR),
            TypeError,
            "run_muskingum_routing() missing 3 required positional arguments: "
            "'x', 'sub_reaches', and 'initial_outflow'",
        ),
    ],
)
def test_conversion_failures(args, error, message):
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with pytest.raises(error) as excinfo:
            route(*args)
    assert type(excinfo.value) is error
    assert str(excinfo.value) == message


def test_keywords_and_docstring():
    result = route(initial_outflow=1.0, sub_reaches=1, x=0.0, k=HOUR, inflow=hourly([1.0, 1.0]))
    assert result.data == [1.0, 1.0]
    assert route.__module__ == "reach"
    assert route.__text_signature__ == "(inflow, k, x, sub_reaches, initial_outflow)"
    assert route.__doc__ == (
        "Routes an inflow hydrograph through a channel reach using the Muskingum method.\n\n"
        "The reach can be divided into `sub_reaches` equal segments to improve\n"
        "numerical accuracy. Each segment is routed sequentially using the same\n"
        "Muskingum coefficients derived from the per-segment `k` and the weighting\n"
        "factor `x`.\n\n"
        "Issues a Python `warnings.warn` if `x` is outside the physically meaningful\n"
        "range `[0.0, 0.5]`.\n\n"
        "# Arguments\n\n"
        "* `inflow` - Inflow hydrograph at the upstream end of the reach.\n"
        "* `k` - Storage time constant for the full reach (seconds). The per-segment\n"
        "  value is `k / sub_reaches`.\n"
        "* `x` - Weighting factor in `[0.0, 0.5]`. `x=0` gives pure reservoir routing\n"
        "  (maximum attenuation); `x=0.5` approximates kinematic routing (no attenuation).\n"
        "* `sub_reaches` - Number of equal sub-reaches. Must be >= 1.\n"
        "* `initial_outflow` - Initial outflow value. Defaults to the first inflow\n"
        "  value if not provided.\n\n"
        "# Returns\n\n"
        "A `ContinuousTimeSeries` (kind=discharge) of routed outflow values at the\n"
        "same time step as `inflow`."
    )
