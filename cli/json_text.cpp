#include "cli/json_text.h"

namespace quorvane::cli {

namespace {

void append(const Json& value, int depth, std::string& out) {
    if (!value.is_structured()) {
        out += value.dump(-1, ' ', false, Json::error_handler_t::replace);
        return;
    }
    const bool object = value.is_object();
    out += object ? "{\n" : "[\n";
    const std::string inner(4 * (depth + 1), ' ');
    bool first = true;
    for (auto item = value.begin(); item != value.end(); ++item) {
        out += first ? "" : ",\n";
        first = false;
        out += inner;
        if (object) {
            out += Json(item.key()).dump(-1, ' ', false, Json::error_handler_t::replace) + ": ";
        }
        append(*item, depth + 1, out);
    }
    out += first ? "" : "\n";
    out += std::string(4 * depth, ' ') + (object ? "}" : "]");
}

}  // namespace

std::string jsonText(const Json& document) {
    std::string text;
    append(document, 0, text);
    return text + '\n';
}

}  // namespace quorvane::cli
