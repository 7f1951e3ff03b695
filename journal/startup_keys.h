// The registry keys whose values Windows runs at logon: Run and RunOnce in both hives and their
// 32-bit views, and the policy Run key. `why` reads them, `fix` deletes values from them, and
// undo may put such values back.
#pragma once

#include "platform/registry_api.h"

namespace quorvane::journal {

struct StartupKey {
    platform::KeyHandle root;
    const char* subKey;
};

inline constexpr StartupKey kStartupKeys[] = {
    {platform::kCurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\Run"},
    {platform::kCurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce"},
    {platform::kCurrentUser, "Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run"},
    {platform::kCurrentUser, "Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\RunOnce"},
    {platform::kCurrentUser,
     "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer\\Run"},
    {platform::kLocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion\\Run"},
    {platform::kLocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce"},
    {platform::kLocalMachine, "Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run"},
    {platform::kLocalMachine, "Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\RunOnce"},
    {platform::kLocalMachine,
     "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer\\Run"},
};

}  // namespace quorvane::journal
