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

namespace {
void setEnvironment(const std::string& name, const std::optional<std::string>& value) {
#ifdef _WIN32
    ::_putenv_s(name.c_str(), value.value_or("").c_str());
#else
    value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
#endif
}
}  // namespace

ScopedEnvironment::ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) {
        old_ = old;
    }
    setEnvironment(name_, value);
}

ScopedEnvironment::~ScopedEnvironment() {
    setEnvironment(name_, old_);
}

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

std::string utf16WithBom(std::string_view ascii) {
    std::string bytes = "\xFF\xFE";
    for (char c : ascii) {
        bytes += c;
        bytes += '\0';
    }
    return bytes;
}

void writeFile(const fs::path& file, const std::string& content) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) {
        throw std::runtime_error("cannot write " + file.string());
    }
}

}  // namespace quorvane::testing
