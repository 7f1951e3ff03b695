// Undo: the newest entry of the undo journal put back into its registry. An undo is an action of
// its own, with an entry of its own, so that undoing it again redoes what was undone.
#pragma once

#include <string>

#include "journal/undo_journal.h"
#include "platform/registry_api.h"
#include "restrictions/outcome.h"
#include "toolkit/message_box.h"

namespace quorvane::journal {

inline constexpr const char* kUndoTitle = "Undo Last Change";

struct UndoResult {
    enum class Kind { Undone, NothingToUndo, Unusable };
    Kind kind = Kind::NothingToUndo;
    EntrySummary entry;             // the entry undone
    restrictions::Outcome outcome;  // for each key and value: restored, or why not
    std::string failure;            // Unusable: why the entry cannot be undone

    bool allDone() const { return kind != Kind::Unusable && outcome.allDone(); }
};

// Puts back the state that the registry's newest entry kept: values with their types, deleted
// keys with everything they held; keys the action made are deleted again. What it restored is
// read back; only what the registry holds afterwards counts as done.
UndoResult undoLast(platform::RegistryApi& registry, UndoJournal& journal);

// Shows what the undo did: the success text only when everything was restored.
void tellUndo(const UndoResult& result, toolkit::MessageBox& messages);

}  // namespace quorvane::journal
