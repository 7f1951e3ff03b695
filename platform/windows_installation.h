// A Windows installation's folder, as a Linux system sees it mounted (the NTFS volume is
// case-sensitive there, Windows is not): where its SOFTWARE hive is and which users it has.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/offline_registry.h"

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
    // Which installation this is, whatever path its disk is mounted at: "machine-<MachineGuid>"
    // (SOFTWARE's Microsoft\Cryptography), else "profiles-<checksum of the profile list's
    // users>". Undo entries and backups belong to it.
    std::string identity;
    bool hibernated = false;  // its hiberfil.sys says Windows is hibernated
    // The SOFTWARE hive as it was read to find the users: the registries of this installation
    // start from it (see hivesOf).
    std::shared_ptr<const HiveRead> softwareRead = nullptr;
};

// The path below `base` whose names equal `names` as Windows compares names (an exact match
// first); nothing when there is none. Throws StoreError when a folder on the way cannot be read.
std::optional<std::filesystem::path> findIgnoringCase(const std::filesystem::path& base,
                                                      const std::vector<std::string>& names);

// Reads the installation in `root`. Throws StoreError when it holds no SOFTWARE hive or that
// hive cannot be read.
WindowsInstallation findWindowsInstallation(const std::filesystem::path& root);

// The user called `name`, as Windows compares names; null when there is none.
const WindowsUser* findUser(const WindowsInstallation& installation, const std::string& name);

// The user to work on when none is named: the profile list's only user; null when it lists
// several, or none.
const WindowsUser* onlyUser(const WindowsInstallation& installation);

// The hives of `user`'s registry, their copies going to `backups` as "SOFTWARE-..." and
// "NTUSER-<user, percent-encoded>-...".
OfflineHives hivesOf(const WindowsInstallation& installation, const WindowsUser& user,
                     const std::filesystem::path& backups);

}  // namespace quorvane::platform
