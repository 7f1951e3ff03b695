// The per-application settings store: texts under application title, section and key.
#pragma once

#include <string>

#include "formats/result.h"

namespace quorvane::toolkit {

class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    // A missing entry reads as the empty text.
    virtual std::string read(const std::string& application, const std::string& section,
                             const std::string& key) = 0;
    // Whether the text was kept, with the status of the store under it when not.
    virtual Result<void> write(const std::string& application, const std::string& section,
                               const std::string& key, const std::string& text) = 0;
};

}  // namespace quorvane::toolkit
