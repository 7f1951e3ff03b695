// Scratch directories for tests: made fresh, removed with everything in them.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

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

// Points TMPDIR at `directory` while it lives, and back where it was after: Wine keeps its
// server directories under TMPDIR and never removes them.
class ScopedTmpdir {
public:
    explicit ScopedTmpdir(const std::filesystem::path& directory);
    ~ScopedTmpdir();
    ScopedTmpdir(const ScopedTmpdir&) = delete;
    ScopedTmpdir& operator=(const ScopedTmpdir&) = delete;

private:
    std::optional<std::string> old_;
};

// Copies the named fixture hives (e.g. "system.reg") into `directory`, writable.
void copyFixtureHives(const std::filesystem::path& directory);

std::string readFile(const std::filesystem::path& file);
void writeFile(const std::filesystem::path& file, const std::string& content);

// The fixture prefix shipped with the tests.
std::filesystem::path fixtureDirectory();

}  // namespace quorvane::testing
