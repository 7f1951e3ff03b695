// Stopping what sets a restriction again, below the command line: a file that changes between
// the plan and the write is not touched, undo leaves alone a file that changed after fix, root
// keeps each file's owner, and the task and gpt.ini edits keep every other byte.
#include "diagnosis/fix.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "formats/file_access.h"
#include "journal/undo.h"
#include "tests/diagnosis/prefix_rig.h"
#include "tests/support/contains.h"

namespace quorvane::diagnosis {
namespace {

namespace fs = std::filesystem;
using testing::readFile;

class FixRace : public testrig::PrefixDiagnosis {
protected:
    FixRace() {
        testrig::place(
            policy(),
            writePolicyFile({{testrig::kRestrictions, u"NoPrinting", 4, std::string("\1\0\0\0", 4)},
                             {u"Software\\Other", u"Keep", 4, std::string("\2\0\0\0", 4)}}));
    }

    fs::path policy() const { return system32() / "GroupPolicy" / "User" / "Registry.pol"; }
    fs::path gptIni() const { return policy().parent_path().parent_path() / "gpt.ini"; }

    // Plans fix, runs `between`, then carries the plan out in one undo entry.
    restrictions::Outcome fix(const std::function<void()>& between = [] {}) {
        registry::General2 general(store_, messages_);
        const FixPlan plan = planFix(store_, general, places(), {});
        between();
        const restrictions::JournalEntry entry(&journal_, "fix");
        return applyFix(plan, store_, journal_, places());
    }

    platform::HiveStore store_{prefix()};
    journal::UndoJournal journal_{store_, {dir_.path() / "undo", "test"}};
};

// A file changed since the plan is not touched, nor a Run value whose command changed (it runs
// something else now). Registry.pol and the gpt.ini whose version fix raises change together or
// not at all: records taken out without the raised version might never be read again, and a next
// fix would find nothing left to raise. A change to either since the plan, or a failed write of
// either, leaves both as they were, and the undo entry names neither.
TEST_F(FixRace, AChangeSinceThePlanOrAFailedWriteOfEitherFileLeavesBothAlone) {
    static const char* failing = nullptr;  // the hook is a plain function
    formats::setFaultHook([](formats::WriteStep step, const std::string& name) {
        return step == formats::WriteStep::Rename && failing != nullptr && name == failing ? ENOSPC
                                                                                           : 0;
    });
    const std::string run = testrig::kRunKey;
    const std::string policyBefore = readFile(policy());
    const std::string gptBefore = "[General]\r\nVersion=65536\r\n";
    for (const char* name : {"Registry.pol", "gpt.ini"}) {
        const fs::path file = name == std::string("gpt.ini") ? gptIni() : policy();
        for (const bool fails : {false, true}) {
            SCOPED_TRACE(std::string(name) + (fails ? " cannot be written" : " changed meanwhile"));
            testing::writeFile(policy(), policyBefore);
            testing::writeFile(gptIni(), gptBefore);
            testing::put(store_, platform::kCurrentUser, run, "Lock",
                         testing::sz(testing::relock("NoBrowserClose")));
            const std::string changed = readFile(file) + "\r\n";
            failing = fails ? name : nullptr;
            const restrictions::Outcome outcome = fix([&] {
                if (!fails) {
                    testing::writeFile(file, changed);
                    testing::put(store_, platform::kCurrentUser, run, "Lock",
                                 testing::sz("tool.exe"));
                }
            });
            const std::string refusals = restrictions::describeRefusals(outcome);
            EXPECT_TRUE(
                testing::contains(refusals, fails ? "disk full" : "Registry.pol changed since"))
                << refusals;
            EXPECT_EQ(testing::contains(refusals, "delete Lock in"), !fails) << refusals;
            EXPECT_EQ(readFile(policy()), !fails && file == policy() ? changed : policyBefore);
            EXPECT_EQ(readFile(gptIni()), !fails && file == gptIni() ? changed : gptBefore);
            // The entry keeps the Run value fix deleted, not the files it could not write: its
            // undo puts the value back, whole.
            if (fails) {
                EXPECT_EQ(testing::stored(store_, platform::kCurrentUser, run, "Lock"),
                          std::nullopt);
                const std::optional<journal::UndoEntry> entry =
                    journal_.list(1).entries.at(0).entry;
                ASSERT_TRUE(entry);
                EXPECT_EQ(entry->records.size(), 1u);
                EXPECT_TRUE(entry->files.empty());
                EXPECT_TRUE(journal::undoLast(store_, journal_).allDone());
            }
            EXPECT_EQ(testing::stored(store_, platform::kCurrentUser, run, "Lock"),
                      testing::sz(fails ? testing::relock("NoBrowserClose") : "tool.exe"));
        }
    }
    formats::setFaultHook(nullptr);
}

// The machine and user halves of one policy object share one gpt.ini: both versions go up. A
// user's own local policy file (GroupPolicyUsers\<SID>) is changed as the local one is; only the
// caches of a domain's policy are left. Undo leaves a file that changed after fix.
TEST_F(FixRace, BothHalvesRaiseTheirVersionsAndEachUsersOwnFileIsChanged) {
    const fs::path machine = gptIni().parent_path() / "Machine" / "Registry.pol";
    const fs::path users = gptIni().parent_path().parent_path() / "GroupPolicyUsers" /
                           "S-1-5-21-1" / "User" / "Registry.pol";
    for (const fs::path& copy : {machine, users}) {
        fs::create_directories(copy.parent_path());
        fs::copy_file(policy(), copy);
    }
    testing::writeFile(gptIni(), "[General]\r\nVersion=65536\r\n");
    const restrictions::Outcome outcome = fix();
    EXPECT_TRUE(outcome.allDone()) << restrictions::describeRefusals(outcome);
    EXPECT_EQ(readFile(gptIni()),
              "[General]\r\nVersion=131073\r\n");  // user 1 to 2, machine 0 to 1
    for (const fs::path& changed : {machine, users, policy()}) {
        const PolicyFile left = readPolicyFile(readFile(changed));
        ASSERT_EQ(left.records.size(), 1u) << changed;
        EXPECT_EQ(left.records[0].value, u"Keep");
    }
    const std::string later = readFile(policy()) + "[";
    testing::writeFile(policy(), later);
    const journal::UndoResult undone = journal::undoLast(store_, journal_);
    EXPECT_FALSE(undone.allDone());
    EXPECT_TRUE(
        testing::contains(restrictions::describeRefusals(undone.outcome), journal::kChangedSince));
    EXPECT_EQ(readFile(policy()), later);
}

TEST_F(FixRace, RootKeepsTheOwnerAndRefusesWhatTheOwnerCouldNotChange) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root";
    }
    constexpr uid_t kUser = 4321;
    const fs::path folder = policy().parent_path();
    ASSERT_EQ(::chown(policy().c_str(), kUser, kUser), 0);
    ASSERT_EQ(::chown(folder.c_str(), kUser, kUser), 0);
    ASSERT_EQ(::chmod(policy().c_str(), 02640), 0);
    ASSERT_TRUE(fix().allDone());
    struct stat info {};
    ASSERT_EQ(::stat(policy().c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, kUser);
    EXPECT_EQ(info.st_mode & 07777, 02640u);
    ASSERT_TRUE(journal::undoLast(store_, journal_).allDone());

    // A folder its owner may not write: root does not write it either.
    ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
    const std::string before = readFile(policy());
    EXPECT_FALSE(fix().allDone());
    EXPECT_EQ(readFile(policy()), before);
}

const std::string kLe = testing::utf16WithBom("x").substr(0, 2);
std::string le(const std::string& ascii) {
    return testing::utf16WithBom(ascii).substr(2);
}

// The edits fix makes: a task's Enabled set to false in its Settings only, in the file's own
// encoding; gpt.ini's version raised in the half that changed. Nothing else changes. (A task in
// UTF-16 whose Settings hold Enabled true: tests/cli/cli_test.cpp, through fix and undo.)
TEST(FixEdits, ChangeTheOneFieldAndNothingElse) {
    enum Edit { Task, UserVersion, MachineVersion };
    const struct {
        const char* what;
        Edit edit;
        std::string before;
        std::optional<std::string> after;  // none: refused
    } cases[] = {
        {"task in UTF-16 without Enabled", Task, kLe + le("<Task><Settings>\r\n</Settings></Task>"),
         kLe + le("<Task><Settings><Enabled>false</Enabled>\r\n</Settings></Task>")},
        {"task in UTF-16 without its mark", Task, le("<Task><Settings></Settings></Task>"),
         le("<Task><Settings><Enabled>false</Enabled></Settings></Task>")},
        {"task in UTF-8", Task, "\xEF\xBB\xBF<Task><Settings><Enabled>true</Enabled></Settings>",
         "\xEF\xBB\xBF<Task><Settings><Enabled>false</Enabled></Settings>"},
        {"Enabled only after Settings", Task,
         "<Task><Settings></Settings><Triggers><Enabled>true</Enabled></Triggers>",
         "<Task><Settings><Enabled>false</Enabled></Settings><Triggers><Enabled>true"
         "</Enabled></Triggers>"},
        {"task without Settings", Task, kLe + le("<Task></Task>"), std::nullopt},
        {"machine half", MachineVersion, "[General]\r\nversion=65537\r\n",
         "[General]\r\nversion=65538\r\n"},
        {"user half wraps", UserVersion, "Version=4294901760", "Version=0"},
        // 196607 = 2 << 16 | 0xFFFF: the machine half wraps, the user half stays.
        {"machine half wraps", MachineVersion, "[General]\nVersion=196607\n",
         "[General]\nVersion=131072\n"},
        {"no version", MachineVersion, "[General]\r\n", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.edit == Task ? disabledTask(c.before)
                                 : raisedVersion(c.before, c.edit == MachineVersion),
                  c.after)
            << c.what;
    }
}

}  // namespace
}  // namespace quorvane::diagnosis
