// The four outlet kinds as one value, and the release of any of them.
#pragma once

#include <variant>

#include "reservoir_routing/reservoir_utils/constant_discharge.hpp"
#include "reservoir_routing/reservoir_utils/controlled_discharge.hpp"
#include "reservoir_routing/reservoir_utils/release_context.hpp"
#include "reservoir_routing/reservoir_utils/specified_discharge.hpp"
#include "reservoir_routing/reservoir_utils/uncontrolled_discharge.hpp"
#include "utils/general.hpp"

namespace hydrokit {

using DischargeInfo = std::variant<UnControlledDischargeInfo, ControlledDischargeInfo,
                                   SpecifiedDischargeInfo, ConstantDischargeInfo>;

// The outlet's release for the reservoir state `context` (ValueError or RuntimeError when the
// outlet cannot release for it).
double release(const DischargeInfo& outlet, const ReleaseContext& context);

// One outlet over the many releases of a routing run: its rating curve is checked once and
// each lookup starts from the segment of the previous one. Every release and every failure is
// that of `release`. The outlet must outlive this object.
class OutletRun {
  public:
    explicit OutletRun(const DischargeInfo& outlet);
    double release(const ReleaseContext& context);

  private:
    const DischargeInfo* outlet_;
    CurveLookup rating_;
};

}  // namespace hydrokit
