"""Construction, duration and disaggregation of the two series classes."""

import math
from datetime import timedelta

import pytest
from hypothesis import given
from hypothesis import strategies as st

import hydrokit

ContinuousTimeSeries = hydrokit.utils.ContinuousTimeSeries
IncrementalTimeSeries = hydrokit.utils.IncrementalTimeSeries

SERIES_CLASSES = [ContinuousTimeSeries, IncrementalTimeSeries]
KINDS = ["discharge", "rainfall", "elevation", "volume"]
HOUR = timedelta(hours=1)
LONGEST_STEP = 2**31 - 1


def kind_message(kind):
    return (
        'kind must be one of ["discharge", "rainfall", "elevation", "volume"]; '
        f"got '{kind}'"
    )


# --------------------------------------------------------------- construction


@pytest.mark.parametrize("cls", SERIES_CLASSES)
@pytest.mark.parametrize("kind", KINDS)
def test_every_kind_accepted(cls, kind):
    series = cls([3, 1.5], timedelta(minutes=5), kind)
    assert series.data == [3.0, 1.5]
    assert series.kind == kind
    assert series.time_step == timedelta(minutes=5)


@pytest.mark.parametrize("cls", SERIES_CLASSES)
def test_empty_series_accepted(cls):
    series = cls([], timedelta(minutes=5), "volume")
    assert series.data == []
    assert series.total_duration() == 0


@pytest.mark.parametrize("cls", SERIES_CLASSES)
@pytest.mark.parametrize(
    "kind",
    ["Discharge", "flow", "", " rainfall", "rainfall\n", "VOLUME", "it's", "débit", "rainfall\x00", "rain\x00fall"],
)
def test_unknown_kind(cls, kind):
    with pytest.raises(ValueError) as excinfo:
        cls([1.0], HOUR, kind)
    assert excinfo.value.args == (kind_message(kind),)


@pytest.mark.parametrize("cls", SERIES_CLASSES)
@pytest.mark.parametrize(
    "time_step, seconds",
    [
        (timedelta(seconds=1), 1),
        (timedelta(seconds=1.9), 1),
        (timedelta(seconds=90.7), 90),
        (timedelta(seconds=1, microseconds=999999), 1),
        (timedelta(days=1, seconds=86399, microseconds=999999), 172799),
        (timedelta(seconds=LONGEST_STEP), LONGEST_STEP),
        (timedelta(seconds=LONGEST_STEP + 1), LONGEST_STEP),
        (timedelta(days=30000), LONGEST_STEP),
        (timedelta.max, LONGEST_STEP),
    ],
)
def test_time_step_whole_seconds(cls, time_step, seconds):
    assert cls([1.0], time_step, "rainfall").time_step == timedelta(seconds=seconds)


@pytest.mark.parametrize("cls", SERIES_CLASSES)
@pytest.mark.parametrize(
    "time_step",
    [timedelta(0), timedelta(seconds=0.5), timedelta(microseconds=999999), timedelta(microseconds=1)],
)
def test_time_step_under_one_second(cls, time_step):
    with pytest.raises(ValueError) as excinfo:
        cls([1.0], time_step, "rainfall")
    assert excinfo.value.args == ("time_step must be > 0",)


# Each case breaks several rules at once; the first rule in construction order wins.
@pytest.mark.parametrize("cls", SERIES_CLASSES)
@pytest.mark.parametrize(
    "data, time_step, kind, error, message",
    [
        ("abc", 1.0, 5, TypeError, "argument 'data': Can't extract `str` to `Vec`"),
        (
            [1.0],
            1.0,
            5,
            TypeError,
            "argument 'time_step': 'float' object is not an instance of 'timedelta'",
        ),
        (
            [1.0],
            timedelta(-1),
            5,
            TypeError,
            "argument 'kind': 'int' object is not an instance of 'str'",
        ),
        ([1.0], timedelta(-1), "flow", ValueError, kind_message("flow")),
        ([1.0], timedelta(0), "flow", ValueError, kind_message("flow")),
        ([1.0], timedelta(seconds=-0.5), "rainfall", ValueError, None),
    ],
)
def test_construction_check_order(cls, data, time_step, kind, error, message):
    with pytest.raises(error) as excinfo:
        cls(data, time_step, kind)
    assert type(excinfo.value) is error
    if message is None:
        assert "negative" in str(excinfo.value)
    else:
        assert str(excinfo.value) == message


@given(
    st.lists(st.floats(allow_nan=False), max_size=20),
    st.timedeltas(min_value=timedelta(seconds=1)),
)
def test_construction_round_trip(data, time_step):
    whole_seconds = time_step.days * 86400 + time_step.seconds
    for cls in SERIES_CLASSES:
        series = cls(data, time_step, "discharge")
        assert series.data == data
        assert series.time_step == timedelta(seconds=min(whole_seconds, LONGEST_STEP))


# ------------------------------------------------------------- total duration


@pytest.mark.parametrize(
    "cls, count, time_step, expected",
    [
        (ContinuousTimeSeries, 2, HOUR, 3600),
        (ContinuousTimeSeries, 1, HOUR, 0),
        (ContinuousTimeSeries, 0, HOUR, 0),
        (ContinuousTimeSeries, 5, timedelta(seconds=90.7), 360),
        (ContinuousTimeSeries, 3, timedelta(seconds=LONGEST_STEP), 2 * LONGEST_STEP),
        (IncrementalTimeSeries, 3, HOUR, 3 * 3600),
        (IncrementalTimeSeries, 1, HOUR, 3600),
        (IncrementalTimeSeries, 0, HOUR, 0),
        (IncrementalTimeSeries, 3, timedelta(seconds=LONGEST_STEP), 3 * LONGEST_STEP),
    ],
)
def test_total_duration(cls, count, time_step, expected):
    duration = cls([0.5] * count, time_step, "rainfall").total_duration()
    assert type(duration) is int
    assert duration == expected


# ---------------------------------------------------------------- disaggregate


def incremental(data, time_step=HOUR, kind="rainfall"):
    return IncrementalTimeSeries(data, time_step, kind)


def test_hourly_storm_to_quarter_hours():
    storm = incremental([1.0, 0.5])
    fine = storm.disaggregate(900)
    assert type(fine) is IncrementalTimeSeries
    assert fine.data == [0.25, 0.25, 0.25, 0.25, 0.125, 0.125, 0.125, 0.125]
    assert fine.time_step == timedelta(minutes=15)
    assert fine.kind == "rainfall"
    assert fine.total_duration() == 7200
    assert storm.data == [1.0, 0.5]
    assert storm.time_step == HOUR


def test_thirty_second_steps_scale_by_the_step_ratio():
    # 0.9 and 3.3 are values where v * (S / T) and v / m round differently.
    data = [0.9, 3.3, 0.1, 2.0 / 3.0]
    fraction = 30 / 3600
    assert 0.9 * fraction != 0.9 / 120
    fine = incremental(data).disaggregate(30)
    assert fine.data == [value * fraction for value in data for _ in range(120)]
    assert fine.time_step == timedelta(seconds=30)


def test_same_step_gives_a_new_equal_series():
    data = [0.1, 0.7, 1e-300, 5e300]
    source = incremental(data, kind="volume")
    same = source.disaggregate(target_step=3600)
    assert same is not source
    assert same.data == data
    assert (same.time_step, same.kind) == (HOUR, "volume")


def test_special_values_flow_through():
    fine = incremental([math.nan, math.inf, -0.0, -2.0]).disaggregate(1800)
    assert all(math.isnan(value) for value in fine.data[:2])
    assert fine.data[2:] == [math.inf, math.inf, -0.0, -0.0, -1.0, -1.0]
    assert math.copysign(1.0, fine.data[4]) == -1.0


@pytest.mark.parametrize("kind", KINDS)
def test_kind_is_kept(kind):
    assert incremental([2.0], kind=kind).disaggregate(1800).kind == kind


def test_empty_series_takes_the_new_step():
    fine = incremental([]).disaggregate(600)
    assert fine.data == []
    assert fine.time_step == timedelta(minutes=10)


def test_daily_series_to_minimum_step():
    fine = incremental([2.5], time_step=timedelta(days=1)).disaggregate(30)
    assert fine.data == [2.5 * (30 / 86400)] * 2880
    assert fine.total_duration() == 86400


def test_subclass_source_gives_the_base_class():
    class GaugeRecord(IncrementalTimeSeries):
        pass

    source = GaugeRecord([1.0, 0.5], HOUR, "rainfall")
    fine = source.disaggregate(1800)
    assert type(fine) is IncrementalTimeSeries
    assert fine.data == [0.5, 0.5, 0.25, 0.25]
    assert type(source) is GaugeRecord
    assert source.data == [1.0, 0.5]


def test_longest_step_only_divides_itself():
    source = incremental([4.0], time_step=timedelta(seconds=LONGEST_STEP))
    assert source.disaggregate(LONGEST_STEP).data == [4.0]
    with pytest.raises(ValueError) as excinfo:
        source.disaggregate(30)
    assert str(excinfo.value) == (
        f"Original time_step ({LONGEST_STEP}) must be a multiple of target_step (30)."
    )


@pytest.mark.parametrize(
    "time_step, target_step, message",
    [
        (HOUR, 29, "target_step must be >= 30 seconds."),
        (HOUR, 0, "target_step must be >= 30 seconds."),
        (HOUR, -60, "target_step must be >= 30 seconds."),
        (HOUR, -3600, "target_step must be >= 30 seconds."),
        (HOUR, 20, "target_step must be >= 30 seconds."),
        (timedelta(seconds=20), 10, "target_step must be >= 30 seconds."),
        (
            HOUR,
            7200,
            "Original time_step (3600) must be a multiple of target_step (7200).",
        ),
        (HOUR, 700, "Original time_step (3600) must be a multiple of target_step (700)."),
        (
            timedelta(seconds=45),
            30,
            "Original time_step (45) must be a multiple of target_step (30).",
        ),
        (
            timedelta(seconds=20),
            30,
            "Original time_step (20) must be a multiple of target_step (30).",
        ),
    ],
)
def test_disaggregate_refused(time_step, target_step, message):
    source = incremental([1.0, 2.0], time_step=time_step)
    with pytest.raises(ValueError) as excinfo:
        source.disaggregate(target_step)
    assert excinfo.value.args == (message,)
    assert source.data == [1.0, 2.0]


@given(
    data=st.lists(st.floats(min_value=-1e6, max_value=1e6), max_size=12),
    target_step=st.integers(min_value=30, max_value=7200),
    factor=st.integers(min_value=1, max_value=48),
)
def test_disaggregate_preserves_each_interval(data, target_step, factor):
    time_step = target_step * factor
    fine = incremental(data, time_step=timedelta(seconds=time_step)).disaggregate(target_step)
    assert len(fine.data) == factor * len(data)
    assert fine.total_duration() == time_step * len(data)
    for index, value in enumerate(data):
        block = fine.data[index * factor : (index + 1) * factor]
        assert block == [value * (target_step / time_step)] * factor
        assert math.isclose(math.fsum(block), value, rel_tol=1e-13, abs_tol=1e-300)
