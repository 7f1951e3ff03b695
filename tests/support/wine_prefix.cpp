#include "tests/support/wine_prefix.h"

#include <sys/wait.h>

#include <cstdlib>

namespace quorvane::testing {

namespace fs = std::filesystem;

WinePrefix::WinePrefix() : path_(root_.path() / "prefix") {
    fs::create_directory(root_.path() / "tmp");
    tmpdir_ = std::make_unique<ScopedEnvironment>("TMPDIR", (root_.path() / "tmp").string());
    // A boot that fails is tried again in a new prefix: one did in CI once, at once and without
    // a word. The log keeps each attempt's status. The server writes the hive files when it
    // ends, not when wineboot does.
    for (int attempt = 1; attempt <= 3 && !booted_; ++attempt) {
        fs::remove_all(path_);
        const int status = run("wineboot -i");
        bootLog_ += "wineboot -i exited with " + std::to_string(status) + ":\n" + log();
        stopServer();
        booted_ = status == 0 && fs::exists(path_ / "system.reg");
    }
}

WinePrefix::~WinePrefix() {
    stopServer();
}

int WinePrefix::run(const std::string& command) const {
    // A Wine program that fails at once without a word is run once more: one did in CI now and
    // then, as wineboot did. A failure that says something, or comes again, stands.
    const int status = runOnce(command);
    if (status == 0 || !log().empty() || command.starts_with("wineserver")) {
        return status;
    }
    return runOnce(command);
}

int WinePrefix::runOnce(const std::string& command) const {
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
