// Modal message boxes, as the core shows them. Showing one does not fail: a box that cannot be
// shown is a fault of the program.
#pragma once

#include <string>

namespace quorvane::toolkit {

enum MessageBoxStyle : int {
    kOkOnly = 0,        // OK button, no icon
    kExclamation = 48,  // OK button, warning icon
    kInformation = 64,  // OK button, information icon
};

class MessageBox {
public:
    virtual ~MessageBox() = default;
    // Shows `text` and returns when the user has dismissed it.
    virtual void show(const std::string& text, int style, const std::string& title) = 0;
};

}  // namespace quorvane::toolkit
