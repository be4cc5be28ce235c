"""Level pool routing."""

import math
from datetime import timedelta

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import hydrokit

reservoir = hydrokit.reservoir
utils = reservoir.reservoir_utils
route = reservoir.run_level_pool_routing
ContinuousTimeSeries = hydrokit.utils.ContinuousTimeSeries
IncrementalTimeSeries = hydrokit.utils.IncrementalTimeSeries

NAN = float("nan")
POOL = utils.ElevationStorage([100, 110], [0, 1000])


def series(data, seconds=1):
    return ContinuousTimeSeries(data, timedelta(seconds=seconds), "discharge")


def panic_message(call):
    try:
        call()
    except BaseException as error:  # PanicException derives from BaseException only
        assert (type(error).__module__, type(error).__name__) == ("pyo3_runtime", "PanicException")
        assert not isinstance(error, Exception)
        return str(error)
    pytest.fail("no PanicException")


def value_error(call):
    with pytest.raises(ValueError) as excinfo:
        call()
    return str(excinfo.value)


def lerp(x, xs, ys):
    """A lookup on a piecewise-linear curve, written out independently of the library."""
    for i in range(len(xs)):
        if x == xs[i]:
            return ys[i]
    i = next(i for i in range(1, len(xs)) if xs[i - 1] < x < xs[i])
    x0, x1, y0, y1 = xs[i - 1], xs[i], ys[i - 1], ys[i]
    return ((x - x0) / (x1 - x0)) * (y1 - y0) + y0


def inflow_at(data, dt, t):
    p = t / dt
    i = math.floor(p)
    return data[i] if i >= len(data) - 1 else (data[i + 1] - data[i]) * (p - i) + data[i]


GATE_ELEVATION = [100, 101.2, 110]
GATE_DISCHARGE = [0, 4.5, 50]


@pytest.mark.parametrize(
    "outlet, rate",
    [
        (utils.ConstantDischargeInfo(1.0), lambda e: 1.0),
        (
            utils.ControlledDischargeInfo(utils.ElevationDischarge(GATE_ELEVATION, GATE_DISCHARGE)),
            lambda e: lerp(e, GATE_ELEVATION, GATE_DISCHARGE),
        ),
        (
            utils.ControlledDischargeInfo(
                utils.ElevationDischarge(GATE_ELEVATION, GATE_DISCHARGE), maximum_release=4.7
            ),
            lambda e: min(lerp(e, GATE_ELEVATION, GATE_DISCHARGE), 4.7),
        ),
    ],
)
def test_worked_sequence_of_four_points_two_seconds_apart(outlet, rate):
    data = [10.0, 20.0, 30.0, 40.0]
    elevations, storages = [100, 110], [0, 1000]
    i = [inflow_at(data, 2, t) for t in range(7)]
    assert (i[3], i[5]) == (25.0, 35.0)
    e0 = 101.0
    s0 = lerp(e0, elevations, storages)
    o0 = rate(e0)
    s1 = max(0.0, s0 + ((i[0] + i[3]) * 0.5) * 1.0 - o0 * 1.0)
    e1 = lerp(s1, storages, elevations)
    o1 = rate(e1)
    s2 = max(0.0, s1 + ((i[3] + i[4]) * 0.5) * 1.0 - o1 * 1.0)
    e2 = lerp(s2, storages, elevations)
    o2 = rate(e2)
    s3 = max(0.0, s2 + ((i[4] + i[5]) * 0.5) * 1.0 - o2 * 1.0)
    e3 = lerp(s3, storages, elevations)
    o3 = rate(e3)
    s4 = max(0.0, s3 + ((i[5] + i[6]) * 0.5) * 1.0 - o3 * 1.0)
    e4 = lerp(s4, storages, elevations)

    result = route(series(data, 2), e0, POOL, {"only": outlet})
    assert result.reservoir_storage.data == [s0, s2, s4]
    assert result.reservoir_elevation.data == [e0, e2, e4]
    assert result.reservoir_total_outflow.data == [o0, o1, o3]
    assert result.reservoir_individual_outflows["only"].data == [o0, o1, o3]


def test_constant_outlet_worked_sequence_by_hand():
    result = route(series([10, 20, 30, 40], 2), 101.0, POOL, {"k": utils.ConstantDischargeInfo(1)})
    # 100 + (10 + 25) / 2 - 1 = 116.5, + (25 + 30) / 2 - 1 = 143, + 32.5 - 1 + 37.5 - 1 = 211
    assert result.reservoir_storage.data == [100.0, 143.0, 211.0]
    assert result.reservoir_elevation.data == [101.0, 101.43, 102.11]


@settings(max_examples=60, deadline=None)
@given(
    data=st.lists(st.floats(0, 500, allow_subnormal=False), min_size=3, max_size=12),
    dt=st.integers(1, 40),
)
def test_without_outlets_storage_grows_by_the_trapezoidal_inflow_volume(data, dt):
    pool = utils.ElevationStorage([0, 1e6], [0, 1e9])
    result = route(series(data, dt), 0.0, pool, {})
    n = len(data)
    assert result.reservoir_total_outflow.data == [0.0] * (n - 1)
    assert result.reservoir_individual_outflows == {}

    def volume(a, b):
        """The exact integral of the piecewise-linear inflow from a to b seconds."""
        total, t = 0.0, a
        while t < b:
            end = min(b, (math.floor(t / dt) + 1) * dt)
            total += (inflow_at(data, dt, t) + inflow_at(data, dt, end)) * 0.5 * (end - t)
            t = end
        return total

    # The first update pairs I(0) with I(dt + 1); later seconds follow the hydrograph.
    first = (data[0] + inflow_at(data, dt, dt + 1)) * 0.5
    expected = [0.0] + [first + volume(dt + 1, k * dt) for k in range(2, n)]
    storages = result.reservoir_storage.data
    assert storages == pytest.approx(expected, rel=1e-9, abs=1e-9)
    assert result.reservoir_elevation.data == [pool.get_elevation(s) for s in storages]


@pytest.mark.parametrize(
    "outlets, total",
    [({}, [0.0]), ({"k": utils.ConstantDischargeInfo(3.0)}, [3.0])],
)
def test_two_points_record_the_initial_state_without_an_update(outlets, total):
    result = route(series([0, 0], 3600), 105.0, POOL, outlets)
    assert result.reservoir_storage.data == [500.0]
    assert result.reservoir_elevation.data == [105.0]
    assert result.reservoir_total_outflow.data == total


def test_single_inflow_value_gives_the_initial_state_only():
    result = route(series([7.0]), 105.0, POOL, {"k": utils.ConstantDischargeInfo(3.0)})
    assert result.reservoir_storage.data == [500.0]
    assert result.reservoir_elevation.data == [105.0]
    assert result.reservoir_total_outflow.data == []
    assert result.reservoir_individual_outflows == {}


def test_empty_inflow_is_a_broken_precondition_after_the_initial_lookup():
    message = panic_message(lambda: route(series([]), 105.0, POOL, {}))
    assert message == "index out of bounds: the len is 0 but the index is 0"
    assert value_error(lambda: route(series([]), 99.0, POOL, {})) == (
        "`elevation` 99 is outside the range of the elevation-storage curve."
    )


@pytest.mark.parametrize(
    "curve, elevation, message",
    [
        (POOL, NAN, "called `Option::unwrap()` on a `None` value"),
        (utils.ElevationStorage([100], [0]), 100.0,
         "x_values and y_values each must have at least 2 elements."),
        (utils.ElevationStorage([], []), 100.0,
         "x_values and y_values each must have at least 2 elements."),
    ],
)
def test_unreadable_initial_state_panics(curve, elevation, message):
    assert panic_message(lambda: route(series([1, 2, 3]), elevation, curve, {})) == message


def test_initial_elevation_must_lie_on_the_curve():
    assert route(series([0, 0, 0]), 100.0, POOL, {}).reservoir_storage.data == [0.0, 0.0]
    assert value_error(lambda: route(series([0, 0, 0]), 99.99, POOL, {})) == (
        "`elevation` 99.99 is outside the range of the elevation-storage curve."
    )


def test_storage_floor_is_zero():
    result = route(series([0, 0, 0, 0]), 100.5, POOL, {"k": utils.ConstantDischargeInfo(30)})
    assert result.reservoir_storage.data == [50.0, 20.0, 0.0]
    assert result.reservoir_elevation.data == [100.5, ((20 - 0) / 1000) * 10 + 100, 100.0]


@pytest.mark.parametrize(
    "curve, elevation, inflow, outlets, message",
    [
        # Drained below the first tabulated storage: the floor gives 0, which is off the curve.
        (utils.ElevationStorage([100, 110], [10, 1000]), 100.1, [0, 0, 0],
         {"k": utils.ConstantDischargeInfo(50)}, "`storage` 0"),
        # Filled above the last tabulated storage: 900 + 100 = 1000 is on it, 1100 is not.
        (POOL, 109.0, [100, 100, 100, 100], {}, "`storage` 1100"),
    ],
)
def test_leaving_the_storage_curve_stops_the_run(curve, elevation, inflow, outlets, message):
    assert value_error(lambda: route(series(inflow), elevation, curve, outlets)) == (
        message + " is outside the range of the elevation-storage curve."
    )


@pytest.mark.parametrize(
    "inflow, dt, outlets",
    [
        ([1, NAN, 1], 2, {}),
        ([1, 1, 1, NAN], 1, {}),
        ([0, 0, 0], 1, {"k": utils.ConstantDischargeInfo(NAN)}),
        ([0, 0, 0], 1, {"ok": utils.ConstantDischargeInfo(1), "bad": utils.ConstantDischargeInfo(NAN)}),
    ],
)
def test_nan_storage_is_reported_not_emptied(inflow, dt, outlets):
    assert value_error(lambda: route(series(inflow, dt), 105.0, POOL, outlets)) == (
        "`storage` NaN is outside the range of the elevation-storage curve."
    )


def test_inflow_value_skipped_by_the_first_update_is_never_read():
    result = route(series([1, NAN, 1]), 105.0, POOL, {})
    assert result.reservoir_storage.data == [500.0, 501.0]


def test_controlled_gate_above_its_curve():
    curve = utils.ElevationDischarge([100, 110], [0, 50])
    pool = utils.ElevationStorage([90, 130], [0, 4000])
    inflow = series([1000] * 4)
    # 1999 + 1000 - 49.95 = 2949.05 ft³ puts the pool at 119.4905 at the end of second 2.
    assert value_error(lambda: route(inflow, 109.99, pool, {"g": utils.ControlledDischargeInfo(curve)})) == (
        "elevation 119.4905 is above the maximum of the elevation-discharge curve (110)."
    )
    gated = utils.ControlledDischargeInfo(curve, maximum_elevation=115)
    outflow = route(inflow, 109.99, pool, {"g": gated}).reservoir_total_outflow.data
    assert outflow[0] == outflow[1] == ((109.99 - 100) / 10) * 50
    assert outflow[2] == 0.0


def test_specified_series_shorter_than_the_inflow():
    prescribed = utils.SpecifiedDischargeInfo(series([3, 3], 3))
    assert value_error(lambda: route(series([0] * 5, 2), 105.0, POOL, {"p": prescribed})) == (
        "simulation duration 4s exceeds the specified discharge series length (3s)."
    )


@pytest.mark.parametrize("gates, failing_second", [
    ({}, 5),  # the first second past the span, although it is not a recorded one
    # The pool rises 1 ft³ a second from 150 ft³ (0.01 ft per ft³) and each release sees the
    # elevation left by the second before: shut at first, the outlet opens at second 7.
    ({"minimum_elevation": 101.535}, 7),
])
def test_specified_outlet_fails_at_the_first_open_second_past_its_series(gates, failing_second):
    prescribed = utils.SpecifiedDischargeInfo(series([0, 0, 0], 2), **gates)
    inflow = series([1.0] * 6, 2)
    assert value_error(lambda: route(inflow, 101.5, POOL, {"p": prescribed})) == (
        f"simulation duration {failing_second}s exceeds the specified discharge series "
        "length (4s)."
    )


def test_specified_outlet_shut_past_its_series_is_not_asked():
    # Open up to second 4 (elevation 101.51), shut from second 5 on as the pool rises.
    prescribed = utils.SpecifiedDischargeInfo(series([0, 0, 0], 2), maximum_elevation=101.515)
    result = route(series([1.0] * 6, 2), 101.5, POOL, {"p": prescribed})
    assert result.reservoir_total_outflow.data == [0.0] * 5
    assert result.reservoir_storage.data == [150.0, 152.0, 154.0, 156.0, 158.0]


def test_empty_prescribed_series_spans_nothing():
    prescribed = utils.SpecifiedDischargeInfo(series([], 3600))
    assert value_error(lambda: route(series([0, 0], 1), 105.0, POOL, {"p": prescribed})) == (
        "simulation duration 1s exceeds the specified discharge series length (0s)."
    )


def test_outlet_key_is_checked_before_its_value():
    with pytest.raises(TypeError) as excinfo:
        route(series([0, 0]), 105.0, POOL, {1: "not an outlet"})
    assert str(excinfo.value) == (
        "argument 'discharge_info': 'int' object is not an instance of 'str'")


def test_balanced_constant_outlet_keeps_the_storage():
    result = route(series([1.0] * 6, 5), 101.0, POOL, {"k": utils.ConstantDischargeInfo(1.0)})
    assert result.reservoir_storage.data == [100.0] * 5
    assert result.reservoir_total_outflow.data == [1.0] * 5


def test_outlets_keep_the_callers_names_and_order():
    outlets = {
        "spillway": utils.UnControlledDischargeInfo(utils.ElevationDischarge([104, 110], [0, 60])),
        "Gate 1": utils.ControlledDischargeInfo(utils.ElevationDischarge([100, 110], [0, 50])),
        "": utils.ConstantDischargeInfo(0.25),
    }
    result = route(series([100, 100, 100, 100], 2), 104.5, POOL, outlets)
    individual = result.reservoir_individual_outflows
    assert list(individual) == ["spillway", "Gate 1", ""]
    assert all(len(s.data) == 3 and s.kind == "discharge" for s in individual.values())
    for k, total in enumerate(result.reservoir_total_outflow.data):
        parts = [individual[name].data[k] for name in outlets]
        assert total == (0.0 + parts[0]) + parts[1] + parts[2]
    assert individual["spillway"].data[0] == ((104.5 - 104) / 6) * 60


def test_result_series_and_fresh_objects():
    pool = utils.ElevationStorage([100, 110], [0, 1e6])
    result = route(series([5, 6, 7], 900), 105.0, pool, {"k": utils.ConstantDischargeInfo(1)})
    for name, kind in [
        ("reservoir_storage", "volume"),
        ("reservoir_elevation", "elevation"),
        ("reservoir_total_outflow", "discharge"),
    ]:
        first = getattr(result, name)
        assert type(first) is ContinuousTimeSeries and first is not getattr(result, name)
        assert (first.kind, first.time_step) == (kind, timedelta(seconds=900))
    outflows = result.reservoir_individual_outflows
    assert outflows is not result.reservoir_individual_outflows
    assert outflows["k"] is not result.reservoir_individual_outflows["k"]
    outflows.clear()
    assert list(result.reservoir_individual_outflows) == ["k"]
    with pytest.raises(AttributeError):
        result.reservoir_storage = None


def test_result_class():
    with pytest.raises(TypeError):
        reservoir.LevelPoolResult()
    assert reservoir.LevelPoolResult.__doc__ == "Results from a level pool routing simulation."
    assert reservoir.LevelPoolResult.reservoir_individual_outflows.__doc__ == (
        "Per-outlet outflow time series keyed by outlet name."
    )

    class Annotated(reservoir.LevelPoolResult):
        pass

    with pytest.raises(TypeError):
        Annotated()


def test_subclass_instances_are_accepted_everywhere():
    class Hydrograph(ContinuousTimeSeries):
        pass

    class Pool(utils.ElevationStorage):
        pass

    class Pump(utils.ConstantDischargeInfo):
        pass

    class Gate(utils.ControlledDischargeInfo):
        pass

    class Outlets(dict):
        pass

    gate = Gate(utils.ElevationDischarge([100, 110], [0, 50]))
    result = route(
        Hydrograph([0, 0, 0], timedelta(seconds=1), "discharge"),
        105.0,
        Pool([100, 110], [0, 1000]),
        Outlets(pump=Pump(2.0), gate=gate),
    )
    assert result.reservoir_total_outflow.data == [27.0, 27.0]
    assert result.reservoir_storage.data == [500.0, 473.0]


UNION_LINES = (
    "argument 'discharge_info': failed to extract enum DischargeInfo "
    "('Uncontrolled | Controlled | Specified | Constant')\n"
    "- variant Uncontrolled (Uncontrolled): TypeError: failed to extract field "
    "DischargeInfo::Uncontrolled.0, caused by TypeError: '{0}' object is not an instance of "
    "'UnControlledDischargeInfo'\n"
    "- variant Controlled (Controlled): TypeError: failed to extract field "
    "DischargeInfo::Controlled.0, caused by TypeError: '{0}' object is not an instance of "
    "'ControlledDischargeInfo'\n"
    "- variant Specified (Specified): TypeError: failed to extract field "
    "DischargeInfo::Specified.0, caused by TypeError: '{0}' object is not an instance of "
    "'SpecifiedDischargeInfo'\n"
    "- variant Constant (Constant): TypeError: failed to extract field "
    "DischargeInfo::Constant.0, caused by TypeError: '{0}' object is not an instance of "
    "'ConstantDischargeInfo'"
)


@pytest.mark.parametrize(
    "value, type_name",
    [("weir", "str"), (POOL, "ElevationStorage")],
)
def test_outlet_of_no_known_kind(value, type_name):
    with pytest.raises(TypeError) as excinfo:
        route(series([0, 0]), 105.0, POOL, {"ok": utils.ConstantDischargeInfo(1), "bad": value})
    assert str(excinfo.value) == UNION_LINES.format(type_name)


@pytest.mark.parametrize(
    "arguments, message",
    [
        ((IncrementalTimeSeries([1], timedelta(hours=1), "rainfall"), 105.0, POOL, {}),
         "argument 'inflow': 'IncrementalTimeSeries' object is not an instance of "
         "'ContinuousTimeSeries'"),
        ((series([0]), 105.0, utils.ElevationDischarge([1, 2], [1, 2]), {}),
         "argument 'elevation_storage': 'ElevationDischarge' object is not an instance of "
         "'ElevationStorage'"),
        ((series([0]), 105.0, POOL, [utils.ConstantDischargeInfo(1)]),
         "argument 'discharge_info': 'list' object is not an instance of 'dict'"),
        ((series([0]), 105.0, POOL, {1: utils.ConstantDischargeInfo(1)}),
         "argument 'discharge_info': 'int' object is not an instance of 'str'"),
        ((series([0]), 105.0, POOL),
         "run_level_pool_routing() missing 1 required positional argument: 'discharge_info'"),
    ],
)
def test_argument_errors(arguments, message):
    with pytest.raises(TypeError) as excinfo:
        route(*arguments)
    assert str(excinfo.value) == message


WIDE_POOL_ELEVATION, WIDE_POOL_STORAGE = [100.0, 104.0, 110.0, 130.0], [0.0, 300.0, 1000.0, 50000.0]
RATING_ELEVATION, RATING_DISCHARGE = [101.0, 104.5, 107.0, 140.0], [0.0, 3.0, 20.0, 400.0]


def rated(e):
    if e > RATING_ELEVATION[-1]:
        raise AssertionError("the drawn cases stay below the rating curve's top")
    return 0.0 if e < RATING_ELEVATION[0] else lerp(e, RATING_ELEVATION, RATING_DISCHARGE)


def shut(e, low, high):
    return (low is not None and e < low) or (high is not None and e > high)


def outlet_cases(n, dt):
    """Each outlet kind with and without its options, and its release written out."""
    curve = utils.ElevationDischarge(RATING_ELEVATION, RATING_DISCHARGE)
    offset = st.sampled_from([None, -2.5, 1.0])
    spill = offset.map(lambda o: (utils.UnControlledDischargeInfo(curve, o),
                                  lambda t, e: rated((o or 0.0) + e)))

    def gate_release(low, high, cap):
        low = RATING_ELEVATION[0] if low is None else max(low, RATING_ELEVATION[0])
        return lambda t, e: (0.0 if shut(e, low, high)
                             else rated(e) if cap is None else min(rated(e), cap))

    gate = st.tuples(st.sampled_from([None, 102.5]), st.sampled_from([None, 115.0]),
                     st.sampled_from([None, 6.0])).map(
        lambda g: (utils.ControlledDischargeInfo(curve, *g), gate_release(*g)))
    constant = st.tuples(st.floats(0, 5), st.sampled_from([None, 102.0])).map(
        lambda c: (utils.ConstantDischargeInfo(c[0], c[1]),
                   lambda t, e: 0.0 if shut(e, c[1], None) else c[0]))
    prescribed = st.tuples(st.lists(st.floats(0, 5), min_size=n, max_size=n),
                           st.sampled_from([None, 3.0])).map(
        lambda p: (utils.SpecifiedDischargeInfo(series(p[0], dt), maximum_release=p[1]),
                   lambda t, e: (inflow_at(p[0], dt, t) if p[1] is None
                                 else min(inflow_at(p[0], dt, t), p[1]))))
    return st.lists(st.one_of(spill, gate, constant, prescribed), max_size=4)


def reference_routing(data, dt, e0, rates):
    """The run second by second, each step in its documented order."""
    s, e, previous = lerp(e0, WIDE_POOL_ELEVATION, WIDE_POOL_STORAGE), e0, data[0]
    storage, elevation, total, each = [s], [e0], [], [[] for _ in rates]
    for t in range(dt, (len(data) - 1) * dt + 1):
        q_total = 0.0
        for k, rate in enumerate(rates):
            q = rate(t, e)
            q_total = q_total + q
            if t % dt == 0:
                each[k].append(q)
        if t % dt == 0:
            total.append(q_total)
        if t == dt:
            continue
        now = inflow_at(data, dt, t)
        s = max(s + ((previous + now) * 0.5) * 1.0 - q_total * 1.0, 0.0)
        e = lerp(s, WIDE_POOL_STORAGE, WIDE_POOL_ELEVATION)
        if t % dt == 0:
            storage.append(s)
            elevation.append(e)
        previous = now
    return storage, elevation, total, each


@settings(max_examples=80, deadline=None)
@given(data=st.data(), n=st.integers(2, 7), dt=st.integers(1, 25), e0=st.floats(100.0, 120.0))
def test_outlets_of_every_kind_match_a_second_by_second_loop(data, n, dt, e0):
    inflow = data.draw(st.lists(st.floats(0, 60), min_size=n, max_size=n))
    outlets = data.draw(outlet_cases(n, dt))
    storage, elevation, total, each = reference_routing(inflow, dt, e0, [r for _, r in outlets])
    pool = utils.ElevationStorage(WIDE_POOL_ELEVATION, WIDE_POOL_STORAGE)
    result = route(series(inflow, dt), e0, pool, {f"o{k}": o for k, (o, _) in enumerate(outlets)})
    assert result.reservoir_storage.data == storage
    assert result.reservoir_elevation.data == elevation
    assert result.reservoir_total_outflow.data == total
    individual = result.reservoir_individual_outflows
    assert [individual[f"o{k}"].data for k in range(len(outlets))] == each
