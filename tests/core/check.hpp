// A minimal harness for the C++ core tests: each CHECK counts, failures are listed.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace core_tests {

struct Registry {
    std::vector<std::pair<const char*, std::function<void()>>> tests;
    int failures = 0;
    static Registry& get() {
        static Registry registry;
        return registry;
    }
};

struct Register {
    Register(const char* name, std::function<void()> body) {
        Registry::get().tests.emplace_back(name, std::move(body));
    }
};

inline void fail(const char* file, int line, const std::string& what) {
    std::printf("FAILED %s:%d: %s\n", file, line, what.c_str());
    ++Registry::get().failures;
}

}  // namespace core_tests

#define CORE_TEST(name)                                       \
    static void name();                                       \
    static core_tests::Register register_##name(#name, name); \
    static void name()

#define CHECK(condition) ((condition) ? void() : core_tests::fail(__FILE__, __LINE__, #condition))

// Checks that `expression` throws `Exception` whose what() is exactly `message`.
#define CHECK_THROWS(Exception, message, expression)                                           \
    do {                                                                                       \
        try {                                                                                  \
            (void)(expression);                                                                \
            core_tests::fail(__FILE__, __LINE__, "no exception from " #expression);            \
        } catch (const Exception& error) {                                                     \
            if (std::string(error.what()) != (message)) {                                      \
                core_tests::fail(__FILE__, __LINE__, std::string("message: ") + error.what()); \
            }                                                                                  \
        }                                                                                      \
    } while (false)
