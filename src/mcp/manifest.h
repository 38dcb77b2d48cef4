#pragma once

#include <map>
#include <optional>
#include <string>

#include "core/json.h"

// What the service publishes to adjust the agent without a new release: the
// instructions given to assistants, the presentation of the local tools and
// the newest agent release.
struct Manifest {
    std::optional<std::string> instructions;
    std::map<std::string, Json> tools;  // local tool name -> its whole manifest entry
    std::optional<Json> latest;         // newest release: "version", "zip_url", "sha256"
};
