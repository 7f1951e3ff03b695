// The hive store against Wine itself, in a prefix of the test's own: what the store writes, Wine
// reads (what Wine writes, the store reads: the fixture tests load Wine's own files), and a
// running wineserver keeps the store out. Wine's `reg export` is the witness on Wine's side: it
// writes UTF-16, so non-ASCII text survives whatever the console's code page is.
#include <gtest/gtest.h>
#include <iconv.h>

#include <chrono>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "platform/hive_store.h"
#include "platform/wineserver_probe.h"
#include "tests/support/contains.h"
#include "tests/support/registry_target.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wine_prefix.h"

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
    std::istringstream in(std::regex_replace(text, std::regex(",\\\\\r?\n *"), ","));
    Export keys;
    std::set<std::string>* lines = nullptr;
    for (std::string line; std::getline(in, line);) {
        if (line.ends_with('\r')) {
            line.pop_back();
        }
        if (line.starts_with('[') && line.ends_with(']')) {
            lines = &keys[line.substr(1, line.size() - 2)];
        } else if (!line.empty() && lines != nullptr) {
            lines->insert(line);
        }
    }
    return keys;
}

// One prefix for the whole suite: making it costs seconds. Each test leaves no server behind.
class HiveInteropTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { wine_ = new WinePrefix; }
    static void TearDownTestSuite() { delete wine_; }
    void SetUp() override { ASSERT_TRUE(wine_->booted()) << wine_->bootLog(); }
    void TearDown() override { wine_->stopServer(); }

    static fs::path prefix() { return wine_->path(); }
    static int wine(const std::string& command) { return wine_->run(command); }

    Export exported(const std::string& key) const {
        const fs::path file = dir_.path() / "export.reg";
        EXPECT_EQ(wine("wine reg export '" + key + "' '" + windowsPathOf(file) + "' /y"), 0)
            << wine_->log();
        return fs::exists(file) ? parseExport(readFile(file)) : Export{};
    }

    static inline WinePrefix* wine_ = nullptr;
    TempDir dir_;
};

const std::string kText = "Grüße Ωmega";

// Each value with the line `reg export` prints for it.
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

TEST_F(HiveInteropTest, StoreRefusesWhileTheServerRunsAndOpensOnceItStopped) {
    // A persistent server stays until told to go, as one serving a long-running program would;
    // TearDown stops it should the test fail half-way.
    ASSERT_EQ(wine("wineserver -p"), 0) << wine_->log();
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
        EXPECT_TRUE(contains(std::string(error.what()), std::to_string(server->pid)))
            << error.what();
    }

    wine_->stopServer();
    EXPECT_FALSE(findRunningWineserver(prefix()));
    EXPECT_NO_THROW(HiveStore store(prefix()));
}

}  // namespace
