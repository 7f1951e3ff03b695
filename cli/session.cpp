#include "cli/session.h"

#include <ostream>

namespace quorvane::cli {

void PrintingMessageBox::show(const std::string& text, int style, const std::string&) {
    std::string plain;
    for (char c : text) {
        if (c != '\r') {
            plain.push_back(c);
        }
    }
    if (style == toolkit::kExclamation) {
        err_ << "quorvane-cli: " << plain << '\n';
    } else {
        out_ << plain << '\n';
    }
}

Session::Session(std::unique_ptr<platform::RegistryApi> registryApi,
                 const toolkit::Configuration& configuration, std::ostream& out, std::ostream& err,
                 std::optional<journal::JournalPlace> undo)
    : platform(std::move(registryApi)),
      messages(out, err),
      registry(*platform, messages),
      settings(*platform),
      boxes(restrictions::kRestrictionCount),
      journal(undo ? std::make_unique<journal::UndoJournal>(*platform, std::move(*undo)) : nullptr),
      manager({*platform, settings, events, messages, boxes, configuration, journal.get()}) {}

}  // namespace quorvane::cli
