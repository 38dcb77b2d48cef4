#include "clients/toml_servers.h"

#include <toml++/toml.h>

std::optional<TomlServers> TomlServers::parse(std::string_view text) {
    toml::table root;
    try {
        root = toml::parse(text);
    } catch (const toml::parse_error&) {
        return std::nullopt;
    }
    TomlServers servers;
    const toml::table* table = root["mcp_servers"].as_table();
    if (!table) return servers;
    for (const auto& [key, node] : *table) {
        Entry entry;
        if (const toml::table* server = node.as_table()) {
            entry.table = true;
            if (auto command = (*server)["command"].value_exact<std::string>()) entry.command = *command;
            if (const toml::array* args = (*server)["args"].as_array()) {
                std::vector<std::string> strings;
                for (const auto& arg : *args)
                    if (auto s = arg.value_exact<std::string>()) strings.push_back(*s);
                if (strings.size() == args->size()) entry.args = std::move(strings);
            }
        }
        servers.entries.emplace(std::string(key.str()), std::move(entry));
    }
    return servers;
}

bool TomlServers::starts(const std::string& key, const std::string& command) const {
    auto it = entries.find(key);
    return it != entries.end() && it->second.table && it->second.command == command &&
           it->second.args == std::vector<std::string>{"--mcp"};
}
