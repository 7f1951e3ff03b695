// Letting pending user-interface events run in the middle of an operation. The handlers it runs
// report through their own results; the pump itself does not fail.
#pragma once

namespace quorvane::toolkit {

class EventPump {
public:
    virtual ~EventPump() = default;
    // Handles every waiting event, running its handlers nested inside the caller, then returns.
    virtual void processPendingEvents() = 0;
};

}  // namespace quorvane::toolkit
