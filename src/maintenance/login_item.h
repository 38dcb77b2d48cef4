#pragma once

#include <string>

// Start at login through the desktop's autostart folder: the entry's presence
// is the setting itself.
namespace LoginItem {

// $XDG_CONFIG_HOME/autostart/io.kestro.agent.desktop
std::string path();

// Whether anything exists at `path()`.
bool isEnabled();

// True writes the entry (starting the running bundle's executable), false
// removes it. Never fails: a failure leaves the file as it was.
void set(bool enabled);

}  // namespace LoginItem
