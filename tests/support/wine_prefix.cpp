#include "tests/support/wine_prefix.h"

#include <sys/wait.h>

#include <cstdlib>

namespace quorvane::testing {

namespace fs = std::filesystem;

WinePrefix::WinePrefix() : path_(root_.path() / "prefix") {
    fs::create_directory(root_.path() / "tmp");
    tmpdir_ = std::make_unique<ScopedEnvironment>("TMPDIR", (root_.path() / "tmp").string());
    // The server writes the hive files when it ends, not when wineboot does.
    const bool booted = run("wineboot -i") == 0;
    bootLog_ = log();
    stopServer();
    booted_ = booted && fs::exists(path_ / "system.reg");
}

WinePrefix::~WinePrefix() {
    stopServer();
}

int WinePrefix::run(const std::string& command) const {
    const std::string line = "env -u DISPLAY -u WAYLAND_DISPLAY WINEPREFIX='" + path_.string() +
                             "' WINEDEBUG=-all WINEDLLOVERRIDES='mscoree=;mshtml=' " + command +
                             " </dev/null >'" + (root_.path() / "wine.log").string() + "' 2>&1";
    const int status = std::system(line.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string WinePrefix::log() const {
    const fs::path file = root_.path() / "wine.log";
    return fs::exists(file) ? readFile(file) : std::string();
}

void WinePrefix::stopServer() const {
    run("wineserver -k");
    run("wineserver -w");
}

std::string windowsPathOf(const fs::path& file) {
    std::string path = "Z:" + fs::absolute(file).string();
    for (char& c : path) {
        c = c == '/' ? '\\' : c;
    }
    return path;
}

}  // namespace quorvane::testing
