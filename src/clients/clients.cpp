#include "clients/clients.h"

#include <cstdio>
#include <cstdlib>

#include "clients/config_file_text.h"
#include "config/config_store.h"
#include "core/json.h"
#include "platform/platform_paths.h"

namespace Clients {
namespace {

struct Presentation {
    const char* key;
    const char* name;
    const char* hint;
    ClientApp::Kind kind;
};

// The catalogue's order is the order the panel lists the assistants in.
const Presentation kPresentations[] = {
    {"claude", "Claude Desktop", "Relance Claude après configuration", ClientApp::Kind::jsonMcpServers},
    {"chatgpt", "ChatGPT (app) · Codex", "Plugins → MCP dans l'app", ClientApp::Kind::codexToml},
    {"cursor", "Cursor", "Settings → MCP", ClientApp::Kind::jsonMcpServers},
    {"claudecode", "Claude Code (terminal)", "Portée utilisateur", ClientApp::Kind::jsonMcpServers},
};

}  // namespace

const std::string& home() {
    static const std::string kHome = PlatformPaths::home();
    return kHome;
}

std::string exe() { return currentExecutablePath(); }

const std::vector<ClientApp>& all() {
    static const std::vector<ClientApp> kAll = catalogue(home());
    return kAll;
}

std::vector<ClientApp> catalogue(const std::string& homeDir, AssistantLocations::System system) {
    std::vector<ClientApp> apps;
    for (const auto& p : kPresentations) {
        for (const auto& location : AssistantLocations::table(system)) {
            if (location.key != p.key) continue;
            ClientApp app{p.key, p.name, p.hint, {}, AssistantLocations::resolve(location.configPath, homeDir), p.kind};
            for (const auto& path : location.appPaths)
                app.appPaths.push_back(AssistantLocations::resolve(path, homeDir));
            const char* searchPath = std::getenv("PATH");
            for (const auto& command : location.commands)
                for (auto& path : AssistantLocations::commandPaths(command, homeDir, searchPath ? searchPath : ""))
                    app.appPaths.push_back(std::move(path));
            apps.push_back(std::move(app));
        }
    }
    return apps;
}

bool status(const ClientApp& app) { return status(app, exe()); }

bool status(const ClientApp& app, const std::string& exePath) {
    ConfigFileText file = ConfigFileText::read(app.configPath);
    if (!file.ok()) return false;
    if (app.kind == ClientApp::Kind::codexToml) {
        auto body = tomlBlock(file.text, serverKey);
        // Compared in the form the writer uses, so a path that needs escaping
        // is recognised once written.
        return body && body->find("command = " + tomlString(exePath)) != std::string::npos;
    }
    auto root = JSON::decode(file.text);
    if (!root || !root->is_object()) return false;
    auto servers = root->find("mcpServers");
    if (servers == root->end() || !servers->is_object()) return false;
    auto entry = servers->find(serverKey);
    if (entry == servers->end() || !entry->is_object()) return false;
    auto command = entry->find("command");
    return command != entry->end() && command->is_string() && command->get<std::string>() == exePath;
}

std::string tomlString(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c));
                    out += escaped;
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

std::string tomlEntry(const std::string& exePath) {
    return std::string("\n[mcp_servers.") + serverKey + "]\ncommand = " + tomlString(exePath) +
           "\nargs = [\"--mcp\"]\n";
}

}  // namespace Clients
