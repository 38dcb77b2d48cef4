#pragma once

#include <optional>
#include <string>

#include "core/json.h"

// The outcome of one HTTP exchange. A request that got no HTTP response at all
// (bad URL, refused connection, time-out, TLS failure) has status 0, which no
// caller mistakes for a success code.
struct HTTPResult {
    int status = 0;
    std::string data;  // the response body; empty when there was none

    // The body as a JSON object; nothing for an empty body, invalid JSON or a
    // top level that is not an object (an array included).
    std::optional<Json> json() const;
};
