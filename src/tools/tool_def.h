#pragma once

#include <string>

#include "core/json.h"

// One of the agent's own tools as the catalogue presents it to assistants.
struct ToolDef {
    std::string name;
    std::string title;
    std::string description;
    Json schema;  // JSON Schema object of the tool's arguments
    bool readOnly = false;
};
