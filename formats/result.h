// What an operation gives: its value, or why it did not take effect. One type for every layer
// above the registry platform, so that callers pass a failure on instead of translating it.
// Exceptions stay for faults of the program itself.
#pragma once

#include <cassert>
#include <string>
#include <system_error>
#include <utility>
#include <variant>

namespace quorvane {

// Why something did not take effect: the platform's status code where there is one (a Win32
// status such as 5, access denied; 0 when the failure did not come from the registry) and the
// reason in words, for the user.
struct Failure {
    long status = 0;
    std::string reason;
    int error = 0;  // the system's error number behind it (errno), when there is one

    bool operator==(const Failure&) const = default;
};

inline Failure failure(std::string reason) {
    return Failure{0, std::move(reason)};
}
inline Failure failure(long status, std::string reason) {
    return Failure{status, std::move(reason)};
}

// The cause behind an error number of the C library or the file system, for people, in the
// same words wherever it is shown: "disk full", "permission denied", "no such file or directory".
std::string describeError(int error);
std::string describeError(const std::error_code& error);

template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(Failure why) : state_(std::in_place_index<1>, std::move(why)) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & {
        assert(ok());
        return std::get<0>(state_);
    }
    const T& value() const& {
        assert(ok());
        return std::get<0>(state_);
    }
    T&& value() && {
        assert(ok());
        return std::get<0>(std::move(state_));
    }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

    const Failure& failure() const {
        assert(!ok());
        return std::get<1>(state_);
    }

private:
    std::variant<T, Failure> state_;
};

template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Failure why) : failure_(std::move(why)), failed_(true) {}

    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    const Failure& failure() const {
        assert(failed_);
        return failure_;
    }

private:
    Failure failure_;
    bool failed_ = false;
};

}  // namespace quorvane
