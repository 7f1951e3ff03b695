// What a registry read gives: nothing at all, a signed 32-bit number, or a text. The text
// "Error" means that the key could not be opened or the value not read.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace quorvane::registry {

inline constexpr const char* kErrorText = "Error";

class ReadResult {
public:
    ReadResult() = default;
    static ReadResult number(std::int32_t value) { return ReadResult(value); }
    static ReadResult text(std::string value) { return ReadResult(std::move(value)); }
    static ReadResult error() { return ReadResult(std::string(kErrorText)); }

    bool isEmpty() const { return std::holds_alternative<std::monostate>(value_); }
    bool isNumber() const { return std::holds_alternative<std::int32_t>(value_); }
    bool isText() const { return std::holds_alternative<std::string>(value_); }
    bool isError() const { return isText() && asText() == kErrorText; }
    std::int32_t asNumber() const { return std::get<std::int32_t>(value_); }
    const std::string& asText() const { return std::get<std::string>(value_); }

    bool operator==(const ReadResult&) const = default;

private:
    explicit ReadResult(std::variant<std::monostate, std::int32_t, std::string> value)
        : value_(std::move(value)) {}

    std::variant<std::monostate, std::int32_t, std::string> value_;
};

}  // namespace quorvane::registry
