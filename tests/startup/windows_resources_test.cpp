// The Windows executables as Windows reads them: the version resource (through the version
// API), the icon group, no embedded manifest, and the subsystem.
#include <windows.h>
// After windows.h, which it needs.
#include <gtest/gtest.h>
#include <winver.h>

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

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
        data_.resize(GetFileVersionInfoSizeA(file, &ignored));
        valid_ = !data_.empty() && GetFileVersionInfoA(file, 0, data_.size(), data_.data());
    }
    bool valid() const { return valid_; }

    std::optional<std::string> text(const std::string& name) {
        const void* value = query("\\StringFileInfo\\040904B0\\" + name);
        return value != nullptr ? std::optional<std::string>(static_cast<const char*>(value))
                                : std::nullopt;
    }
    const VS_FIXEDFILEINFO* fixed() { return static_cast<const VS_FIXEDFILEINFO*>(query("\\")); }

private:
    const void* query(const std::string& block) {
        void* value = nullptr;
        UINT length = 0;
        return VerQueryValueA(data_.data(), block.c_str(), &value, &length) ? value : nullptr;
    }

    std::vector<char> data_;
    bool valid_ = false;
};

// The executable mapped in image layout for its headers and resources, nothing run.
using Image = std::unique_ptr<std::remove_pointer_t<HMODULE>, decltype(&FreeLibrary)>;

Image mapImage(const char* file) {
    return {
        LoadLibraryExA(file, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE),
        &FreeLibrary};
}

// The image's first byte: the low bits of the handle mark a mapping for resources.
const char* baseOf(const Image& image) {
    return reinterpret_cast<const char*>(reinterpret_cast<ULONG_PTR>(image.get()) & ~ULONG_PTR{3});
}

// The pixel sizes of the first icon group (0 in the directory means 256).
std::set<int> iconSizes(HMODULE module) {
    const HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(1), RT_GROUP_ICON);
    if (found == nullptr) {
        return {};
    }
    const auto* bytes =
        static_cast<const unsigned char*>(LockResource(LoadResource(module, found)));
    const DWORD size = SizeofResource(module, found);
    // GRPICONDIR: reserved, type, count (16 bits each), then 14-byte entries that begin with
    // width and height.
    std::set<int> sizes;
    const int count = bytes[4] | bytes[5] << 8;
    for (int entry = 0; entry < count && 6u + 14u * (entry + 1) <= size; ++entry) {
        const int width = bytes[6 + 14 * entry];
        sizes.insert(width == 0 ? 256 : width);
    }
    return sizes;
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

    const VS_FIXEDFILEINFO* fixed = info.fixed();
    ASSERT_NE(fixed, nullptr);
    const std::string version = std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
                                std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
                                std::to_string(HIWORD(fixed->dwFileVersionLS));
    EXPECT_EQ(version, QUORVANE_VERSION);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
}

// No embedded manifest: it would take precedence over the one the program writes beside itself.
// Which DLLs each program loads, and from where, the installer's test traces under Wine.
TEST_P(WindowsResourcesTest, HoldsTheIconAndNoManifestInTheirSubsystem) {
    const Program& program = GetParam();
    const Image image = mapImage(program.path);
    ASSERT_NE(image.get(), nullptr) << program.path << ": error " << GetLastError();
    EXPECT_EQ(iconSizes(image.get()), (std::set<int>{16, 32, 48, 256}));
    // Enumerating a type that the module does not hold fails.
    EXPECT_FALSE(EnumResourceNamesA(
        image.get(), RT_MANIFEST, [](HMODULE, LPCSTR, LPSTR, LONG_PTR) -> BOOL { return TRUE; }, 0))
        << "an embedded manifest";

    const char* base = baseOf(image);
    const auto& nt = *reinterpret_cast<const IMAGE_NT_HEADERS64*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    EXPECT_EQ(nt.OptionalHeader.Subsystem, program.subsystem);
}

INSTANTIATE_TEST_SUITE_P(
    BothPrograms, WindowsResourcesTest, ::testing::ValuesIn(kPrograms), [](const auto& info) {
        return std::string(info.param.subsystem == IMAGE_SUBSYSTEM_WINDOWS_GUI ? "Gui" : "Cli");
    });

}  // namespace
}  // namespace quorvane
