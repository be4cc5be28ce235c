#include "check.hpp"

int main() {
    auto& registry = core_tests::Registry::get();
    int failed_tests = 0;
    for (auto& [name, body] : registry.tests) {
        const int before = registry.failures;
        body();
        if (registry.failures != before) {
            std::printf("test %s failed\n", name);
            ++failed_tests;
        }
    }
    const int total = static_cast<int>(registry.tests.size());
    std::printf("core: %d passed, %d failed\n", total - failed_tests, failed_tests);
    return failed_tests == 0 ? 0 : 1;
}
