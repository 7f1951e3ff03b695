#include "platform/hive_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace quorvane::platform::hive {

namespace fs = std::filesystem;

namespace {

constexpr int kMaxLinks = 8;

// Where a hive really is: the folder that holds it (the hive's own directory, or where its link
// leads) and its name there.
struct Location {
    formats::Folder folder;
    std::string name;
    fs::path shown;  // for messages
    bool linked = false;
    std::optional<FileSignature> found;  // none: there is no hive
};

[[noreturn]] void fail(const fs::path& file, const Failure& failure) {
    if (failure.status == formats::kFileChanged) {
        throw FileChanged(file, failure.reason, failure.error);
    }
    throw FileError(file, failure.reason, failure.error);
}

// Regular files only; and a file reached through a link (symbolic, or a second hard name) only
// when it is the directory owner's, so that root is never led to read or replace a file the
// prefix's owner could not.
void checkHive(const formats::Folder& directory, const Location& where, const FileSignature& info) {
    if (!info.regular()) {
        throw FileError(where.shown, "is not a regular file", EINVAL);
    }
    if ((where.linked || info.links > 1) && info.owner != directory.signature().owner) {
        throw FileError(where.shown,
                        "is reached through a link and belongs to another user than the "
                        "directory " +
                            directory.path().string(),
                        EACCES);
    }
}

// Follows symbolic links from `name` in `directory`, as Wine does, to the file they lead to:
// with the rights of the user the directory is worked on as, so that no link leads further than
// that user could go.
Location resolve(const formats::Folder& directory, const std::string& name) {
    Location where{directory, name, directory.pathOf(name), false, std::nullopt};
    for (int hop = 0;; ++hop) {
        const auto info = where.folder.examine(where.name);
        if (!info) {
            fail(where.shown, info.failure());
        }
        if (!*info) {
            if (!where.linked) {
                return where;
            }
            throw FileError("cannot reach the link's target", where.shown, ENOENT);
        }
        if (!(*info)->link()) {
            checkHive(directory, where, **info);
            where.found = *info;
            return where;
        }
        if (hop == kMaxLinks) {
            throw FileError("cannot follow", where.shown, ELOOP);
        }
        const auto text = where.folder.linkTarget(where.name);
        if (!text) {
            fail(where.shown, text.failure());
        }
        const fs::path target(*text);
        if (!target.has_filename()) {
            throw FileError(where.shown, "is a link to a directory", EISDIR);
        }
        if (target.has_parent_path()) {
            auto folder = where.folder.follow(target.parent_path());
            if (!folder) {
                throw FileError("cannot reach the link's target", where.shown,
                                folder.failure().error);
            }
            where.folder = std::move(folder).value();
        }
        where.shown = (where.shown.parent_path() / target).lexically_normal();
        where.name = target.filename().string();
        where.linked = true;
    }
}

// Opens the hive where its links lead, by the rules of checkHive; none when it does not exist.
std::optional<formats::OpenFile> openHive(const formats::Folder& directory,
                                          const std::string& name) {
    const Location where = resolve(directory, name);
    if (!where.found) {
        return std::nullopt;
    }
    // Non-blocking, so that a FIFO put in the file's place meanwhile cannot hang the reader.
    auto file = where.folder.openFile(where.name, formats::Folder::Opening::Read);
    if (!file) {
        fail(where.shown, file.failure());
    }
    checkHive(directory, where, file->signature());
    return std::move(file).value();
}

[[noreturn]] void changedMeanwhile(const formats::Folder& directory, const std::string& name) {
    throw FileChanged(directory.pathOf(name), "was changed by another program while it was read",
                      ESTALE);
}

}  // namespace

FileError::FileError(const std::string& action, const fs::path& file, int error)
    : std::runtime_error(action + " " + file.string() + ": " + describeError(error)),
      error_(error) {}

FileError::FileError(const fs::path& file, const std::string& refusal, int error)
    : std::runtime_error(file.string() + " " + refusal), error_(error) {}

FileError::FileError(const Failure& failure)
    : std::runtime_error(failure.reason), error_(failure.error) {}

std::optional<FileSignature> statFileIn(const Directory& directory, const std::string& name) {
    struct stat info {};
    if (::fstatat(directory.fd, name.c_str(), &info, 0) != 0) {
        if (errno == ENOENT) {
            return std::nullopt;
        }
        throw FileError("cannot examine", directory.path / name, errno);
    }
    return formats::signatureOf(info);
}

formats::Folder openDirectory(const fs::path& path) {
    auto folder = formats::Folder::open(path);
    if (!folder) {
        fail(path, folder.failure());
    }
    return std::move(folder).value();
}

std::optional<FileSignature> examineHive(const formats::Folder& directory,
                                         const std::string& name) {
    // The common case, asked before every read: the hive itself, a regular file of one name.
    const auto info = directory.examine(name);
    if (info && *info && (*info)->regular() && (*info)->links <= 1) {
        return **info;
    }
    return resolve(directory, name).found;
}

std::optional<HiveReader> HiveReader::open(const formats::Folder& directory,
                                           const std::string& name) {
    auto file = openHive(directory, name);
    if (!file) {
        return std::nullopt;
    }
    return HiveReader(directory, name, std::move(*file));
}

HiveReader::HiveReader(formats::Folder directory, std::string name, formats::OpenFile file)
    : directory_(std::move(directory)),
      name_(std::move(name)),
      signature_(file.signature()),
      file_(std::move(file)) {}

void HiveReader::reopen() {
    auto file = openHive(directory_, name_);
    if (!file || !file->signature().untouchedSince(signature_)) {
        changedMeanwhile(directory_, name_);
    }
    file_ = std::move(file);
}

void HiveReader::checkUnchanged() {
    if (!file_) {
        reopen();
        return;
    }
    const auto now = file_->examine();
    if (!now) {
        fail(directory_.pathOf(name_), now.failure());
    }
    if (!now->untouchedSince(signature_)) {
        changedMeanwhile(directory_, name_);
    }
}

void HiveReader::read(std::size_t offset, char* out, std::size_t length) {
    if (offset > size() || length > size() - offset) {
        changedMeanwhile(directory_, name_);
    }
    if (!file_) {
        reopen();
    }
    while (length > 0) {
        const ssize_t got = ::pread(file_->descriptor(), out, length, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            throw FileError("cannot read", directory_.pathOf(name_), errno);
        }
        if (got == 0) {
            changedMeanwhile(directory_, name_);  // cut short since it was opened
        }
        out += got;
        offset += static_cast<std::size_t>(got);
        length -= static_cast<std::size_t>(got);
    }
}

FileSignature replaceHive(const formats::Folder& directory, const std::string& name,
                          std::string_view text, const std::optional<FileSignature>& previous) {
    const Location where = resolve(directory, name);
    formats::WriteOptions options;
    options.seamName = name;
    options.expected = previous;
    // A hive that was missing is made only while its name is still free.
    options.placing = previous ? formats::Placing::Replace : formats::Placing::NewName;
    // Hives are large; the store reads them back as it reads every change.
    options.readBack = false;
    auto written = where.folder.write(where.name, text, options);
    if (!written) {
        if (written.failure().status == formats::kFileChanged ||
            written.failure().status == formats::kNameTaken) {
            throw FileChanged(where.shown, "was changed by another program since it was read",
                              written.failure().error);
        }
        throw FileError("cannot write", where.shown, written.failure().error);
    }
    return *written;
}

DirectoryLock::DirectoryLock(const formats::Folder& directory, std::chrono::milliseconds timeout) {
    auto lock = directory.lock(timeout);
    if (!lock) {
        const Failure& failure = lock.failure();
        if (failure.status == formats::kLockRefused) {
            throw LockFileError(failure);
        }
        throw FileError(failure);
    }
    lock_ = std::move(lock).value();
}

}  // namespace quorvane::platform::hive
