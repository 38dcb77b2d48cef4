#pragma once

#include <optional>
#include <string>

#include "agent_process.h"
#include "core/json.h"

// What Python 3's own parsers (tomllib, json) read from a file, as JSON; nothing
// when they refuse it. The agent's output must satisfy parsers it did not write.
inline std::optional<Json> readWithPython(const std::string& format, const std::string& path) {
    static const char* kScript =
        "import sys, json, tomllib\n"
        "with open(sys.argv[2], 'rb') as f:\n"
        "    data = tomllib.load(f) if sys.argv[1] == 'toml' else json.load(f)\n"
        "print(json.dumps({'value': data}, default=str))\n";
    AgentProcess python({"python3", "-c", kScript, format, path}, {}, "/usr/bin/env");
    if (python.finish(AgentProcess::Ms(20000)) != 0) return std::nullopt;
    auto decoded = JSON::decode(python.pendingStdout());
    if (!decoded || !decoded->contains("value")) return std::nullopt;
    return (*decoded)["value"];
}
