// What only the hive store can show: how often an operation reaches the files, and when.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "platform/hive_io.h"
#include "tests/restrictions/restriction_rig.h"
#include "tests/support/contains.h"
#include "tests/support/registry_target.h"

namespace quorvane::testing {
namespace {

using platform::kCurrentUser;
using platform::kLocalMachine;

struct Scene : StoreScene {
    // Of user.reg and system.reg: a store replaces the file, so a new inode is a new store.
    std::pair<ino_t, ino_t> inodes() const {
        struct stat user {};
        struct stat machine {};
        EXPECT_EQ(::stat(hive("user.reg").c_str(), &user), 0);
        EXPECT_EQ(::stat(hive("system.reg").c_str(), &machine), 0);
        return {user.st_ino, machine.st_ino};
    }

    Rig rig{store};
};

TEST(EachOperation, StoresEachHiveOnceAndBeforeItSpeaks) {
    const auto titles = [](Scene& s) { putInBoth(s.store, kMainKey, "Window Title", sz("Kiosk")); };
    const struct {
        const char* what;
        std::function<void(Scene&)> seed;
        std::function<void(Scene&)> run;
        bool speaks;
        bool nested = false;  // the switch goes on after the nested operation has stored
    } cases[] = {
        {"switch", [](Scene&) {}, [](Scene& s) { s.rig.boxes.assign(4, toolkit::kChecked); },
         false},
        {"detection",
         [](Scene& s) { put(s.store, kCurrentUser, kRestrictionsKey, "NoPrinting", dword(2)); },
         [](Scene& s) { s.rig.manager.RefreshRestrictionStates(); }, false},
        {"remove-all", titles, [](Scene& s) { s.rig.manager.RemoveAllRestrictions(); }, true},
        {"page reset", [](Scene&) {}, [](Scene& s) { s.rig.manager.ResetHomeSearchPages(); }, true},
        // A quick menu command lands in another operation's event pump; the switch reads its box
        // only after the pump has run: remove-all has unchecked it, so nothing more is stored.
        {"remove-all inside a switch", titles,
         [](Scene& s) {
             s.rig.events.post([&s] { s.rig.manager.RemoveAllRestrictions(); });
             s.rig.boxes.assign(4, toolkit::kChecked);
         },
         true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Scene scene;
        c.seed(scene);
        const auto before = scene.inodes();
        std::set<std::pair<ino_t, ino_t>> whileWorking;
        scene.rig.recorder.afterEach = [&] { whileWorking.insert(scene.inodes()); };
        std::optional<std::pair<ino_t, ino_t>> whileShown;
        scene.rig.messages.whileShown = [&] { whileShown = scene.inodes(); };

        c.run(scene);

        const auto after = scene.inodes();
        EXPECT_EQ(whileWorking, (c.nested ? std::set{before, after} : std::set{before}));
        EXPECT_NE(after.first, before.first);
        EXPECT_NE(after.second, before.second);
        // Whatever the user reads in the message is already in the files.
        EXPECT_EQ(whileShown, c.speaks ? std::optional(after) : std::nullopt);
    }
}

// The machine hive's file cannot be replaced: the warning names the changes there that were
// needed, and none that found the registry as wanted already.
TEST(MachineHiveNotStored, ListsOnlyTheChangesThatWereNeeded) {
    const struct {
        const char* what;
        std::function<void(Scene&)> run;
        std::vector<std::string> listed;  // none: no warning at all
        std::vector<std::string> notListed;
    } cases[] = {
        {"remove-all",
         [](Scene& s) { s.rig.manager.RemoveAllRestrictions(); },
         {"delete DisableRegistryTools",
          "delete key Software\\Policies\\Microsoft\\Internet Explorer\\Restrictions"},
         {"delete Window Title", "lift"}},
        {"page reset",
         [](Scene& s) { s.rig.manager.ResetHomeSearchPages(); },
         {"set Start Page"},
         {"set Search Page"}},
        {"imposing where the machine holds it already",
         [](Scene& s) { s.rig.boxes.assign(4, toolkit::kChecked); },
         {},
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Scene scene;
        putInBoth(scene.store, kSystemKey, "DisableRegistryTools", dword(1));
        putInBoth(scene.store, kMainKey, "Search Page",
                  sz("http://www.microsoft.com/isapi/redir.dll?prd=ie&ar=iesearch"));
        scene.rig.manager.RefreshRestrictionStates();
        put(scene.store, kLocalMachine, kRestrictionsKey, "NoBrowserClose", dword(1));
        formats::setFaultHook([](formats::WriteStep step, const std::string& file) {
            return step == formats::WriteStep::Rename && file == "system.reg" ? EIO : 0;
        });

        c.run(scene);

        formats::setFaultHook(nullptr);
        ASSERT_EQ(scene.rig.messages.shown.size(), c.listed.empty() ? 0u : 1u);
        const std::string text = c.listed.empty() ? "" : scene.rig.messages.shown.front().text;
        for (const std::string& line : c.listed) {
            EXPECT_TRUE(contains(text, "\r\n  " + line + "\r\n")) << line << " in\n" << text;
        }
        for (const std::string& line : c.notListed) {
            EXPECT_FALSE(contains(text, "\r\n  " + line)) << line << " in\n" << text;
        }
        EXPECT_FALSE(contains(text, "Not done in HKEY_CURRENT_USER")) << text;
    }
}

}  // namespace
}  // namespace quorvane::testing
