#include "cli/session.h"

#include <ostream>

namespace quorvane::cli {

void PrintingMessageBox::show(const std::string& text, int, const std::string&) {
    std::string plain;
    for (char c : text) {
        if (c != '\r') {
            plain.push_back(c);
        }
    }
    out_ << plain << '\n';
}

Session::Session(std::unique_ptr<platform::RegistryApi> registryApi,
                 const toolkit::Configuration& configuration, std::ostream& out)
    : platform(std::move(registryApi)),
      messages(out),
      registry(*platform, messages),
      settings(*platform),
      boxes(restrictions::kRestrictionCount),
      manager({*platform, registry, settings, events, messages, boxes, configuration}) {}

}  // namespace quorvane::cli
