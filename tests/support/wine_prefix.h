// A Wine prefix of a test's own, made once (it costs seconds) and removed with its directory.
// Commands run with WINEPREFIX set for them alone, without a display, no Mono or Gecko, their
// output kept in a file: a pipe would stay open in the wineserver they may start.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "tests/support/temp_dir.h"

namespace quorvane::testing {

class WinePrefix {
public:
    WinePrefix();
    ~WinePrefix();
    WinePrefix(const WinePrefix&) = delete;
    WinePrefix& operator=(const WinePrefix&) = delete;

    // Whether wineboot made the prefix; bootLog() says why not.
    bool booted() const { return booted_; }
    const std::string& bootLog() const { return bootLog_; }
    const std::filesystem::path& path() const { return path_; }

    // Runs `command` (e.g. "wine reg query ...") in the prefix; its exit status.
    int run(const std::string& command) const;
    // What the last command printed.
    std::string log() const;
    // Makes the server save the registry and waits until it is gone, so that the hive files
    // hold everything and another program may change them.
    void stopServer() const;

private:
    int runOnce(const std::string& command) const;

    TempDir root_;
    std::unique_ptr<ScopedEnvironment> tmpdir_;
    std::filesystem::path path_;
    bool booted_ = false;
    std::string bootLog_;
};

// The Windows form of a local file, as Wine's Z: drive shows it.
std::string windowsPathOf(const std::filesystem::path& file);

}  // namespace quorvane::testing
