// One undo entry as a file: what an action found and what it left, for each key and value it
// touched, so that undo can put back only what is still as the action left it.
//
// The file is UTF-16LE text after a byte-order mark (as the registry editor's files), CRLF line
// ends. The first line names the format, then come header fields, an empty line, and records
// separated by empty lines. A record's first line is its kind and its place; the lines below it
// are its fields:
//
//   Quorvane undo entry 2
//   Time: 2026-12-07 03:05:01 UTC
//   Action: impose NoBrowserClose
//   Registry: /home/user/.wine
//
//   key HKEY_CURRENT_USER\Software\Policies
//   before -
//   after +
//
//   value HKEY_CURRENT_USER\Software\Policies\Microsoft\Internet Explorer\Restrictions
//   name NoBrowserClose
//   before -
//   after dword:00000001
//
// A key's state is "+" (there) or "-" (missing); a value's is its data as a registry file writes
// it after '=' ("-" when missing). The entry is written before the action changes anything, with
// what each value will hold afterwards where the change says so, and "after ?" elsewhere; when the
// action ends it is written again if the registry holds anything else. So "after ?" means that the
// action did not end. Places and names escape '%' and control characters as %XX. A reader refuses
// kinds of records it does not know, so that a later kind is never half-undone by a version that
// cannot put it back.
//
// Files that `fix` changes follow the registry's records: a file's whole content before and
// after as hex digits ("-" when there is no file), and an item moved out of the way with the
// place it went to:
//
//   file /home/user/.wine/drive_c/windows/system32/GroupPolicy/User/Registry.pol
//   before 50526567010000005b00...
//   after 5052656701000000
//
//   moved /home/user/.wine/drive_c/users/user/.../Startup/lock.bat
//   to /home/user/.local/state/Quorvane/undo/moved/20261207-030501-000000-000/lock.bat
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "registry/general2.h"

namespace quorvane::journal {

// The state of a key (only `present` counts) or of a value, its data as the narrow registry
// functions give it.
struct PlaceState {
    bool present = false;
    std::uint32_t type = 0;
    std::string data;

    bool operator==(const PlaceState&) const = default;
};

struct Record {
    enum class Kind { Key, Value };
    Kind kind = Kind::Value;
    registry::Hive hive = registry::kNoHive;
    std::string subKey;
    std::string valueName;  // a value's name; empty for the default value and for keys
    PlaceState before;
    std::optional<PlaceState> after;  // none while the action has not ended

    bool operator==(const Record&) const = default;
};

// A file an action rewrote (Content) or moved aside (Moved). Paths in the narrow encoding of the
// file system.
struct FileRecord {
    enum class Kind { Content, Moved };
    Kind kind = Kind::Content;
    std::string path;                   // the file; for a moved item, where it was
    std::string to;                     // a moved item: where it went
    std::optional<std::string> before;  // Content: the bytes before; none: no file
    std::optional<std::string> after;   // Content: the bytes the action left; none: no file
    bool ended = true;                  // Content: false ("after ?") while the action runs

    bool operator==(const FileRecord&) const = default;
};

struct UndoEntry {
    std::string time;  // "2026-12-07 03:05:01 UTC"
    std::string action;
    std::string registry;  // the registry the entry belongs to
    std::vector<Record> records;
    std::vector<FileRecord> files;
};

std::string writeUndoEntry(const UndoEntry& entry);

// Why a file is not an entry this version can undo, for people.
struct UnreadableEntry {
    std::string reason;
    bool earlierFormat = false;          // written by a version that kept only the state before
    std::string time, action, registry;  // what an entry of the earlier format says of itself
};

std::variant<UndoEntry, UnreadableEntry> readUndoEntry(std::string_view bytes);

}  // namespace quorvane::journal
