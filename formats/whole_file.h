// Writing a file whole or not at all: the bytes go to a new file beside it, are flushed to the
// disk, and only then take the file's name; the folder is flushed after. A full disk, a missing
// folder or a name taken by something that is not a regular file leave the old file (or none) in
// place, and say so.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "formats/result.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/types.h>

#include <optional>
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

// The status of a failure because the name exists already (Windows' ERROR_ALREADY_EXISTS).
inline constexpr long kNameTaken = 183;

enum class Placing {
    Replace,  // the new file replaces the one of that name, if any
    NewName,  // the new file takes the name only while no file has it
};

// Makes `file` hold exactly `bytes`, read back to confirm it. A name taken by a link, a FIFO, a
// folder or a device is refused and left alone. The reason names the cause ("disk full"), not
// the file.
Result<void> writeWholeFile(const std::filesystem::path& file, std::string_view bytes,
                            Placing placing = Placing::Replace);

#ifndef _WIN32

// The same steps in a folder open as `folder`, for writers that work relative to a descriptor.
struct PlaceOptions {
    std::string seamName;  // the name the test seam is given; the file's name when empty
    mode_t mode = 0666;    // the new file's, before the umask
    // Runs on the new file before the bytes are written (a mode or owner to give it); may throw,
    // and the new file is removed then.
    std::function<void(int fd)> prepare;
    Placing placing = Placing::Replace;
};
struct StepFailure {
    WriteStep step;
    int error;  // errno
};
// Nothing when `name` in `folder` now holds `bytes`; `written` (if given) describes the new file.
std::optional<StepFailure> placeFileAt(int folder, const std::string& name, std::string_view bytes,
                                       const PlaceOptions& options, struct stat* written = nullptr);

// Creates a new, empty file beside `name` whose name is `temporary`: O_EXCL, never a link.
int createTemporaryAt(int folder, const std::string& name, mode_t mode, std::string& temporary);
// Whether `name` is one createTemporaryAt makes; a writer killed half-way may leave it behind.
bool isTemporaryName(std::string_view name);

#endif

}  // namespace quorvane::formats
