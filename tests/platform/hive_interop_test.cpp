// The hive store against Wine itself, in a prefix of the test's own: what the store writes, Wine
// reads, and what Wine writes, the store reads. Wine's `reg export` is the witness on Wine's side:
// it writes UTF-16, so non-ASCII text survives whatever the console's code page is.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/hive_store.h"
#include "platform/wineserver_probe.h"
#include "tests/support/temp_dir.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace quorvane::platform;
using quorvane::testing::readFile;
using quorvane::testing::TempDir;
using quorvane::testing::writeFile;

// The texts here are all in the Basic Multilingual Plane.
std::string utf16leToUtf8(std::string_view bytes) {
    std::string out;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const unsigned unit =
            static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (unit < 0x80) {
            out += static_cast<char>(unit);
        } else if (unit < 0x800) {
            out += static_cast<char>(0xC0 | unit >> 6);
            out += static_cast<char>(0x80 | (unit & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | unit >> 12);
            out += static_cast<char>(0x80 | (unit >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (unit & 0x3F));
        }
    }
    return out;
}

std::string utf8ToUtf16le(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const int length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : 3;
        unsigned unit = length == 1 ? lead : lead & (length == 2 ? 0x1F : 0x0F);
        for (int k = 1; k < length; ++k) {
            unit = unit << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        }
        out += static_cast<char>(unit & 0xFF);
        out += static_cast<char>(unit >> 8);
        i += length;
    }
    return out;
}

// The lines of each key in a `reg export` file, by the key's path as printed; hex data that
// Wine wrapped is joined back into one line.
using Export = std::map<std::string, std::set<std::string>>;

Export parseExport(const std::string& utf16) {
    const std::string text = utf16leToUtf8(utf16.substr(utf16.compare(0, 2, "\xFF\xFE") ? 0 : 2));
    Export keys;
    std::set<std::string>* lines = nullptr;
    std::string pending;
    std::size_t start = 0;
    while (start < text.size()) {
        auto end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end;
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!pending.empty()) {
            line = pending + line.substr(line.find_first_not_of(' '));
            pending.clear();
        }
        if (line.size() >= 2 && line.compare(line.size() - 2, 2, ",\\") == 0) {
            pending = line.substr(0, line.size() - 1);
        } else if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            lines = &keys[line.substr(1, line.size() - 2)];
        } else if (!line.empty() && lines != nullptr) {
            lines->insert(line);
        }
    }
    return keys;
}

Status put(RegistryApi& registry, KeyHandle key, const std::string& name, std::uint32_t type,
           const std::string& bytes) {
    return registry.setValue(key, name, type, reinterpret_cast<const std::uint8_t*>(bytes.data()),
                             static_cast<std::uint32_t>(bytes.size()));
}

std::string sz(const std::string& text) {
    return text + '\0';
}
std::string dword(std::uint32_t value) {
    return std::string(reinterpret_cast<char*>(&value), 4);
}

std::pair<std::uint32_t, std::string> valueOf(RegistryApi& registry, KeyHandle key,
                                              const std::string& name) {
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    if (registry.queryValue(key, name, &type, nullptr, &size) != kSuccess) {
        return {kRegNone, "<missing>"};
    }
    std::string data(size, '\0');
    registry.queryValue(key, name, &type, reinterpret_cast<std::uint8_t*>(data.data()), &size);
    data.resize(size);
    return {type, data};
}

const std::string kText = "Grüße Ωmega";
const std::string kPath = R"(C:\Program Files\"Quorvane" \\server\share)";
const std::string kBytes("\x00\x7f\x80\xff\x0a", 5);
const std::string kQword("\xef\xcd\xab\x89\x67\x45\x23\x01", 8);

struct Outcome {
    int status;
    std::string output;
};

// One prefix for the whole suite: making it costs seconds. Each test leaves no server behind.
// Wine keeps its server directories under TMPDIR and never removes them, so TMPDIR points into
// the suite's own directory while it runs; the store looks there too.
class HiveInteropTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        root_ = new TempDir;
        fs::create_directory(root_->path() / "tmp");
        if (const char* old = std::getenv("TMPDIR")) {
            oldTmpdir_ = old;
        }
        ::setenv("TMPDIR", (root_->path() / "tmp").c_str(), 1);
        booted_ = wine({"wineboot", "-i"});
        stopServer();
    }
    static void TearDownTestSuite() {
        stopServer();
        if (oldTmpdir_) {
            ::setenv("TMPDIR", oldTmpdir_->c_str(), 1);
        } else {
            ::unsetenv("TMPDIR");
        }
        delete root_;
        root_ = nullptr;
    }
    void SetUp() override {
        ASSERT_EQ(booted_.status, 0) << booted_.output;
        ASSERT_TRUE(fs::exists(prefix() / "system.reg"));
    }
    void TearDown() override { stopServer(); }

    static fs::path prefix() { return root_->path() / "prefix"; }

    // The command runs with WINEPREFIX set for it alone, without a display, and with its output
    // kept in a file: a pipe would stay open in the wineserver it may start.
    static Outcome wine(const std::vector<std::string>& args) {
        std::vector<std::string> environment;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string_view variable(*entry);
            const auto name = variable.substr(0, variable.find('='));
            if (name != "WINEPREFIX" && name != "WINEDEBUG" && name != "WINEDLLOVERRIDES" &&
                name != "DISPLAY" && name != "WAYLAND_DISPLAY") {
                environment.emplace_back(variable);
            }
        }
        environment.push_back("WINEPREFIX=" + prefix().string());
        environment.push_back("WINEDEBUG=-all");
        environment.push_back("WINEDLLOVERRIDES=mscoree,mshtml=");
        std::vector<char*> argv;
        std::vector<char*> envp;
        for (const auto& arg : args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        for (const auto& variable : environment) {
            envp.push_back(const_cast<char*>(variable.c_str()));
        }
        argv.push_back(nullptr);
        envp.push_back(nullptr);

        const fs::path log = root_->path() / "wine.log";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        pid_t pid = 0;
        const int spawned =
            posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            return {-1, "cannot run " + args[0]};
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), readFile(log)};
    }

    // `-k` makes the server save the registry and exit; `-w` waits until it is gone.
    static void stopServer() {
        wine({"wineserver", "-k"});
        wine({"wineserver", "-w"});
    }

    static Export exported(const std::string& key) {
        const fs::path file = root_->path() / "export.reg";
        fs::remove(file);
        const auto outcome = wine({"wine", "reg", "export", key, "Z:" + file.string(), "/y"});
        EXPECT_EQ(outcome.status, 0) << outcome.output;
        return fs::exists(file) ? parseExport(readFile(file)) : Export{};
    }

    static inline TempDir* root_ = nullptr;
    static inline Outcome booted_;
    static inline std::optional<std::string> oldTmpdir_;
};

TEST_F(HiveInteropTest, WineReadsWhatTheStoreWrote) {
    {
        HiveStore store(prefix());
        KeyHandle user = 0;
        ASSERT_EQ(store.createKey(kCurrentUser, "Software\\QuorvaneInterop", user), kSuccess);
        EXPECT_EQ(put(store, user, "Text", kRegSz, sz(kText)), kSuccess);
        EXPECT_EQ(put(store, user, "Path", kRegSz, sz(kPath)), kSuccess);
        EXPECT_EQ(put(store, user, "Zero", kRegDword, dword(0)), kSuccess);
        EXPECT_EQ(put(store, user, "AllOnes", kRegDword, dword(0xFFFFFFFF)), kSuccess);
        EXPECT_EQ(put(store, user, "Bytes", kRegBinary, kBytes), kSuccess);
        EXPECT_EQ(put(store, user, "Big", kRegQword, kQword), kSuccess);
        KeyHandle first = 0;
        KeyHandle second = 0;
        ASSERT_EQ(store.createKey(user, "CaseKey", first), kSuccess);
        EXPECT_EQ(put(store, first, "First", kRegDword, dword(1)), kSuccess);
        ASSERT_EQ(store.createKey(kCurrentUser, "software\\quorvaneinterop\\CASEKEY", second),
                  kSuccess);
        EXPECT_EQ(put(store, second, "Second", kRegDword, dword(2)), kSuccess);

        BatchScope batch(store);
        KeyHandle machine = 0;
        ASSERT_EQ(store.createKey(kLocalMachine, "Software\\QuorvaneInterop", machine), kSuccess);
        EXPECT_EQ(put(store, machine, "Text", kRegSz, sz(kText)), kSuccess);
        EXPECT_EQ(put(store, machine, "Policy", kRegDword, dword(0xFFFFFFFF)), kSuccess);
        ASSERT_EQ(batch.finish(), kSuccess) << store.lastFailure();
    }

    const Export user = {
        {"HKEY_CURRENT_USER\\Software\\QuorvaneInterop",
         {"\"Text\"=\"Grüße Ωmega\"",
          R"("Path"="C:\\Program Files\\\"Quorvane\" \\\\server\\share")",
          "\"Zero\"=dword:00000000", "\"AllOnes\"=dword:ffffffff", "\"Bytes\"=hex:00,7f,80,ff,0a",
          "\"Big\"=hex(b):ef,cd,ab,89,67,45,23,01"}},
        {"HKEY_CURRENT_USER\\Software\\QuorvaneInterop\\CaseKey",
         {"\"First\"=dword:00000001", "\"Second\"=dword:00000002"}},
    };
    const Export machine = {
        {"HKEY_LOCAL_MACHINE\\Software\\QuorvaneInterop",
         {"\"Text\"=\"Grüße Ωmega\"", "\"Policy\"=dword:ffffffff"}},
    };
    EXPECT_EQ(exported("HKCU\\Software\\QuorvaneInterop"), user);
    EXPECT_EQ(exported("HKLM\\Software\\QuorvaneInterop"), machine);
}

TEST_F(HiveInteropTest, StoreReadsWhatWineWrote) {
    const fs::path file = root_->path() / "import.reg";
    writeFile(file, "\xFF\xFE" +
                        utf8ToUtf16le("Windows Registry Editor Version 5.00\r\n\r\n"
                                      "[HKEY_CURRENT_USER\\Software\\QuorvaneFromWine]\r\n"
                                      "\"Grüße\"=\"Ωmega \\\\ \\\"quoted\\\" text\"\r\n"
                                      "\"Zero\"=dword:00000000\r\n"
                                      "\"AllOnes\"=dword:ffffffff\r\n"
                                      "\"Bytes\"=hex:00,7f,80,ff,0a\r\n"
                                      "\"Big\"=hex(b):ef,cd,ab,89,67,45,23,01\r\n"
                                      "\"Expand\"=hex(2):25,00,50,00,25,00,00,00\r\n\r\n"
                                      "[HKEY_LOCAL_MACHINE\\Software\\QuorvaneFromWine\\Policy]\r\n"
                                      "\"Text\"=\"Grüße Ωmega\"\r\n"));
    const auto imported = wine({"wine", "reg", "import", "Z:" + file.string()});
    ASSERT_EQ(imported.status, 0) << imported.output;
    stopServer();

    HiveStore store(prefix());
    KeyHandle user = 0;
    ASSERT_EQ(store.openKey(kCurrentUser, "Software\\QuorvaneFromWine", kKeyRead, user), kSuccess);
    using Value = std::pair<std::uint32_t, std::string>;
    EXPECT_EQ(valueOf(store, user, "Grüße"), Value(kRegSz, sz("Ωmega \\ \"quoted\" text")));
    EXPECT_EQ(valueOf(store, user, "Zero"), Value(kRegDword, dword(0)));
    EXPECT_EQ(valueOf(store, user, "AllOnes"), Value(kRegDword, dword(0xFFFFFFFF)));
    EXPECT_EQ(valueOf(store, user, "Bytes"), Value(kRegBinary, kBytes));
    EXPECT_EQ(valueOf(store, user, "Big"), Value(kRegQword, kQword));
    EXPECT_EQ(valueOf(store, user, "Expand"), Value(kRegExpandSz, sz("%P%")));
    KeyHandle machine = 0;
    ASSERT_EQ(store.openKey(kLocalMachine, "software\\quorvanefromwine\\POLICY", kKeyRead, machine),
              kSuccess);
    EXPECT_EQ(valueOf(store, machine, "Text"), Value(kRegSz, sz(kText)));
}

TEST_F(HiveInteropTest, StoreRefusesWhileTheServerRunsAndOpensOnceItStopped) {
    // A persistent server stays until told to go, as one serving a long-running program would;
    // TearDown stops it should the test fail half-way.
    const auto started = wine({"wineserver", "-p"});
    ASSERT_EQ(started.status, 0) << started.output;
    std::optional<WineserverInfo> server;
    for (int attempt = 0; attempt < 100 && !server; ++attempt) {
        server = findRunningWineserver(prefix());
        std::this_thread::sleep_for(std::chrono::milliseconds(server ? 0 : 20));
    }
    ASSERT_TRUE(server) << "no wineserver found for " << prefix();
    const fs::path command = "/proc/" + std::to_string(server->pid) + "/comm";
    if (fs::exists(command)) {
        EXPECT_EQ(readFile(command).rfind("wineserver", 0), 0u) << readFile(command);
    }
    try {
        HiveStore store(prefix());
        ADD_FAILURE() << "the store opened beside wineserver " << server->pid;
    } catch (const StoreError& error) {
        EXPECT_NE(std::string(error.what()).find(std::to_string(server->pid)), std::string::npos)
            << error.what();
    }

    stopServer();
    EXPECT_FALSE(findRunningWineserver(prefix()));
    EXPECT_NO_THROW(HiveStore store(prefix()));
}

}  // namespace
