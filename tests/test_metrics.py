import inspect
import math

import numpy as np
import pytest
from hypothesis import assume, given, strategies as st

import hydrokit

calculate_kge = hydrokit.metrics.calculate_kge


def loop_sum(values):
    # Python's sum() of floats is compensated; the library adds in plain index order.
    total = 0.0
    for v in values:
        total += v
    return total


def reference_kge(sim, obs, use_log=False):
    """The efficiency with the same operations in the same order."""
    if use_log:
        sim = [math.log(v + 1e-6) for v in sim]
        obs = [math.log(v + 1e-6) for v in obs]
    n = float(len(obs))
    mean_sim, mean_obs = loop_sum(sim) / n, loop_sum(obs) / n
    sss = sso = soo = 0.0
    for s, o in zip(sim, obs):
        sss += (s - mean_sim) * (s - mean_sim)
        sso += (o - mean_obs) * (s - mean_sim)
        soo += (o - mean_obs) * (o - mean_obs)
    g = math.sqrt(soo * sss)
    term = 1.0 if g < 1e-6 else (sso / g - 1.0) * (sso / g - 1.0)
    beta = mean_sim / (1e-6 if abs(mean_obs) < 1e-6 else mean_obs)
    spread_obs = math.sqrt(soo / n)
    gamma = math.sqrt(sss / n) / (1e-6 if spread_obs < 1e-6 else spread_obs)
    return 1.0 - math.sqrt((gamma - 1.0) * (gamma - 1.0) + ((beta - 1.0) * (beta - 1.0) + term))


def test_registration_and_text():
    assert hydrokit.metrics.__all__ == ["calculate_kge"]
    assert calculate_kge.__text_signature__ == "(sim, obs, use_log=False)"
    assert str(inspect.signature(calculate_kge)) == "(sim, obs, use_log=False)"
    assert calculate_kge.__doc__ == (
        "Calculates the Kling-Gupta Efficiency (KGE) between simulated and observed series.\n\n"
        "KGE decomposes model performance into three components measured against\n"
        "a perfect score of 1:\n\n"
        "- **r** (Pearson correlation) \u2014 timing and shape agreement.\n"
        "- **\u03b2 = mean_sim / mean_obs** \u2014 bias ratio.\n"
        "- **\u03b3 = std_sim / std_obs** \u2014 variability ratio.\n\n"
        "The efficiency is computed as:\n"
        "```text\n"
        "KGE = 1 - sqrt((r-1)\u00b2 + (\u03b2-1)\u00b2 + (\u03b3-1)\u00b2)\n"
        "```\n\n"
        "A KGE of 1 indicates a perfect match. Values above 0 are generally\n"
        "considered acceptable. Setting `use_log = true` applies a log transform\n"
        "before computing statistics, which emphasises low-flow performance.\n\n"
        "# Arguments\n\n"
        "* `sim` - Simulated time series.\n"
        "* `obs` - Observed time series. Must have the same length as `sim`.\n"
        "* `use_log` - If `true`, transforms both series with `ln(x + \u03b5)` before\n"
        "  computing statistics.\n\n"
        "# Errors\n\n"
        "Returns a `PyValueError` if `obs` is empty or if `sim` and `obs` have\n"
        "different lengths."
    )


OBS = [1.0, 2.0, 3.0, 4.0]


@pytest.mark.parametrize(
    "sim, obs, use_log, expected",
    [
        (OBS, OBS, False, 1.0),
        (OBS, OBS, True, 1.0),
        ([2, 4, 6, 8], OBS, False, 1 - math.sqrt(2)),  # r = 1, beta = 2, gamma = 2
        ([1.5, 2.5, 3.5, 4.5], OBS, False, 0.8),  # beta = 1.2
        ([4, 3, 2, 1], OBS, False, -1.0),  # r = -1
        # No spread in obs: its deviation is floored to 1e-6 and the correlation term is 1.
        ([1, 2, 3], [2, 2, 2], False, 1 - math.sqrt((math.sqrt(2 / 3) / 1e-6 - 1) ** 2 + 1)),
        # One pair: correlation term 1, beta 1, gamma 0 over the floored deviation.
        ([3.0], [3.0], False, 1 - math.sqrt(2)),
        # A mean of obs near zero, even a negative one, divides by +1e-6: beta is 1e6.
        ([2.0, 0.0], [0.4, -0.4000002], False, 1 - math.sqrt((1 / 0.4000001 - 1) ** 2 + 999999**2)),
    ],
)
def test_worked_numbers(sim, obs, use_log, expected):
    result = calculate_kge(sim, obs, use_log)
    assert type(result) is float
    assert result == reference_kge(sim, obs, use_log)
    assert result == pytest.approx(expected, rel=1e-9, abs=1e-12)


@pytest.mark.parametrize(
    "sim, obs, use_log",
    [
        ([1.0, -1e-6, 2.0], OBS[:3], True),  # ln(0) = -inf
        (OBS, [1.0, 2.0, -3.0, 4.0], True),  # ln of a negative number
        ([1.0, math.nan], [1.0, 2.0], False),
        ([1.0, 2.0], [math.inf, 2.0], False),
    ],
)
def test_invalid_values_give_nan(sim, obs, use_log):
    assert math.isnan(calculate_kge(sim, obs, use_log))


@pytest.mark.parametrize(
    "arguments, error, message",
    [
        (([], []), ValueError, "Observed series is empty."),
        (([1.0], []), ValueError, "Observed series is empty."),
        (([], [1.0]), ValueError, "Series length mismatch."),
        (([1.0, 2.0, 3.0], [1.0, 2.0]), ValueError, "Series length mismatch."),
        # All three arguments are converted, left to right, before the series are checked.
        (([], [], 1), TypeError, "argument 'use_log': 'int' object is not an instance of 'bool'"),
        (([1.0], [1.0], None), TypeError,
         "argument 'use_log': 'None' is not an instance of 'bool'"),
        (("abc", {1.0}), TypeError, "argument 'sim': Can't extract `str` to `Vec`"),
        (([], {1.0}), TypeError, "argument 'obs': 'set' object is not an instance of 'Sequence'"),
        (([1.0, "x"], []), TypeError, "argument 'sim': must be real number, not str"),
        (([1.0],), TypeError, "calculate_kge() missing 1 required positional argument: 'obs'"),
    ],
)
def test_failures(arguments, error, message):
    with pytest.raises(error) as excinfo:
        calculate_kge(*arguments)
    assert str(excinfo.value) == message


def test_boolean_flag_and_sequence_kinds():
    sim, obs = [0.5, 1.5, 2.0, 7.0], [1.0, 2.0, 2.5, 6.0]
    plain, logged = calculate_kge(sim, obs), calculate_kge(sim, obs, True)
    assert plain != logged
    assert calculate_kge(sim, obs, use_log=np.bool_(True)) == logged
    assert calculate_kge(sim, obs, use_log=np.bool_(False)) == plain
    assert calculate_kge(sim=tuple(sim), obs=np.array(obs), use_log=False) == plain
    assert calculate_kge(np.array(sim, dtype=np.float32), range(1, 5)) == calculate_kge(
        [float(np.float32(v)) for v in sim], [1.0, 2.0, 3.0, 4.0]
    )


values = st.floats(-1e3, 1e3)


@given(st.lists(st.tuples(values, values), min_size=1, max_size=50), st.booleans())
def test_matches_the_step_by_step_formula(pairs, use_log):
    sim = [abs(s) for s, _ in pairs] if use_log else [s for s, _ in pairs]
    obs = [abs(o) for _, o in pairs] if use_log else [o for _, o in pairs]
    assert calculate_kge(sim, obs, use_log) == reference_kge(sim, obs, use_log)


def spread(series):
    mean = sum(series) / len(series)
    return math.sqrt(sum((v - mean) ** 2 for v in series) / len(series)), mean


@given(st.lists(values, min_size=2, max_size=50))
def test_identical_series_score_exactly_one(series):
    deviation, mean = spread(series)
    assume(deviation > 1e-3 and abs(mean) > 1e-3)
    assert calculate_kge(series, series) == 1.0


@given(st.lists(values, min_size=2, max_size=50), st.floats(0.01, 100.0))
def test_scaling_sim_scales_bias_and_variability(obs, factor):
    # r = 1, beta = gamma = factor: KGE = 1 - sqrt(2) * |factor - 1|.
    deviation, mean = spread(obs)
    assume(deviation > 1e-2 and abs(mean) > 1e-2)
    sim = [factor * v for v in obs]
    expected = 1 - math.sqrt(2) * abs(factor - 1)
    assert calculate_kge(sim, obs) == pytest.approx(expected, rel=1e-7, abs=1e-7)


@given(st.lists(values, min_size=2, max_size=50), st.floats(-100.0, 100.0))
def test_shifting_sim_changes_only_the_bias(obs, offset):
    # r = 1, gamma = 1, beta = 1 + offset / mean(obs).
    deviation, mean = spread(obs)
    assume(deviation > 1e-2 and abs(mean) > 1e-2)
    sim = [v + offset for v in obs]
    expected = 1 - abs(offset / mean)
    assert calculate_kge(sim, obs) == pytest.approx(expected, rel=1e-6, abs=1e-6)


@pytest.mark.parametrize("sim, obs", [
    # Mean of obs exactly at the 1e-6 guard (kept) and just below it (replaced by +1e-6).
    ([1.0, 2.0], [1e-6, 1e-6]),
    ([1.0, 2.0], [math.nextafter(1e-6, 0.0)] * 2),
    ([1.0, 2.0], [-math.nextafter(1e-6, 0.0)] * 2),
    # Spread of obs just above and below the guard: σo = |a - b| / 2.
    ([0.0, 1.0, 3.0, 2.0], [5.0, 5.0 + 2.2e-6, 5.0, 5.0 + 2.2e-6]),
    ([0.0, 1.0, 3.0, 2.0], [5.0, 5.0 + 1.8e-6, 5.0, 5.0 + 1.8e-6]),
    # G = sqrt(Soo * Sss) on either side of 1e-6, switching the correlation term to 1.
    ([0.0, 2e-3, 0.0, 2e-3], [0.0, 0.55e-3, 0.0, 0.55e-3]),
    ([0.0, 2e-3, 0.0, 2e-3], [0.0, 0.45e-3, 0.0, 0.45e-3]),
])
def test_guards_switch_exactly_at_their_thresholds(sim, obs):
    assert calculate_kge(sim, obs) == reference_kge(sim, obs)


@pytest.mark.parametrize("kind", ["ndarray", "array", "memoryview"])
@pytest.mark.parametrize("use_log", [False, True])
def test_float64_arrays_score_like_lists(kind, use_log):
    import array
    sim, obs = [0.5, 2.0, 3.5, 1.25], [1.0, 2.5, 3.0, 0.75]
    make = {"ndarray": np.array, "array": lambda v: array.array("d", v),
            "memoryview": lambda v: memoryview(array.array("d", v))}[kind]
    assert calculate_kge(make(sim), make(obs), use_log) == reference_kge(sim, obs, use_log)


def test_sim_array_is_read_as_it_was_when_converted():
    # Reading obs item by item runs Python code; a change it makes to sim's array must not
    # reach the score, as with a copy taken when sim was converted.
    sim = np.array([1.0, 2.0, 4.0])

    class Rewrites:
        def __float__(self):
            sim[:] = 100.0
            return 2.0

    assert calculate_kge(sim, [1.0, Rewrites(), 4.0]) == 1.0
    assert sim.tolist() == [100.0, 100.0, 100.0]
