// Stand-ins for the toolkit services through which the core meets the user: message boxes that
// are recorded instead of shown, and an event pump whose pending events a test posts.
#pragma once

#include <deque>
#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "toolkit/event_pump.h"
#include "toolkit/message_box.h"

namespace quorvane::testing {

struct ShownMessage {
    std::string text;
    int style = -1;
    std::string title;

    bool operator==(const ShownMessage&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const ShownMessage& message) {
        return out << "{\"" << message.text << "\", " << message.style << ", \"" << message.title
                   << "\"}";
    }
};

class RecordingMessageBox final : public toolkit::MessageBox {
public:
    void show(const std::string& text, int style, const std::string& title) override {
        shown.push_back({text, style, title});
        if (whileShown) {
            whileShown();
        }
    }

    std::vector<ShownMessage> shown;
    // Runs while the box is up, to look at what the user could see elsewhere at that moment.
    std::function<void()> whileShown;
};

// A posted event waits for the next pump and runs there, nested inside whoever pumps, as a
// click does that arrives while an operation lets events run. Events posted meanwhile run in
// the same pump, like a real event loop.
class FakeEventPump final : public toolkit::EventPump {
public:
    void post(std::function<void()> event) { pending_.push_back(std::move(event)); }

    void processPendingEvents() override {
        while (!pending_.empty()) {
            auto event = std::move(pending_.front());
            pending_.pop_front();
            event();
        }
    }

private:
    std::deque<std::function<void()>> pending_;
};

}  // namespace quorvane::testing
