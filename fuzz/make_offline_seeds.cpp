// Writes the offline registry fuzzer's seeds into the folder named as the argument: hives made
// by the tests' generator and filled by the offline registry itself, each a few KB.
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/offline_registry.h"
#include "tests/support/empty_hive.h"

namespace {

namespace fs = std::filesystem;
using namespace quorvane::platform;

void set(RegistryApi& registry, const std::string& path, const std::string& name,
         std::uint32_t type, const std::string& data) {
    KeyHandle key = 0;
    if (registry.createKey(kCurrentUser, path, key) != kSuccess ||
        registry.setValue(key, name, type, reinterpret_cast<const std::uint8_t*>(data.data()),
                          static_cast<std::uint32_t>(data.size())) != kSuccess) {
        std::fprintf(stderr, "cannot write %s\\%s: %s\n", path.c_str(), name.c_str(),
                     registry.lastFailure().c_str());
        std::exit(1);
    }
    registry.closeKey(key);
}

// A user hive in `folder`, filled by `fill`, copied to `seed`.
template <typename Fill>
void seed(const fs::path& folder, const std::string& seed, Fill fill) {
    const fs::path work = folder / ".work";
    fs::create_directories(work);
    quorvane::testing::writeEmptyHive(work / "SOFTWARE");
    quorvane::testing::writeEmptyHive(work / "NTUSER.DAT", {.fileName = u"NTUSER.DAT"});
    {
        OfflineRegistry registry({{work / "SOFTWARE", "SOFTWARE"},
                                  OfflineHive{work / "NTUSER.DAT", "seed"},
                                  work / "backups"});
        fill(registry);
    }
    fs::copy_file(work / "NTUSER.DAT", folder / seed, fs::copy_options::overwrite_existing);
    fs::remove_all(work);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const fs::path folder = argv[1];
    fs::create_directories(folder);
    seed(folder, "empty.hive", [](RegistryApi&) {});
    seed(folder, "restrictions.hive", [](RegistryApi& registry) {
        const std::string restrictions =
            "Software\\Policies\\Microsoft\\Internet Explorer\\Restrictions";
        set(registry, restrictions, "NoBrowserClose", kRegDword, std::string("\1\0\0\0", 4));
        set(registry, restrictions, "", kRegSz, std::string("default\0", 8));
        set(registry, "Software\\Microsoft\\Internet Explorer\\Main", "Start Page", kRegSz,
            std::string("http://example.test/\0", 21));
        set(registry, "Software\\Types", "Expand", kRegExpandSz, std::string("%P%\0", 4));
        set(registry, "Software\\Types", "Multi", kRegMultiSz, std::string("a\0b\0\0", 5));
        set(registry, "Software\\Types", "Qword", kRegQword, std::string(8, '\x7f'));
        set(registry, "Software\\Types", "Binary", kRegBinary, std::string(300, '\xAB'));
    });
    seed(folder, "many-keys.hive", [](RegistryApi& registry) {
        for (int i = 0; i < 40; ++i) {
            set(registry, "Software\\Many\\Key" + std::to_string(i), "N", kRegDword,
                std::string(4, static_cast<char>(i)));
        }
    });
    quorvane::testing::writeEmptyHive(folder / "unclean.hive",
                                      {.primarySequence = 3, .secondarySequence = 2});
    return 0;
}
