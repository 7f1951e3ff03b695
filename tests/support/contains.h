// Whether a text holds a part, as a check that shows the part and the whole text when it fails.
#pragma once

#include <gtest/gtest.h>

#include <string_view>

namespace quorvane::testing {

inline ::testing::AssertionResult contains(std::string_view text, std::string_view part) {
    const bool found = text.find(part) != std::string_view::npos;
    return (found ? ::testing::AssertionSuccess() : ::testing::AssertionFailure())
           << '"' << part << (found ? "\" is in:\n" : "\" is not in:\n") << text;
}

}  // namespace quorvane::testing
