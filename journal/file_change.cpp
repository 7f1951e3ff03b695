#include "journal/file_change.h"

namespace quorvane::journal {

Result<void> moveFile(const formats::PlaceFiles::Located& from, const formats::FileContent& content,
                      const formats::PlaceFiles::Located& to) {
    auto folder = to.folder.makeFolder(to.name.parent_path());
    if (!folder) {
        return failure(to.folder.pathOf(to.name.parent_path()).string() + " " +
                       folder.failure().reason);
    }
    formats::WriteOptions options;
    options.placing = formats::Placing::NewName;
    options.mode = content.signature.mode & 0777;
    const auto copied = folder->write(to.name.filename(), content.bytes, options);
    if (!copied) {
        return copied.failure().status == formats::kNameTaken
                   ? failure(to.folder.pathOf(to.name).string() + " exists already")
                   : copied.failure();
    }
    if (auto removed = from.folder.remove(from.name, content.signature); !removed) {
        static_cast<void>(folder->remove(to.name.filename(), *copied));
        return removed.failure();
    }
    return {};
}

}  // namespace quorvane::journal
