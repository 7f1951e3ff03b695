// The Windows executables as Windows reads them: the version resource (through the version
// API), the icon group, no embedded manifest, the subsystem, and no DLL of their own to ship.
#include <windows.h>
// After windows.h, which it needs.
#include <gtest/gtest.h>
#include <winver.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace quorvane {
namespace {

struct Program {
    const char* path;
    const char* fileName;
    WORD subsystem;
};

const Program kPrograms[] = {
    {QUORVANE_GUI_EXE, "quorvane.exe", IMAGE_SUBSYSTEM_WINDOWS_GUI},
    {QUORVANE_CLI_EXE, "quorvane-cli.exe", IMAGE_SUBSYSTEM_WINDOWS_CUI},
};

class VersionInfo {
public:
    explicit VersionInfo(const char* file) {
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeA(file, &ignored);
        data_.resize(size);
        valid_ = size > 0 && GetFileVersionInfoA(file, 0, size, data_.data());
    }
    bool valid() const { return valid_; }

    std::optional<std::string> text(const std::string& name) {
        const std::string block = "\\StringFileInfo\\040904B0\\" + name;
        char* value = nullptr;
        UINT length = 0;
        if (!VerQueryValueA(data_.data(), block.c_str(), reinterpret_cast<void**>(&value),
                            &length) ||
            value == nullptr) {
            return std::nullopt;
        }
        return std::string(value);
    }

    std::optional<VS_FIXEDFILEINFO> fixed() {
        VS_FIXEDFILEINFO* info = nullptr;
        UINT length = 0;
        if (!VerQueryValueA(data_.data(), "\\", reinterpret_cast<void**>(&info), &length) ||
            length < sizeof(VS_FIXEDFILEINFO)) {
            return std::nullopt;
        }
        return *info;
    }

private:
    std::vector<char> data_;
    bool valid_ = false;
};

// The executable loaded as a data file: its resources, nothing run.
class ResourceModule {
public:
    explicit ResourceModule(const char* file)
        : module_(LoadLibraryExA(file, nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {}
    ~ResourceModule() {
        if (module_ != nullptr) {
            FreeLibrary(module_);
        }
    }
    ResourceModule(const ResourceModule&) = delete;
    ResourceModule& operator=(const ResourceModule&) = delete;

    HMODULE handle() const { return module_; }

    bool holdsAny(LPCSTR type) const {
        bool found = false;
        EnumResourceNamesA(
            module_, type,
            [](HMODULE, LPCSTR, LPSTR, LONG_PTR seen) -> BOOL {
                *reinterpret_cast<bool*>(seen) = true;
                return FALSE;  // one is enough
            },
            reinterpret_cast<LONG_PTR>(&found));
        return found;
    }

    // The pixel sizes of the first icon group (0 in the directory means 256).
    std::set<int> iconSizes() const {
        const HRSRC found = FindResourceA(module_, MAKEINTRESOURCEA(1), RT_GROUP_ICON);
        if (found == nullptr) {
            return {};
        }
        const auto* bytes =
            static_cast<const unsigned char*>(LockResource(LoadResource(module_, found)));
        const DWORD size = SizeofResource(module_, found);
        // GRPICONDIR: reserved, type, count (16 bits each), then 14-byte entries that begin
        // with width and height.
        std::set<int> sizes;
        const int count = bytes[4] | bytes[5] << 8;
        for (int entry = 0; entry < count && 6u + 14u * (entry + 1) <= size; ++entry) {
            const int width = bytes[6 + 14 * entry];
            sizes.insert(width == 0 ? 256 : width);
        }
        return sizes;
    }

private:
    HMODULE module_;
};

// The PE file's subsystem and the names of the DLLs it imports, read from the file's bytes.
struct PeFacts {
    WORD subsystem = 0;
    std::vector<std::string> imports;
};

PeFacts readPeFacts(const char* file) {
    const std::string bytes = testing::readFile(file);
    PeFacts facts;
    if (bytes.size() < sizeof(IMAGE_DOS_HEADER)) {
        return facts;
    }
    const auto* base = bytes.data();
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(base + dos->e_lfanew);
    facts.subsystem = nt->OptionalHeader.Subsystem;
    const auto* sections = IMAGE_FIRST_SECTION(nt);
    const auto offsetOf = [&](DWORD rva) -> std::optional<DWORD> {
        for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
            const auto& section = sections[i];
            if (rva >= section.VirtualAddress &&
                rva < section.VirtualAddress + section.SizeOfRawData) {
                return rva - section.VirtualAddress + section.PointerToRawData;
            }
        }
        return std::nullopt;
    };
    const auto& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    auto descriptorAt = offsetOf(directory.VirtualAddress);
    for (auto* descriptor =
             descriptorAt ? reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + *descriptorAt)
                          : nullptr;
         descriptor != nullptr && descriptor->Name != 0; ++descriptor) {
        if (const auto name = offsetOf(descriptor->Name)) {
            std::string dll(base + *name);
            std::transform(dll.begin(), dll.end(), dll.begin(),
                           [](unsigned char c) { return std::tolower(c); });
            facts.imports.push_back(dll);
        }
    }
    return facts;
}

class WindowsResourcesTest : public ::testing::TestWithParam<Program> {};

TEST_P(WindowsResourcesTest, VersionResourceNamesTheProgramAndCarriesTheManifestDescription) {
    const Program& program = GetParam();
    VersionInfo info(program.path);
    ASSERT_TRUE(info.valid()) << program.path << ": no version resource";
    EXPECT_EQ(info.text("OriginalFilename"), program.fileName);
    EXPECT_EQ(info.text("FileVersion"), QUORVANE_VERSION);
    EXPECT_EQ(info.text("ProductVersion"), QUORVANE_VERSION);
    // The manifest's description is this same text.
    EXPECT_EQ(info.text("Comments"),
              "http://www.haldrix.example http://www.haldrix.example/Pages/ListBot.html "
              "http://www.haldrix.example/Pages/Pimbleroot.html");

    const auto fixed = info.fixed();
    ASSERT_TRUE(fixed.has_value());
    const std::string version = std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
                                std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
                                std::to_string(HIWORD(fixed->dwFileVersionLS));
    EXPECT_EQ(version, QUORVANE_VERSION);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
}

// An embedded manifest would take precedence over the one the program writes beside itself.
TEST_P(WindowsResourcesTest, HoldsTheIconInFourSizesAndNoManifest) {
    const Program& program = GetParam();
    const ResourceModule module(program.path);
    ASSERT_NE(module.handle(), nullptr) << program.path << ": error " << GetLastError();
    EXPECT_EQ(module.iconSizes(), (std::set<int>{16, 32, 48, 256}));
    EXPECT_FALSE(module.holdsAny(RT_MANIFEST)) << "an embedded manifest";
}

// Self-contained: Qt and the compiler's runtime are linked in, so only the system's DLLs are
// imported.
TEST_P(WindowsResourcesTest, HasItsSubsystemAndImportsOnlySystemDlls) {
    const Program& program = GetParam();
    const PeFacts facts = readPeFacts(program.path);
    EXPECT_EQ(facts.subsystem, program.subsystem);
    ASSERT_FALSE(facts.imports.empty());
    for (const std::string& dll : facts.imports) {
        // Every DLL named must be one that Windows itself provides (API sets included).
        const HMODULE system = LoadLibraryExA(dll.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        EXPECT_NE(system, nullptr) << dll << " is not a system DLL";
        if (system != nullptr) {
            FreeLibrary(system);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    BothPrograms, WindowsResourcesTest, ::testing::ValuesIn(kPrograms), [](const auto& info) {
        return std::string(info.param.subsystem == IMAGE_SUBSYSTEM_WINDOWS_GUI ? "Gui" : "Cli");
    });

}  // namespace
}  // namespace quorvane
