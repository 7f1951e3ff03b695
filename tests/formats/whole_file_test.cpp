// The whole-file writer: a file holds the old bytes or the new ones, never a part, whichever step
// fails, and a new name is only ever taken when free. (Names that are no regular file: the
// file-access layer's own tests.)
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "formats/file_access.h"
#include "tests/support/temp_dir.h"

#ifdef _WIN32
#include <windows.h>
// windows.h first: sddl.h needs its types.
#include <sddl.h>
#endif

namespace quorvane::formats {
namespace {

namespace fs = std::filesystem;

WriteStep failingStep;
int failingError;

int injectFault(WriteStep step, const std::string& fileName) {
    return step == failingStep && fileName == "file.txt" ? failingError : 0;
}

TEST(FailedWrite, LeavesTheOldFileWhole) {
    const struct {
        const char* what;
        WriteStep step;
        int error;
        const char* reason;
        bool replaced;  // whether the new bytes are in place despite the failure
    } faults[] = {
        {"disk full on create", WriteStep::Create, ENOSPC, "disk full", false},
        {"disk full on write", WriteStep::Write, ENOSPC, "disk full", false},
        {"flush fails", WriteStep::Flush, EIO, "input/output error", false},
        {"rename refused", WriteStep::Rename, EACCES, "permission denied", false},
#ifndef _WIN32
        // Windows moves the file with write-through and has no folder to flush.
        {"folder flush fails", WriteStep::FlushDirectory, EIO, "input/output error", true},
#endif
    };
    for (const auto& fault : faults) {
        SCOPED_TRACE(fault.what);
        testing::TempDir dir;
        const fs::path file = dir.path() / "file.txt";
        testing::writeFile(file, "old bytes");
        failingStep = fault.step;
        failingError = fault.error;
        setFaultHook(injectFault);
        const Result<void> written = writeWholeFile(file, "new bytes, longer than the old");
        setFaultHook(nullptr);
        ASSERT_FALSE(written);
        EXPECT_EQ(written.failure().reason, fault.reason);
        EXPECT_EQ(testing::readFile(file),
                  fault.replaced ? "new bytes, longer than the old" : "old bytes");
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1)
            << "a temporary file was left behind";
    }
}

TEST(WholeFile, TakesANewNameOnlyWhileItIsFree) {
    testing::TempDir dir;
    const fs::path file = dir.path() / "entry";
    ASSERT_TRUE(writeWholeFile(file, "first", Placing::NewName));
    const Result<void> second = writeWholeFile(file, "second", Placing::NewName);
    ASSERT_FALSE(second);
    EXPECT_EQ(second.failure().status, kNameTaken);
    EXPECT_EQ(testing::readFile(file), "first");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

#ifdef _WIN32
// Who may change a file, by its owner and DACL: only Administrators and SYSTEM, or somebody else
// too, as an owner may change the DACL and a grant to write, delete, or change the owner or the
// DACL lets a program change the file or the rights.
TEST(FileSecurity, OnlyAdministratorsChangeWhatTheyOwnAndNobodyElseMayChange) {
    const struct {
        const wchar_t* descriptor;
        bool only;
    } cases[] = {
        {L"O:BAD:P(A;;FA;;;BA)(A;;FA;;;SY)(A;;FR;;;S-1-5-21-1-2-3-1000)", true},
        {L"O:SYD:(A;;FA;;;SY)(A;;FRFX;;;WD)(D;;FA;;;AN)", true},
        {L"O:BAD:", true},  // nobody but the owner, who is Administrators
        {L"O:BA", false},   // no DACL: everybody everything
        {L"O:S-1-5-21-1-2-3-1000D:P(A;;FA;;;BA)", false},
        {L"O:BAD:(A;;FA;;;BA)(A;;FW;;;S-1-5-21-1-2-3-1000)", false},
        {L"O:BAD:(A;ID;FA;;;BU)", false},
        {L"O:BAD:(A;;SD;;;AU)", false},
        {L"O:BAD:(A;;WD;;;WD)", false},
        {L"O:BAD:(A;;WO;;;WD)", false},
        {L"O:BAD:(A;;GA;;;IU)", false},
        {L"O:BAD:(A;;GW;;;WD)", false},
    };
    for (const auto& row : cases) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
            row.descriptor, SDDL_REVISION_1, &descriptor, nullptr))
            << fs::path(row.descriptor).string();
        EXPECT_EQ(onlyAdministratorsChange(descriptor), row.only)
            << fs::path(row.descriptor).string();
        LocalFree(descriptor);
    }
}
#endif

}  // namespace
}  // namespace quorvane::formats
