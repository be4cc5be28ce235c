"""The data every benchmark runs on: synthetic but hydrologically plausible series, built with
numpy from fixed seeds so that each run times the same work."""

from datetime import timedelta

import numpy as np

HOUR = timedelta(hours=1)
MILLION = 1_000_000


def generator(seed=20240601):
    return np.random.default_rng(seed)


def discharge(n, rng):
    """Hourly river flow: a slow swing around 100 cfs with a little noise."""
    t = np.arange(n, dtype=np.float64)
    return 100.0 + 50.0 * np.sin(t / 240.0) + rng.random(n)


def storm_hydrograph(n):
    """A single flood wave over a 20 cfs base flow, peaking at about 520 cfs."""
    t = np.arange(n, dtype=np.float64)
    return 20.0 + 500.0 * (t / 30.0) * np.exp(1.0 - t / 30.0)


def rainfall(n, rng, wet_share, largest):
    """Depths per step: a share of wet steps with uniform depths up to `largest`, dry otherwise."""
    wet = rng.random(n) < wet_share
    return np.where(wet, rng.random(n) * largest, 0.0)


def simulated_and_observed(n, rng):
    observed = rng.gamma(2.0, 10.0, n)
    simulated = observed * 1.1 + rng.normal(0.0, 2.0, n)
    return simulated, observed


# Groundwater layers as (K seconds, fraction, initial discharge, reservoirs in the chain).
BASEFLOW_LAYERS = [(36_000, 0.3, 1.0, 3), (360_000, 0.5, 4.0, 3)]
BASEFLOW_AREA = 500.0


class Reservoir:
    """A valley reservoir between 1000 and 1098 ft, its surface growing from about 460 to 1500
    acres (a 50-point elevation-storage curve), with three outlets: a gate rated to 2600 cfs,
    opened above 1010 ft and capped at 2400 cfs; a 400 ft broad-crested spillway from 1085 ft;
    and a 40 cfs environmental release above 1005 ft."""

    initial_elevation = 1040.0
    elevations = 1000.0 + 2.0 * np.arange(50)
    storages = np.concatenate(([0.0], np.cumsum((2.0e7 + 8.8e5 * (np.arange(1, 50) - 0.5)) * 2.0)))
    gate_elevations = np.array([1000.0, 1020.0, 1040.0, 1060.0, 1080.0, 1100.0])
    gate_discharges = np.array([0.0, 900.0, 1500.0, 1950.0, 2300.0, 2600.0])
    gate_minimum = 1010.0
    gate_maximum_release = 2400.0
    spillway_elevations = 1085.0 + np.arange(16, dtype=np.float64)
    spillway_discharges = 3.1 * 400.0 * np.arange(16, dtype=np.float64) ** 1.5
    environmental_flow = 40.0
    environmental_minimum = 1005.0

    @staticmethod
    def inflow(hours):
        """Hourly inflow: a seasonal swing and a 20,000 cfs storm every three weeks."""
        h = np.arange(hours, dtype=np.float64)
        seasonal = 250.0 + 150.0 * np.sin(2.0 * np.pi * h / 8760.0)
        since_storm = h % 504
        return seasonal + 20000.0 * (since_storm / 18.0) * np.exp(1.0 - since_storm / 18.0)

    @classmethod
    def curve(cls, hydrokit):
        utils = hydrokit.reservoir.reservoir_utils
        return utils.ElevationStorage(cls.elevations.tolist(), cls.storages.tolist())

    @classmethod
    def outlets(cls, hydrokit):
        """In the order the numba loop sums them."""
        utils = hydrokit.reservoir.reservoir_utils
        gate_curve = utils.ElevationDischarge(cls.gate_elevations.tolist(),
                                              cls.gate_discharges.tolist())
        spillway_curve = utils.ElevationDischarge(cls.spillway_elevations.tolist(),
                                                  cls.spillway_discharges.tolist())
        return {
            "gate": utils.ControlledDischargeInfo(gate_curve, minimum_elevation=cls.gate_minimum,
                                                  maximum_release=cls.gate_maximum_release),
            "spillway": utils.UnControlledDischargeInfo(spillway_curve),
            "environmental": utils.ConstantDischargeInfo(
                cls.environmental_flow, minimum_elevation=cls.environmental_minimum),
        }

    @classmethod
    def loop_arguments(cls):
        """Everything but the inflow and its step, for the numba loop."""
        return (cls.initial_elevation, cls.elevations, cls.storages, cls.gate_elevations,
                cls.gate_discharges, cls.gate_minimum, cls.gate_maximum_release,
                cls.spillway_elevations, cls.spillway_discharges, cls.environmental_flow,
                cls.environmental_minimum)
