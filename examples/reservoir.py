"""Route a design flood through a flood-control reservoir.

The reservoir has a gated outlet works (a conduit whose rating is capped at the channel's
safe capacity downstream) and an uncontrolled ogee spillway. The design flood is a gamma-
shaped hydrograph on a 15-minute step. Units: elevations in ft, storage in ft³, flows in cfs.

Run it with `make demo`; it writes reservoir.png next to itself (or into `--out DIR`).
"""

import math
from datetime import timedelta

import hydrokit
import plotting

reservoir_utils = hydrokit.reservoir.reservoir_utils

STEP = timedelta(minutes=15)

# Elevation-storage curve from the pool survey: elevation (ft) and storage (acre-ft).
ELEVATION_FT = [880, 890, 900, 910, 920, 930, 940, 950]
STORAGE_ACRE_FT = [0, 1_200, 4_100, 9_300, 17_000, 27_600, 41_200, 58_000]
CUBIC_FEET_PER_ACRE_FOOT = 43_560.0

# Outlet works: a 10-ft conduit, invert at 885 ft, limited to the safe downstream capacity.
CONDUIT_ELEVATION_FT = [885, 890, 900, 910, 920, 930, 940, 950]
CONDUIT_DISCHARGE_CFS = [0, 450, 1_300, 1_900, 2_350, 2_750, 3_100, 3_400]
SAFE_CHANNEL_CAPACITY_CFS = 2_500.0
INITIAL_POOL_FT = 905.0

# Ogee spillway: crest at 925 ft, 150 ft long, Q = C L H^1.5 with C = 3.7.
SPILLWAY_CREST_FT = 925
SPILLWAY_ELEVATION_FT = [SPILLWAY_CREST_FT + h for h in range(26)]
SPILLWAY_DISCHARGE_CFS = [3.7 * 150 * h**1.5 for h in range(26)]


def design_flood(peak_cfs, time_to_peak_hr, base_cfs, duration_hr):
    """A gamma-shaped flood hydrograph, Q = Qb + Qp (t/tp)^m exp(m (1 - t/tp))."""
    steps_per_hour = 3600 // int(STEP.total_seconds())
    shape = 3.7
    flows = []
    for k in range(duration_hr * steps_per_hour + 1):
        ratio = (k / steps_per_hour) / time_to_peak_hr
        flows.append(base_cfs + peak_cfs * ratio**shape * math.exp(shape * (1.0 - ratio)))
    return flows


def main():
    arguments = plotting.parse_arguments(__doc__.splitlines()[0])
    inflow = hydrokit.utils.ContinuousTimeSeries(
        design_flood(peak_cfs=24_000, time_to_peak_hr=10, base_cfs=300, duration_hr=96),
        STEP,
        "discharge",
    )
    pool = reservoir_utils.ElevationStorage(
        ELEVATION_FT, [s * CUBIC_FEET_PER_ACRE_FOOT for s in STORAGE_ACRE_FT]
    )
    outlets = {
        "outlet works": reservoir_utils.ControlledDischargeInfo(
            reservoir_utils.ElevationDischarge(CONDUIT_ELEVATION_FT, CONDUIT_DISCHARGE_CFS),
            maximum_release=SAFE_CHANNEL_CAPACITY_CFS,
        ),
        "spillway": reservoir_utils.UnControlledDischargeInfo(
            reservoir_utils.ElevationDischarge(SPILLWAY_ELEVATION_FT, SPILLWAY_DISCHARGE_CFS)
        ),
    }
    result = hydrokit.reservoir.run_level_pool_routing(inflow, INITIAL_POOL_FT, pool, outlets)

    peak_inflow = max(inflow.data)
    peak_outflow = max(result.reservoir_total_outflow.data)
    attenuation = 1.0 - peak_outflow / peak_inflow
    print(f"peak inflow            {peak_inflow:10,.0f} cfs")
    print(f"peak outflow           {peak_outflow:10,.0f} cfs")
    print(f"attenuation            {attenuation:10.1%}")
    print(f"maximum pool elevation {max(result.reservoir_elevation.data):10.2f} ft")
    for name, flows in result.reservoir_individual_outflows.items():
        print(f"  peak {name:<17} {max(flows.data):10,.0f} cfs")
    plot(inflow, result, arguments.out)


def plot(inflow, result, out_dir):
    plt = plotting.pyplot()
    if plt is None:
        return
    step_hours = inflow.time_step.total_seconds() / 3600
    hours = [i * step_hours for i in range(len(inflow.data))]
    # The routing records its releases at the ends of the steps 1 .. n-1, and the pool at
    # the start followed by the ends of the steps 2 .. n-1.
    outflow_hours = hours[1:]
    pool_hours = hours[:1] + hours[2:]
    figure, (flow_axis, pool_axis) = plt.subplots(
        2, 1, sharex=True, figsize=(9, 6.5), height_ratios=[2, 1.2], layout="constrained")

    flow_axis.plot(hours, inflow.data, color="tab:blue", linewidth=2, label="inflow")
    # A broad translucent band, so that an outlet's line stays visible where it carries the
    # whole outflow (the outlet works alone once the spillway stops).
    flow_axis.plot(outflow_hours, result.reservoir_total_outflow.data, color="black",
                   linewidth=5, alpha=0.3, solid_capstyle="butt", label="total outflow")
    styles = {"outlet works": ("tab:green", "--"), "spillway": ("tab:red", ":")}
    for name, flows in result.reservoir_individual_outflows.items():
        color, line = styles[name]
        flow_axis.plot(outflow_hours, flows.data, line, color=color, linewidth=1.8, label=name)
    flow_axis.axhline(SAFE_CHANNEL_CAPACITY_CFS, color="tab:green", linewidth=0.8, alpha=0.6)
    flow_axis.annotate("safe channel capacity", (hours[-1], SAFE_CHANNEL_CAPACITY_CFS),
                       xytext=(0, 3), textcoords="offset points", ha="right",
                       color="tab:green", fontsize=8)
    flow_axis.set_ylabel("discharge (cfs)")
    flow_axis.set_ylim(bottom=0)
    flow_axis.yaxis.set_major_formatter("{x:,.0f}")
    peak_in = max(inflow.data)
    peak_out = max(result.reservoir_total_outflow.data)
    flow_axis.set_title(f"Design flood through the reservoir: peak {peak_in:,.0f} cfs in, "
                        f"{peak_out:,.0f} cfs out")
    flow_axis.legend(loc="upper right")

    elevations = result.reservoir_elevation.data
    pool_axis.plot(pool_hours, elevations, color="tab:purple", linewidth=2,
                   label="pool elevation")
    pool_axis.axhline(SPILLWAY_CREST_FT, color="tab:red", linestyle=":", linewidth=1.5,
                      label=f"spillway crest ({SPILLWAY_CREST_FT} ft)")
    pool_axis.set_ylabel("elevation (ft)")
    pool_axis.set_xlabel("hours since the flood began")
    pool_axis.set_xlim(0, hours[-1])
    pool_axis.set_title(f"Pool: {INITIAL_POOL_FT:.0f} ft at the start, "
                        f"{max(elevations):.2f} ft at most")
    pool_axis.legend(loc="lower right")
    plotting.save(figure, "reservoir.png", out_dir)


if __name__ == "__main__":
    main()
