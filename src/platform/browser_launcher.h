#pragma once

#include <string>

// Hands a URL to the desktop's default browser through `xdg-open`, started
// detached and without a shell, so nothing in the URL is ever interpreted.
namespace BrowserLauncher {

// False when xdg-open could not be found or started; whether a browser then
// really opened is not known.
bool open(const std::string& url);

// The first executable `name` on `path` (a PATH-style list); "" for none.
std::string findProgram(const std::string& name, const std::string& path);

}  // namespace BrowserLauncher
