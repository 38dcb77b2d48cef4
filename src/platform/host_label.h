#pragma once

#include <string>

// The name this computer goes by in the service's list of clients and agent
// tokens: the pretty host name the desktop shows (PRETTY_HOSTNAME in
// /etc/machine-info), else the kernel's host name, else "Mac" as the service
// has always seen it when a computer gives no name.
namespace HostLabel {

inline constexpr const char* kFallback = "Mac";

// The label of this computer.
std::string current();

// The same from the given sources: `machineInfoPath` is read when it exists,
// `hostName` is what gethostname gave ("" for nothing).
std::string choose(const std::string& machineInfoPath, const std::string& hostName);

// PRETTY_HOSTNAME in the text of a machine-info file (shell-like assignments,
// values optionally quoted); "" when absent.
std::string prettyHostname(const std::string& machineInfo);

}  // namespace HostLabel
