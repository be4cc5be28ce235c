// An outlet releasing a fixed rate inside an elevation band.
#pragma once

#include <optional>

namespace hydrokit {

struct ConstantDischargeInfo {
    double discharge;
    std::optional<double> minimum_elevation;
    std::optional<double> maximum_elevation;
};

double constant_release(const ConstantDischargeInfo& outlet, double elevation);

}  // namespace hydrokit
