#include "reservoir_routing/reservoir_utils/discharge_info.hpp"

namespace hydrokit {

namespace {

template <class... Rules>
struct Overloaded : Rules... {
    using Rules::operator()...;
};

// The outlet's rating curve, or none.
const ElevationDischarge* curve_of(DischargeRef outlet) {
    return std::visit(
        Overloaded{
            [](const UnControlledDischargeInfo* spillway) {
                return &spillway->elevation_discharge;
            },
            [](const ControlledDischargeInfo* gate) { return &gate->elevation_discharge; },
            [](const auto*) -> const ElevationDischarge* { return nullptr; },
        },
        outlet);
}

// A lookup on the outlet's rating curve, which its constructor checked; outlets without one get
// an empty lookup that they never read.
CurveLookup rating_of(DischargeRef outlet) {
    const ElevationDischarge* curve = curve_of(outlet);
    if (curve == nullptr) return CurveLookup::of_checked({}, {});
    return CurveLookup::of_checked(curve->elevation, curve->discharge);
}

double release_through(const DischargeInfo& outlet, const ReleaseContext& context,
                       CurveLookup& rating) {
    return std::visit(Overloaded{
                          [&](const UnControlledDischargeInfo& spillway) {
                              return uncontrolled_release(spillway, context.elevation, rating);
                          },
                          [&](const ControlledDischargeInfo& gate) {
                              return controlled_release(gate, context.elevation, rating);
                          },
                          [&](const SpecifiedDischargeInfo& prescribed) {
                              return specified_release(prescribed, context);
                          },
                          [&](const ConstantDischargeInfo& constant) {
                              return constant_release(constant, context.elevation);
                          },
                      },
                      outlet);
}

}  // namespace

size_t rating_points(DischargeRef outlet) {
    const ElevationDischarge* curve = curve_of(outlet);
    return curve == nullptr ? 0 : curve->elevation.size();
}

DischargeRef reference_to(const DischargeInfo& outlet) {
    return std::visit([](const auto& kind) -> DischargeRef { return &kind; }, outlet);
}

double release(const DischargeInfo& outlet, const ReleaseContext& context) {
    CurveLookup rating = rating_of(reference_to(outlet));
    return release_through(outlet, context, rating);
}

OutletRun::OutletRun(const DischargeInfo& outlet) : OutletRun(reference_to(outlet)) {}

OutletRun::OutletRun(DischargeRef outlet) : rating_(rating_of(outlet)) {
    std::visit(
        Overloaded{
            [&](const UnControlledDischargeInfo* spillway) {
                kind_ = Kind::spillway;
                curve_ = &spillway->elevation_discharge;
                offset_ = spillway->elevation_offset.value_or(0.0);
            },
            [&](const ControlledDischargeInfo* gate) {
                kind_ = Kind::gate;
                curve_ = &gate->elevation_discharge;
                minimum_elevation_ = gate->minimum_elevation.value_or(minimum_elevation_);
                maximum_elevation_ = gate->maximum_elevation.value_or(maximum_elevation_);
                capped_ = gate->maximum_release.has_value();
                maximum_release_ = gate->maximum_release.value_or(0.0);
            },
            [&](const SpecifiedDischargeInfo* prescribed) {
                kind_ = Kind::prescribed;
                prescribed_ = prescribed;
                minimum_elevation_ = prescribed->minimum_elevation.value_or(minimum_elevation_);
                maximum_elevation_ = prescribed->maximum_elevation.value_or(maximum_elevation_);
                capped_ = prescribed->maximum_release.has_value();
                maximum_release_ = prescribed->maximum_release.value_or(0.0);
                span_ = static_cast<double>(prescribed->discharge.span());
            },
            [&](const ConstantDischargeInfo* constant) {
                kind_ = Kind::constant;
                discharge_ = constant->discharge;
                minimum_elevation_ = constant->minimum_elevation.value_or(minimum_elevation_);
                maximum_elevation_ = constant->maximum_elevation.value_or(maximum_elevation_);
            },
        },
        outlet);
}

}  // namespace hydrokit
