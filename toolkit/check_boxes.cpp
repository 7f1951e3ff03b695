#include "toolkit/check_boxes.h"

namespace quorvane::toolkit {

CheckBoxBank::CheckBoxBank(int count, ClickHandler onClick)
    : states_(static_cast<std::size_t>(count), kUnchecked), onClick_(std::move(onClick)) {}

void CheckBoxBank::setClickHandler(ClickHandler onClick) {
    onClick_ = std::move(onClick);
}

int CheckBoxBank::count() const {
    return static_cast<int>(states_.size());
}

int CheckBoxBank::state(int number) const {
    return states_.at(static_cast<std::size_t>(number - 1));
}

void CheckBoxBank::setQuietly(int number, int state) {
    states_.at(static_cast<std::size_t>(number - 1)) = state;
}

void CheckBoxBank::assign(int number, int state) {
    int& current = states_.at(static_cast<std::size_t>(number - 1));
    if (current == state) {
        return;
    }
    current = state;
    if (onClick_) {
        onClick_(number);
    }
}

}  // namespace quorvane::toolkit
