#pragma once

#include <string>

#include "config/agent_config.h"

// Loads, saves and clears "config.json" in "~/.config/Kestro Agent/" (or under
// $XDG_CONFIG_HOME). Nothing here reports a failure: a missing or damaged file
// reads as a logged-out default, and a failed write leaves the old file whole.
namespace ConfigStore {

inline constexpr const char* appName = "Kestro Agent";

std::string dir();
std::string file();

// The stored record; AgentConfig() unless the file is one JSON object holding
// all six keys as strings (extra keys are ignored).
AgentConfig load();

// Writes the six keys, sorted and indented, slashes escaped, into a file that is
// private to the user (0600) from its first byte, in a 0700 folder.
void save(const AgentConfig& config);

// Removes the file; the folder and the manifest cache stay.
void clear();

// The record's file content, as save writes it.
std::string encode(const AgentConfig& config);

// The record held by `text`, or AgentConfig() when it is not a complete one.
AgentConfig decode(const std::string& text);

}  // namespace ConfigStore

// The absolute path of the running executable, symbolic links resolved.
std::string currentExecutablePath();
