#pragma once

#include <string>

// The service's own host; what a fresh install talks to.
inline constexpr const char* kDefaultBaseUrl = "https://kestro.io";

// The one record shared by the menu-bar application (which writes it) and every
// MCP server process (which re-reads it before each message).
struct AgentConfig {
    std::string baseUrl = kDefaultBaseUrl;  // no trailing slash
    std::string token;                      // the agent token; empty means logged out
    std::string userName;
    std::string userEmail;
    std::string clientId;        // OAuth client from dynamic registration
    std::string configuredPath;  // executable last written into the assistants' files

    bool isLoggedIn() const { return !token.empty(); }
    bool operator==(const AgentConfig&) const = default;
};
