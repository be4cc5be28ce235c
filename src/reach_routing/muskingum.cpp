#include "reach_routing/muskingum.hpp"

#include "error.hpp"

namespace hydrokit {

RoutingCoefficients routing_coefficients(double k_seconds, double x, double dt_seconds) {
    const double a = (1.0 - x) * (k_seconds + k_seconds);
    const double b = (k_seconds + k_seconds) * x;
    const double d = dt_seconds + a;
    return {
        .c0 = (dt_seconds - b) / d,
        .c1 = (b + dt_seconds) / d,
        .c2 = (a - dt_seconds) / d,
    };
}

std::vector<double> routing_pass(std::span<const double> inflow, double k_seconds, double x,
                                 double dt_seconds, double start_outflow) {
    if (inflow.empty()) throw Panic("index out of bounds: the len is 0 but the index is 0");
    const RoutingCoefficients c = routing_coefficients(k_seconds, x, dt_seconds);
    std::vector<double> outflow(inflow.size());
    outflow[0] = start_outflow;
    double previous_outflow = start_outflow;
    double previous_inflow = inflow[0];
    for (size_t t = 1; t < inflow.size(); ++t) {
        const double current_inflow = inflow[t];
        previous_outflow = route_step(c, previous_outflow, current_inflow, previous_inflow);
        outflow[t] = previous_outflow;
        previous_inflow = current_inflow;
    }
    return outflow;
}

bool x_in_recommended_range(double x) {
    return x >= 0.0 && x <= 0.5;
}

ContinuousSeries run_muskingum_routing(const ContinuousSeries& inflow, double k_reach_seconds,
                                       double x, int64_t sub_reaches, double initial_outflow) {
    // Zero segments would make K infinite and every outflow NaN; a negative count would route
    // with a negative storage constant.
    if (sub_reaches < 1) throw ValueError("sub_reaches must be at least 1");
    const double k_seconds = k_reach_seconds / static_cast<double>(sub_reaches);
    const double dt_seconds = static_cast<double>(inflow.time_step);
    std::vector<double> outflow =
        routing_pass(inflow.data, k_seconds, x, dt_seconds, initial_outflow);
    // Every later segment starts from its own inflow's first value, which is the start value.
    for (int64_t pass = 1; pass < sub_reaches; ++pass) {
        outflow = routing_pass(outflow, k_seconds, x, dt_seconds, outflow[0]);
    }
    ContinuousSeries result;
    result.data = std::move(outflow);
    result.kind = "discharge";
    result.time_step = inflow.time_step;
    return result;
}

}  // namespace hydrokit
