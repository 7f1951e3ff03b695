// Undo: the newest entry of the undo journal put back into its registry, as a three-way merge.
// Each key and value goes back to what the action found only where the registry still holds
// what the action left; what changed since is left as it is and reported. A key the action made
// is deleted only when it holds nothing else. Only the places Quorvane's own actions change are
// touched: an entry that names anything else is refused as a whole. An undo is an action of its
// own, with an entry of its own, so that undoing it again redoes what was undone.
#pragma once

#include <string>

#include "journal/undo_journal.h"
#include "platform/registry_api.h"
#include "restrictions/outcome.h"
#include "toolkit/message_box.h"

namespace quorvane::journal {

inline constexpr const char* kUndoTitle = "Undo Last Change";
inline constexpr const char* kChangedSince = "changed since; left as it is";
// The status of a place undo left alone because it changed since (ERROR_REVISION_MISMATCH).
inline constexpr platform::Status kLeftAlone = 1306;

struct UndoResult {
    enum class Kind { Undone, NothingToUndo, Unusable };
    Kind kind = Kind::NothingToUndo;
    EntrySummary entry;             // the entry undone
    restrictions::Outcome outcome;  // for each key and value: restored, or why not
    std::string failure;            // Unusable: why the entry cannot be undone

    bool allDone() const { return kind != Kind::Unusable && outcome.allDone(); }
};

// Puts back what the newest entry of the registry says the action found, where the registry
// still holds what the action left. What it restored is read back; only what the registry holds
// afterwards counts as done, and what was left alone counts as not done.
UndoResult undoLast(platform::RegistryApi& registry, UndoJournal& journal);

// Shows what the undo did: the success text only when everything was restored.
void tellUndo(const UndoResult& result, toolkit::MessageBox& messages);

}  // namespace quorvane::journal
