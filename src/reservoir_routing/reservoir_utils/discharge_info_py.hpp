// Python outlets as the DischargeInfo union: the first of the four classes that the value is
// an instance of gives the kind.
#pragma once

#include <array>
#include <string_view>

#include "reservoir_routing/reservoir_utils/constant_discharge_py.hpp"
#include "reservoir_routing/reservoir_utils/controlled_discharge_py.hpp"
#include "reservoir_routing/reservoir_utils/discharge_info.hpp"
#include "reservoir_routing/reservoir_utils/specified_discharge_py.hpp"
#include "reservoir_routing/reservoir_utils/uncontrolled_discharge_py.hpp"

namespace hydrokit::py {

template <>
struct UnionNames<DischargeInfo> {
    static constexpr std::string_view name = "DischargeInfo";
    static constexpr std::array<std::string_view, 4> kinds = {"Uncontrolled", "Controlled",
                                                              "Specified", "Constant"};
};

template <>
struct UnionNames<DischargeRef> : UnionNames<DischargeInfo> {};

}  // namespace hydrokit::py
