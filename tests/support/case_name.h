// Readable names for the cases of a TEST_P table, from each case's `what`: "data -1" becomes
// "Data1", so that ctest and --gtest_filter name a case by what it is about.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <string>

namespace quorvane::testing {

struct CaseName {
    template <class Case>
    std::string operator()(const ::testing::TestParamInfo<Case>& info) const {
        std::string name;
        bool wordStart = true;
        for (const unsigned char c : std::string(info.param.what)) {
            if (std::isalnum(c)) {
                name += static_cast<char>(wordStart ? std::toupper(c) : c);
            }
            wordStart = !std::isalnum(c);
        }
        return name;
    }
};

}  // namespace quorvane::testing
