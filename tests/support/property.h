// Properties held over many drawn inputs. Natively RapidCheck draws them and shrinks a failing
// one to a small case; the Windows build has no RapidCheck, so there a seeded engine draws them,
// the seed and the number of runs read from the same RC_PARAMS ("seed=N max_success=M").
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#ifdef QUORVANE_RAPIDCHECK
#include <rapidcheck.h>
#else
#include <cstdint>
#include <cstdlib>
#include <random>
#include <regex>
#endif

namespace quorvane::testing {

// A number from 0 to count - 1, drawn.
using Pick = std::function<int(int count)>;

// Holds `property` for lists of up to `most` items, each drawn by `draw` through the Pick it is
// given; the property returns why it fails, or nothing. Natively RapidCheck shrinks a failing
// list: items left out first, then each item's picks made smaller.
template <class Item>
void checkListProperty(
    int most, const std::function<Item(const Pick&)>& draw,
    const std::function<std::optional<std::string>(const std::vector<Item>&)>& property) {
#ifdef QUORVANE_RAPIDCHECK
    // Full size for the picks: RapidCheck narrows the range of a number for smaller sizes.
    const auto item = rc::gen::resize(
        100,
        rc::gen::exec([&] { return draw([](int count) { return *rc::gen::inRange(0, count); }); }));
    EXPECT_TRUE(rc::check([&] {
        const auto items = *rc::gen::resize(most, rc::gen::container<std::vector<Item>>(item));
        if (const auto failure = property(items)) {
            RC_FAIL(*failure);
        }
    }));
#else
    const char* params = std::getenv("RC_PARAMS");
    const std::string text = params != nullptr ? params : "";
    const auto setting = [&](const char* name, std::uint64_t fallback) {
        std::smatch match;
        return std::regex_search(text, match, std::regex(std::string(name) + "=(\\d+)"))
                   ? std::stoull(match[1])
                   : fallback;
    };
    const std::uint64_t seed = setting("seed", std::random_device{}());
    const std::uint64_t runs = setting("max_success", 100);
    for (std::uint64_t run = 0; run < runs; ++run) {
        std::mt19937_64 engine(seed + run);
        const Pick pick = [&](int count) {
            return std::uniform_int_distribution<int>(0, count - 1)(engine);
        };
        std::vector<Item> items(static_cast<std::size_t>(pick(most + 1)));
        for (Item& each : items) {
            each = draw(pick);
        }
        if (const auto failure = property(items)) {
            ADD_FAILURE() << *failure << "\nRepeat it with RC_PARAMS=\"seed=" << seed + run
                          << " max_success=1\"";
            return;
        }
    }
#endif
}

}  // namespace quorvane::testing
