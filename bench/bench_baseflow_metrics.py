"""Linear reservoir baseflow against a pure-Python loop, and the Kling-Gupta efficiency
against a numpy implementation, on a million values."""

import math
import random
from datetime import timedelta

import numpy as np

import hydrokit
from timing import median_seconds, report

SIZE = 1_000_000
HOUR = timedelta(hours=1)


def python_linear_reservoir(area, rainfall, step_seconds, layers):
    """Every layer as (K seconds, fraction, initial discharge, chain length); returns the total."""
    dt_h = step_seconds / 3600.0
    half = 0.5 * dt_h
    factor = area * 1.00833
    total = [0.0] * len(rainfall)
    for k_seconds, fraction, q0, count in layers:
        k_per_res = (k_seconds / 3600.0) / count
        c = dt_h / (k_per_res + half)
        d = 1.0 - c
        state = [q0] * count
        for t, depth in enumerate(rainfall):
            flow = ((depth * fraction) / dt_h) * factor
            for j in range(count):
                flow = flow * c + state[j] * d
                state[j] = flow
            total[t] = flow + total[t]
    return total


def numpy_kge(sim, obs):
    sim, obs = np.asarray(sim, dtype=float), np.asarray(obs, dtype=float)
    r = np.corrcoef(sim, obs)[0, 1]
    beta = np.mean(sim) / np.mean(obs)
    gamma = np.std(sim) / np.std(obs)
    return 1.0 - math.sqrt((r - 1) ** 2 + (beta - 1) ** 2 + (gamma - 1) ** 2)


def bench_baseflow():
    generator = random.Random(7)
    rainfall = [generator.expovariate(20.0) if generator.random() < 0.2 else 0.0
                for _ in range(SIZE)]
    layers = [(36_000, 0.3, 1.0, 3), (360_000, 0.5, 4.0, 3)]
    reservoirs = {
        f"layer{i}": hydrokit.baseflow.LinearReservoir(timedelta(seconds=k), f, q0, n)
        for i, (k, f, q0, n) in enumerate(layers)
    }
    series = hydrokit.utils.IncrementalTimeSeries(rainfall, HOUR, "rainfall")
    total, _ = hydrokit.baseflow.run_linear_reservoir(500.0, series, reservoirs)
    assert total.data == python_linear_reservoir(500.0, rainfall, 3600, layers)
    ours = median_seconds(
        lambda: hydrokit.baseflow.run_linear_reservoir(500.0, series, reservoirs))
    python = median_seconds(lambda: python_linear_reservoir(500.0, rainfall, 3600, layers))
    report("run_linear_reservoir, 1e6 steps, 2 x 3 reservoirs", ours, "pure Python", python)


def bench_kge():
    generator = np.random.default_rng(7)
    obs_array = generator.gamma(2.0, 10.0, SIZE)
    sim_array = obs_array * 1.1 + generator.normal(0.0, 2.0, SIZE)
    obs_list, sim_list = obs_array.tolist(), sim_array.tolist()
    kge = hydrokit.metrics.calculate_kge
    assert math.isclose(kge(sim_list, obs_list), numpy_kge(sim_list, obs_list), rel_tol=1e-9)
    for label, sim, obs in [("lists", sim_list, obs_list), ("float64 arrays", sim_array, obs_array)]:
        ours = median_seconds(lambda: kge(sim, obs))
        numpy = median_seconds(lambda: numpy_kge(sim, obs))
        report(f"calculate_kge, 1e6 values, {label}", ours, "numpy", numpy)


def main():
    bench_baseflow()
    bench_kge()


if __name__ == "__main__":
    main()
