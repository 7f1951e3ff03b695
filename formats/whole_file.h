// Writing a file whole or not at all: the bytes go to a new file beside it, are flushed to the
// disk, and only then take the file's name; the folder is flushed after. A full disk, a missing
// folder or a name taken by something that is not a regular file leave the old file (or none) in
// place, and say so.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "formats/file_access.h"
#include "formats/result.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/types.h>

#include <optional>
#endif

namespace quorvane::formats {

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

#endif

}  // namespace quorvane::formats
