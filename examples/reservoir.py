"""Route a design flood through a flood-control reservoir.

The reservoir has a gated outlet works (a conduit whose rating is capped at the channel's
safe capacity downstream) and an uncontrolled ogee spillway. The design flood is a gamma-
shaped hydrograph on a 15-minute step. Units: elevations in ft, storage in ft³, flows in cfs.
"""

import math
from datetime import timedelta

import hydrokit

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

# Ogee spillway: crest at 925 ft, 150 ft long, Q = C L H^1.5 with C = 3.7.
SPILLWAY_ELEVATION_FT = [925 + h for h in range(26)]
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
    result = hydrokit.reservoir.run_level_pool_routing(inflow, 905.0, pool, outlets)

    peak_inflow = max(inflow.data)
    peak_outflow = max(result.reservoir_total_outflow.data)
    attenuation = 1.0 - peak_outflow / peak_inflow
    print(f"peak inflow            {peak_inflow:10,.0f} cfs")
    print(f"peak outflow           {peak_outflow:10,.0f} cfs")
    print(f"attenuation            {attenuation:10.1%}")
    print(f"maximum pool elevation {max(result.reservoir_elevation.data):10.2f} ft")
    for name, flows in result.reservoir_individual_outflows.items():
        print(f"  peak {name:<17} {max(flows.data):10,.0f} cfs")


if __name__ == "__main__":
    main()
