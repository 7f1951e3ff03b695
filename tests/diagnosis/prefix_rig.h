// A Wine prefix laid out as Windows lays out its folders, built by each test, and the files that
// set restrictions again as Windows and its tools write them: policy files and shortcuts.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "diagnosis/diagnosis.h"
#include "diagnosis/place_reader.h"
#include "diagnosis/policy_file.h"
#include "formats/little_endian.h"
#include "formats/utf16.h"
#include "platform/hive_store.h"
#include "tests/support/fake_toolkit.h"
#include "tests/support/registry_target.h"
#include "tests/support/temp_dir.h"

namespace quorvane::diagnosis {
namespace testrig {

namespace fs = std::filesystem;
using Source = Finding::Source;
using testing::utf16WithBom;

inline constexpr const char* kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
// The restrictions' keys as a policy file names them.
inline const std::u16string kRestrictions = formats::narrowToUtf16(testing::kRestrictionsKey);
inline const std::u16string kToolbars = formats::narrowToUtf16(testing::kToolbarsKey);

// A Registry.pol that sets `value` of `key` to 1.
inline std::string policyFile(const std::u16string& key, const std::u16string& value) {
    return writePolicyFile({{key, value, 4, formats::dwordBytes(1)}});
}

// A registry file as regedit writes it (UTF-16, after its mark) holding `lines` below the user's
// Restrictions key.
inline std::string restrictionsRegFile(const std::string& lines) {
    return utf16WithBom("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\" +
                        std::string(testing::kRestrictionsKey) + "]\r\n" + lines);
}

// Writes `content` to `file`, making its folders.
inline void place(const fs::path& file, const std::string& content) {
    fs::create_directories(file.parent_path());
    testing::writeFile(file, content);
}

// Shortcuts as Windows writes them: header, a target ID list, link info with the target's path,
// then counted strings (working folder, arguments) in ANSI or UTF-16.
inline std::string little(std::uint32_t value, std::size_t bytes) {
    std::string out;
    formats::appendLe(out, value, bytes);
    return out;
}

inline std::string shellLink(const std::string& target, const std::string& folder,
                             const std::string& arguments, bool unicode) {
    const auto text = [&](const std::string& ascii) {
        return unicode ? utf16WithBom(ascii).substr(2) : ascii;
    };
    const auto counted = [&](const std::string& ascii) {
        return little(static_cast<std::uint32_t>(ascii.size()), 2) + text(ascii);
    };
    const std::uint32_t flags = 0x1 | 0x2 | 0x10 | 0x20 | (unicode ? 0x80 : 0);
    const std::string header =
        little(0x4C, 4) +
        std::string("\x01\x14\x02\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46", 16) +
        little(flags, 4) + little(0x20, 4) + std::string(24, '\0') + little(0, 4) + little(0, 4) +
        little(1, 4) + std::string(12, '\0');
    // One item (My Computer's class identifier), then the terminating empty item.
    const std::string idList = little(20, 2) + "\x1F\x50" + std::string(16, '\x20') + little(0, 2);
    const std::uint32_t headerSize = unicode ? 0x24 : 0x1C;
    const std::string volume =
        little(0x11, 4) + little(3, 4) + little(0x1234, 4) + little(0x10, 4) + std::string(1, '\0');
    // The local base path up to its last backslash, the rest as the common path suffix.
    const std::string basePath = target.substr(0, target.rfind('\\') + 1);
    const std::string rest = target.substr(basePath.size());
    const auto size = [](const std::string& part) {
        return static_cast<std::uint32_t>(part.size()) + 1;
    };
    const std::uint32_t base = headerSize + static_cast<std::uint32_t>(volume.size());
    const std::uint32_t suffix = base + size(basePath);
    std::string body = volume + basePath + '\0' + rest + '\0';
    std::string offsets =
        little(1, 4) + little(headerSize, 4) + little(base, 4) + little(0, 4) + little(suffix, 4);
    if (unicode) {
        const std::uint32_t wide = suffix + size(rest);
        offsets += little(wide, 4) + little(wide + 2 * size(basePath), 4);
        body += text(basePath) + std::string(2, '\0') + text(rest) + std::string(2, '\0');
    }
    const std::string info =
        little(static_cast<std::uint32_t>(8 + offsets.size() + body.size()), 4) +
        little(headerSize, 4) + offsets + body;
    return header + little(static_cast<std::uint32_t>(idList.size()), 2) + idList + info +
           counted(folder) + counted(arguments) + little(0, 4);
}

class PrefixDiagnosis : public ::testing::Test {
protected:
    PrefixDiagnosis() {
        fs::create_directories(system32() / "Tasks");
        fs::create_directories(driveC() / "users" / "Public");
        fs::create_directories(startup());
        testing::copyFixtureHives(prefix());
    }

    fs::path prefix() const { return dir_.path() / "prefix"; }
    fs::path driveC() const { return prefix() / "drive_c"; }
    fs::path system32() const { return driveC() / "windows" / "system32"; }
    fs::path startup() const {
        return driveC() / "users" / "tester" / "AppData" / "Roaming" / "Microsoft" / "Windows" /
               "Start Menu" / "Programs" / "Startup";
    }

    Places places() const {
        return placesOf({platform::RegistryLocation::Kind::WinePrefix, prefix()});
    }

    Report diagnoseWith(const std::vector<int>& numbers = {}) {
        platform::HiveStore store(prefix());
        registry::General2 general(store, messages_);
        return diagnose(store, general, places(), numbers);
    }

    void setRunEntry(const std::string& name, const std::string& command) {
        platform::HiveStore store(prefix());
        testing::put(store, platform::kCurrentUser, kRunKey, name, testing::sz(command));
    }

    testing::TempDir dir_;
    testing::RecordingMessageBox messages_;
};

}  // namespace testrig
}  // namespace quorvane::diagnosis
