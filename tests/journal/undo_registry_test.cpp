// Remove-all and its undo on the registry each build has: under Wine the real Win32 registry, so
// that the entry's reading, writing and putting back work with the Win32 functions too. On
// Windows, which entries an undo with administrator rights takes.
#include <gtest/gtest.h>

#include <fstream>

#include "journal/undo.h"
#include "tests/restrictions/restriction_rig.h"
#include "tests/support/registry_target.h"
#include "tests/support/temp_dir.h"

#ifdef _WIN32
#include <windows.h>
// windows.h first: these need its types.
#include <aclapi.h>
#include <sddl.h>
#endif

namespace quorvane::testing {
namespace {

using platform::kCurrentUser;
using platform::kLocalMachine;

TEST(UndoOnTheRegistry, RemoveAllComesBackWithEveryValueAndItsUndoIsUndoneAgain) {
    const auto target = makeRegistryTarget();
    platform::RegistryApi& registry = target->registry();
    const auto seeded = valuesOfEveryType();
    seed(registry, seeded);
    TempDir undo;
    journal::UndoJournal journal(registry, {undo.path(), "this registry"});
    Rig rig(registry, {}, &journal);
    rig.boxes.assign(4, toolkit::kChecked);
    rig.manager.RemoveAllRestrictions();
    ASSERT_EQ(stored(registry, kCurrentUser, kRestrictionsKey, "Multi"), std::nullopt);

    const journal::UndoResult undone = journal::undoLast(registry, journal);
    EXPECT_TRUE(undone.allDone()) << restrictions::describeRefusals(undone.outcome);
    expectHeld(registry, seeded);
    EXPECT_TRUE(journal::undoLast(registry, journal).allDone());
    expectHeld(registry, seeded, false);
    // That redid it; undoing the redo undoes the action once more.
    EXPECT_EQ(journal::undoLast(registry, journal).entry.action, "redo remove all restrictions");
    EXPECT_EQ(journal.list(1).entries.at(0).action, "undo remove all restrictions");
}

#ifdef _WIN32
// The owner and DACL of `file` as text, read by its name: "O:BAD:P(A;;FA;;;BA)...".
std::wstring securityOf(const std::filesystem::path& file) {
    const SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    LPWSTR text = nullptr;
    if (GetNamedSecurityInfoW(file.c_str(), SE_FILE_OBJECT, parts, nullptr, nullptr, nullptr,
                              nullptr, &descriptor) == ERROR_SUCCESS) {
        ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, parts,
                                                             &text, nullptr);
    }
    std::wstring result = text != nullptr ? text : L"";
    LocalFree(text);
    LocalFree(descriptor);
    return result;
}

// Gives `file` the owner and protected DACL `text` says; whether it holds them afterwards.
bool secure(const std::filesystem::path& file, const std::wstring& text) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PSID owner = nullptr;
    PACL dacl = nullptr;
    BOOL defaulted = FALSE, present = FALSE;
    const bool set = ConvertStringSecurityDescriptorToSecurityDescriptorW(
                         text.c_str(), SDDL_REVISION_1, &descriptor, nullptr) &&
                     GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) &&
                     GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) &&
                     SetNamedSecurityInfoW(const_cast<wchar_t*>(file.c_str()), SE_FILE_OBJECT,
                                           OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                               PROTECTED_DACL_SECURITY_INFORMATION,
                                           owner, nullptr, dacl, nullptr) == ERROR_SUCCESS;
    LocalFree(descriptor);
    return set && securityOf(file) == text;
}

struct ElevationCase {
    const char* name;
    bool writerElevated;
    platform::KeyHandle root;
    bool file;      // the action wrote a file too
    bool loosened;  // the entry's DACL then lets everybody write it
    bool undone;    // by an undo with administrator rights
};

class UndoWithAdministratorRights : public ::testing::TestWithParam<ElevationCase> {};

// The undo folder is the user's own, which any program of the user can write: an undo with
// administrator rights puts back machine-wide places only from an entry that only administrators
// can have written, as Windows says of the file it reads the entry from.
TEST_P(UndoWithAdministratorRights, TakesMachinePlacesOnlyFromEntriesOnlyAdministratorsChange) {
    const ElevationCase& row = GetParam();
    const std::wstring administratorsOnly = L"O:BAD:P(A;;FA;;;BA)(A;;FA;;;SY)";
    TempDir undo;
    if (row.writerElevated) {
        std::ofstream(undo.path() / "probe").put('\n');
        if (!secure(undo.path() / "probe", administratorsOnly)) {
            GTEST_SKIP() << "files here do not keep the owner Administrators and a protected DACL "
                            "(Wine 8 makes both from the Unix owner and mode)";
        }
    }
    const auto target = makeRegistryTarget();
    platform::RegistryApi& registry = target->registry();
    journal::JournalPlace place(undo.path(), "this registry");
    place.elevated = row.writerElevated;
    {
        journal::UndoJournal writer(registry, place);
        const restrictions::JournalEntry entry(&writer, "impose DisableRegistryTools");
        ASSERT_TRUE(writer.record({restrictions::PlannedChange::setValue(
            static_cast<registry::Hive>(row.root), kSystemKey, "DisableRegistryTools",
            platform::kRegDword, dword(1).bytes)}));
        put(registry, row.root, kSystemKey, "DisableRegistryTools", dword(1));
        if (row.file) {
            const std::string ini = (undo.path() / "gpt.ini").string();
            ASSERT_TRUE(writer.recordFiles({{{}, ini, {}, std::nullopt, "[General]"}}));
            std::ofstream(ini, std::ios::binary) << "[General]";
        }
    }
    // Listed without administrator rights, it says whether an undo with them refuses it.
    EXPECT_EQ(journal::UndoJournal(registry, place).list(1).entries.at(0).note.empty(),
              row.undone || row.loosened);
    place.elevated = true;
    journal::UndoJournal journal(registry, place);
    const std::filesystem::path file = journal.list(1).entries.at(0).file;
    if (row.writerElevated) {
        EXPECT_EQ(securityOf(file).rfind(administratorsOnly + L"(A;;FR;;;S-1-5-", 0), 0u)
            << std::filesystem::path(securityOf(file)).string();
    }
    if (row.loosened) {
        ASSERT_TRUE(secure(file, administratorsOnly + L"(A;;FA;;;WD)"));
    }
    const journal::UndoResult result = journal::undoLast(registry, journal);
    EXPECT_EQ(result.allDone(), row.undone) << result.failure;
    EXPECT_EQ(result.failure.find("not written with administrator rights") != std::string::npos,
              !row.undone)
        << result.failure;
    EXPECT_EQ(stored(registry, row.root, kSystemKey, "DisableRegistryTools"),
              row.undone ? std::nullopt : std::optional(dword(1)));
}

INSTANTIATE_TEST_SUITE_P(
    Entries, UndoWithAdministratorRights,
    ::testing::Values(
        ElevationCase{"MachineWrittenWithout", false, kLocalMachine, false, false, false},
        ElevationCase{"MachineWrittenWith", true, kLocalMachine, false, false, true},
        ElevationCase{"UserWrittenWithout", false, kCurrentUser, false, false, true},
        ElevationCase{"UserAndFileWrittenWithout", false, kCurrentUser, true, false, false},
        ElevationCase{"MachineWrittenWithThenLoosened", true, kLocalMachine, false, true, false}),
    [](const auto& info) { return std::string(info.param.name); });
#endif

}  // namespace
}  // namespace quorvane::testing
