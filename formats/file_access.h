// The one way Quorvane reaches files in places that others control: a user's Wine prefix, a
// Windows disk, the folder an export goes to, its own state folder. A place is opened once, as a
// folder; every file beneath it is reached through that descriptor, with no name that could lead
// out of it or through a link, and nothing is checked by name and then used by name again.
//
// - Beneath: a name is relative, holds no "..", and follows no link on its way or at its end
//   (openat2 with RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS; where the kernel
//   lacks openat2, a walk of single names opened with O_NOFOLLOW gives the same result).
// - Reads never block and take regular files only, within a size bound: a FIFO, a device or a
//   folder is refused without being read.
// - A change writes a new file beside the target (O_EXCL), flushes it, and re-checks the
//   target's identity (device, inode, size, modification time) against the version it was made
//   from right before it takes the name; a target that changed since is left as it is and the
//   change is refused, nothing written. The name is taken by exchanging the two files, so that
//   a version another program put there in the last instant is seen and put back. A replaced
//   file keeps its owner and mode (fchown, fchmod on the new file), never set by name.
// - As root on a folder another user owns, every operation beneath it runs with that user's
//   file-system identity (user, group and groups, for the calling thread only), so root reaches
//   only what that user could and the files it makes belong to that user.
// - One exclusive lock per folder (its lock file) serves every read-change-commit on it.
// On Windows, where Quorvane works on the computer's own folders, the layer is thin: names are
// reached by their paths, a change is checked by size and time, and there is no lock file. A file
// is read through one handle, which also tells who may change it (FileContent).
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formats/result.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace quorvane::formats {

// Test seam: the steps of a write that can fail. When a hook is set it runs before each step
// and a non-zero result makes that step fail with that error number, as the system would.
enum class WriteStep { Lock, Create, Write, Flush, Rename, FlushDirectory };
using FaultHook = int (*)(WriteStep step, const std::string& fileName);
void setFaultHook(FaultHook hook);
// The error the hook injects before `step` of writing `fileName`; 0 for none.
int injectedFault(WriteStep step, const std::string& fileName);
// What failed at a step, for people: "cannot flush".
std::string stepAction(WriteStep step);

// Test seam: resolve names by the walk of single names, as on a kernel without openat2.
void setOpenat2Missing(bool missing);

// How long a writer waits for a folder's lock (FolderLock) before it gives up.
inline constexpr std::chrono::milliseconds kLockTimeout{10'000};

// Failure statuses the callers tell apart (Windows' numbers for the same causes).
inline constexpr long kNameTaken = 183;     // ERROR_ALREADY_EXISTS: the name exists already
inline constexpr long kFileChanged = 1306;  // ERROR_REVISION_MISMATCH: not the version read
inline constexpr long kLockRefused = 33;    // ERROR_LOCK_VIOLATION: the lock file cannot serve

// One version of a file, as the system describes it.
struct FileSignature {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedSeconds = 0;
    long modifiedNanoseconds = 0;
    // The inode's change time, which no program can set back: a file written in place whose
    // modification time was set back still shows a new one. Renaming a file changes it too, so
    // it does not tell versions apart (a file's own replacement would look changed): it tells
    // whether a version read in pieces is still untouched.
    std::int64_t changedSeconds = 0;
    long changedNanoseconds = 0;
    std::uint32_t mode = 0;  // the kind and the permission bits, as stat gives them
    std::uint32_t owner = 0;
    std::uint32_t group = 0;
    std::uint64_t links = 1;

    // Same device, inode, size, modification time and mode: the version a change was made from.
    bool sameVersion(const FileSignature& other) const;
    bool untouchedSince(const FileSignature& other) const;
    bool writable() const { return (mode & 0222) != 0; }
    bool regular() const;
    bool folder() const;
    bool link() const;
};

#ifndef _WIN32
// What stat says of a file, as a signature: for a descriptor the layer did not open itself.
FileSignature signatureOf(const struct stat& info);
#endif

struct FileContent {
    std::string bytes;
    FileSignature signature;  // of the version read
#ifdef _WIN32
    // Whether only administrators and the system can change the file: its owner is
    // Administrators or SYSTEM and its DACL lets nobody else write, delete it or change its owner
    // or DACL. Read through the handle the bytes were read through.
    bool administratorsOnly = false;
#endif
};

struct Entry {
    enum class Kind { File, Folder, Link, Other };
    std::string name;
    Kind kind = Kind::Other;
};

struct Listing {
    std::vector<Entry> entries;  // in name order
    bool more = false;           // the folder holds more than were listed
};

enum class Placing {
    Replace,  // the new file replaces the one of that name, if any
    NewName,  // the new file takes the name only while no file has it
};

struct WriteOptions {
    Placing placing = Placing::Replace;
    // Replace: the version the new bytes were made from. The change is refused, and nothing
    // written, unless the file still is that version; the new file gets its owner and mode.
    // Without one, any regular file of that name is replaced (and nothing else).
    std::optional<FileSignature> expected;
    std::uint32_t mode = 0666;  // a new file's mode, before the umask
    bool readBack = true;       // read the name back afterwards: it must hold the bytes
    // Root with root's own rights (in a folder of root's), replacing a file of another user:
    // refused unless that user could change the file too (write into its folder).
    bool onlyWhatItsOwnerCould = false;
    std::string seamName;  // the name the test seam is given; the file's name when empty
#ifdef _WIN32
    // The new file is made owned by Administrators, with a protected DACL that lets only them
    // and the system change it and the current user read it (for a process with administrator
    // rights: Windows refuses that owner to anyone else).
    bool administratorsOnly = false;
#endif
};

// The user whose rights the operations beneath a folder use.
struct Owner {
    std::uint32_t uid = 0;
    std::uint32_t gid = 0;
};

// How Folder::open takes the folder's own path.
struct OpenOptions {
    // Links on the way to the folder itself are followed; as root, only links that belong to
    // root or to the owner of the folder they lead to, so that a user's link cannot lead root
    // into a folder of root's own. False: no link at all.
    bool followLinks = true;
    // As root: act as this user beneath the folder, instead of the folder's owner.
    std::optional<Owner> actAs;
    // The process's own rights, even as root on another user's folder (system folders such as
    // /proc).
    bool processRights = false;
};

class Folder;

#ifndef _WIN32
// A regular file held open: reading by descriptor, never blocking.
class OpenFile {
public:
    OpenFile(int fd, FileSignature signature) : fd_(fd), signature_(signature) {}
    ~OpenFile();
    OpenFile(OpenFile&& other) noexcept;
    OpenFile& operator=(OpenFile&& other) noexcept;
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;

    int descriptor() const { return fd_; }
    const FileSignature& signature() const { return signature_; }
    // What the file is now, through the descriptor.
    Result<FileSignature> examine() const;

private:
    int fd_ = -1;
    FileSignature signature_;
};

// What the file open as `fd`, a descriptor the caller holds, is now.
Result<FileSignature> examineDescriptor(int fd);
#endif

// The exclusive lock of one folder, held while alive: the lock file `.quorvane-lock` in it,
// flock'ed. It belongs to the folder's owner with mode 0600, so that nobody else can hold it and
// block the owner's writes; a lock file others could open (another mode, a second name) is
// replaced by a new one while its lock is held, and one that others could open and that is held
// now is refused at once. A thread that holds the lock of a folder may take it again (the
// outermost release frees it); another thread or process waits.
class FolderLock {
public:
    static constexpr const char* kFileName = ".quorvane-lock";

    FolderLock() = default;
    ~FolderLock();
    FolderLock(FolderLock&& other) noexcept;
    FolderLock& operator=(FolderLock&& other) noexcept;
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // False when the wait ran out.
    bool held() const { return key_.has_value(); }

    struct Key {  // the folder's device and inode
        std::uint64_t device;
        std::uint64_t inode;
        bool operator<(const Key& other) const;
    };

private:
    friend class Folder;
    std::optional<Key> key_;
};

// A folder opened once. Names beneath it are relative ("GroupPolicy/User/Registry.pol"), in the
// file system's narrow encoding; a name with "..", an absolute one, or one whose way or end is a
// link is refused. Failures say why in words ("is not a regular file", "permission denied") and
// carry the system's error number. Copies share the open folder.
class Folder {
public:
    // Opens the folder `path`. As root on a folder that belongs to another user, everything
    // beneath runs as that user (`actingAs`).
    static Result<Folder> open(const std::filesystem::path& path,
                               const OpenOptions& options = OpenOptions());
    // The same, making the missing folders of `path` first (with `mode`, before the umask).
    static Result<Folder> make(const std::filesystem::path& path, std::uint32_t mode = 0777);

    const std::filesystem::path& path() const;
    // The folder itself, as it was opened.
    const FileSignature& signature() const;
    // The user whose rights the operations beneath use; none: the process's own.
    std::optional<Owner> actingAs() const;
    // `relative` for people: the folder's path and the name.
    std::filesystem::path pathOf(const std::filesystem::path& relative) const;

    // A folder beneath, with this one's rights.
    Result<Folder> folder(const std::filesystem::path& relative) const;
    // The same, making each missing folder on the way (with `mode`, before the umask).
    Result<Folder> makeFolder(const std::filesystem::path& relative,
                              std::uint32_t mode = 0777) const;
    // What `relative` is, without following it: none when there is nothing of that name.
    Result<std::optional<FileSignature>> examine(const std::filesystem::path& relative) const;
    // The bytes of the regular file `relative`, at most `limit` of them.
    Result<FileContent> read(const std::filesystem::path& relative, std::uintmax_t limit) const;
    // The entries of the folder `relative` (empty: this one), at most `most` of them.
    Result<Listing> list(const std::filesystem::path& relative, std::size_t most) const;
    // Makes `relative` hold exactly `bytes`, by the rules of WriteOptions: the new version.
    // Status kNameTaken: a new name was taken; kFileChanged: the file is not the expected one.
    Result<FileSignature> write(const std::filesystem::path& relative, std::string_view bytes,
                                const WriteOptions& options = {}) const;
    // Removes the file `relative` if it still is the version `expected`; status kFileChanged
    // (and the file left) otherwise.
    Result<void> remove(const std::filesystem::path& relative, const FileSignature& expected) const;
    // The folder's exclusive lock (FolderLock), waiting up to `timeout`. Status kLockRefused
    // when the lock file cannot serve (its reason names it and what to do).
    Result<FolderLock> lock(std::chrono::milliseconds timeout) const;
    // Removes the temporary files that writers killed half-way left in this folder. Only while
    // holding its lock: no temporary file of a live writer exists then.
    void removeLeftovers() const;
    // The same without the lock, for the temporary files of writers of this machine that have
    // ended: a live process's, or one whose number is in use again, stays.
    void removeLeftoversOfEndedWriters() const;

#ifndef _WIN32
    enum class Opening {
        Read,       // an existing regular file, to read
        CreateNew,  // a new regular file (never one that exists), to read and write
    };
    // The regular file `relative`, held open.
    Result<OpenFile> openFile(const std::filesystem::path& relative, Opening how,
                              std::uint32_t mode = 0600) const;
    // The text of the link `relative`.
    Result<std::string> linkTarget(const std::filesystem::path& relative) const;
    // The folder `target` names, relative to this one or absolute, links followed as the kernel
    // follows them, with this folder's rights: where a user's own link leads, reached as that
    // user could reach it. For links a program of the user's follows (Wine's hive links).
    Result<Folder> follow(const std::filesystem::path& target) const;
    // For the descriptor calls the layer does not make itself (locks on a held file, fstat).
    int descriptor() const;
#endif

    struct State;  // the open folder, shared by copies

private:
    explicit Folder(std::shared_ptr<const State> state);
    void removeTemporaries(bool ofEndedWritersOnly) const;
    std::shared_ptr<const State> state_;
};

// Files named by their full paths, each reached beneath one folder: a place opened once (a Wine
// prefix, a Windows installation). Without one (Windows' own folders), each is reached through
// the folder its path names.
class PlaceFiles {
public:
    PlaceFiles() = default;
    explicit PlaceFiles(Folder root) : root_(std::move(root)) {}

    const std::optional<Folder>& root() const { return root_; }
    struct Located {
        Folder folder;
        std::filesystem::path name;  // beneath `folder`; empty: the folder itself
    };
    // The folder that holds `path`, and its name there. Refused ("leads outside its place") when
    // `path` is not beneath the root, by its names alone: "..", links and the like are then
    // refused by the folder as it reaches the name.
    Result<Located> locate(const std::filesystem::path& path) const;
    // `path`'s name beneath the root (nameBeneath); none when there is no root.
    std::optional<std::filesystem::path> beneath(const std::filesystem::path& path) const;

private:
    std::optional<Folder> root_;
};

// `path`'s name beneath `folder`, by their names alone: none when `path` is not below `folder` or
// has a ".." anywhere (no name that goes up and down again counts as beneath).
std::optional<std::filesystem::path> nameBeneath(const std::filesystem::path& folder,
                                                 const std::filesystem::path& path);

// `path` as the system names what it reaches, its links resolved (the folder Folder::open opens,
// by its rules); a part that does not exist yet follows that name as given.
std::filesystem::path canonicalPath(const std::filesystem::path& path);

// `file` made to hold exactly `bytes` in the folder it names (Folder::open of its parent, then
// Folder::write), read back. The reason names the cause ("disk full"), not the file.
Result<void> writeWholeFile(const std::filesystem::path& file, std::string_view bytes,
                            Placing placing = Placing::Replace);

#ifdef _WIN32
// Whether the security descriptor (a SECURITY_DESCRIPTOR with owner and DACL) lets only
// administrators and the system change its file (FileContent::administratorsOnly).
bool onlyAdministratorsChange(void* descriptor);
#endif

// Whether `name` is one the layer gives a new file while it is written; a writer killed
// half-way may leave it behind.
bool isTemporaryName(std::string_view name);

}  // namespace quorvane::formats
