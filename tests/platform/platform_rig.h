// What the registry platform's tests share: the other user of root's tests, a refusal's words,
// and a folder holding a registry's two hive files.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include "platform/hive_store.h"
#include "platform/offline_registry.h"
#include "tests/support/empty_hive.h"
#include "tests/support/temp_dir.h"

namespace quorvane::testing {

// The user whose files root works on in the tests of root on another user's files.
inline constexpr uid_t kNobody = 65534;

// What opening a registry with `open` was refused with (its StoreError's words), or "opened".
template <class Open>
std::string refusalOf(Open open) {
    try {
        open();
    } catch (const platform::StoreError& error) {
        return error.what();
    }
    return "opened";
}

// A registry's hives in a folder of their own: Wine's own text hives (copied) for the hive store,
// or an installation's SOFTWARE and NTUSER.DAT, made empty, for the offline registry, with its
// backups in the folder too.
class Hives {
public:
    enum class Kind { Text, Binary };

    explicit Hives(Kind kind = Kind::Binary) : kind_(kind) {
        if (kind == Kind::Text) {
            copyFixtureHives(dir_.path());
            return;
        }
        writeEmptyHive(software());
        writeEmptyHive(user(), {.fileName = u"NTUSER.DAT"});
    }
    std::filesystem::path software() const {
        return dir_.path() / (kind_ == Kind::Text ? "system.reg" : "SOFTWARE");
    }
    std::filesystem::path user() const {
        return dir_.path() / (kind_ == Kind::Text ? "user.reg" : "NTUSER.DAT");
    }
    std::filesystem::path backups() const { return dir_.path() / "backups"; }
    platform::OfflineHives hives() const {
        return {{software(), "SOFTWARE"}, platform::OfflineHive{user(), "ann"}, backups()};
    }
    std::unique_ptr<platform::OfflineRegistry> open() const {
        return std::make_unique<platform::OfflineRegistry>(hives());
    }
    // The registry over the hives, of their kind.
    std::unique_ptr<platform::RegistryApi> registry() const {
        if (kind_ == Kind::Text) {
            return std::make_unique<platform::HiveStore>(dir_.path());
        }
        return open();
    }
    // What lies in the folder, by name.
    std::set<std::string> names() const {
        std::set<std::string> found;
        for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
            found.insert(entry.path().filename().string());
        }
        return found;
    }

private:
    Kind kind_;
    TempDir dir_;
};

// Whole files compared without printing them: hives are mostly zeros.
inline ::testing::AssertionResult unchanged(const std::filesystem::path& file,
                                            const std::string& before) {
    return readFile(file) == before ? ::testing::AssertionSuccess()
                                    : ::testing::AssertionFailure() << file << " changed";
}

}  // namespace quorvane::testing
