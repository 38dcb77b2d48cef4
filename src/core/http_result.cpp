#include "core/http_result.h"

std::optional<Json> HTTPResult::json() const {
    auto value = JSON::decode(data);
    if (!value || !value->is_object()) return std::nullopt;
    return value;
}
