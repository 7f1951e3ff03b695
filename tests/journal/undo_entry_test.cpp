// Undo entries as files: what is written is read back exactly, whatever the names and data hold,
// and a file that is not such an entry says why.
#include "journal/undo_entry.h"

#include <gtest/gtest.h>

#include "platform/registry_api.h"
#include "tests/support/contains.h"

namespace quorvane::journal {
namespace {

using namespace std::string_literals;
using testing::contains;

TEST(UndoEntry, ReadsBackWhatItWroteAndSaysWhyAFileIsNoEntry) {
    const auto value = [](std::string name, PlaceState before, std::optional<PlaceState> after) {
        return Record{
            Record::Kind::Value, registry::kHiveCurrentUser, "Software\\Policies\\Odd %41 name",
            std::move(name),     std::move(before),          std::move(after)};
    };
    const UndoEntry written{
        "2026-12-07 03:05:01 UTC",
        "impose NoBrowserClose\nand more",
        "/home/user/100% prefix",
        {{Record::Kind::Key,
          registry::kHiveLocalMachine,
          "Software\\Policies",
          "",
          {},
          PlaceState{true, 0, {}}},
         value("", {}, PlaceState{true, platform::kRegSz, "default\0"s}),
         value("line\r\nbreak %", {true, platform::kRegSz, "two\r\nlines\0"s}, PlaceState{}),
         value("Grüße", {true, platform::kRegMultiSz, "a\0b\0\0"s}, std::nullopt),
         value("Blob", {true, platform::kRegBinary, "\0\xff"s},
               PlaceState{true, platform::kRegDword, "\1\0\0\0"s})},
        {{FileRecord::Kind::Content, "/p/GroupPolicy/User/Registry.pol", "", "PReg\1\0\0\0[\0\xff"s,
          "PReg\1\0\0\0"s, true},
         {FileRecord::Kind::Content, "/p/100% gpt.ini\n", "", std::nullopt, ""s, true},
         {FileRecord::Kind::Content, "/p/Tasks/Relock", "", "x"s, std::nullopt, false},
         {FileRecord::Kind::Moved, "/p/Startup/lock.lnk", "/s/moved/1/lock.lnk", {}, {}, true}}};
    const auto read = readUndoEntry(writeUndoEntry(written));
    ASSERT_TRUE(std::holds_alternative<UndoEntry>(read)) << std::get<UnreadableEntry>(read).reason;
    const UndoEntry& entry = std::get<UndoEntry>(read);
    EXPECT_EQ(entry.time, written.time);
    EXPECT_EQ(entry.action, written.action);
    EXPECT_EQ(entry.registry, written.registry);
    EXPECT_EQ(entry.records, written.records);
    EXPECT_EQ(entry.files, written.files);

    // A file that is no such entry says why: cut short, of another format, with a record of an
    // unknown kind.
    UndoEntry recordsOnly = written;
    recordsOnly.files.clear();
    const std::string bytes = writeUndoEntry(recordsOnly);
    const auto reason = [](const std::string& bytes) {
        const auto read = readUndoEntry(bytes);
        return std::holds_alternative<UnreadableEntry>(read)
                   ? std::get<UnreadableEntry>(read).reason
                   : std::string("read");
    };
    EXPECT_EQ(reason(bytes), "read");
    EXPECT_TRUE(contains(reason(bytes.substr(0, bytes.rfind("a\0f\0t\0e\0r\0"s) + 6)),
                         "no state after the change"));
    EXPECT_EQ(reason("plain text"), "it is no undo entry of this version of Quorvane");
    std::string unknown = bytes;
    const std::string kind = "\x76\0\x61\0\x6c\0\x75\0\x65\0"s;  // "value" in UTF-16LE
    unknown.replace(unknown.find(kind), kind.size(), "\x66\0\x69\0\x6c\0\x65\0\x73\0"s);
    EXPECT_TRUE(contains(reason(unknown),
                         "a record of a kind this version of Quorvane does not know (files)"));
}

}  // namespace
}  // namespace quorvane::journal
