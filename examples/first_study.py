"""A first study in SI units with pandas: a summer storm on a 45 km² basin, through a reach
and a flood pond, scored against a gauge record with a gap.

rain (mm) -> loss, Clark runoff and baseflow (hydrokit_pandas.run_subbasin) -> Muskingum reach
-> level pool pond with a spillway -> Kling-Gupta efficiency against the gauge (m³/s).

The README shows this study; `make demo` runs it and writes first_study.png next to itself
(or into `--out DIR`).
"""

import pandas as pd

import hydrokit_pandas as hkpd
import plotting
from hydrokit import baseflow, reservoir

RAIN_MM = [0.0, 1.5, 4.0, 9.0, 16.0, 11.0, 6.0, 3.0, 1.0, 0.5, 0.0, 0.0]
# The gauge below the pond, hourly in m³/s, out of service for four hours.
GAUGE = [0.7, 0.6, 0.7, 0.6, 0.6, 0.6, 0.6, 0.7, 0.9, 1.6, 2.4, 5.0, 9.4, 12.6, 13.9, 15.4,
         16.5, 16.0, 16.4, 15.0, 14.2, 14.0, 12.3, 10.0, 8.7, 7.7, 7.0, 5.5, 4.8, 4.4, None,
         None, None, None, 2.9, 2.8, 2.3, 2.5, 2.2, 2.0, 2.1, 2.0, 1.8, 1.7, 1.7, 1.6, 1.6]


def simulate():
    """The study of the README, step by step; returns every series the plot needs."""
    rain = pd.Series(RAIN_MM, index=pd.date_range("2024-06-12 06:00", periods=12, freq="h"))
    groundwater = baseflow.LinearReservoir(pd.Timedelta(days=20), gw_fraction=0.4,
                                           initial_q=0.6)
    basin = hkpd.run_subbasin(rain, initial_deficit=15.0, max_deficit=60.0,
                              constant_loss_per_hr=2.0, time_to_dry=pd.Timedelta(days=3),
                              basin_area=45.0, tc=pd.Timedelta(hours=5),
                              storage_r=pd.Timedelta(hours=6),
                              reservoirs={"groundwater": groundwater}, units="si")
    river = hkpd.run_muskingum_routing(basin["total"], pd.Timedelta(hours=3), 0.2, 3, 0.6,
                                       units="si")
    curves = reservoir.reservoir_utils
    pond = curves.ElevationStorage([100.0, 102.0, 104.0, 106.0], [0.0, 1.5e5, 4.5e5, 9e5])
    spillway = curves.UnControlledDischargeInfo(
        curves.ElevationDischarge([100.0, 101.0, 103.0, 106.0], [0.0, 3.0, 20.0, 70.0]))
    pool = hkpd.run_level_pool_routing(river, 100.2, pond, {"spillway": spillway}, units="si")
    gauge = pd.Series(GAUGE, index=pd.date_range("2024-06-12 07:00", periods=len(GAUGE),
                                                 freq="h"), dtype=float)
    return {"rain": rain, "basin": basin, "river": river, "pool": pool, "gauge": gauge,
            "kge": hkpd.calculate_kge(pool["outflow"], gauge)}


def summarise(run):
    basin, pool = run["basin"], run["pool"]
    print(basin.loc["2024-06-12 09:00":"2024-06-12 16:00"].round(2))
    print(f"rain {run['rain'].sum():.1f} mm, excess {basin['excess'].sum():.1f} mm; "
          f"peak {basin['total'].max():.1f} m³/s at the basin outlet, "
          f"{run['river'].max():.1f} m³/s down the reach")
    print(f"pond: peak outflow {pool['outflow'].max():.1f} m³/s at "
          f"{pool['outflow'].idxmax():%H:%M}, highest pool {pool['elevation'].max():.2f} m")
    print(f"KGE against the gauge {run['kge']:.3f}")


def plot(run, out_dir):
    plt = plotting.pyplot()
    if plt is None:
        return
    basin, until = run["basin"], run["gauge"].index[-1]
    figure, (rain_axis, flow_axis) = plt.subplots(
        2, 1, sharex=True, figsize=(9, 6), height_ratios=[1, 2.6], layout="constrained")
    # The rain of each hour hangs from the top, over the hour it fell in.
    hour = pd.Timedelta(hours=1)
    steps = basin.loc[:run["rain"].index[-1]]
    rain_axis.bar(steps.index, steps["excess"], width=hour, align="edge", color="tab:blue",
                  label="excess (runs off)")
    rain_axis.bar(steps.index, steps["loss"], width=hour, align="edge", bottom=steps["excess"],
                  color="lightsteelblue", label="loss (infiltrates)")
    rain_axis.invert_yaxis()
    rain_axis.set_ylabel("rain (mm/h)")
    rain_axis.legend(loc="lower right")
    rain_axis.set_title(f"{run['rain'].sum():.0f} mm of rain on 45 km²: "
                        f"{basin['excess'].sum():.1f} mm of excess")

    shown = basin.loc[:until]
    flow_axis.plot(shown.index, shown["direct_runoff"], color="tab:orange",
                   label="direct runoff (Clark)")
    flow_axis.plot(shown.index, shown["baseflow"], "--", color="tab:green", label="baseflow")
    flow_axis.plot(run["river"].loc[:until], color="tab:gray", label="down the reach (Muskingum)")
    flow_axis.plot(run["pool"]["outflow"].loc[:until], color="tab:red", linewidth=2,
                   label="out of the pond (level pool)")
    flow_axis.plot(run["gauge"], ".", color="black", markersize=4, label="gauge (with a gap)")
    flow_axis.set_ylabel("discharge (m³/s)")
    flow_axis.set_ylim(bottom=0)
    flow_axis.set_title(f"Below the pond: KGE {run['kge']:.3f} against the gauge")
    flow_axis.legend(loc="upper right")
    figure.autofmt_xdate()
    plotting.save(figure, "first_study.png", out_dir)


def main():
    arguments = plotting.parse_arguments(__doc__.splitlines()[0])
    run = simulate()
    summarise(run)
    plot(run, arguments.out)


if __name__ == "__main__":
    main()
