#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "check.hpp"
#include "reach_routing/muskingum.hpp"

namespace {

using hydrokit::RoutingCoefficients;
using hydrokit::RoutingLanes;

// The passes one after another, each a plain loop over the series.
std::vector<double> passes_one_by_one(std::vector<double> inflow, const RoutingCoefficients& c,
                                      double start, uint64_t passes) {
    for (uint64_t pass = 0; pass < passes; ++pass) {
        std::vector<double> outflow(inflow.size());
        outflow[0] = start;
        for (size_t t = 1; t < inflow.size(); ++t) {
            outflow[t] = c.c2 * outflow[t - 1] + (c.c0 * inflow[t] + c.c1 * inflow[t - 1]);
        }
        inflow = outflow;
    }
    return inflow;
}

// Equal bit for bit, except that any NaN matches any NaN.
bool same_values(std::span<const double> a, std::span<const double> b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const bool both_nan = std::isnan(a[i]) && std::isnan(b[i]);
        if (!both_nan && std::bit_cast<uint64_t>(a[i]) != std::bit_cast<uint64_t>(b[i])) {
            return false;
        }
    }
    return true;
}

// A hydrograph with a few non-finite values and signed zeros among ordinary flows.
std::vector<double> awkward_inflow(size_t n, uint64_t seed) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    const double specials[] = {std::nan(""), inf, -inf, -0.0, 0.0};
    std::vector<double> values(n);
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 6364136223846793005u + 1442695040888963407u;
        const uint64_t draw = seed >> 33;
        values[i] = draw % 97 < 5 ? specials[draw % 5] : static_cast<double>(draw % 10000) / 7.0;
    }
    return values;
}

std::vector<RoutingLanes> lanes_on_this_processor() {
    std::vector<RoutingLanes> lanes{RoutingLanes::scalar};
#if defined(HYDROKIT_X86_KERNELS)
    if (__builtin_cpu_supports("avx2")) lanes.push_back(RoutingLanes::avx2);
    if (__builtin_cpu_supports("avx512f")) lanes.push_back(RoutingLanes::avx512);
#endif
    return lanes;
}

}  // namespace

CORE_TEST(every_instruction_set_routes_like_passes_one_by_one) {
    const RoutingCoefficients c = hydrokit::routing_coefficients(5400.0, 0.3, 3600.0);
    for (const RoutingLanes lanes : lanes_on_this_processor()) {
        for (const size_t n : {1, 2, 3, 8, 17, 33, 70}) {
            for (uint64_t passes = 1; passes <= 50; ++passes) {
                for (const double start : {2.5, -0.0, std::nan("")}) {
                    const std::vector<double> inflow = awkward_inflow(n, n * 131 + passes);
                    CHECK(same_values(hydrokit::routing_passes(inflow, c, start, passes, lanes),
                                      passes_one_by_one(inflow, c, start, passes)));
                }
            }
        }
    }
}
