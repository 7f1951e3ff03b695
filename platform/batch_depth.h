// How deep the batches of a registry that holds its writes back are nested: writes are stored
// when the outermost batch ends, or at once outside any batch.
#pragma once

namespace quorvane::platform {

class BatchDepth {
public:
    void enter() { ++depth_; }
    // Whether this end closes the outermost batch; an end without a begin closes nothing.
    bool leave() { return depth_ > 0 && --depth_ == 0; }
    bool open() const { return depth_ > 0; }
    // Closes every batch still open, as when the registry goes away; whether one was open.
    bool closeAll() {
        const bool wasOpen = open();
        depth_ = 0;
        return wasOpen;
    }

private:
    int depth_ = 0;
};

}  // namespace quorvane::platform
