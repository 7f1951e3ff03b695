// The registry module on the registry each build has (hive store natively, Win32 under Wine).
// Effects are read back through RegistryApi itself, not through the module under test. Natively
// also the hive store's own reasons.
#include "registry/general2.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#ifndef _WIN32
#include "platform/hive_store.h"
#include "tests/support/contains.h"
#include "tests/support/temp_dir.h"
#endif
#include "tests/support/case_name.h"
#include "tests/support/fake_toolkit.h"
#include "tests/support/recording_registry.h"
#include "tests/support/registry_target.h"

namespace quorvane::registry {
void PrintTo(const ReadResult& result, std::ostream* out) {
    if (result.isEmpty()) {
        *out << "(empty)";
    } else if (result.isNumber()) {
        *out << result.asNumber();
    } else {
        *out << '"' << result.asText() << '"';
    }
}
}  // namespace quorvane::registry

namespace quorvane::testing {
namespace {

using platform::kCurrentUser;
using platform::kLocalMachine;
using registry::Hive;
using registry::ReadResult;

constexpr const char* kScratch = "Software\\Policies\\Quorvane Test";

ShownMessage formatMessage(const std::string& path) {
    return {"Incorrect Format:\n\n" + path, 0, "Quorvane"};
}

// The status an operation was refused with; none when it took effect.
std::optional<long> refusal(const Result<void>& result) {
    return result ? std::nullopt : std::optional(result.failure().status);
}

class General2Test : public ::testing::Test {
protected:
    // Runs every path-based operation once on `path`, where none can take effect: the changes
    // fail with status 0 and the reads' results come back in order.
    std::vector<ReadResult> runEveryOperation(const std::string& path) {
        EXPECT_EQ(refusal(general.SetDwordValue(path, "v", 1)), 0);
        std::vector reads{general.GetDwordValue(path, "v")};
        reads.push_back(general.GetStringValue(path, "v"));
        EXPECT_EQ(refusal(general.SetStringValue(path, "v", "text")), 0);
        EXPECT_EQ(refusal(general.CreateKey(path)), 0);
        EXPECT_EQ(refusal(general.DeleteKey(path)), 0);
        for (const ReadResult& read : reads) {
            EXPECT_EQ(refusal(read.status()), 0);
        }
        return reads;
    }

    std::unique_ptr<RegistryTarget> target = makeRegistryTarget();
    platform::RegistryApi& base = target->registry();
    RecordingRegistry recorder{base};
    RecordingMessageBox messages;
    registry::General2 general{recorder, messages};
};

template <class Case>
class General2Case : public General2Test, public ::testing::WithParamInterface<Case> {};

TEST_F(General2Test, MalformedPathsAreReportedAndReachNoRegistry) {
    for (const std::string path :
         {"", "HKEY", "hkey_current_user\\Software", "Hkey_CURRENT_USER\\Software",
          "Software\\Policies", "\\HKEY_CURRENT_USER\\Software", "HKEY_CURRENT_USER\\",
          "HKEY_LOCAL_MACHINE\\Software\\"}) {
        SCOPED_TRACE("path \"" + path + "\"");
        messages.shown.clear();
        const auto [hive, subKey] = general.SplitRegistryPath(path);
        EXPECT_EQ(hive, registry::kNoHive);
        EXPECT_EQ(subKey, path);
        EXPECT_EQ(messages.shown, std::vector{formatMessage(path)});

        messages.shown.clear();
        EXPECT_EQ(runEveryOperation(path), (std::vector{ReadResult(), ReadResult()}));
        EXPECT_EQ(messages.shown, std::vector<ShownMessage>(6, formatMessage(path)));
        EXPECT_TRUE(recorder.calls.empty());
    }
}

struct WellFormedPath {
    const char* what;  // the path
    Hive hive;
    std::string subKey;
};
using WellFormedPaths = General2Case<WellFormedPath>;

// Hive names match only exactly; an unknown one is no hive, but no format error either.
TEST_P(WellFormedPaths, SplitSilently) {
    const WellFormedPath& c = GetParam();
    const auto [hive, subKey] = general.SplitRegistryPath(c.what);
    EXPECT_EQ(hive, c.hive);
    EXPECT_EQ(subKey, c.subKey);
    if (c.hive == registry::kNoHive) {
        // No hive: reads give the empty result, not "Error", and nothing reaches the registry.
        EXPECT_EQ(runEveryOperation(c.what), (std::vector{ReadResult(), ReadResult()}));
        EXPECT_TRUE(recorder.calls.empty());
    }
    EXPECT_TRUE(messages.shown.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Paths, WellFormedPaths,
    ::testing::Values(WellFormedPath{"HKEY_CURRENT_USER\\Software\\Policies", 0x80000001,
                                     "Software\\Policies"},
                      WellFormedPath{"HKEY_LOCAL_MACHINE", 0x80000002, ""},
                      WellFormedPath{"HKEY_CURRENT_USER\\\\Software", 0x80000001, "\\Software"},
                      WellFormedPath{"HKEY_CLASSES_ROOT\\a\\b", 0x80000000, "a\\b"},
                      WellFormedPath{"HKEY_USERS", 0x80000003, ""},
                      WellFormedPath{"HKEY_PERFORMANCE_DATA", 0x80000004, ""},
                      WellFormedPath{"HKEY_CURRENT_CONFIG", 0x80000005, ""},
                      WellFormedPath{"HKEY_DYN_DATA", 0x80000006, ""},
                      WellFormedPath{"HKEY_NOWHERE\\x", 0, "x"},
                      WellFormedPath{"HKEY_Local_Machine\\Software", 0, "Software"},
                      WellFormedPath{"HKEY_CURRENT_USERS", 0, ""}, WellFormedPath{"HKEY_", 0, ""}),
    CaseName());

struct StoredData {
    const char* what;
    Stored value;
    ReadResult expected;
    bool number = false;
};
using Reads = General2Case<StoredData>;

TEST_P(Reads, TrimStringsAndTakeAtMostFourBytesOfNumbers) {
    const StoredData& c = GetParam();
    const auto get = [&](const std::string& subKey, const std::string& name) {
        const std::string path = "HKEY_CURRENT_USER\\" + subKey;
        return c.number ? general.GetDwordValue(path, name) : general.GetStringValue(path, name);
    };
    // A value read before, whose bytes are all set, must leave nothing behind.
    put(base, kCurrentUser, kScratch, "v", dword(0xFFFFFFFF));
    get(kScratch, "v");
    put(base, kCurrentUser, kScratch, "v", c.value);
    const ReadResult read = get(kScratch, "v");
    EXPECT_EQ(read, c.expected);
    EXPECT_EQ(read.status().ok(), c.expected != ReadResult::error());
    // What is missing is "Error", for the registry's reason.
    for (const ReadResult& missing :
         {get(kScratch, "missing"), get(std::string(kScratch) + "\\Missing", "v")}) {
        EXPECT_EQ(missing, ReadResult::error());
        EXPECT_EQ(refusal(missing.status()), platform::kFileNotFound);
    }
    EXPECT_TRUE(messages.shown.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Values, Reads,
    ::testing::Values(StoredData{"plain", sz("abc"), ReadResult::text("abc")},
                      StoredData{"leading spaces", sz("  abc"), ReadResult::text("abc")},
                      StoredData{"trailing spaces", sz("abc  "), ReadResult::text("abc  ")},
                      StoredData{"empty string", sz(""), ReadResult::text("")},
                      StoredData{"no data bytes", Stored{platform::kRegSz, ""},
                                 ReadResult::text("")},
                      StoredData{"254 characters", sz(std::string(254, 'x')),
                                 ReadResult::text(std::string(254, 'x'))},
                      StoredData{"255 characters", sz(std::string(255, 'x')), ReadResult::error()},
                      StoredData{"1", dword(1), ReadResult::number(1), true},
                      StoredData{"all bits set", dword(0xFFFFFFFF), ReadResult::number(-1), true},
                      StoredData{"two bytes", Stored{platform::kRegBinary, "\x02\x01"},
                                 ReadResult::number(0x0102), true},
                      StoredData{"eight bytes", Stored{platform::kRegQword, std::string(8, '\x01')},
                                 ReadResult::error(), true}),
    CaseName());

// That a write into a key that is not there is refused with "not found" and makes no key, the
// switching and the page reset show (they make the key then, or report it missing).
TEST_F(General2Test, KeysAndValuesChangeByTheirWholePathOrCarryTheRegistrysRefusal) {
    const std::string policies = "HKEY_CURRENT_USER\\Software\\Policies";
    put(base, kCurrentUser, "Software\\Policies", "v", sz("kept"));
    EXPECT_TRUE(general.CreateKey(policies));
    EXPECT_EQ(stored(base, kCurrentUser, "Software\\Policies", "v"), sz("kept"));
    EXPECT_TRUE(general.CreateKey(policies + "\\New"));
    EXPECT_TRUE(keyExists(base, kCurrentUser, "Software\\Policies\\New"));
    EXPECT_EQ(recorder.of(RegistryCall::Create).size(), 2u);
    EXPECT_EQ(recorder.of(RegistryCall::Close).size(), 2u) << "each key made is closed";

    // A write refused after its key opened (a full disk) reports the registry's status.
    recorder.refuse = [](const RegistryCall& call) {
        return call.kind == RegistryCall::Set ? platform::kRegistryIoFailed : platform::kSuccess;
    };
    EXPECT_EQ(refusal(general.SetDwordValue(policies, "v", 1)), platform::kRegistryIoFailed);
    EXPECT_EQ(refusal(general.SetStringValue(policies, "v", "t")), platform::kRegistryIoFailed);
    EXPECT_EQ(stored(base, kCurrentUser, "Software\\Policies", "v"), sz("kept"));

    // A key with sub-keys is the platform's to refuse (remove-all reports it): the leaf goes first.
    EXPECT_TRUE(general.DeleteKey(policies + "\\New"));
    EXPECT_FALSE(keyExists(base, kCurrentUser, "Software\\Policies\\New"));

    recorder.calls.clear();
    EXPECT_TRUE(general.DeleteKey(policies));
    EXPECT_FALSE(keyExists(base, kCurrentUser, "Software\\Policies"));
    EXPECT_TRUE(keyExists(base, kCurrentUser, "Software"));
    // The hive's root (opened as EachOperation checks) is asked to delete the whole path.
    const auto deletions = recorder.of(RegistryCall::DeleteKey);
    ASSERT_EQ(deletions.size(), 1u);
    EXPECT_EQ(deletions[0].name, "Software\\Policies");
    EXPECT_EQ(refusal(general.DeleteKey(policies)), platform::kFileNotFound);

    // A key that a hive the user may not write refuses to make is refused with access denied.
    // (The value changes and deletions such a hive refuses: the command line's refused-hive rows.)
    recorder.refuse = RecordingRegistry::deniesWrites(kLocalMachine);
    EXPECT_EQ(refusal(general.CreateKey("HKEY_LOCAL_MACHINE\\" + std::string(kScratch))),
              platform::kAccessDenied);
    EXPECT_FALSE(keyExists(base, kLocalMachine, kScratch));
}

// A user without administrator rights may hold 0x3F on a policy key but not KEY_ALL_ACCESS, nor
// write rights where only reading is needed.
using registry::General2;
struct Operation {
    const char* what;
    std::function<void(General2&, const std::string& path)> run;
    std::string opened;
    std::uint32_t access;
    std::optional<Stored> after;  // the value "v", 1 before
};
using EachOperation = General2Case<Operation>;

const std::string kLeaf = std::string(kScratch) + "\\Leaf";

TEST_P(EachOperation, OpensWithItsRightsAndClosesWhatItOpens) {
    const Operation& c = GetParam();
    put(base, kCurrentUser, kLeaf, "v", dword(1));
    recorder.calls.clear();
    c.run(general, "HKEY_CURRENT_USER\\" + kLeaf);
    const auto opens = recorder.of(RegistryCall::Open);
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].key, kCurrentUser);
    EXPECT_EQ(opens[0].name, c.opened);
    EXPECT_EQ(opens[0].access, c.access);
    EXPECT_EQ(opens[0].status, platform::kSuccess);
    EXPECT_EQ(recorder.of(RegistryCall::Close).size(), 1u);
    EXPECT_EQ(stored(base, kCurrentUser, kLeaf, "v"), c.after);
    EXPECT_TRUE(messages.shown.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Operations, EachOperation,
    ::testing::Values(
        Operation{"GetDwordValue", [](General2& g, auto& p) { g.GetDwordValue(p, "v"); }, kLeaf,
                  0x20019, dword(1)},
        Operation{"GetStringValue", [](General2& g, auto& p) { g.GetStringValue(p, "v"); }, kLeaf,
                  0x20019, dword(1)},
        Operation{"SetDwordValue",
                  [](General2& g, auto& p) { EXPECT_TRUE(g.SetDwordValue(p, "v", -2)); }, kLeaf,
                  0x20006, dword(0xFFFFFFFE)},
        // Bytes, not characters: the terminating NUL must not cut off a multi-byte text's end.
        Operation{"SetStringValue",
                  [](General2& g, auto& p) {
                      EXPECT_TRUE(g.SetStringValue(p, "v", "\xC3\xA9t\xC3\xA9"));
                  },
                  kLeaf, 0x20006, sz("\xC3\xA9t\xC3\xA9")},
        Operation{"DeleteValue",
                  [](General2& g, auto&) { EXPECT_TRUE(g.DeleteValue(kCurrentUser, kLeaf, "v")); },
                  kLeaf, 0x3F, std::nullopt},
        Operation{"DeleteKey", [](General2& g, auto& p) { EXPECT_TRUE(g.DeleteKey(p)); }, "",
                  0x20006, std::nullopt}),
    CaseName());

#ifndef _WIN32
// What only the hive store can show: its own words for why an operation did not take effect,
// passed on the same way by every operation. A hive file spoilt meanwhile is named in each
// failure, of a read and of a write.
TEST_F(General2Test, ASpoiltHiveFileIsNamedInEachFailure) {
    const std::string path = "HKEY_LOCAL_MACHINE\\" + std::string(kScratch);
    ASSERT_TRUE(general.CreateKey(path));
    writeFile(dynamic_cast<platform::HiveStore&>(base).directory() / "system.reg",
              "not a registry\n");

    const registry::ReadResult read = general.GetDwordValue(path, "v");
    const Result<void> written = general.SetDwordValue(path, "v", 1);

    EXPECT_EQ(read, registry::ReadResult::error());
    for (const Result<void>& result : {read.status(), written}) {
        ASSERT_FALSE(result);
        EXPECT_EQ(result.failure().status, platform::kRegistryIoFailed);
        EXPECT_TRUE(contains(result.failure().reason, "system.reg")) << result.failure().reason;
    }
    EXPECT_TRUE(messages.shown.empty());
}
#endif

}  // namespace
}  // namespace quorvane::testing
