// What a registry read gives: nothing at all, a signed 32-bit number, or a text. The text
// "Error" means that the key could not be opened or the value not read; status() then says why.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>

#include "formats/result.h"

namespace quorvane::registry {

inline constexpr const char* kErrorText = "Error";

class ReadResult {
public:
    ReadResult() = default;
    static ReadResult number(std::int32_t value) { return ReadResult(value); }
    static ReadResult text(std::string value) { return ReadResult(std::move(value)); }
    // The text "Error", for a read that failed for `why`.
    static ReadResult error(Failure why = {}) {
        ReadResult result{std::string(kErrorText)};
        result.status_ = std::move(why);
        return result;
    }
    // The empty result of a path that names no hive, and why.
    static ReadResult empty(Failure why) {
        ReadResult result;
        result.status_ = std::move(why);
        return result;
    }

    bool isEmpty() const { return std::holds_alternative<std::monostate>(value_); }
    bool isNumber() const { return std::holds_alternative<std::int32_t>(value_); }
    bool isText() const { return std::holds_alternative<std::string>(value_); }
    std::int32_t asNumber() const { return std::get<std::int32_t>(value_); }
    const std::string& asText() const { return std::get<std::string>(value_); }
    // Whether the read took place, or why not: the platform's status and its words.
    const Result<void>& status() const { return status_; }

    // Two reads are equal when they give the same: the text "Error" is "Error" whatever caused it.
    bool operator==(const ReadResult& other) const { return value_ == other.value_; }

private:
    explicit ReadResult(std::variant<std::monostate, std::int32_t, std::string> value)
        : value_(std::move(value)) {}

    std::variant<std::monostate, std::int32_t, std::string> value_;
    Result<void> status_;
};

}  // namespace quorvane::registry
