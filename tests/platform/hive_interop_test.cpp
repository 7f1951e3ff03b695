// The hive store against Wine itself, in a prefix of the test's own: what the store writes, Wine
// reads, and what Wine writes, the store reads. Wine's `reg export` is the witness on Wine's side:
// it writes UTF-16, so non-ASCII text survives whatever the console's code page is.
#include <gtest/gtest.h>
#include <iconv.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include "platform/hive_store.h"
#include "platform/wineserver_probe.h"
#include "tests/support/registry_target.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using namespace quorvane::platform;
using namespace quorvane::testing;

// iconv, not the store's own conversions, so that a fault there cannot hide itself here.
std::string convert(const std::string& text, const char* from, const char* to) {
    const iconv_t converter = ::iconv_open(to, from);
    std::string out(text.size() * 2 + 4, '\0');
    char* in = const_cast<char*>(text.data());
    char* next = out.data();
    std::size_t inLeft = text.size();
    std::size_t outLeft = out.size();
    const bool converted = ::iconv(converter, &in, &inLeft, &next, &outLeft) != std::size_t(-1);
    ::iconv_close(converter);
    EXPECT_TRUE(converted) << text;
    out.resize(out.size() - outLeft);
    return out;
}

// The lines of each key in a `reg export` file, by the key's path as printed; hex data that
// Wine wrapped is joined back into one line.
using Export = std::map<std::string, std::set<std::string>>;

Export parseExport(const std::string& utf16) {
    const std::string text =
        convert(utf16.substr(utf16.compare(0, 2, "\xFF\xFE") ? 0 : 2), "UTF-16LE", "UTF-8");
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

// One prefix for the whole suite: making it costs seconds. Each test leaves no server behind.
// Wine keeps its server directories under TMPDIR and never removes them, so TMPDIR points into
// the suite's own directory while it runs; the store looks there too.
class HiveInteropTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        root_ = new TempDir;
        tmpdir_ = new ScopedTmpdir(root_->path() / "tmp");
        booted_ = wine("wineboot -i");
        bootLog_ = readFile(log());
        stopServer();
    }
    static void TearDownTestSuite() {
        stopServer();
        delete tmpdir_;
        delete root_;
    }
    void SetUp() override {
        ASSERT_EQ(booted_, 0) << bootLog_;
        ASSERT_TRUE(fs::exists(prefix() / "system.reg"));
    }
    void TearDown() override { stopServer(); }

    static fs::path prefix() { return root_->path() / "prefix"; }

    // The command runs with WINEPREFIX set for it alone, without a display, and with its output
    // kept in a file: a pipe would stay open in the wineserver it may start. Its exit status.
    static int wine(const std::string& command) {
        const std::string line = "env -u DISPLAY -u WAYLAND_DISPLAY WINEPREFIX='" +
                                 prefix().string() +
                                 "' WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= " + command +
                                 " </dev/null >'" + log().string() + "' 2>&1";
        const int status = std::system(line.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    static fs::path log() { return root_->path() / "wine.log"; }

    // `-k` makes the server save the registry and exit; `-w` waits until it is gone.
    static void stopServer() {
        wine("wineserver -k");
        wine("wineserver -w");
    }

    static Export exported(const std::string& key) {
        const fs::path file = root_->path() / "export.reg";
        fs::remove(file);
        EXPECT_EQ(wine("wine reg export '" + key + "' 'Z:" + file.string() + "' /y"), 0)
            << readFile(log());
        return fs::exists(file) ? parseExport(readFile(file)) : Export{};
    }

    static inline TempDir* root_ = nullptr;
    static inline ScopedTmpdir* tmpdir_ = nullptr;
    static inline int booted_ = -1;
    static inline std::string bootLog_;
};

const std::string kText = "Grüße Ωmega";

// Each value with the line `reg export` prints for it and `reg import` reads.
const std::pair<std::string, Stored> kValues[] = {
    {"\"Text\"=\"Grüße Ωmega\"", sz(kText)},
    {R"("Path"="C:\\Program Files\\\"Quorvane\" \\\\server\\share")",
     sz(R"(C:\Program Files\"Quorvane" \\server\share)")},
    {"\"Zero\"=dword:00000000", dword(0)},
    {"\"AllOnes\"=dword:ffffffff", dword(0xFFFFFFFF)},
    {"\"Bytes\"=hex:00,7f,80,ff,0a", {kRegBinary, std::string("\x00\x7f\x80\xff\x0a", 5)}},
    {"\"Big\"=hex(b):ef,cd,ab,89,67,45,23,01", {kRegQword, "\xef\xcd\xab\x89\x67\x45\x23\x01"}},
    {"\"Expand\"=hex(2):25,00,50,00,25,00,00,00", {kRegExpandSz, std::string("%P%", 4)}},
};

std::string nameOf(const std::string& line) {
    return line.substr(1, line.find("\"=") - 1);
}

TEST_F(HiveInteropTest, WineReadsWhatTheStoreWrote) {
    Export user = {{"HKEY_CURRENT_USER\\Software\\QuorvaneInterop\\CaseKey",
                    {"\"First\"=dword:00000001", "\"Second\"=dword:00000002"}}};
    {
        HiveStore store(prefix());
        KeyHandle key = 0;
        ASSERT_EQ(store.createKey(kCurrentUser, "Software\\QuorvaneInterop", key), kSuccess);
        for (const auto& [line, value] : kValues) {
            EXPECT_EQ(set(store, key, nameOf(line), value), kSuccess) << line;
            user["HKEY_CURRENT_USER\\Software\\QuorvaneInterop"].insert(line);
        }
        put(store, key, "CaseKey", "First", dword(1));
        put(store, kCurrentUser, "software\\quorvaneinterop\\CASEKEY", "Second", dword(2));

        BatchScope batch(store);
        put(store, kLocalMachine, "Software\\QuorvaneInterop", "Text", sz(kText));
        put(store, kLocalMachine, "Software\\QuorvaneInterop", "Policy", dword(0xFFFFFFFF));
        ASSERT_TRUE(batch.finish().empty()) << store.lastFailure();
    }

    const Export machine = {{"HKEY_LOCAL_MACHINE\\Software\\QuorvaneInterop",
                             {"\"Text\"=\"Grüße Ωmega\"", "\"Policy\"=dword:ffffffff"}}};
    EXPECT_EQ(exported("HKCU\\Software\\QuorvaneInterop"), user);
    EXPECT_EQ(exported("HKLM\\Software\\QuorvaneInterop"), machine);
}

TEST_F(HiveInteropTest, StoreReadsWhatWineWrote) {
    std::string text =
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\QuorvaneFromWine]\r\n"
        "\"Grüße\"=\"Ωmega \\\\ \\\"quoted\\\" text\"\r\n";
    for (const auto& [line, value] : kValues) {
        text += line + "\r\n";
    }
    text += "\r\n[HKEY_LOCAL_MACHINE\\Software\\QuorvaneFromWine\\Policy]\r\n\"Text\"=\"" + kText +
            "\"\r\n";
    const fs::path file = root_->path() / "import.reg";
    writeFile(file, "\xFF\xFE" + convert(text, "UTF-8", "UTF-16LE"));
    ASSERT_EQ(wine("wine reg import 'Z:" + file.string() + "'"), 0) << readFile(log());
    stopServer();

    HiveStore store(prefix());
    const std::string user = "Software\\QuorvaneFromWine";
    EXPECT_EQ(stored(store, kCurrentUser, user, "Grüße"), sz("Ωmega \\ \"quoted\" text"));
    for (const auto& [line, value] : kValues) {
        EXPECT_EQ(stored(store, kCurrentUser, user, nameOf(line)), value) << line;
    }
    EXPECT_EQ(stored(store, kLocalMachine, "software\\quorvanefromwine\\POLICY", "Text"),
              sz(kText));
}

TEST_F(HiveInteropTest, StoreRefusesWhileTheServerRunsAndOpensOnceItStopped) {
    // A persistent server stays until told to go, as one serving a long-running program would;
    // TearDown stops it should the test fail half-way.
    ASSERT_EQ(wine("wineserver -p"), 0) << readFile(log());
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
