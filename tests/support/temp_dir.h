// Scratch directories for tests: made fresh, removed with everything in them.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane::testing {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Sets an environment variable while it lives, and restores it after: TMPDIR, say, where Wine
// keeps its server directories and never removes them.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const std::string& value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

// Copies the named fixture hives (e.g. "system.reg") into `directory`, writable.
void copyFixtureHives(const std::filesystem::path& directory);

std::string readFile(const std::filesystem::path& file);
// `ascii` as Windows tools write text files: UTF-16LE after a byte-order mark.
std::string utf16WithBom(std::string_view ascii);
void writeFile(const std::filesystem::path& file, const std::string& content);

// The fixture prefix shipped with the tests.
std::filesystem::path fixtureDirectory();

}  // namespace quorvane::testing
