// Root working on a Wine prefix that belongs to another user (nobody), while a program of that
// user watches the prefix with inotify and changes it under the command: folders and the prefix
// itself swapped for links into a folder only root may enter, a FIFO taking a file's name right
// after Quorvane renamed it, a file written by another program between Quorvane's check and its
// write, a hive linked to the user's own file inside root's folder. For each command, round after
// round with the attacks in turn: no file outside the prefix changes, nothing of root's own is
// printed, the command ends within two seconds, what the other program wrote stays, and every
// file in the user's folder is the user's (one that undo puts back included).
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "diagnosis/policy_file.h"
#include "tests/cli/cli_scene.h"
#include "tests/support/contains.h"
#include "tests/support/temp_dir.h"

namespace quorvane::testing {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;
constexpr const char* kRootOnly = "ROOTONLY";
const fs::path kSystem = fs::path("drive_c") / "windows" / "system32";
const fs::path kStartup = fs::path("drive_c") / "users" / "nobody" / "AppData" / "Roaming" /
                          "Microsoft" / "Windows" / "Start Menu" / "Programs" / "Startup";
// The folders the attacker watches and swaps, below the prefix.
const fs::path kFolders[] = {kSystem / "GroupPolicy" / "User", kSystem / "GroupPolicy" / "Machine",
                             kSystem / "Tasks", kStartup};

std::string policy(const std::string& marker) {
    return diagnosis::writePolicyFile(
        {{u"Software\\Policies\\Microsoft\\Internet Explorer\\Restrictions", u"NoPrinting", 4,
          std::string("\1\0\0\0", 4)},
         {u"Software\\Other", std::u16string(marker.begin(), marker.end()), 4,
          std::string("\2\0\0\0", 4)}});
}

std::string task(const std::string& marker) {
    return "<?xml version=\"1.0\"?>\r\n<Task><!--" + marker +
           "--><Settings><Enabled>true</Enabled></Settings><Actions><Exec><Command>reg</Command>"
           "<Arguments>add HKCU\\Software\\Policies /v NoPrinting /d 1 /f</Arguments></Exec>"
           "</Actions></Task>\r\n";
}

// What the user's program sees and does: it runs as that user, and on the `trigger`-th event in
// the watched folders (a file read, made, renamed into place) it does its part once.
struct Attack {
    const char* what;
    std::function<void(const fs::path& base, const std::string& name, const fs::path& folder)> act;
    // Only events that satisfy this count; none: every one.
    std::function<bool(const std::string& name, std::uint32_t mask)> counts;
    // The command it is no attack on: export replaces its file whatever that holds.
    const char* notFor = "";
};

// The files whose change a command makes from what it read: another program's version of them
// must never be overwritten.
bool changedFromWhatWasRead(const std::string& name) {
    return name == "Registry.pol" || name == "gpt.ini" || name == "Relock" || name == "user.reg" ||
           name == "system.reg";
}

constexpr const char* kHiveHeader = "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\n\n";

void swapForLink(const fs::path& path, const fs::path& target) {
    std::error_code ignored;
    fs::rename(path, path.string() + ".away", ignored);
    fs::create_directory_symlink(target, path, ignored);
}

const Attack kAttacks[] = {
    {"folders become links into root's folder",
     [](const fs::path& base, const std::string&, const fs::path&) {
         for (const fs::path& folder : kFolders) {
             swapForLink(base / "home" / "prefix" / folder, base / "secret");
         }
         swapForLink(base / "home" / "out", base / "secret");
     },
     nullptr},
    {"the prefix becomes a link to root's prefix",
     [](const fs::path& base, const std::string&, const fs::path&) {
         swapForLink(base / "home" / "prefix", base / "secret" / "prefix");
     },
     nullptr},
    {"a fifo takes a name right after it was renamed into place",
     [](const fs::path&, const std::string& name, const fs::path& folder) {
         std::error_code ignored;
         fs::remove(folder / name, ignored);
         ::mkfifo((folder / name).c_str(), 0644);
     },
     [](const std::string& name, std::uint32_t mask) {
         return (mask & IN_MOVED_TO) != 0 && !name.starts_with(".");
     }},
    {"another program writes a file between check and write",
     [](const fs::path& base, const std::string& name, const fs::path& folder) {
         // A writer's new file is named after its target: ".Registry.pol.quorvane-...".
         const std::string target =
             name.starts_with(".") ? name.substr(1, name.find(".quorvane-") - 1) : name;
         const std::string marker = "Marker" + std::to_string(::getpid());
         const std::string bytes = target == "Registry.pol" ? policy(marker)
                                   : target == "gpt.ini"    ? "[General]\r\nVersion=7\r\n;" + marker
                                   : target == "Relock"     ? task(marker)
                                                            : readFile(folder / target) +
                                                              "\n[Software\\\\" + marker + "] 1\n";
         writeFile(folder / target, bytes);
         // Named only once whole: the attacker may be stopped at any moment.
         writeFile(base / "home" / ".written", (folder / target).string() + "\n" + marker);
         fs::rename(base / "home" / ".written", base / "home" / "written");
     },
     [](const std::string& name, std::uint32_t mask) {
         const std::size_t mark = name.find(".quorvane-");
         return (changedFromWhatWasRead(name) && (mask & IN_CLOSE_NOWRITE) != 0) ||
                (mark != std::string::npos && (mask & IN_CREATE) != 0 &&
                 changedFromWhatWasRead(name.substr(1, mark - 1)));
     },
     "export"},
    {"a hive becomes a link to the user's own file in root's folder",
     [](const fs::path& base, const std::string&, const fs::path&) {
         std::error_code ignored;
         fs::remove(base / "home" / "prefix" / "user.reg", ignored);
         fs::create_symlink(base / "secret" / (std::string(kRootOnly) + "-user.reg"),
                            base / "home" / "prefix" / "user.reg", ignored);
     },
     nullptr},
};

class RootAttack : public ::testing::TestWithParam<std::string> {
protected:
    fs::path base() const { return dir_.path(); }
    fs::path prefix() const { return base() / "home" / "prefix"; }

    // A prefix of nobody's with a policy file and its gpt.ini, a task and a startup item that
    // fix stops; beside it root's closed folder, holding files of the same names and a prefix.
    void prepare() {
        std::error_code ignored;
        for (const char* name : {"home", "state"}) {
            fs::remove_all(base() / name, ignored);
        }
        fs::create_directories(base() / "home" / "out");
        const auto fill = [](const fs::path& prefix, const std::string& marker) {
            for (const fs::path& folder : kFolders) {
                fs::create_directories(prefix / folder);
            }
            writeFile(prefix / kSystem / "GroupPolicy" / "User" / "Registry.pol", policy(marker));
            writeFile(prefix / kSystem / "GroupPolicy" / "gpt.ini", "[General]\r\nVersion=0\r\n");
            writeFile(prefix / kSystem / "Tasks" / "Relock", task(marker));
            writeFile(prefix / kStartup / (marker + ".bat"),
                      "reg add HKCU\\Software\\Policies /v NoPrinting /d 1 /f\r\n");
        };
        fill(prefix(), "Mine");
        writeFile(prefix() / "user.reg", kHiveHeader);
        writeFile(prefix() / "system.reg", kHiveHeader);
        ASSERT_EQ(std::system(("chown -R nobody: " + (base() / "home").string()).c_str()), 0);
        if (!fs::exists(base() / "secret")) {
            const fs::path secret = base() / "secret";
            fs::create_directories(secret);
            fill(secret / "prefix", kRootOnly);
            for (const char* name : {"Registry.pol", "gpt.ini", "Relock", "ROOTONLY.bat"}) {
                fs::copy_file(secret / "prefix" / kSystem / "GroupPolicy" / "User" / "Registry.pol",
                              secret / name);
            }
            writeFile(secret / (std::string(kRootOnly) + "-user.reg"),
                      "WINE REGISTRY Version 2\n;; ROOTONLY\n");
            ASSERT_EQ(::chown((secret / (std::string(kRootOnly) + "-user.reg")).c_str(), kNobody,
                              kNobody),
                      0);
            fs::permissions(secret, fs::perms::owner_all);
            secret_ = snapshot(secret);
        }
    }

    // The command as root, killed after two seconds if it still runs (status 137).
    CliOutcome run(const std::string& arguments) const {
        return runCommandLine(
            cliCommand(base(), "--registry " + prefix().string() + " " + arguments,
                       "timeout -s KILL 2 env"),
            base());
    }

    // The user's program, started before the command and stopped after it.
    pid_t startAttacker(const Attack& attack, int trigger) const {
        int ready[2];
        EXPECT_EQ(::pipe(ready), 0);
        const pid_t child = ::fork();
        if (child != 0) {
            ::close(ready[1]);
            char byte = 0;
            EXPECT_EQ(::read(ready[0], &byte, 1), 1);
            ::close(ready[0]);
            return child;
        }
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
            ::_exit(1);
        }
        const int events = ::inotify_init1(IN_CLOEXEC);
        std::map<int, fs::path> watched;
        for (const fs::path& folder : {fs::path(), kSystem / "GroupPolicy", kFolders[0],
                                       kFolders[1], kFolders[2], kFolders[3]}) {
            const fs::path path = prefix() / folder;
            watched[::inotify_add_watch(events, path.c_str(),
                                        IN_CLOSE_NOWRITE | IN_CREATE | IN_MOVED_TO)] = path;
        }
        watched[::inotify_add_watch(events, (base() / "home" / "out").c_str(),
                                    IN_CREATE | IN_MOVED_TO)] = base() / "home" / "out";
        if (::write(ready[1], "x", 1) != 1) {
            ::_exit(1);
        }
        alignas(inotify_event) char buffer[8192];
        for (int seen = 0;;) {
            const ssize_t got = ::read(events, buffer, sizeof buffer);
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                const std::string name = event->len > 0 ? event->name : "";
                if (!attack.counts || attack.counts(name, event->mask)) {
                    if (++seen == trigger) {
                        attack.act(base(), name, watched[event->wd]);
                        ::_exit(0);
                    }
                }
            }
        }
    }

    TempDir dir_;
    std::map<fs::path, std::string> secret_;
};

TEST_P(RootAttack, LeadsRootNowhereElseAndHangsNothing) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root: the prefix must belong to another user";
    }
    const char* rounds = std::getenv("QUORVANE_ATTACK_ROUNDS");
    const int total = rounds != nullptr ? std::atoi(rounds) : 200;
    // The command's name, before its arguments.
    const std::string command = GetParam().substr(0, GetParam().find(' '));
    std::vector<const Attack*> attacks;
    for (const Attack& attack : kAttacks) {
        if (command != attack.notFor) {
            attacks.push_back(&attack);
        }
    }
    std::vector<int> acted(attacks.size());
    for (int round = 0; round < total; ++round) {
        const Attack& attack = *attacks[round % attacks.size()];
        SCOPED_TRACE(std::string(attack.what) + ", round " + std::to_string(round));
        prepare();
        if (command == "undo") {  // of a fix made first, without an attack
            const CliOutcome fixed = run("fix");
            ASSERT_EQ(fixed.status, 0) << fixed.out << fixed.err;
        }
        // The attack comes after the first to the eighth event it counts, round by round.
        const pid_t attacker = startAttacker(attack, 1 + (round / attacks.size()) % 8);
        const CliOutcome done = run(GetParam());
        ::kill(attacker, SIGKILL);
        int status = 0;
        ::waitpid(attacker, &status, 0);
        acted[round % attacks.size()] += WIFEXITED(status) && WEXITSTATUS(status) == 0;
        EXPECT_NE(done.status, 137) << "still running after two seconds";
        EXPECT_FALSE(contains(done.out + done.err, kRootOnly)) << done.out << done.err;
        EXPECT_EQ(snapshot(base() / "secret"), secret_) << "a file of root's was changed";
        for (const auto& [file, what] : snapshot(base() / "home")) {
            EXPECT_EQ(what.substr(what.find(' ') + 1, 6), "65534 ") << file << " is not nobody's";
        }
        if (fs::exists(base() / "home" / "written")) {
            const std::string written = readFile(base() / "home" / "written");
            const fs::path file = written.substr(0, written.find('\n'));
            const std::string marker = written.substr(written.find('\n') + 1);
            std::string wide;  // as a policy file holds it
            for (const char c : marker) {
                wide.append({c, '\0'});
            }
            const std::string now = readFile(file);
            EXPECT_TRUE(contains(now, marker) || contains(now, wide))
                << file << ": another program's change was overwritten";
        }
        if (HasFailure()) {
            return;
        }
    }
    for (std::size_t attack = 0; attack < attacks.size() && total >= 40; ++attack) {
        EXPECT_GT(acted[attack], 0) << attacks[attack]->what << ": the attack never came";
    }
}

INSTANTIATE_TEST_SUITE_P(Commands, RootAttack,
                         ::testing::Values("fix", "undo", "export home/out/state.reg",
                                           "impose NoBrowserClose"),
                         [](const auto& info) {
                             return info.param.substr(0, info.param.find(' '));
                         });

}  // namespace
}  // namespace quorvane::testing
