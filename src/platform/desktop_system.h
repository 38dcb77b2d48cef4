#pragma once

// The desktop systems whose differences the platform layer keeps as data:
// the one built for, and macOS, whose values stay beside ours so that a port
// is a small, local change and both tables are tested.
enum class DesktopSystem { linuxDesktop, macOS };

#ifdef __APPLE__
inline constexpr DesktopSystem kCurrentDesktop = DesktopSystem::macOS;
#else
inline constexpr DesktopSystem kCurrentDesktop = DesktopSystem::linuxDesktop;
#endif
