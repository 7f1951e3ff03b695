#include "tests/support/temp_dir.h"

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace quorvane::testing {

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path candidate =
            fs::temp_directory_path() / ("quorvane-test-" + std::to_string(random()));
        if (fs::create_directory(candidate)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot make a temporary directory");
}

TempDir::~TempDir() {
    std::error_code ignored;
    // Tests make files read-only; give the write bits back so that removal works everywhere.
    for (auto& entry : fs::recursive_directory_iterator(path_, ignored)) {
        fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add, ignored);
    }
    fs::remove_all(path_, ignored);
}

#ifndef _WIN32  // only the POSIX tests run Wine beside the store
ScopedTmpdir::ScopedTmpdir(const fs::path& directory) {
    if (const char* old = std::getenv("TMPDIR")) {
        old_ = old;
    }
    fs::create_directories(directory);
    ::setenv("TMPDIR", directory.c_str(), 1);
}

ScopedTmpdir::~ScopedTmpdir() {
    if (old_) {
        ::setenv("TMPDIR", old_->c_str(), 1);
    } else {
        ::unsetenv("TMPDIR");
    }
}
#endif

fs::path fixtureDirectory() {
    return QUORVANE_FIXTURE_DIR;
}

void copyFixtureHives(const fs::path& directory) {
    for (const char* name : {"system.reg", "user.reg", "userdef.reg"}) {
        fs::copy_file(fixtureDirectory() / name, directory / name,
                      fs::copy_options::overwrite_existing);
        fs::permissions(directory / name, fs::perms::owner_write, fs::perm_options::add);
    }
}

std::string readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + file.string());
    }
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void writeFile(const fs::path& file, const std::string& content) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) {
        throw std::runtime_error("cannot write " + file.string());
    }
}

}  // namespace quorvane::testing
