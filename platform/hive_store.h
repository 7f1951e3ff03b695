// The registry kept in Wine-format hive files: HKEY_CURRENT_USER in user.reg, HKEY_LOCAL_MACHINE
// in system.reg, both in one directory (a Wine prefix or Quorvane's own store).
#pragma once

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "platform/registry_api.h"

namespace quorvane::platform {

// The store cannot be used at all: the directory is unusable, a hive's header cannot be read,
// or a wineserver runs for the directory. The message says what and how to mend it.
class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class HiveStore final : public RegistryApi {
public:
    enum class Creation {
        UseExisting,  // the directory must exist; a missing hive starts empty, made on first write
        // Quorvane's own store: a missing directory reads as empty; it and both hives are made
        // at the first write
        CreateIfMissing,
    };
    enum class Use {
        Change,  // refused beside a running wineserver
        // for commands that only read: creates nothing, takes no lock, refuses every write, and
        // reads beside a running wineserver too, with a note (see readingNote)
        ReadOnly,
    };

    // The directory path is resolved once, here; everything after works in the directory then
    // opened. Throws StoreError.
    explicit HiveStore(std::filesystem::path directory, Creation creation = Creation::UseExisting,
                       Use use = Use::Change);
    ~HiveStore() override;
    HiveStore(const HiveStore&) = delete;
    HiveStore& operator=(const HiveStore&) = delete;

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

    const std::filesystem::path& directory() const;
    // Opened to read beside a running wineserver: one line saying that the server may hold
    // newer changes; empty otherwise.
    const std::string& readingNote() const;
    std::string lastFailure() const override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace quorvane::platform
