// A Windows installation's folder, as a Linux system sees it mounted (the NTFS volume is
// case-sensitive there, Windows is not): where its SOFTWARE hive is and which users it has.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quorvane::platform {

struct WindowsUser {
    std::string name;            // the profile folder's name under Users
    std::filesystem::path hive;  // its NTUSER.DAT
    std::string sid;             // empty for the default profile
};

struct WindowsInstallation {
    std::filesystem::path root;
    std::filesystem::path software;  // Windows/System32/config/SOFTWARE
    // The users of the profile list whose NTUSER.DAT is under Users, by name, then the default
    // profile (Users/Default), from which Windows makes new users.
    std::vector<WindowsUser> users;
};

// The path below `base` whose names equal `names` regardless of letter case (an exact match
// first); nothing when there is none.
std::optional<std::filesystem::path> findIgnoringCase(const std::filesystem::path& base,
                                                      const std::vector<std::string>& names);

// Reads the installation in `root`. Throws StoreError when it holds no SOFTWARE hive or that
// hive cannot be read.
WindowsInstallation findWindowsInstallation(const std::filesystem::path& root);

// The user called `name`, regardless of letter case; null when there is none.
const WindowsUser* findUser(const WindowsInstallation& installation, const std::string& name);

}  // namespace quorvane::platform
