// The narrow registry functions Quorvane uses, as one interface: the real Win32 registry on
// Windows, Wine-format hive files everywhere else. Arguments, statuses and effects follow the
// Win32 "A" functions, so callers behave the same on both.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quorvane::platform {

// A key handle: one of the predefined roots below, or a handle returned by openKey/createKey.
using KeyHandle = std::uintptr_t;

// Win32 status codes.
using Status = long;
inline constexpr Status kSuccess = 0;
inline constexpr Status kFileNotFound = 2;
inline constexpr Status kAccessDenied = 5;
inline constexpr Status kInvalidHandle = 6;
inline constexpr Status kInvalidParameter = 87;
inline constexpr Status kMoreData = 234;
inline constexpr Status kKeyDeleted = 1018;        // the key behind a handle is gone
inline constexpr Status kRegistryIoFailed = 1016;  // a hive file could not be written
inline constexpr Status kBusy = 170;               // another program holds the registry
inline constexpr Status kNoMoreItems = 259;        // an enumeration index past the last item
// A hive that must not be written now (not written back cleanly, pending logs, a read-only
// mount): lastFailure() says why and what to do.
inline constexpr Status kWriteProtected = 19;

// Predefined root keys, as 32-bit values (Windows sign-extends them into HKEY).
inline constexpr KeyHandle kClassesRoot = 0x80000000;
inline constexpr KeyHandle kCurrentUser = 0x80000001;
inline constexpr KeyHandle kLocalMachine = 0x80000002;
inline constexpr KeyHandle kUsers = 0x80000003;
inline constexpr KeyHandle kPerformanceData = 0x80000004;
inline constexpr KeyHandle kCurrentConfig = 0x80000005;
inline constexpr KeyHandle kDynData = 0x80000006;

inline constexpr bool isPredefinedRoot(KeyHandle key) {
    return key >= kClassesRoot && key <= kDynData;
}

// Access rights.
inline constexpr std::uint32_t kKeyQueryValue = 0x0001;
inline constexpr std::uint32_t kKeySetValue = 0x0002;
inline constexpr std::uint32_t kKeyCreateSubKey = 0x0004;
inline constexpr std::uint32_t kKeyEnumerateSubKeys = 0x0008;
inline constexpr std::uint32_t kKeyNotify = 0x0010;
inline constexpr std::uint32_t kKeyCreateLink = 0x0020;
inline constexpr std::uint32_t kDelete = 0x00010000;
inline constexpr std::uint32_t kReadControl = 0x00020000;
inline constexpr std::uint32_t kKeyRead = 0x20019;
inline constexpr std::uint32_t kKeyWrite = 0x20006;
inline constexpr std::uint32_t kKeyAllAccess = 0xF003F;

// Value types.
inline constexpr std::uint32_t kRegNone = 0;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegMultiSz = 7;
inline constexpr std::uint32_t kRegQword = 11;

inline constexpr bool isStringType(std::uint32_t type) {
    return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

// Writes held back in a batch that did not reach a hive: everything held back for `root` (its
// predefined root, kCurrentUser or kLocalMachine) was lost, with `status` and a reason for people
// ("no write access to /prefix/system.reg", "disk full", ...).
struct StoreFailure {
    KeyHandle root = 0;
    Status status = kSuccess;
    std::string reason;
};
// Empty when everything held back was stored.
using StoreFailures = std::vector<StoreFailure>;

class RegistryApi {
public:
    virtual ~RegistryApi() = default;

    // RegOpenKeyExA: an empty sub-key opens `parent` itself.
    [[nodiscard]] virtual Status openKey(KeyHandle parent, const std::string& subKey,
                                         std::uint32_t access, KeyHandle& result) = 0;
    // RegCreateKeyA: creates missing parents too; opening an existing key is not an error.
    [[nodiscard]] virtual Status createKey(KeyHandle parent, const std::string& subKey,
                                           KeyHandle& result) = 0;
    // RegSetValueExA. Windows stores string data whose count leaves out the terminating NUL
    // with that NUL when it follows at data[size]; the hive store adds the NUL without reading
    // past `size`. Statuses of the hive store beyond Win32's own: kAccessDenied also for a hive
    // file the system refuses to write, kBusy when a wineserver runs or started for the prefix or
    // another program held the directory's lock, kRegistryIoFailed for other failures of the
    // files; lastFailure() then says the cause.
    [[nodiscard]] virtual Status setValue(KeyHandle key, const std::string& name,
                                          std::uint32_t type, const std::uint8_t* data,
                                          std::uint32_t size) = 0;
    // RegQueryValueExA: `type`, `data` may be null; `size` is in/out. A buffer that is too
    // small gives kMoreData with the size needed and leaves the buffer alone.
    [[nodiscard]] virtual Status queryValue(KeyHandle key, const std::string& name,
                                            std::uint32_t* type, std::uint8_t* data,
                                            std::uint32_t* size) = 0;
    // RegDeleteKeyA: a key with sub-keys is not deleted (kAccessDenied).
    [[nodiscard]] virtual Status deleteKey(KeyHandle key, const std::string& subKey) = 0;
    // RegDeleteValueA.
    [[nodiscard]] virtual Status deleteValue(KeyHandle key, const std::string& name) = 0;
    // RegCloseKey.
    virtual Status closeKey(KeyHandle key) = 0;
    // RegEnumKeyExA: the name of sub-key `index` (from 0); kNoMoreItems past the last. Needs
    // the right to enumerate sub-keys.
    [[nodiscard]] virtual Status enumKey(KeyHandle key, std::uint32_t index, std::string& name) = 0;
    // RegEnumValueA with buffers as large as the value needs: the name, type and data of value
    // `index` (from 0), the data as queryValue gives it; kNoMoreItems past the last. Needs the
    // right to query values.
    [[nodiscard]] virtual Status enumValue(KeyHandle key, std::uint32_t index, std::string& name,
                                           std::uint32_t& type, std::string& data) = 0;

    // Batches: between the outermost begin and its end, writes may be held back and stored
    // together. endBatch reports, per hive, what was held back and could not be stored. The
    // Win32 registry stores each write at once and needs neither.
    virtual void beginBatch() {}
    [[nodiscard]] virtual StoreFailures endBatch() { return {}; }
    // Stores what a batch holds back now, inside a batch too: before a message tells the user
    // that something was done, it must be done.
    [[nodiscard]] virtual StoreFailures storePending() { return {}; }

    // Why the most recent operation that returned a failure status failed, for people; empty
    // when the registry has nothing to add to the status itself. A later success, in either
    // hive, does not clear it.
    virtual std::string lastFailure() const { return {}; }
};

// Runs one top-level action as one batch. finish() ends it early and tells how the writes
// fared; otherwise the destructor ends it.
class BatchScope {
public:
    explicit BatchScope(RegistryApi& registry) : registry_(registry) { registry_.beginBatch(); }
    ~BatchScope() {
        if (!finished_) {
            // An action that leaves without finish() has no one to report to.
            static_cast<void>(registry_.endBatch());
        }
    }
    BatchScope(const BatchScope&) = delete;
    BatchScope& operator=(const BatchScope&) = delete;

    [[nodiscard]] StoreFailures finish() {
        finished_ = true;
        return registry_.endBatch();
    }

private:
    RegistryApi& registry_;
    bool finished_ = false;
};

}  // namespace quorvane::platform
