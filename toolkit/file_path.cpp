#include "toolkit/file_path.h"

#include <QFile>

namespace quorvane::toolkit {

std::filesystem::path toFilePath(const QString& name) {
#ifdef _WIN32
    return std::filesystem::path(name.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(name).toStdString());
#endif
}

}  // namespace quorvane::toolkit
