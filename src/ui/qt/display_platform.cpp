#include "ui/qt/display_platform.h"

#include <cstring>

namespace DisplayPlatform {

std::optional<std::string> forcedPlatform(const char* requested, bool given) {
    if (given) return std::nullopt;
    // Unset, or a Wayland platform ("wayland", "wayland-egl", "wayland;xcb"…).
    if (!requested || !*requested || std::strncmp(requested, "wayland", 7) == 0) return std::string("xcb");
    return std::nullopt;
}

}  // namespace DisplayPlatform
