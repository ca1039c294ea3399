// RUN_ALL_TESTS, except that a filter which selects no test fails: a case renamed or misspelt in
// a filter must not pass by running nothing.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>

inline int RunSelectedTests() {
    const int result = RUN_ALL_TESTS();
    if (GTEST_FLAG_GET(list_tests)) {
        return result;
    }
    if (testing::UnitTest::GetInstance()->test_to_run_count() == 0) {
        std::fprintf(stderr, "no test matches the filter '%s'\n", GTEST_FLAG_GET(filter).c_str());
        return 1;
    }
    return result;
}
