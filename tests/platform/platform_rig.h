// What the registry platform's tests share: the other user of root's tests, and a refusal's words.
#pragma once

#include <sys/types.h>

#include <string>

#include "platform/hive_store.h"

namespace quorvane::testing {

// The user whose files root works on in the tests of root on another user's files.
inline constexpr uid_t kNobody = 65534;

// What opening a registry with `open` was refused with (its StoreError's words), or "opened".
template <class Open>
std::string refusalOf(Open open) {
    try {
        open();
    } catch (const platform::StoreError& error) {
        return error.what();
    }
    return "opened";
}

}  // namespace quorvane::testing
