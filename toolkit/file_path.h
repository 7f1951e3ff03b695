// File names given as text (a command line, Qt's own paths) as the file system's paths.
#pragma once

#include <QString>
#include <filesystem>

namespace quorvane::toolkit {

// On Windows the path is made from the name's UTF-16 text, so that every name a user can type
// reaches the file, whatever the ANSI code page; elsewhere from the bytes Qt's own file functions
// would use (QFile::encodeName).
std::filesystem::path toFilePath(const QString& name);

}  // namespace quorvane::toolkit
