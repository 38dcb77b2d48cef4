#pragma once

#include <string>
#include <vector>

// One AI assistant the agent can register itself with: how it is shown to the
// user, how to tell it is installed, and which file starts its MCP servers.
struct ClientApp {
    enum class Kind {
        jsonMcpServers,  // a JSON object whose "mcpServers" object holds one entry per server
        codexToml,       // a TOML file with one "[mcp_servers.<key>]" table per server
    };

    std::string key;                    // unique in the catalogue
    std::string name;                   // display name
    std::string hint;                   // advice shown once the assistant is configured
    std::vector<std::string> appPaths;  // absolute paths; any of them existing means installed
    std::string configPath;             // absolute path of the assistant's configuration file
    Kind kind = Kind::jsonMcpServers;

    // True when one of `appPaths` exists as a file or a folder, or when there
    // is nothing to look for.
    bool installed() const;

    bool operator==(const ClientApp&) const = default;
};
