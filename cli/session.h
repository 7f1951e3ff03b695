// Everything one command works with: the registry, the registry module, the restriction logic
// and plain stand-ins for the window's check boxes, message boxes and event pump.
#pragma once

#include <iosfwd>
#include <memory>
#include <optional>

#include "journal/undo_journal.h"
#include "platform/registry_api.h"
#include "registry/general2.h"
#include "registry/registry_settings_store.h"
#include "restrictions/restriction_manager.h"
#include "toolkit/check_boxes.h"
#include "toolkit/configuration.h"

namespace quorvane::cli {

// Prints a message's text, with plain line ends, where a window would show a box: warnings to
// the error stream, after the program's name.
class PrintingMessageBox final : public toolkit::MessageBox {
public:
    PrintingMessageBox(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}
    void show(const std::string& text, int style, const std::string& title) override;

private:
    std::ostream& out_;
    std::ostream& err_;
};

// Without a window there are no pending events to run.
class NoEvents final : public toolkit::EventPump {
public:
    void processPendingEvents() override {}
};

struct Session {
    // Commands that change the registry keep their undo entries in `undo`.
    Session(std::unique_ptr<platform::RegistryApi> registry,
            const toolkit::Configuration& configuration, std::ostream& out, std::ostream& err,
            std::optional<journal::JournalPlace> undo = std::nullopt);

    std::unique_ptr<platform::RegistryApi> platform;
    PrintingMessageBox messages;
    NoEvents events;
    registry::General2 registry;  // for reading what the hives hold
    registry::RegistrySettingsStore settings;
    // Not wired to the switching actions until a command wires them: setting the boxes to what
    // the registry holds runs nothing.
    toolkit::CheckBoxBank boxes;
    std::unique_ptr<journal::UndoJournal> journal;  // none for commands that only read
    restrictions::RestrictionManager manager;
};

}  // namespace quorvane::cli
