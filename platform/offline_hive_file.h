// The files of an offline Windows installation's hives: one version of a hive read whole into
// memory of this process's own, whether it may be written now, one writer per installation, the
// copies kept before a change, and replacing a hive so that it is either the old or the new file,
// never a torn one, never another file.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "formats/file_access.h"
#include "platform/hive_io.h"

namespace quorvane::platform::offline {

// Why a hive holds changes that are not yet in it, and what to do about it.
inline constexpr const char* kNotShutDown =
    "Windows was not shut down completely (Fast Startup or hibernation)";
inline constexpr const char* kShutDownAdvice =
    "start Windows and shut it down fully: hold Shift while choosing Shut down, or run "
    "\"shutdown /s /t 0\" (to keep it so, turn off Fast Startup in the Power Options)";
inline constexpr const char* kHibernated = "Windows is hibernated (its hiberfil.sys says so)";

// One version of a hive file, read whole into a sealed memory file of this process's own: no
// other program can change or cut short what is read and checked, and hivex reads exactly these
// bytes (through path()). A file cut short or changed while it is read is refused, never a fault.
class HiveImage {
public:
    // The hive `name` of `folder`: a regular file of a sane size, opened without blocking.
    // Throws hive::FileError naming the file and the reason.
    static HiveImage read(const formats::Folder& folder, const std::string& name);
    // What `fd` holds now (a file this process wrote); `shown` names it in errors.
    static HiveImage read(int fd, const std::filesystem::path& shown);
    HiveImage(HiveImage&& other) noexcept;
    HiveImage& operator=(HiveImage&& other) noexcept;
    HiveImage(const HiveImage&) = delete;
    HiveImage& operator=(const HiveImage&) = delete;
    ~HiveImage();

    std::string_view bytes() const { return {data_, size_}; }
    // The version read, and the file's access time before it was read.
    const formats::FileSignature& version() const { return version_; }
    const timespec& accessed() const { return accessed_; }
    // A name that opens these very bytes: "/proc/self/fd/N".
    std::string path() const;
    // The file these bytes were read from has become `version` without a change of its bytes
    // (its mode, owner and times set, then renamed over the hive last accessed at `accessed`).
    void becameHive(const formats::FileSignature& version, const timespec& accessed) {
        version_ = version;
        accessed_ = accessed;
    }

private:
    HiveImage() = default;
    void release();

    int memory_ = -1;
    const char* data_ = nullptr;
    std::size_t size_ = 0;
    formats::FileSignature version_;
    timespec accessed_{};
};

// Why the hive `name` in `folder` must not be written now, for people, naming the file: the
// header read (`image`) says Windows did not write it back completely, the mount is read-only or
// the folder or file may not be written. `hibernated`: the installation's hiberfil.sys says
// Windows is hibernated. Nothing when it may be written.
std::optional<std::string> writeRefusal(const formats::Folder& folder, const std::string& name,
                                        const HiveImage& image, bool hibernated);

// One writer per installation: an exclusive lock on the installation's folder `folder` itself
// (flock on a descriptor of it: nothing is written to the disk for it, and it serves on a
// read-only mount too), held while alive; waits up to `timeout`.
class InstallationLock {
public:
    InstallationLock(const formats::Folder& folder, std::chrono::milliseconds timeout);
    ~InstallationLock();
    InstallationLock(const InstallationLock&) = delete;
    InstallationLock& operator=(const InstallationLock&) = delete;
    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// A text as one file name of its own: letters, digits, '.', '_' and '-' stay, every other byte
// becomes %XX (UTF-8 percent-encoded), never "." or ".."; no two texts give one name. A long one
// is shortened and ends with a checksum of the whole.
std::string fileNameOf(const std::string& text);

// Keeps the hive `name` of `folder`, as `image` read it, in `backups` (made when missing, for
// its owner alone) as `<label>-<UTC time>.hive`: on the hive's own file system a second name of
// the hive's file (which a replaceHive() then leaves to the copy), else a reflink of it where the
// file system can, else the bytes read, flushed. `label` is a file name's part (fileNameOf); the
// time holds no '-', so a label's copies are told apart from those of a label it begins. Returns
// the copy. Throws hive::FileError.
std::filesystem::path keepBackup(const formats::Folder& folder, const std::string& name,
                                 const HiveImage& image, const std::filesystem::path& backups,
                                 const std::string& label);
// After a write that took effect: the copies of `label` kept are the first one ever taken (the
// hive before Quorvane first changed it) and the newest two.
void pruneBackups(const std::filesystem::path& backups, const std::string& label);
inline constexpr int kNewestBackupsKept = 2;

// Replaces the hive `name` of `folder`, which must still be the version `expected`: `write`
// fills a new, empty file beside it through its descriptor (throws hive::FileError), which must
// pass `verify` (throws std::runtime_error saying what did not read back), then takes the hive's
// mode, owner, the access time `accessed` and, on an NTFS mount, its creation time and
// attributes, and is flushed; right before it is renamed over the hive, the hive and the new
// file are checked to be what they were (another program's change is refused with kBusy's
// FileChanged, nothing written). On any failure the hive is left as it was. Temporaries that a
// killed run of Quorvane left beside the hive are removed first. Returns the new version;
// `renamed` says, also when it throws, whether the new file took the hive's name.
formats::FileSignature replaceHive(const formats::Folder& folder, const std::string& name,
                                   const formats::FileSignature& expected, const timespec& accessed,
                                   const std::function<void(int fd)>& write,
                                   const std::function<void(int fd)>& verify, bool& renamed);

// Whether the hibernation file `file` says Windows is hibernated.
bool saysHibernated(const formats::Folder& folder, const std::string& file);

}  // namespace quorvane::platform::offline
