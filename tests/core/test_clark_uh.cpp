#include <cstdint>
#include <limits>

#include "check.hpp"
#include "rainfall_transform/clark_uh.hpp"

using hydrokit::translation_ordinate_count;

// Durations from Python are bounded and non-negative; the count must still be sane for any
// double the core is handed.
CORE_TEST(translation_ordinate_count_saturates) {
    constexpr uint64_t most = std::numeric_limits<uint64_t>::max();
    const double inf = std::numeric_limits<double>::infinity();
    CHECK(translation_ordinate_count(5400, 3600) == 2);
    CHECK(translation_ordinate_count(7200, 3600) == 2);
    CHECK(translation_ordinate_count(1e-6, 1) == 1);
    CHECK(translation_ordinate_count(-7200, 3600) == 0);
    CHECK(translation_ordinate_count(std::numeric_limits<double>::quiet_NaN(), 1) == 0);
    CHECK(translation_ordinate_count(inf, 1) == most);
    CHECK(translation_ordinate_count(1.8446744073709552e19, 1) == most);
    CHECK(translation_ordinate_count(1.8446744073709550e19, 1) == 18446744073709549568u);
}
