"""Long series reuse the buffers of series that died before them; whatever those buffers held
must never show through."""
from datetime import timedelta

import numpy as np
import pytest

from hydrokit import rainfall_loss, reach, utils
from test_rainfall_loss import reference as loss_reference
from test_reach import reference as routing_reference

HOUR = timedelta(hours=1)
# Long enough for buffers to be kept, in an order that hands longer buffers to shorter series.
LENGTHS = [70_001, 65_536, 69_999, 80_000]


@pytest.mark.parametrize("sub_reaches", [1, 3])
def test_routing_after_longer_series_died(sub_reaches):
    rng = np.random.default_rng(11)
    for n in LENGTHS:
        flow = rng.gamma(2.0, 50.0, n)
        routed = reach.run_muskingum_routing(utils.ContinuousTimeSeries(flow, HOUR, "discharge"),
                                             3 * HOUR, 0.2, sub_reaches, float(flow[0]))
        expected = routing_reference(flow.tolist(), 3 * 3600.0, 0.2, 3600.0,
                                     float(flow[0]), sub_reaches)
        assert routed.data == expected
        del routed


def test_loss_split_after_longer_series_died():
    rng = np.random.default_rng(12)
    for n in LENGTHS:
        rain = (rng.exponential(0.2, n) * (rng.random(n) < 0.3)).tolist()
        result = rainfall_loss.run_deficit_and_constant(
            utils.IncrementalTimeSeries(rain, HOUR, "rainfall"), 0.4, 1.5, 0.08, 30 * HOUR)
        expected = loss_reference(rain, 3600, 0.4, 1.5, 0.08, 30 * 3600.0)
        assert (result.excess.data, result.loss.data, result.deficit.data) == expected
        del result
