#pragma once

#include <optional>
#include <string>

// The display platform the tray application asks Qt for. Only an X11 client
// can put its panel under the tray icon, so a Wayland session is served
// through XWayland; and the bundle carries the X11 platform alone. A platform
// asked for otherwise (offscreen for the tests, xcb) is left as asked.
namespace DisplayPlatform {

// The platform to name with "-platform", or nothing to leave Qt's choice:
// `requested` is QT_QPA_PLATFORM (null when unset), `given` whether the
// command line already names one.
std::optional<std::string> forcedPlatform(const char* requested, bool given);

}  // namespace DisplayPlatform
