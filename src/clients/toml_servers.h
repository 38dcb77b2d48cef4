#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The MCP servers of a Codex file as a strict TOML parser reads them. The
// writers edit that file line by line so that every other byte survives; this
// second reading, by a parser that shares nothing with the line editor, is
// how they know before replacing the file that the assistant will still load
// it and find the entry they meant to leave (or none).
struct TomlServers {
    struct Entry {
        bool table = false;                            // the server is a table, as an assistant needs
        std::optional<std::string> command;            // its "command" when that is a string
        std::optional<std::vector<std::string>> args;  // its "args" when that is an array of strings
    };

    // Every member of the root's "mcp_servers" table, by key.
    std::map<std::string, Entry> entries;

    // Nothing when `text` is not a valid TOML document.
    static std::optional<TomlServers> parse(std::string_view text);

    bool has(const std::string& key) const { return entries.contains(key); }

    // The server `key` is a table that starts `command` with the one argument "--mcp".
    bool starts(const std::string& key, const std::string& command) const;
};
