"""A storm on a 25 square-mile basin, from gross rainfall to a scored outlet hydrograph.

gross storm -> deficit-and-constant loss -> Clark runoff + linear-reservoir baseflow
-> combined hydrograph -> Muskingum reach -> Kling-Gupta efficiency against a gauge.

Run it with `make demo`; it writes basin.png next to itself (or into `--out DIR`).
"""

import math
import random
from datetime import timedelta

import plotting
from hydrokit import baseflow, metrics, rainfall_loss, rainfall_transform, reach, utils

AREA_ACRES = 25 * 640.0
STEP_MINUTES = 15
PLOT_HOURS = 48

# Gross rainfall, inches per hour, of a twelve-hour frontal storm.
HOURLY_STORM = [0.02, 0.05, 0.10, 0.22, 0.48, 0.85, 0.60, 0.31, 0.18, 0.09, 0.04, 0.01]


def simulate():
    """Runs the whole chain and returns every series the summary and the plot need."""
    storm = utils.IncrementalTimeSeries(HOURLY_STORM, timedelta(hours=1), "rainfall")
    rain = storm.disaggregate(STEP_MINUTES * 60)

    # Soil moisture: 0.4 in short of capacity at the start, 1.2 in of storage, 0.06 in/h of
    # steady infiltration; a wet soil dries back towards its capacity over about three days.
    losses = rainfall_loss.run_deficit_and_constant(
        rain, initial_deficit=0.4, max_deficit=1.2, constant_loss_per_hr=0.06,
        time_to_dry=timedelta(days=3))

    surface = rainfall_transform.run_clark_uh(
        losses.excess, AREA_ACRES, tc=timedelta(hours=3), storage_r=timedelta(hours=4))

    # Infiltration feeds two groundwater layers; the loss series is padded with dry steps
    # so that baseflow covers the whole surface hydrograph.
    steps = len(surface.data)
    infiltration = utils.IncrementalTimeSeries(
        losses.loss.data + [0.0] * (steps - len(rain.data)), rain.time_step, "rainfall")
    layers = {
        "interflow": baseflow.LinearReservoir(timedelta(hours=18), 0.35, 20.0,
                                              num_reservoir=2),
        "groundwater": baseflow.LinearReservoir(timedelta(days=12), 0.25, 35.0),
    }
    total_baseflow, by_layer = baseflow.run_linear_reservoir(AREA_ACRES, infiltration, layers)

    # Surface value k is the flow at k steps, baseflow value k at k + 1 steps: on the surface
    # hydrograph's clock the baseflow starts from the layers' initial flows.
    at_start = sum(layer.initial_q for layer in layers.values())
    baseflow_on_clock = [at_start] + total_baseflow.data[:-1]
    combined = utils.ContinuousTimeSeries(
        [q + b for q, b in zip(surface.data, baseflow_on_clock)], rain.time_step, "discharge")

    # Twelve miles of channel down to the gauge, in three sub-reaches.
    outlet = reach.run_muskingum_routing(
        combined, k=timedelta(hours=2), x=0.15, sub_reaches=3,
        initial_outflow=combined.data[0])

    # A stand-in for the gauge record: the routed flow with a little timing and rating error.
    noise = random.Random(7)
    observed = [q * (1.0 + noise.gauss(0.0, 0.04))
                for q in outlet.data[1:] + outlet.data[-1:]]
    return {
        "rain": rain.data, "excess": losses.excess.data, "loss": losses.loss.data,
        "surface": surface.data, "baseflow": baseflow_on_clock,
        "layers": {name: series.data for name, series in by_layer.items()},
        "combined": combined.data, "outlet": outlet.data, "observed": observed,
        "kge": metrics.calculate_kge(outlet.data, observed),
    }


def summarise(run):
    dt_hours = STEP_MINUTES / 60
    peak = max(run["outlet"])
    time_to_peak = run["outlet"].index(peak) * dt_hours
    direct_runoff_acre_ft = sum(run["surface"]) * dt_hours / 12.1  # cfs-hours to acre-feet
    print(f"basin            {AREA_ACRES / 640:.0f} mi², {len(run['rain'])} steps of "
          f"{STEP_MINUTES} min")
    print(f"gross rainfall   {sum(run['rain']):6.2f} in")
    print(f"excess rainfall  {sum(run['excess']):6.2f} in   loss {sum(run['loss']):.2f} in")
    print(f"direct runoff    {direct_runoff_acre_ft:8.1f} acre-ft "
          f"({direct_runoff_acre_ft * 12 / AREA_ACRES:.2f} in over the basin)")
    print(f"peak at outlet   {peak:8.1f} cfs at {time_to_peak:.2f} h "
          f"(before routing {max(run['combined']):.1f} cfs)")
    for name, flows in run["layers"].items():
        print(f"baseflow {name:<11} peak {max(flows):6.1f} cfs")
    print(f"KGE vs gauge     {run['kge']:8.4f}")


def plot(run, out_dir):
    plt = plotting.pyplot()
    if plt is None:
        return
    dt_hours = STEP_MINUTES / 60
    figure, (rain_axis, flow_axis) = plt.subplots(
        2, 1, sharex=True, figsize=(9, 6.5), height_ratios=[1, 2.6],
        layout="constrained")

    # Hyetograph: each bar is the gross depth of a step, split into the part that runs
    # off (excess) and the part the soil takes (loss), hanging from the top.
    rain_starts = [i * dt_hours for i in range(len(run["rain"]))]
    rain_axis.bar(rain_starts, run["excess"], width=dt_hours, align="edge",
                  color="tab:blue", label="excess (runs off)")
    rain_axis.bar(rain_starts, run["loss"], width=dt_hours, align="edge",
                  bottom=run["excess"], color="lightsteelblue", label="loss (infiltrates)")
    rain_axis.invert_yaxis()
    rain_axis.set_ylabel(f"rainfall\n(in per {STEP_MINUTES} min)")
    rain_axis.legend(loc="lower right")
    rain_axis.set_title(
        f"Storm of {sum(run['rain']):.2f} in on a {AREA_ACRES / 640:.0f} mi² basin: "
        f"{sum(run['excess']):.2f} in of excess")

    hours = [i * dt_hours for i in range(len(run["outlet"]))]
    flow_axis.plot(hours, run["surface"], color="tab:orange", label="direct runoff (Clark)")
    flow_axis.plot(hours, run["baseflow"], "--", color="tab:green",
                   label="baseflow (interflow + groundwater)")
    flow_axis.plot(hours, run["combined"], color="tab:gray", linewidth=1,
                   label="inflow to reach (runoff + baseflow)")
    flow_axis.plot(hours, run["outlet"], color="tab:red", linewidth=2,
                   label="routed to gauge (Muskingum, 3 sub-reaches)")
    flow_axis.plot(hours, run["observed"], ".", color="black", markersize=2.5,
                   label="gauge record (synthetic)")
    flow_axis.set_xlabel("hours since the storm began")
    flow_axis.set_ylabel("discharge (cfs)")
    # The first two days hold the storm response; the rest is a slow baseflow recession.
    flow_axis.set_xlim(0, min(PLOT_HOURS, math.ceil(hours[-1])))
    flow_axis.set_ylim(bottom=0)
    flow_axis.set_title(f"Hydrographs at the outlet: KGE of routed flow vs gauge "
                        f"{run['kge']:.3f}")
    flow_axis.legend(loc="upper right")
    plotting.save(figure, "basin.png", out_dir)


def main():
    arguments = plotting.parse_arguments(__doc__.splitlines()[0])
    run = simulate()
    summarise(run)
    plot(run, arguments.out)


if __name__ == "__main__":
    main()
