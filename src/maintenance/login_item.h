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

// The same, naming the program the entry starts (tests, or a caller that
// knows better than /proc which executable is the installed one).
void set(bool enabled, const std::string& executable);

// The entry written for `executable`: a desktop entry whose Exec line quotes
// the path (a bundle's name holds a space) and escapes what the Exec rules
// and the key-file rules would otherwise interpret.
std::string entryText(const std::string& executable);

// `argument` as one Exec argument: quoted, with ", `, $ and \ escaped, % doubled,
// then escaped again as a key-file string value.
std::string execArgument(const std::string& argument);

}  // namespace LoginItem
