// Moving an item that `fix` takes out of a Startup folder, and that its undo puts back, through
// the file-access layer: never over a name that exists, and never losing the item.
#pragma once

#include "formats/file_access.h"
#include "formats/result.h"

namespace quorvane::journal {

// Moves the file `from`, read as `content`, to the free name `to`, making the folders on its
// way: a copy with the file's mode is made there (with the rights of the folder `to` lies in),
// then the original goes, only while it still is the version read; otherwise the copy goes again
// and the move is refused with the reason.
Result<void> moveFile(const formats::PlaceFiles::Located& from, const formats::FileContent& content,
                      const formats::PlaceFiles::Located& to);

}  // namespace quorvane::journal
