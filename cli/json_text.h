// The JSON that quorvane-cli prints (docs/cli-json.md describes the documents).
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace quorvane::cli {

using Json = nlohmann::json;

// `document` as quorvane-cli has always printed it: four spaces a level, each object's keys in
// order, every array and object opened on a line of its own (an empty one too: "[", then "]"
// on the next line), bytes that are not UTF-8 shown as U+FFFD, and a line end after it.
std::string jsonText(const Json& document);

}  // namespace quorvane::cli
