// Which display platform the tray application names for Qt.
#include "ui/qt/display_platform.h"

#include <gtest/gtest.h>

namespace {

TEST(DisplayPlatform, X11UnlessAnotherPlatformThanWaylandIsAskedFor) {
    // Nothing asked, or a Wayland session's wish: X11, through XWayland.
    EXPECT_EQ(DisplayPlatform::forcedPlatform(nullptr, false), "xcb");
    EXPECT_EQ(DisplayPlatform::forcedPlatform("", false), "xcb");
    EXPECT_EQ(DisplayPlatform::forcedPlatform("wayland", false), "xcb");
    EXPECT_EQ(DisplayPlatform::forcedPlatform("wayland-egl", false), "xcb");
    EXPECT_EQ(DisplayPlatform::forcedPlatform("wayland;xcb", false), "xcb");
    // Anything else is honoured, and so is a platform on the command line.
    EXPECT_EQ(DisplayPlatform::forcedPlatform("offscreen", false), std::nullopt);
    EXPECT_EQ(DisplayPlatform::forcedPlatform("xcb", false), std::nullopt);
    EXPECT_EQ(DisplayPlatform::forcedPlatform(nullptr, true), std::nullopt);
    EXPECT_EQ(DisplayPlatform::forcedPlatform("wayland", true), std::nullopt);
}

}  // namespace
