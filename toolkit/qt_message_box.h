// Modal message boxes shown with Qt's QMessageBox.
#pragma once

#include "toolkit/message_box.h"

namespace quorvane::toolkit {

class QtMessageBox final : public MessageBox {
public:
    // Style 0 shows no icon, style 64 the information icon; both have one OK button. An empty
    // title stands for the application title. The box is centred over the active window.
    void show(const std::string& text, int style, const std::string& title) override;
};

}  // namespace quorvane::toolkit
