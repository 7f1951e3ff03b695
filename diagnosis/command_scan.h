// What a command line or a script does to the restrictions: the values it writes, the registry
// and policy files it imports, the scripts it runs. A command sets restriction N only when it
// writes a value named exactly as N's value with data that puts N in force (a number above 0, or
// for the window title a text); deleting, querying or writing 0 sets nothing, and a name inside a
// path is no command.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "restrictions/catalogue.h"

namespace quorvane::diagnosis {

// A file a command hands to something that reads it.
struct NamedFile {
    enum class Kind {
        Registry,  // imported by the registry editor or `reg import`: its values count
        Policy,    // a Registry.pol: its records count
        Script,    // run: its commands count
    };
    Kind kind = Kind::Script;
    std::string path;  // as written
};

struct CommandFindings {
    // Writes the registry in a way that cannot be read from the command alone (regini, reg
    // copy, a value name held in a variable): it may set any restriction.
    bool mayChangeAny = false;
    std::vector<int> restrictions;  // those it puts in force, in order of number
    std::vector<NamedFile> files;
    std::vector<std::string> writes;  // the statements that set or may set a restriction

    bool setsSomething() const { return mayChangeAny || !restrictions.empty(); }
};

// `text`: one command line, or the whole text of a script (one statement or more a line).
CommandFindings examineCommand(std::string_view text);

// Whether storing data of registry type `type` (`data` as the narrow registry functions give it)
// puts `restriction` in force.
bool storesInForce(const restrictions::Restriction& restriction, std::uint32_t type,
                   std::string_view data);

// Adds `more` to `numbers`, keeping them sorted and unique.
void addRestrictions(std::vector<int>& numbers, const std::vector<int>& more);

}  // namespace quorvane::diagnosis
