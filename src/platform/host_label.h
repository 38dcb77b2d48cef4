#pragma once

#include <string>

#include "platform/computer_words.h"

// The name this computer goes by in the service's list of clients and agent
// tokens: the pretty host name the desktop shows (PRETTY_HOSTNAME in
// /etc/machine-info), else the kernel's host name, else the word for a
// computer without a name ("Linux"; "Mac" on macOS).
namespace HostLabel {

inline constexpr std::string_view kFallback = ComputerWords::on(kCurrentDesktop, ComputerWords::kUnnamedComputer);

// The label of this computer.
std::string current();

// The same from the given sources: `machineInfoPath` is read when it exists,
// `hostName` is what gethostname gave ("" for nothing).
std::string choose(const std::string& machineInfoPath, const std::string& hostName);

// PRETTY_HOSTNAME in the text of a machine-info file (shell-like assignments,
// values optionally quoted); "" when absent.
std::string prettyHostname(const std::string& machineInfo);

}  // namespace HostLabel
