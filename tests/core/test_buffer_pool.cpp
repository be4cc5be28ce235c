#include <vector>

#include "check.hpp"
#include "utils/buffer_pool.hpp"

using hydrokit::Values;

namespace {

const double* address_of_a_dead_buffer(size_t count) {
    Values values(count, 1.0);
    return values.data();
}

}  // namespace

CORE_TEST(a_dead_buffer_serves_the_next_request_of_its_size_only) {
    const double* dead = address_of_a_dead_buffer(100'000);
    Values smaller(65'536, 0.0);
    CHECK(smaller.data() != dead);
    Values same = hydrokit::values_to_overwrite(100'000);
    CHECK(same.data() == dead);
    CHECK(same.capacity() == 100'000);
}

CORE_TEST(the_pool_keeps_a_bounded_amount_oldest_first) {
    std::vector<Values> alive;
    for (int i = 0; i < 12; ++i) alive.emplace_back(1'000'000, 0.0);
    const double* oldest = alive.front().data();
    const double* newest = alive.back().data();
    alive.clear();
    CHECK(hydrokit::kept_bytes() <= hydrokit::most_kept_bytes);
    CHECK(hydrokit::kept_bytes() >= 7 * 1'000'000 * sizeof(double));
    // The buffers freed last are kept; the first ones went back to the kernel.
    std::vector<Values> again;
    bool newest_reused = false;
    bool oldest_reused = false;
    for (int i = 0; i < 8; ++i) {
        again.push_back(hydrokit::values_to_overwrite(1'000'000));
        newest_reused = newest_reused || again.back().data() == newest;
        oldest_reused = oldest_reused || again.back().data() == oldest;
    }
    CHECK(newest_reused);
    CHECK(!oldest_reused);
}
