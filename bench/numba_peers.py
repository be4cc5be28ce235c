"""The loops a hydrologist would write in numba instead of calling hydrokit.

Each is the documented formula written out plainly, in the documented order of operations,
compiled with a bare @njit (no fastmath, no parallel, no hand vectorisation): the bar that
hydrokit has to clear, not something tuned either way.
"""

import numpy as np
from numba import njit


@njit
def muskingum_pass(inflow, k, x, dt, start):
    a = (1.0 - x) * (k + k)
    b = (k + k) * x
    d = dt + a
    c0 = (dt - b) / d
    c1 = (b + dt) / d
    c2 = (a - dt) / d
    outflow = np.empty(inflow.size)
    outflow[0] = start
    for t in range(1, inflow.size):
        outflow[t] = c2 * outflow[t - 1] + (c0 * inflow[t] + c1 * inflow[t - 1])
    return outflow


@njit
def muskingum(inflow, k_reach, x, sub_reaches, dt, start):
    """Sub-reaches routed one after another, each outflow the next one's inflow."""
    k = k_reach / sub_reaches
    outflow = muskingum_pass(inflow, k, x, dt, start)
    for _ in range(1, sub_reaches):
        outflow = muskingum_pass(outflow, k, x, dt, outflow[0])
    return outflow


@njit
def deficit_and_constant(rain, initial_deficit, max_deficit, loss_per_hr, dry_seconds, dt):
    dt_h = dt / 3600.0
    capacity = loss_per_hr * dt_h
    r = 1.0 - np.exp(dt_h / (dry_seconds / -3600.0)) if dry_seconds > 0 else 0.0
    n = rain.size
    excess = np.empty(n)
    loss = np.empty(n)
    deficit = np.empty(n)
    d = initial_deficit
    for t in range(n):
        recovered = np.fmin(d + np.fmax(max_deficit - d, 0.0) * r, max_deficit)
        p = rain[t]
        if p > 0:
            constant = np.fmin(p, capacity)
            remaining = p - constant
            filled = np.fmin(remaining, recovered)
            d = recovered - filled
            loss[t] = filled + constant
            excess[t] = remaining - filled
        else:
            d = recovered
            loss[t] = 0.0
            excess[t] = 0.0
        deficit[t] = d
    return excess, loss, deficit


@njit
def linear_reservoir(area, rain, dt, k_seconds, fractions, initial_qs, counts):
    """Every layer's chain of reservoirs in turn; returns the total and each layer's flow."""
    dt_h = dt / 3600.0
    half = 0.5 * dt_h
    factor = area * 1.00833
    n = rain.size
    total = np.zeros(n)
    layers = np.empty((k_seconds.size, n))
    for layer in range(k_seconds.size):
        k_per_res = (k_seconds[layer] / 3600.0) / counts[layer]
        if half > k_per_res:
            raise ValueError("unstable layer: k_per_res < 0.5 * dt")
        c = dt_h / (k_per_res + half)
        d = 1.0 - c
        state = np.full(counts[layer], initial_qs[layer])
        for t in range(n):
            flow = ((rain[t] * fractions[layer]) / dt_h) * factor
            for j in range(counts[layer]):
                flow = flow * c + state[j] * d
                state[j] = flow
            layers[layer, t] = flow
        for t in range(n):
            total[t] = layers[layer, t] + total[t]
    return total, layers


@njit
def kge(sim, obs):
    n = float(obs.size)
    sum_sim = 0.0
    sum_obs = 0.0
    for i in range(sim.size):
        sum_sim += sim[i]
    for i in range(obs.size):
        sum_obs += obs[i]
    mean_sim = sum_sim / n
    mean_obs = sum_obs / n
    sss = 0.0
    sso = 0.0
    soo = 0.0
    for i in range(obs.size):
        ds = sim[i] - mean_sim
        do = obs[i] - mean_obs
        sss += ds * ds
        sso += do * ds
        soo += do * do
    g = np.sqrt(soo * sss)
    r = sso / g
    correlation_term = 1.0 if g < 1e-6 else (r - 1.0) * (r - 1.0)
    beta = mean_sim / (1e-6 if abs(mean_obs) < 1e-6 else mean_obs)
    sigma_sim = np.sqrt(sss / n)
    sigma_obs = np.sqrt(soo / n)
    gamma = sigma_sim / (1e-6 if sigma_obs < 1e-6 else sigma_obs)
    return 1.0 - np.sqrt((gamma - 1.0) * (gamma - 1.0)
                         + ((beta - 1.0) * (beta - 1.0) + correlation_term))


@njit
def interpolate(xs, ys, x):
    """Piecewise-linear lookup; the caller has checked xs[0] <= x <= xs[-1]."""
    i = np.searchsorted(xs, x)
    if xs[i] == x:
        return ys[i]
    return ((x - xs[i - 1]) / (xs[i] - xs[i - 1])) * (ys[i] - ys[i - 1]) + ys[i - 1]


@njit
def level_pool(inflow, dt, initial_elevation, curve_elevation, curve_storage,
               gate_elevation, gate_discharge, gate_minimum, gate_maximum_release,
               spillway_elevation, spillway_discharge, environmental_flow, environmental_minimum):
    """Explicit one-second mass balance with three outlets: a gate (rating curve, opened above a
    minimum pool, capped), an uncontrolled spillway (rating curve) and a constant environmental
    release (above a minimum pool), summed in that order."""
    n = inflow.size
    steps = n - 1
    storages = np.empty(max(steps, 1))
    elevations = np.empty(max(steps, 1))
    totals = np.empty(steps)
    releases = np.empty((3, steps))
    if initial_elevation < curve_elevation[0] or initial_elevation > curve_elevation[-1]:
        raise ValueError("initial elevation outside the elevation-storage curve")
    storage = interpolate(curve_elevation, curve_storage, initial_elevation)
    elevation = initial_elevation
    storages[0] = storage
    elevations[0] = elevation
    previous = inflow[0]
    h = 1.0
    for t in range(dt, steps * dt + 1):
        recorded = t % dt == 0
        if elevation < gate_minimum:
            gate = 0.0
        elif elevation > gate_elevation[-1]:
            raise ValueError("elevation above the gate's rating curve")
        else:
            gate = np.fmin(interpolate(gate_elevation, gate_discharge, elevation),
                           gate_maximum_release)
        crest = 0.0 + elevation
        if crest > spillway_elevation[-1]:
            raise ValueError("elevation above the spillway's rating curve")
        elif crest < spillway_elevation[0]:
            spill = 0.0
        else:
            spill = interpolate(spillway_elevation, spillway_discharge, crest)
        environmental = 0.0 if elevation < environmental_minimum else environmental_flow
        total = 0.0
        total = total + gate
        total = total + spill
        total = total + environmental
        if recorded:
            k = t // dt - 1
            releases[0, k] = gate
            releases[1, k] = spill
            releases[2, k] = environmental
            totals[k] = total
        if t == dt:
            continue
        p = t / dt
        i = int(np.floor(p))
        if i < n - 1:
            current = (inflow[i + 1] - inflow[i]) * (p - i) + inflow[i]
        else:
            current = inflow[n - 1]
        storage = np.fmax(storage + ((previous + current) * 0.5) * h - total * h, 0.0)
        if storage < curve_storage[0] or storage > curve_storage[-1]:
            raise ValueError("storage outside the elevation-storage curve")
        elevation = interpolate(curve_storage, curve_elevation, storage)
        if recorded:
            storages[t // dt - 1] = storage
            elevations[t // dt - 1] = elevation
        previous = current
    return storages, elevations, totals, releases


@njit
def time_area_fraction(x):
    x = np.fmin(x, 1.0)
    if x < 0.5:
        return x ** 1.5 * 1.414
    return (1.0 - x) ** 1.5 * (-1.414) + 1.0


@njit
def clark_unit_hydrograph(area, tc, storage, dt):
    """The translation hydrograph routed through the storage reservoir from rest, until the
    runoff still to come is below a billionth of the volume so far."""
    a = (1.0 - 0.0) * (storage + storage)
    b = (storage + storage) * 0.0
    d = dt + a
    c0 = (dt - b) / d
    c1 = (b + dt) / d
    c2 = (a - dt) / d
    m = int(np.ceil(tc / dt))
    ordinates = np.empty(2 * m + 64)
    ordinates[0] = 0.0
    count = 1
    volume = 0.0 + 0.0
    previous_fraction = 0.0
    previous_inflow = 0.0
    outflow = 0.0
    for i in range(1, m + 1):
        fraction = time_area_fraction((i * dt) / tc)
        inflow = ((fraction - previous_fraction) * area) * 1.00833 / (dt / 3600.0)
        previous_fraction = fraction
        outflow = c2 * outflow + (c0 * inflow + c1 * previous_inflow)
        previous_inflow = inflow
        ordinates[count] = outflow
        count += 1
        volume += outflow
    if c2 <= 0.0:
        last = c2 * outflow + (c0 * 0.0 + c1 * previous_inflow)
        ordinates[count] = last + last * c2 / (1.0 - c2)
        return ordinates[:count + 1]
    while True:
        outflow = c2 * outflow + (c0 * 0.0 + c1 * previous_inflow)
        previous_inflow = 0.0
        if count == ordinates.size:
            grown = np.empty(2 * ordinates.size)
            grown[:count] = ordinates
            ordinates = grown
        ordinates[count] = outflow
        count += 1
        volume += outflow
        if not (np.abs(outflow) * np.abs(c2) / (1.0 - c2) > 1e-9 * np.abs(volume)):
            return ordinates[:count]


@njit
def clark(excess, area, tc, storage, dt):
    """Every wet step's depth spreads the unit hydrograph over the steps from its own on."""
    unit = clark_unit_hydrograph(area, tc, storage, dt)
    runoff = np.zeros(excess.size + unit.size - 1)
    for i in range(excess.size):
        depth = excess[i]
        if depth == 0.0:
            continue
        for j in range(unit.size):
            runoff[i + j] = unit[j] * depth + runoff[i + j]
    return runoff


@njit
def linear_reservoir_layer(area, rain, dt, k_seconds, fraction, initial_q, count):
    """One layer's chain of reservoirs; the total of a single layer, flow + 0.0."""
    dt_h = dt / 3600.0
    half = 0.5 * dt_h
    factor = area * 1.00833
    k_per_res = (k_seconds / 3600.0) / count
    if half > k_per_res:
        raise ValueError("unstable layer: k_per_res < 0.5 * dt")
    c = dt_h / (k_per_res + half)
    d = 1.0 - c
    state = np.full(count, initial_q)
    total = np.empty(rain.size)
    for t in range(rain.size):
        flow = ((rain[t] * fraction) / dt_h) * factor
        for j in range(count):
            flow = flow * c + state[j] * d
            state[j] = flow
        total[t] = flow + 0.0
    return total


@njit
def basin_chain(rain, observed, parameters, area, dry_seconds, groundwater_k, baseflow_before,
                dt):
    """KGE of one storm through loss, Clark, one groundwater layer and a Muskingum reach;
    `parameters` holds the durations in seconds."""
    initial_deficit, max_deficit, loss_rate, tc, storage, fraction, k, x = parameters
    excess, loss, _ = deficit_and_constant(rain, initial_deficit, max_deficit, loss_rate,
                                           dry_seconds, dt)
    surface = clark(excess, area, tc, storage, dt)
    baseflow = linear_reservoir_layer(area, loss, dt, groundwater_k, fraction, baseflow_before, 1)
    # Runoff value t is the flow at t steps, baseflow value t at t + 1.
    flow = np.empty(rain.size)
    flow[0] = surface[0] + baseflow_before
    for t in range(1, rain.size):
        flow[t] = surface[t] + baseflow[t - 1]
    routed = muskingum_pass(flow, k / 1, x, dt, flow[0])
    return kge(routed, observed)


@njit
def basin_scores(parameter_sets, rains, observed, area, dry_seconds, groundwater_k,
                 baseflow_before, dt):
    """Every parameter set (a row) on every storm (a row of `rains` and `observed`)."""
    scores = np.empty((parameter_sets.shape[0], rains.shape[0]))
    for i in range(parameter_sets.shape[0]):
        for j in range(rains.shape[0]):
            scores[i, j] = basin_chain(rains[j], observed[j], parameter_sets[i], area,
                                       dry_seconds, groundwater_k, baseflow_before, dt)
    return scores
