// The four outlet kinds as one value, and the release of any of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <variant>

#include "reservoir_routing/reservoir_utils/constant_discharge.hpp"
#include "reservoir_routing/reservoir_utils/controlled_discharge.hpp"
#include "reservoir_routing/reservoir_utils/rating_release.hpp"
#include "reservoir_routing/reservoir_utils/release_context.hpp"
#include "reservoir_routing/reservoir_utils/specified_discharge.hpp"
#include "reservoir_routing/reservoir_utils/uncontrolled_discharge.hpp"
#include "utils/general.hpp"
#include "utils/min_max.hpp"

namespace hydrokit {

using DischargeInfo = std::variant<UnControlledDischargeInfo, ControlledDischargeInfo,
                                   SpecifiedDischargeInfo, ConstantDischargeInfo>;

// An outlet read where it lives, without a copy: one of the four kinds, by address.
using DischargeRef = std::variant<const UnControlledDischargeInfo*, const ControlledDischargeInfo*,
                                  const SpecifiedDischargeInfo*, const ConstantDischargeInfo*>;

// The address of the outlet that `outlet` holds.
DischargeRef reference_to(const DischargeInfo& outlet);

// The points of the outlet's rating curve, 0 for an outlet without one.
size_t rating_points(DischargeRef outlet);

// The outlet's release for the reservoir state `context` (ValueError or RuntimeError when the
// outlet cannot release for it).
double release(const DischargeInfo& outlet, const ReleaseContext& context);

// One outlet over the many releases of a routing run: its rating curve, checked when it was
// built, is not scanned again, each lookup starts from the segment of the previous one, and its
// kind and limits are unpacked once, absent limits becoming ones that never act. Every release and
// every failure is that of `release`. The outlet must outlive this object.
class OutletRun {
  public:
    explicit OutletRun(const DischargeInfo& outlet);
    explicit OutletRun(DischargeRef outlet);

    // The release for the context {elapsed_seconds, elevation}.
    [[gnu::always_inline]] double release(int64_t elapsed_seconds, double elevation) {
        switch (kind_) {
            case Kind::spillway:
                return rated_release(*curve_, offset_ + elevation, rating_);
            case Kind::gate: {
                if (shut(elevation)) return 0.0;
                const double rated = rated_release(*curve_, elevation, rating_);
                return capped_ ? min_number(rated, maximum_release_) : rated;
            }
            case Kind::constant:
                return shut(elevation) ? 0.0 : discharge_;
            case Kind::prescribed:
                break;
        }
        const double t = static_cast<double>(elapsed_seconds);
        // A shut outlet releases nothing, however far past its series the run has gone.
        if (shut(elevation)) return 0.0;
        if (t > span_) throw_past_series(t, prescribed_->discharge.span());
        const double prescribed = prescribed_->discharge.value_at(t);
        return capped_ ? min_number(prescribed, maximum_release_) : prescribed;
    }

  private:
    enum class Kind { spillway, gate, prescribed, constant };

    // A NaN bound shuts nothing, like an absent one.
    bool shut(double elevation) const {
        return elevation < minimum_elevation_ || elevation > maximum_elevation_;
    }

    Kind kind_;
    double offset_ = 0.0;
    double minimum_elevation_ = -std::numeric_limits<double>::infinity();
    double maximum_elevation_ = std::numeric_limits<double>::infinity();
    bool capped_ = false;
    double maximum_release_ = 0.0;
    double discharge_ = 0.0;
    double span_ = 0.0;  // seconds covered by a prescribed series
    const ElevationDischarge* curve_ = nullptr;
    const SpecifiedDischargeInfo* prescribed_ = nullptr;
    CurveLookup rating_;
};

}  // namespace hydrokit
