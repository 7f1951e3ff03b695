// The registry of a Windows installation that is not running, in its binary hive files, through
// hivex: HKEY_LOCAL_MACHINE\Software is the SOFTWARE hive and HKEY_CURRENT_USER one user's
// NTUSER.DAT. Other roots, and the machine's keys outside Software, are not there (status 6).
// The narrow text is UTF-8; the hives keep UTF-16LE.
//
// A hive is never damaged: one whose header or transaction logs say Windows did not write it back
// completely, or on a read-only mount, is refused with the reason (kWriteProtected and
// lastFailure()).
// Before the first change of a hive a copy goes to the backup folder; a change is written to a
// new file beside the hive that must read back before it takes the hive's name.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/hive_store.h"
#include "platform/registry_api.h"

namespace quorvane::platform {

// A version of a hive file read whole, and hivex open on it to read.
struct HiveRead;

struct OfflineHive {
    std::filesystem::path file;
    std::string label;  // names its copies in the backup folder: "SOFTWARE", "NTUSER-ann", ...
    // A copy of the hive as it was before this run was already kept (by a registry on it that
    // came before): another one would only push that copy out of the newest kept.
    bool backedUp = false;
    // The file's version already read whole by another registry on it: this one starts from it
    // unless the file has changed since, and reads the file itself then.
    std::shared_ptr<const HiveRead> read = nullptr;
};

struct OfflineHives {
    OfflineHive software;
    std::optional<OfflineHive> user;  // without one, HKEY_CURRENT_USER is not there
    std::filesystem::path backups;    // where the copies taken before the first change go
    bool hibernated = false;          // the installation's hiberfil.sys says Windows is hibernated
};

class OfflineRegistry final : public RegistryApi {
public:
    // Throws StoreError naming the file and the reason when a hive cannot be read.
    explicit OfflineRegistry(OfflineHives hives);
    ~OfflineRegistry() override;
    OfflineRegistry(const OfflineRegistry&) = delete;
    OfflineRegistry& operator=(const OfflineRegistry&) = delete;

    [[nodiscard]] Status openKey(KeyHandle parent, const std::string& subKey, std::uint32_t access,
                                 KeyHandle& result) override;
    [[nodiscard]] Status createKey(KeyHandle parent, const std::string& subKey,
                                   KeyHandle& result) override;
    [[nodiscard]] Status setValue(KeyHandle key, const std::string& name, std::uint32_t type,
                                  const std::uint8_t* data, std::uint32_t size) override;
    [[nodiscard]] Status queryValue(KeyHandle key, const std::string& name, std::uint32_t* type,
                                    std::uint8_t* data, std::uint32_t* size) override;
    [[nodiscard]] Status deleteKey(KeyHandle key, const std::string& subKey) override;
    [[nodiscard]] Status deleteValue(KeyHandle key, const std::string& name) override;
    Status closeKey(KeyHandle key) override;
    [[nodiscard]] Status enumKey(KeyHandle key, std::uint32_t index, std::string& name) override;
    [[nodiscard]] Status enumValue(KeyHandle key, std::uint32_t index, std::string& name,
                                   std::uint32_t& type, std::string& data) override;
    void beginBatch() override;
    [[nodiscard]] StoreFailures endBatch() override;
    [[nodiscard]] StoreFailures storePending() override;
    std::string lastFailure() const override;

    // The copies of the hives this registry took before changing them, oldest first.
    const std::vector<std::filesystem::path>& backups() const;
    // The version of the SOFTWARE hive this registry holds, read whole: another registry on the
    // same installation starts from it (OfflineHive::read) instead of reading the file again.
    std::shared_ptr<const HiveRead> softwareRead() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace quorvane::platform
