// Registry files in the registry editor's format: what the writer puts in the file, line for
// line, and which files the reader refuses (that the reader gives back what the writer wrote is a
// property: formats_property_test.cpp). The whole-file writer: a file holds the old bytes or the
// new ones, never a part, whichever step fails, and a new name is only ever taken when free.
// (Names that are no regular file: the file-access layer's own tests.)
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "formats/file_access.h"
#include "formats/reg_file.h"
#include "formats/utf16.h"
#include "tests/support/contains.h"
#include "tests/support/temp_dir.h"

#ifdef _WIN32
#include <windows.h>
// windows.h first: sddl.h needs its types.
#include <sddl.h>
#endif

namespace quorvane::formats {
namespace {

const std::vector<RegSection> kSections = {
    {u"HKEY_CURRENT_USER\\Software\\Gone", true, {}},
    {u"HKEY_CURRENT_USER\\Software\\Quorvane Ω",
     false,
     {
         {u"", false, 1, registryString(u"default")},
         {u"Path \"quoted\" \\", false, 1, registryString(u"C:\\Program Files\\\"Q\"")},
         {u"Lines", false, 1, registryString(u"one\ntwo")},
         {u"Name\r\nbreak", false, 4, std::string("\x78\x56\x34\x12", 4)},
         {u"Return", false, 1, registryString(u"a\rb")},
         {u"Short", false, 4, std::string("\1\0", 2)},
         {u"Expand", false, 2, registryString(u"%P%")},
         {u"Big", false, 11, std::string("\xEF\xCD\xAB\x89\x67\x45\x23\x01", 8)},
         {u"Nothing", false, 0, ""},
         {u"Removed", true, 0, ""},
     }},
    // As in the hive files, hex data breaks after the comma that takes the line past column 76.
    {u"HKEY_CURRENT_USER\\A",
     false,
     {{u"v76", false, 3, std::string(23, '\x11')}, {u"v777", false, 3, std::string(23, '\x11')}}},
};

TEST(RegFileWriter, WritesWhatTheRegistryEditorWrites) {
    const std::string bytes = writeRegFile(kSections);
    ASSERT_TRUE(bytes.starts_with("\xFF\xFE"));
    std::u16string elevens;
    for (int i = 0; i < 22; ++i) {
        elevens += u"11,";
    }
    const std::u16string expected =
        u"Windows Registry Editor Version 5.00\r\n"
        u"\r\n"
        u"[-HKEY_CURRENT_USER\\Software\\Gone]\r\n"
        u"\r\n"
        u"[HKEY_CURRENT_USER\\Software\\Quorvane Ω]\r\n"
        u"@=\"default\"\r\n"
        u"\"Path \\\"quoted\\\" \\\\\"=\"C:\\\\Program Files\\\\\\\"Q\\\"\"\r\n"
        u"\"Lines\"=hex(1):6f,00,6e,00,65,00,0a,00,74,00,77,00,6f,00,00,00\r\n"
        u"\"Name\\r\\nbreak\"=dword:12345678\r\n"
        u"\"Return\"=hex(1):61,00,0d,00,62,00,00,00\r\n"
        u"\"Short\"=hex(4):01,00\r\n"
        u"\"Expand\"=hex(2):25,00,50,00,25,00,00,00\r\n"
        u"\"Big\"=hex(b):ef,cd,ab,89,67,45,23,01\r\n"
        u"\"Nothing\"=hex(0):\r\n"
        u"\"Removed\"=-\r\n"
        u"\r\n"
        u"[HKEY_CURRENT_USER\\A]\r\n"
        u"\"v76\"=hex:" +
        elevens +
        u"11\r\n"
        u"\"v777\"=hex:" +
        elevens +
        u"\\\r\n  11\r\n"
        u"\r\n";
    EXPECT_EQ(utf16Units(bytes.substr(2)), expected);
}

TEST(RegFileReader, ReadsRegedit4TextAndComments) {
    const auto read = readRegFile(
        "REGEDIT4\n\n; a comment\n[HKEY_LOCAL_MACHINE\\Software\\A]\n\"N\"=dword:1\n"
        "\"H\"=hex:01,02,\\\n    03\n\"S\"=\"a\\nb\\r\\0\\q\"\n");
    ASSERT_TRUE(read) << read.failure().reason;
    const auto& values = read->at(0).values;
    ASSERT_EQ(values.size(), 3u);
    EXPECT_EQ(values[0].data, std::string("\1\0\0\0", 4));
    EXPECT_EQ(values[1].data, "\1\2\3");
    // Wine's registry editor escapes line breaks and NUL; an unknown escape stays as it is.
    EXPECT_EQ(values[2].data, registryString(std::u16string(u"a\nb\r\0\\q", 7)));
}

TEST(UnreadableRegFile, IsRefusedWholly) {
    const struct {
        const char* what;
        const char* text;
        const char* why;  // a part of the reader's reason
    } cases[] = {
        {"version 4", "Windows Registry Editor Version 4.00\n", "not a registry file"},
        {"value before any key", "REGEDIT4\n\"Orphan\"=dword:1\n", "line 2: a value outside a key"},
        {"unclosed key", "REGEDIT4\n[HKEY_CURRENT_USER\\A\n", "line 2: a key line must end in ']'"},
        {"key line never runs on", "REGEDIT4\n[HKEY_CURRENT_USER\\A=\\\n]\n",
         "line 2: a key line must end in ']'"},
        {"dword too long", "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"N\"=dword:123456789\n",
         "line 3: the data"},
        {"bad hex digit", "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"N\"=hex:0g\n", "line 3: the data"},
        {"unclosed name", "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"N=1\n", "line 3: the value name"},
        {"no equals sign", "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"N\" 1\n", "line 3: no '='"},
        {"stray line", "REGEDIT4\n[HKEY_CURRENT_USER\\A]\nstray\n",
         "line 3: neither a key nor a value"},
        {"value in a deleted key", "REGEDIT4\n[-HKEY_CURRENT_USER\\A]\n\"N\"=-\n",
         "line 3: a value outside a key"},
    };
    for (const auto& c : cases) {
        const auto read = readRegFile(c.text);
        ASSERT_FALSE(read) << c.what;
        EXPECT_TRUE(testing::contains(read.failure().reason, c.why)) << c.what;
    }
}

namespace fs = std::filesystem;

WriteStep failingStep;
int failingError;

int injectFault(WriteStep step, const std::string& fileName) {
    return step == failingStep && fileName == "file.txt" ? failingError : 0;
}

// A write refused, by a step that fails or a name taken, leaves the old file whole. (That a new
// name is taken while free, every new hive file of a hive store shows.)
TEST(FailedWrite, LeavesTheOldFileWhole) {
    const struct {
        const char* what;
        WriteStep step;
        int error;
        const char* reason;
        bool replaced;  // whether the new bytes are in place despite the failure
        Placing placing = Placing::Replace;
    } faults[] = {
        {"disk full on create", WriteStep::Create, ENOSPC, "disk full", false},
        {"disk full on write", WriteStep::Write, ENOSPC, "disk full", false},
        {"flush fails", WriteStep::Flush, EIO, "input/output error", false},
        {"rename refused", WriteStep::Rename, EACCES, "permission denied", false},
#ifndef _WIN32
        // Windows moves the file with write-through and has no folder to flush.
        {"folder flush fails", WriteStep::FlushDirectory, EIO, "input/output error", true},
#endif
        // No fault: a file that may only take a free name finds it taken (in words that are the
        // system's own on Windows: only its status is the caller's to act on).
        {"new name taken", WriteStep::Rename, 0, nullptr, false, Placing::NewName},
    };
    for (const auto& fault : faults) {
        SCOPED_TRACE(fault.what);
        testing::TempDir dir;
        const fs::path file = dir.path() / "file.txt";
        testing::writeFile(file, "old bytes");
        failingStep = fault.step;
        failingError = fault.error;
        setFaultHook(injectFault);
        const Result<void> written =
            writeWholeFile(file, "new bytes, longer than the old", fault.placing);
        setFaultHook(nullptr);
        ASSERT_FALSE(written);
        if (fault.reason != nullptr) {
            EXPECT_EQ(written.failure().reason, fault.reason);
        }
        EXPECT_EQ(written.failure().status == kNameTaken, fault.placing == Placing::NewName);
        EXPECT_EQ(testing::readFile(file),
                  fault.replaced ? "new bytes, longer than the old" : "old bytes");
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1)
            << "a temporary file was left behind";
    }
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
