#include <cstdint>
#include <vector>

#include "check.hpp"
#include "interrupt.hpp"
#include "reach_routing/muskingum.hpp"

namespace {

int polls_before_stop = 0;

bool stop_after_some_polls() {
    return --polls_before_stop < 0;
}

}  // namespace

CORE_TEST(installed_poll_stops_a_long_loop) {
    using namespace hydrokit;
    ContinuousSeries inflow;
    inflow.data = {1.0, 2.0, 3.0};
    inflow.time_step = 3600;
    polls_before_stop = 3;
    interrupt_poll = stop_after_some_polls;
    CHECK_THROWS(Interrupted, "interrupted",
                 run_muskingum_routing(inflow, 3600.0, 0.2, int64_t{1} << 62, 1.0));
    CHECK(polls_before_stop == -1);
    interrupt_poll = nullptr;
    CHECK(run_muskingum_routing(inflow, 3600.0, 0.2, 1000, 1.0).data.size() == 3);
}
