"""The other ways a user gets the same numbers: scipy filters, numpy, the metric packages
and plain Python. Optional packages that did not install are reported, not required."""

import importlib
import math

import numpy as np
from scipy.signal import lfilter


def optional_module(name):
    """The module, or None when it is not installed in this environment."""
    try:
        return importlib.import_module(name)
    except ImportError:
        return None


hydroeval = optional_module("hydroeval")
hydroerr = optional_module("HydroErr")


def muskingum_coefficients(k, x, dt):
    a = (1.0 - x) * (k + k)
    b = (k + k) * x
    d = dt + a
    return (dt - b) / d, (b + dt) / d, (a - dt) / d


def muskingum_lfilter(inflow, k_reach, x, sub_reaches, dt, start):
    """O[t] - C2 O[t-1] = C0 I[t] + C1 I[t-1] as a first-order IIR filter, one filter per
    sub-reach; the initial state carries O[0] and I[0]."""
    c0, c1, c2 = muskingum_coefficients(k_reach / sub_reaches, x, dt)
    outflow = inflow
    for _ in range(sub_reaches):
        state = [c1 * outflow[0] + c2 * start]
        routed, _ = lfilter([c0, c1], [1.0, -c2], outflow[1:], zi=state)
        outflow = np.concatenate(([start], routed))
    return outflow


def linear_reservoir_lfilter(area, rain, dt, layers):
    """Each reservoir Q[t] = C I[t] + D Q[t-1] as a first-order filter, chained per layer;
    `layers` holds (K seconds, fraction, initial discharge, reservoirs in the chain)."""
    dt_h = dt / 3600.0
    half = 0.5 * dt_h
    factor = area * 1.00833
    total = np.zeros(rain.size)
    outflows = []
    for k_seconds, fraction, initial_q, count in layers:
        k_per_res = (k_seconds / 3600.0) / count
        c = dt_h / (k_per_res + half)
        d = 1.0 - c
        flow = ((rain * fraction) / dt_h) * factor
        for _ in range(count):
            flow, _ = lfilter([c], [1.0, -d], flow, zi=[initial_q * d])
        outflows.append(flow)
        total = flow + total
    return total, outflows


def numpy_kge(sim, obs):
    """The textbook numpy formulation: Pearson r from corrcoef, population standard deviations."""
    r = np.corrcoef(sim, obs)[0, 1]
    beta = np.mean(sim) / np.mean(obs)
    gamma = np.std(sim) / np.std(obs)
    return 1.0 - math.sqrt((r - 1.0) ** 2 + (beta - 1.0) ** 2 + (gamma - 1.0) ** 2)


def hydroeval_kge(sim, obs):
    return float(hydroeval.evaluator(hydroeval.kge, sim, obs)[0, 0])


def hydroerr_kge(sim, obs):
    return float(hydroerr.kge_2009(sim, obs))


def python_muskingum(inflow, k, x, dt, start):
    c0, c1, c2 = muskingum_coefficients(k, x, dt)
    outflow = [start]
    previous_out, previous_in = start, inflow[0]
    for current in inflow[1:]:
        previous_out = c2 * previous_out + (c0 * current + c1 * previous_in)
        outflow.append(previous_out)
        previous_in = current
    return outflow


def python_kge(sim, obs):
    n = float(len(obs))
    # Index order, as documented: the built-in sum() compensates its rounding errors.
    sum_sim = sum_obs = 0.0
    for s, o in zip(sim, obs):
        sum_sim += s
        sum_obs += o
    mean_sim = sum_sim / n
    mean_obs = sum_obs / n
    sss = sso = soo = 0.0
    for s, o in zip(sim, obs):
        ds, do = s - mean_sim, o - mean_obs
        sss += ds * ds
        sso += do * ds
        soo += do * do
    g = math.sqrt(soo * sss)
    correlation_term = 1.0 if g < 1e-6 else (sso / g - 1.0) * (sso / g - 1.0)
    beta = mean_sim / (1e-6 if abs(mean_obs) < 1e-6 else mean_obs)
    sigma_obs = math.sqrt(soo / n)
    gamma = math.sqrt(sss / n) / (1e-6 if sigma_obs < 1e-6 else sigma_obs)
    return 1.0 - math.sqrt((gamma - 1.0) * (gamma - 1.0)
                           + ((beta - 1.0) * (beta - 1.0) + correlation_term))
