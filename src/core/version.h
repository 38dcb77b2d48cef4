#pragma once

// The agent's own release, shown by --version, in the server's start line and
// "serverInfo", and compared by the updater with the newest release.
// Defined by the build from its one version setting.
#ifndef KESTRO_APP_VERSION
#error "KESTRO_APP_VERSION is defined by the build (CMake option KESTRO_VERSION)"
#endif
inline constexpr const char* kAppVersion = KESTRO_APP_VERSION;

// The MCP revision this server speaks, whatever the assistant asks for; also
// sent to the service as "MCP-Protocol-Version".
inline constexpr const char* kProtocolVersion = "2025-06-18";

// Identifies the menu-bar application among running processes.
inline constexpr const char* kBundleIdentifier = "io.kestro.agent";
