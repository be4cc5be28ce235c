#include <cmath>
#include <limits>

#include "check.hpp"
#include "error.hpp"
#include "utils/number_format.hpp"
#include "utils/time_series.hpp"

using hydrokit::ContinuousSeries;
using hydrokit::ValueError;

namespace {

ContinuousSeries series(std::initializer_list<double> data, int32_t step) {
    ContinuousSeries s;
    s.data = data;
    s.kind = "discharge";
    s.time_step = step;
    return s;
}

}  // namespace

CORE_TEST(value_at_interpolates_between_points) {
    const auto s = series({0, 10, 20}, 60);
    CHECK(s.value_at(30) == 5.0);
    CHECK(s.value_at(60) == 10.0);
    CHECK(s.value_at(120) == 20.0);
    CHECK(s.value_at(90) == 15.0);
    // The interpolation is (d1 - d0) * (p - i) + d0, not d0 + ... nor a weighted mean.
    const auto uneven = series({0.1, 0.7}, 3);
    CHECK(uneven.value_at(1) == (0.7 - 0.1) * (1.0 / 3.0 - 0.0) + 0.1);
}

CORE_TEST(value_at_reads_end_points_within_a_microsecond) {
    const auto s = series({0, 10, 20}, 60);
    CHECK(s.value_at(120.0000005) == 20.0);
    CHECK(s.value_at(-0.0000005) == 0.0);
    const auto single = series({7.5}, 3600);
    CHECK(single.value_at(-1e-6) == 7.5);
    CHECK(single.value_at(1e-6) == 7.5);
}

CORE_TEST(value_at_refuses_offsets_outside_the_span) {
    const auto s = series({0, 10, 20}, 60);
    CHECK_THROWS(ValueError, "`duration` 120.01 is out of range (max 120).", s.value_at(120.01));
    CHECK_THROWS(ValueError, "`duration` -1 is less than 0.", s.value_at(-1));
    CHECK_THROWS(ValueError, "`duration` -0.0000011 is less than 0.", s.value_at(-1.1e-6));
    CHECK_THROWS(ValueError, "`duration` inf is out of range (max 120).",
                 s.value_at(std::numeric_limits<double>::infinity()));
}

CORE_TEST(value_at_on_an_empty_series_reports_max_zero) {
    const auto empty = series({}, 60);
    CHECK(empty.span() == 0);
    CHECK_THROWS(ValueError, "`duration` 0 is out of range (max 0).", empty.value_at(0));
    CHECK_THROWS(ValueError, "`duration` 5 is out of range (max 0).", empty.value_at(5));
}

CORE_TEST(value_at_of_nan_offset) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    CHECK(std::isnan(series({1, 2}, 10).value_at(nan)));
    CHECK(series({4}, 10).value_at(nan) == 4.0);
}

CORE_TEST(span_uses_64_bit_arithmetic) {
    const auto s = series({0.0, 0.0, 0.0}, 2147483647);
    CHECK(s.span() == 2 * int64_t{2147483647});
}

CORE_TEST(numbers_in_messages) {
    using hydrokit::format_number;
    CHECK(format_number(60.0) == "60");
    CHECK(format_number(0.5) == "0.5");
    CHECK(format_number(1e-7) == "0.0000001");
    CHECK(format_number(-5.0) == "-5");
    CHECK(format_number(-0.0) == "-0");
    CHECK(format_number(std::nan("")) == "NaN");
    CHECK(format_number(-std::numeric_limits<double>::infinity()) == "-inf");
    CHECK(format_number(0.1 + 0.2) == "0.30000000000000004");
    CHECK(format_number(1e21) == "1000000000000000000000");
    CHECK(hydrokit::format_fixed(0.03125, 4) == "0.0312");
    CHECK(hydrokit::format_fixed(0.25, 4) == "0.2500");
    CHECK(hydrokit::format_fixed(0.00015, 4) == "0.0001");  // 0.00015 is just below the tie
}
