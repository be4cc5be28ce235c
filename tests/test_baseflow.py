import inspect
import math
from datetime import timedelta

import pytest
from hypothesis import given, settings, strategies as st

import hydrokit

LinearReservoir = hydrokit.baseflow.LinearReservoir
run_linear_reservoir = hydrokit.baseflow.run_linear_reservoir
IncrementalTimeSeries = hydrokit.utils.IncrementalTimeSeries
HOUR = timedelta(hours=1)


def rain(data, step=HOUR):
    return IncrementalTimeSeries(data, step, "rainfall")


def reference_layer(rainfall, step_seconds, area, k_seconds, fraction, q0, count):
    """The routing of one layer, step by step with the same operations in the same order."""
    dt_h = step_seconds / 3600.0
    half = 0.5 * dt_h
    factor = area * 1.00833
    k_per_res = (k_seconds / 3600.0) / count
    c = dt_h / (k_per_res + half)
    d = 1.0 - c
    state = [q0] * count
    out = []
    for depth in rainfall:
        flow = ((depth * fraction) / dt_h) * factor
        for j in range(count):
            flow = flow * c + state[j] * d
            state[j] = flow
        out.append(flow)
    return out


def test_registration_and_text():
    assert hydrokit.baseflow.__all__ == ["run_linear_reservoir", "LinearReservoir"]
    assert run_linear_reservoir.__module__ == "baseflow"
    assert LinearReservoir.__text_signature__ == (
        "(k_duration, gw_fraction, initial_q, num_reservoir=1)"
    )
    assert LinearReservoir.__doc__ == (
        "Configuration for a single linear reservoir groundwater layer.\n\n"
        "A linear reservoir models groundwater storage with the recurrence relation:\n"
        "`Q[t] = C * I[t] + (1 - C) * Q[t-1]`, where `C = dt / (K + 0.5*dt)`.\n"
        "Chaining `num_reservoir` reservoirs in series produces a more peaked,\n"
        "delayed response."
    )
    assert LinearReservoir.k_duration.__doc__ == (
        "Returns the storage time constant as a Python `timedelta`."
    )
    assert LinearReservoir.gw_fraction.__doc__ == (
        "Fraction of rainfall loss that contributes to this reservoir's baseflow.\n"
        "Must be in [0.0, 1.0]."
    )
    assert LinearReservoir.initial_q.__doc__ == (
        "Initial discharge at the start of the simulation (e.g., cfs)."
    )
    assert LinearReservoir.num_reservoir.__doc__ == "Number of linear reservoirs chained in series."
    assert str(inspect.signature(run_linear_reservoir)) == "(basin_area, rainfall, reservoirs)"
    assert run_linear_reservoir.__doc__ == (
        "Routes infiltrated rainfall through multiple named linear reservoirs to produce "
        "baseflow.\n\n# Arguments\n\n"
        "* `basin_area` - Drainage area in acres.\n"
        "* `rainfall` - Infiltrated rainfall series (inches per time step).\n"
        "* `reservoirs` - Named linear reservoir configurations.\n\n# Errors\n\n"
        "Returns a `PyValueError` if sum of all fractions exceeds 1.0,\n"
        "or any reservoir fails its stability check."
    )


def test_not_subclassable():
    with pytest.raises(TypeError) as excinfo:

        class Layer(LinearReservoir):
            pass

    assert str(excinfo.value) == "type 'builtins.LinearReservoir' is not an acceptable base type"


def test_construction_reads_back():
    layer = LinearReservoir(timedelta(hours=2), 0.5, 1.0)
    assert (layer.k_duration, layer.gw_fraction, layer.initial_q, layer.num_reservoir) == (
        timedelta(hours=2), 0.5, 1.0, 1)
    # K is whole seconds, cut toward zero and saturated at the 32-bit limit.
    for given_k, stored_k in [(1.9, 1), (90.7, 90), (30000 * 86400, 2**31 - 1)]:
        assert LinearReservoir(timedelta(seconds=given_k), 1, 0).k_duration == (
            timedelta(seconds=stored_k))
    assert LinearReservoir(HOUR, 0, 0, num_reservoir=True).num_reservoir == 1
    assert math.isnan(LinearReservoir(HOUR, math.nan, 0).gw_fraction)


@pytest.mark.parametrize(
    "arguments, error, message",
    [
        ((timedelta(seconds=0.9), 0.5, 1.0), ValueError, "k_duration must be > 0"),
        ((timedelta(0), 0.5, 1.0), ValueError, "k_duration must be > 0"),
        ((HOUR, -0.01, 1.0), ValueError, "gw_fraction must be between 0 and 1"),
        ((HOUR, 1.01, 1.0), ValueError, "gw_fraction must be between 0 and 1"),
        ((HOUR, 0.5, 1.0, 0), ValueError, "num_reservoir must be at least 1"),
        # The checks run in order: sign of K, K of a second, fraction, chain length.
        ((timedelta(seconds=-1), 2.0, 1.0, 0), ValueError,
         "Cannot convert a negative timedelta to a duration."),
        ((timedelta(seconds=0.5), 2.0, 1.0, 0), ValueError, "k_duration must be > 0"),
        ((HOUR, 2.0, 1.0, 0), ValueError, "gw_fraction must be between 0 and 1"),
        # Every argument is converted before any value is checked, left to right.
        ((timedelta(seconds=-1), "x", 1.0), TypeError,
         "argument 'gw_fraction': must be real number, not str"),
        ((3600.0, "x", 1.0), TypeError,
         "argument 'k_duration': 'float' object is not an instance of 'timedelta'"),
        ((HOUR, 2.0, 1.0, 2.0), TypeError,
         "argument 'num_reservoir': 'float' object cannot be interpreted as an integer"),
        ((HOUR, 0.5, 1.0, -1), OverflowError, "can't convert negative int to unsigned"),
    ],
)
def test_construction_failures(arguments, error, message):
    with pytest.raises(error) as excinfo:
        LinearReservoir(*arguments)
    assert type(excinfo.value) is error
    assert str(excinfo.value) == message


@pytest.mark.parametrize(
    "name, value, stored",
    [
        ("gw_fraction", 2.0, 2.0),
        ("gw_fraction", -3, -3.0),
        ("initial_q", -5, -5.0),
        ("num_reservoir", 0, 0),
        ("num_reservoir", True, 1),
    ],
)
def test_setters_store_without_range_checks(name, value, stored):
    layer = LinearReservoir(HOUR, 0.5, 1.0)
    setattr(layer, name, value)
    assert getattr(layer, name) == stored
    assert type(getattr(layer, name)) is type(stored)


@pytest.mark.parametrize(
    "name, value, error, message",
    [
        ("gw_fraction", "x", TypeError, "argument 'gw_fraction': must be real number, not str"),
        ("initial_q", None, TypeError, "argument 'initial_q': must be real number, not NoneType"),
        ("num_reservoir", 1.5, TypeError,
         "argument 'num_reservoir': 'float' object cannot be interpreted as an integer"),
        ("num_reservoir", -1, OverflowError, "can't convert negative int to unsigned"),
    ],
)
def test_setter_failures_keep_the_value(name, value, error, message):
    layer = LinearReservoir(HOUR, 0.5, 1.0, 3)
    before = getattr(layer, name)
    with pytest.raises(error) as excinfo:
        setattr(layer, name, value)
    assert type(excinfo.value) is error
    assert str(excinfo.value) == message
    assert getattr(layer, name) == before


@pytest.mark.parametrize("name", ["gw_fraction", "initial_q", "num_reservoir"])
def test_deletion_refused(name):
    layer = LinearReservoir(HOUR, 0.5, 1.0)
    with pytest.raises(AttributeError) as excinfo:
        delattr(layer, name)
    assert str(excinfo.value) == "property has no deleter"


def test_k_duration_is_read_only():
    layer = LinearReservoir(HOUR, 0.5, 1.0)
    with pytest.raises(AttributeError):
        layer.k_duration = timedelta(hours=2)
    with pytest.raises(AttributeError):
        del layer.k_duration
    assert layer.k_duration == HOUR


def test_no_layers_or_no_rainfall():
    total, layers = run_linear_reservoir(10.0, rain([0.1, 0.2, 0.3]), {})
    assert (total.data, total.kind, total.time_step, layers) == ([0.0] * 3, "discharge", HOUR, {})
    total, layers = run_linear_reservoir(10.0, rain([]), {"a": LinearReservoir(HOUR * 5, 1, 2)})
    assert total.data == [] and layers["a"].data == []


@pytest.mark.parametrize("chain", [1, 9], ids=["chain in registers", "chain in memory"])
def test_total_adds_the_first_layer_to_zero(chain):
    # A layer's -0.0 outflow added to the starting total of 0.0 gives 0.0, not -0.0.
    total, layers = run_linear_reservoir(
        10.0, rain([-0.0]), {"a": LinearReservoir(HOUR * 10, 0.5, -0.0, chain)})
    assert [math.copysign(1.0, s.data[0]) for s in (layers["a"], total)] == [-1.0, 1.0]


def test_chain_at_the_stability_limit_passes_inflow_through():
    # K / n equals half a step: C = 1 and D = 0, so nothing of the initial state remains.
    _, layers = run_linear_reservoir(
        100.0, rain([0.5, 0.0, 0.25]), {"a": LinearReservoir(HOUR, 0.8, 123.0, 2)}
    )
    assert layers["a"].data == [((p * 0.8) / 1.0) * (100.0 * 1.00833) for p in [0.5, 0.0, 0.25]]


def test_empty_chain_passes_inflow_through():
    layer = LinearReservoir(HOUR, 0.5, 7.0)
    layer.num_reservoir = 0
    _, layers = run_linear_reservoir(2.0, rain([0.3, 0.0], HOUR * 2), {"a": layer})
    assert layers["a"].data == [((0.3 * 0.5) / 2.0) * (2.0 * 1.00833), 0.0]


@given(
    q0=st.floats(0.01, 1e4),
    k_hours=st.integers(1, 200),
    step_minutes=st.integers(1, 120),
    steps=st.integers(1, 60),
)
def test_zero_rainfall_decays_geometrically(q0, k_hours, step_minutes, steps):
    layer = LinearReservoir(timedelta(hours=k_hours), 0.5, q0)
    _, layers = run_linear_reservoir(50.0, rain([0.0] * steps, timedelta(minutes=step_minutes)),
                                     {"a": layer})
    dt_h = step_minutes * 60 / 3600.0
    d = 1.0 - dt_h / (float(k_hours) + 0.5 * dt_h)
    # Each step multiplies the stored discharge by D once, so the series is exact ...
    exact = [q0]
    for _ in range(steps):
        exact.append(exact[-1] * d)
    assert layers["a"].data == exact[1:]
    # ... and follows q0 * D^(t+1).
    assert layers["a"].data == pytest.approx([q0 * d ** (t + 1) for t in range(steps)], rel=1e-12)


@settings(max_examples=40)
@given(
    layers=st.lists(
        st.tuples(st.integers(7200, 400_000), st.floats(0.0, 0.25), st.floats(-10.0, 100.0),
                  st.sampled_from([1, 2, 7, 8, 9, 12])),
        min_size=1, max_size=4),
    rainfall=st.lists(st.floats(0.0, 3.0), max_size=40),
    step=st.integers(1, 60),
)
def test_chains_held_in_registers_or_in_memory_route_alike(layers, rainfall, step):
    # Chains of up to eight go in pairs through registers, longer ones alone through memory.
    reservoirs = {
        f"layer{i}": LinearReservoir(timedelta(seconds=k), f, q0, n)
        for i, (k, f, q0, n) in enumerate(layers)
    }
    total, per_layer = run_linear_reservoir(37.5, rain(rainfall, timedelta(seconds=step)),
                                            reservoirs)
    expected = [0.0] * len(rainfall)
    for (k, f, q0, n), series in zip(layers, per_layer.values()):
        out = reference_layer(rainfall, step, 37.5, k, f, q0, n)
        assert series.data == out
        expected = [o + t for o, t in zip(out, expected)]
    assert total.data == expected


layer_strategy = st.tuples(
    st.integers(7200, 400_000),  # K in seconds: half an hour or more per reservoir
    st.floats(0.0, 0.25),  # fraction: four layers at most stay within 1
    st.floats(-10.0, 100.0),  # initial discharge
    st.integers(1, 4),  # chain length
)


@given(
    layers=st.lists(layer_strategy, min_size=1, max_size=4),
    rainfall=st.lists(st.floats(0.0, 3.0), max_size=40),
    area=st.floats(0.1, 1e5),
    step=st.integers(1, 3600),
)
def test_layers_route_step_by_step_and_total_in_dict_order(layers, rainfall, area, step):
    reservoirs = {
        f"layer{i}": LinearReservoir(timedelta(seconds=k), f, q0, n)
        for i, (k, f, q0, n) in enumerate(layers)
    }
    step = timedelta(seconds=step)
    total, per_layer = run_linear_reservoir(area, rain(rainfall, step), reservoirs)
    assert list(per_layer) == list(reservoirs)
    expected = [0.0] * len(rainfall)
    for (k, f, q0, n), series in zip(layers, per_layer.values()):
        out = reference_layer(rainfall, step.seconds, area, k, f, q0, n)
        assert (series.data, series.kind, series.time_step) == (out, "discharge", step)
        expected = [o + t for o, t in zip(out, expected)]
    assert (total.data, total.kind, total.time_step) == (expected, "discharge", step)


def unchecked(fraction):
    layer = LinearReservoir(HOUR * 10, 0.0, 0.0)
    layer.gw_fraction = fraction
    return layer


@pytest.mark.parametrize(
    "fractions",
    [[0.5, 0.5000005], [1.000001], [0.0, 0.0], [math.nan, 0.9], [1.5, -0.5]],
)
def test_fraction_sum_within_tolerance_passes(fractions):
    reservoirs = {str(i): unchecked(f) for i, f in enumerate(fractions)}
    total, layers = run_linear_reservoir(1.0, rain([1.0]), reservoirs)
    assert len(total.data) == 1 and list(layers) == list(reservoirs)


@pytest.mark.parametrize(
    "reservoirs, message",
    [
        ({"a": LinearReservoir(HOUR * 10, 0.6, 0.0), "b": LinearReservoir(HOUR * 10, 0.5, 0.0)},
         "Total fraction 1.1 > 1.0"),
        ({"a": unchecked(2.0)}, "Total fraction 2 > 1.0"),
        # Shortest round-trip form, however many digits that takes.
        ({"a": unchecked(0.5), "b": unchecked(0.500002)},
         "Total fraction 1.0000019999999998 > 1.0"),
        ({"a": unchecked(math.inf)}, "Total fraction inf > 1.0"),
        # The fraction check comes before any layer's stability check.
        ({"a": LinearReservoir(HOUR, 0.6, 0.0, 4), "b": unchecked(0.6)},
         "Total fraction 1.2 > 1.0"),
        ({"a": LinearReservoir(HOUR, 0.5, 0.0, 4)},
         "Stability Error: k_per_res (0.2500) < 0.5*dt (0.5000). Increase k_hr or num_reservoir."),
        # Four decimals, ties to even on the exact binary value: 0.03125 becomes 0.0312.
        ({"a": LinearReservoir(timedelta(seconds=225), 0.5, 0.0, 2)},
         "Stability Error: k_per_res (0.0312) < 0.5*dt (0.5000). Increase k_hr or num_reservoir."),
        # The first failing layer in dict order is the one reported.
        ({"ok": LinearReservoir(HOUR * 10, 0.1, 0.0), "b": LinearReservoir(HOUR, 0.1, 0.0, 3),
          "c": LinearReservoir(HOUR, 0.1, 0.0, 4)},
         "Stability Error: k_per_res (0.3333) < 0.5*dt (0.5000). Increase k_hr or num_reservoir."),
        ({"c": LinearReservoir(HOUR, 0.1, 0.0, 4), "b": LinearReservoir(HOUR, 0.1, 0.0, 3)},
         "Stability Error: k_per_res (0.2500) < 0.5*dt (0.5000). Increase k_hr or num_reservoir."),
    ],
)
def test_run_failures(reservoirs, message):
    assert_run_fails(reservoirs, HOUR, message)


def test_half_step_message_rounds_ties_to_even():
    # A 225 s step makes half a step 0.03125 h.
    assert_run_fails(
        {"a": LinearReservoir(timedelta(seconds=112), 0.5, 0.0)},
        timedelta(seconds=225),
        "Stability Error: k_per_res (0.0311) < 0.5*dt (0.0312). Increase k_hr or num_reservoir.",
    )


def assert_run_fails(reservoirs, step, message):
    with pytest.raises(ValueError) as excinfo:
        run_linear_reservoir(1.0, rain([1.0, 0.0], step), reservoirs)
    assert str(excinfo.value) == message


@pytest.mark.parametrize(
    "arguments, message",
    [
        (("x", 5, {}), "argument 'basin_area': must be real number, not str"),
        ((1.0, hydrokit.utils.ContinuousTimeSeries([1.0], HOUR, "rainfall"), 5),
         "argument 'rainfall': 'ContinuousTimeSeries' object is not an instance of "
         "'IncrementalTimeSeries'"),
        ((1.0, rain([1.0]), [LinearReservoir(HOUR, 0.5, 0.0)]),
         "argument 'reservoirs': 'list' object is not an instance of 'dict'"),
        ((1.0, rain([1.0]), {"a": LinearReservoir(HOUR, 0.5, 0.0), 2: "x"}),
         "argument 'reservoirs': 'int' object is not an instance of 'str'"),
        ((1.0, rain([1.0]), {"a": 0.5}),
         "argument 'reservoirs': 'float' object is not an instance of 'LinearReservoir'"),
    ],
)
def test_run_argument_errors(arguments, message):
    with pytest.raises(TypeError) as excinfo:
        run_linear_reservoir(*arguments)
    assert str(excinfo.value) == message


class SeparatelyHashedName(str):
    """A name that a dict keeps apart from another with the same text."""

    __hash__ = object.__hash__
    __eq__ = object.__eq__


def test_layers_with_the_same_name_are_one_layer():
    first, second = SeparatelyHashedName("soil"), SeparatelyHashedName("soil")
    reservoirs = {first: LinearReservoir(HOUR * 4, 0.7, 1.0),
                  "deep": LinearReservoir(HOUR * 50, 0.2, 3.0),
                  second: LinearReservoir(HOUR * 8, 0.6, 2.0)}
    assert len(reservoirs) == 3
    total, layers = run_linear_reservoir(5.0, rain([0.4, 0.0, 0.1]), reservoirs)
    # The later "soil" replaces the earlier one in its place: 0.6 + 0.2 passes the fraction
    # check that 0.7 + 0.2 + 0.6 would fail, and the total is the sum of what is returned.
    assert list(layers) == ["soil", "deep"]
    # An exact str key is returned as the caller's own object, a subclass's text as a new str.
    assert [type(name) for name in layers] == [str, str]
    assert list(layers)[1] is list(reservoirs)[1]
    soil = reference_layer([0.4, 0.0, 0.1], 3600, 5.0, 8 * 3600, 0.6, 2.0, 1)
    deep = reference_layer([0.4, 0.0, 0.1], 3600, 5.0, 50 * 3600, 0.2, 3.0, 1)
    assert layers["soil"].data == soil and layers["deep"].data == deep
    assert total.data == [d + (s + 0.0) for s, d in zip(soil, deep)]


def test_layers_after_a_merged_name_keep_their_own_names():
    # The merge shifts the later layers against the dict's places: "top" meets the key "deep".
    layer = LinearReservoir(HOUR * 8, 0.1, 1.0)
    reservoirs = {SeparatelyHashedName("soil"): layer, SeparatelyHashedName("soil"): layer,
                  "deep": layer, "top": layer}
    _, layers = run_linear_reservoir(5.0, rain([0.4]), reservoirs)
    assert list(layers) == ["soil", "deep", "top"]
