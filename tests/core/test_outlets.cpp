#include <limits>

#include "check.hpp"
#include "error.hpp"
#include "reservoir_routing/reservoir_utils/discharge_info.hpp"

using namespace hydrokit;

namespace {

constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();

ElevationDischarge gate_curve() {
    return ElevationDischarge::checked({100, 110}, {0, 50});
}

}  // namespace

CORE_TEST(specified_outlet_needs_the_elapsed_time) {
    SpecifiedDischargeInfo outlet;
    outlet.discharge.data = {1, 2};
    outlet.discharge.time_step = 60;
    const DischargeInfo info = outlet;
    CHECK_THROWS(RuntimeError,
                 "SpecifiedDischargeInfo requires duration_secs but none was provided.",
                 release(info, ReleaseContext{std::nullopt, 0.0}));
    CHECK(release(info, ReleaseContext{30, 0.0}) == 1.5);
}

CORE_TEST(nan_elevation_is_never_gated_and_reaches_the_rating_lookup) {
    const DischargeInfo gate = ControlledDischargeInfo::normalised(gate_curve(), 101.0, 109.0, 5.0);
    const DischargeInfo spillway = UnControlledDischargeInfo{gate_curve(), 1.0};
    const DischargeInfo constant = ConstantDischargeInfo{2.5, 100.0, 101.0};
    for (const DischargeInfo* outlet : {&gate, &spillway}) {
        CHECK_THROWS(Panic, "called `Option::unwrap()` on a `None` value",
                     release(*outlet, ReleaseContext{1, not_a_number}));
        OutletRun run(*outlet);
        CHECK_THROWS(Panic, "called `Option::unwrap()` on a `None` value",
                     run.release(1, not_a_number));
    }
    CHECK(release(constant, ReleaseContext{1, not_a_number}) == 2.5);
}

CORE_TEST(outlet_run_releases_exactly_as_release) {
    const DischargeInfo gate = ControlledDischargeInfo::normalised(
        ElevationDischarge::checked({100, 101.5, 103, 107, 110}, {0, 0.7, 3.1, 3.1, 41}),
        std::nullopt, 120.0, 30.0);
    const DischargeInfo spillway = UnControlledDischargeInfo{
        ElevationDischarge::checked({104, 105.25, 108, 111}, {0, 12.5, 80, 300}), -0.3};
    SpecifiedDischargeInfo schedule{{}, 100.5, 108.0, 4.0};
    schedule.discharge.data = {1.0, 6.0, 2.5, 0.0};
    schedule.discharge.time_step = 900;
    const DischargeInfo prescribed = schedule;
    const DischargeInfo constant = ConstantDischargeInfo{2.5, 99.5, 109.0};
    for (const DischargeInfo* outlet : {&gate, &spillway, &prescribed, &constant}) {
        OutletRun run(*outlet);
        // Up through every segment and back down, as a flood passes.
        for (int i = 0; i <= 2200; ++i) {
            const double elevation = 99.0 + 0.005 * (i <= 1100 ? i : 2200 - i) + 1e-4 * (i % 7);
            const ReleaseContext context{i, elevation};
            CHECK(run.release(i, elevation) == release(*outlet, context));
        }
    }
}

CORE_TEST(outlet_run_past_a_prescribed_series) {
    SpecifiedDischargeInfo schedule{{}, 100.5, std::nullopt, std::nullopt};
    schedule.discharge.data = {1.0, 6.0, 2.5, 0.0};
    schedule.discharge.time_step = 900;
    const DischargeInfo outlet = schedule;
    OutletRun run(outlet);
    CHECK(run.release(2700, 105.0) == 0.0);
    CHECK(run.release(2701, 100.0) == 0.0);  // shut, so the series is not read
    CHECK_THROWS(ValueError,
                 "simulation duration 2701s exceeds the specified discharge series length "
                 "(2700s).",
                 run.release(2701, 105.0));
}
