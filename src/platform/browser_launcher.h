#pragma once

#include <chrono>
#include <string>

// Hands a URL to the desktop's default browser through `xdg-open`, started
// detached and without a shell, so nothing in the URL is ever interpreted.
namespace BrowserLauncher {

// How long the opener is watched for a failure.
inline constexpr std::chrono::milliseconds kOpenerWatch{3000};

// False when xdg-open could not be found or started, or failed within
// kOpenerWatch (blocking that long at most): the user must then be given the
// address to open by hand.
bool open(const std::string& url);

// The first executable `name` on `path` (a PATH-style list); "" for none.
std::string findProgram(const std::string& name, const std::string& path);

}  // namespace BrowserLauncher
