"""A design storm for a small basin: hourly rainfall, disaggregated to 15 minutes."""

from datetime import timedelta

from hydrokit import utils

HOUR = timedelta(hours=1)

# A six-hour storm, inches of rain per hour.
storm = utils.IncrementalTimeSeries([0.10, 0.35, 0.80, 0.45, 0.20, 0.05], HOUR, "rainfall")
fine = storm.disaggregate(15 * 60)

print(f"storm: {len(storm.data)} hourly steps, {storm.total_duration() / 3600:g} h, "
      f"{sum(storm.data):.2f} in")
print(f"disaggregated to {fine.time_step}: {len(fine.data)} steps, {sum(fine.data):.2f} in")
print()
print("  time   rain (in)")
for i, depth in enumerate(fine.data):
    minutes = i * fine.time_step.total_seconds() / 60
    print(f"{int(minutes // 60):3d}:{int(minutes % 60):02d}   {depth:8.4f}")
