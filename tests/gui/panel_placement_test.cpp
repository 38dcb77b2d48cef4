#include "ui/qt/panel_placement.h"

#include <gtest/gtest.h>

using PanelPlacement::origin;

namespace {

const QSize kPanel(380, 500);
// A top bar of 28 px: the available area starts below it.
const QRect kBelowTopBar(0, 28, 1920, 1052);

}  // namespace

TEST(PanelPlacement, CentredUnderTheIconAndSixPixelsBelowIt) {
    QRect icon(900, 2, 24, 24);  // centre x 912, bottom edge 26
    EXPECT_EQ(origin(icon, kPanel, kBelowTopBar), QPoint(912 - 190, 26 + 6));
}

TEST(PanelPlacement, KeepsEightPixelsFromEitherEdge) {
    QRect farRight(1896, 2, 24, 24);
    QPoint p = origin(farRight, kPanel, kBelowTopBar);
    EXPECT_EQ(p.x() + kPanel.width(), 1920 - 8);
    EXPECT_EQ(p.y(), 32);

    QRect farLeft(0, 2, 24, 24);
    EXPECT_EQ(origin(farLeft, kPanel, kBelowTopBar).x(), 8);
}

TEST(PanelPlacement, AvailableAreaOfASecondScreenCountsFromItsOwnOrigin) {
    QRect secondScreen(1920, 0, 1280, 1024);
    QRect icon(3176, 2, 22, 22);
    QPoint p = origin(icon, kPanel, secondScreen);
    EXPECT_EQ(p.x() + kPanel.width(), 1920 + 1280 - 8);
}

TEST(PanelPlacement, BottomBarOpensThePanelAboveTheIcon) {
    // The bar's 36 px are outside the available area; its icon sits in them.
    QRect available(0, 0, 1920, 1044);
    QRect icon(1850, 1050, 24, 24);
    QPoint p = origin(icon, kPanel, available);
    EXPECT_EQ(p.y() + kPanel.height(), 1050 - 6);
    EXPECT_EQ(p.x() + kPanel.width(), 1920 - 8);
}

TEST(PanelPlacement, PanelTallerThanTheRoomAboveKeepsItsTopOnScreen) {
    QRect available(0, 0, 800, 400);
    QRect icon(700, 380, 20, 20);
    EXPECT_EQ(origin(icon, kPanel, available).y(), 0);
}

TEST(PanelPlacement, OnAScreenNarrowerThanThePanelTheRightLimitWins) {
    QRect narrow(0, 0, 300, 800);
    QRect icon(150, 0, 20, 20);
    QPoint p = origin(icon, kPanel, narrow);
    EXPECT_EQ(p.x(), 300 - 380 - 8);
}

TEST(PanelPlacement, WithoutAScreenOnlyTheIconCounts) {
    QRect icon(-100, 10, 20, 20);
    EXPECT_EQ(origin(icon, kPanel, std::nullopt), QPoint(-90 - 190, 36));
}
