// Check boxes as the core sees them: numbered from 1, with the toolkit's rule that every change
// of state, by a click or by an assignment from the program, runs the box's click handling, and
// an assignment that leaves the state as it was runs nothing. Neither fails: the click handling
// reports what it did in its own results.
#pragma once

#include <functional>
#include <vector>

namespace quorvane::toolkit {

enum CheckState : int { kUnchecked = 0, kChecked = 1, kDimmed = 2 };

class CheckBoxes {
public:
    virtual ~CheckBoxes() = default;
    virtual int count() const = 0;
    virtual int state(int number) const = 0;
    // Runs the box's click handling before returning when the state changes.
    virtual void assign(int number, int state) = 0;
    // Shows `state` without running the click handling: to put a box back to what the registry
    // holds after its change was refused.
    virtual void setQuietly(int number, int state) = 0;
};

// Check boxes without a window: states in memory and a click handler per change.
class CheckBoxBank final : public CheckBoxes {
public:
    using ClickHandler = std::function<void(int number)>;

    explicit CheckBoxBank(int count, ClickHandler onClick = {});
    void setClickHandler(ClickHandler onClick);

    int count() const override;
    int state(int number) const override;
    void assign(int number, int state) override;
    void setQuietly(int number, int state) override;

private:
    std::vector<int> states_;
    ClickHandler onClick_;
};

}  // namespace quorvane::toolkit
