#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

#include <optional>

// Where the panel goes, in logical pixels (Qt's device-independent unit, so
// the same numbers hold on a HiDPI screen):
//
//        [icon]                    centred on the icon, 6 px below it,
//   ┌──────────────┐               at least 8 px inside the available area
//   │    panel     │               left and right (the right limit wins on a
//   └──────────────┘               screen narrower than the panel + 16 px)
//
// and flipped above the icon (6 px over it) when the icon sits in the lower
// half of the screen, as with a bottom panel bar.
namespace PanelPlacement {

inline constexpr int kGap = 6;
inline constexpr int kMargin = 8;

// The panel's top-left corner. Without `available` (no screen found) the
// horizontal limits are skipped and the panel goes below the icon.
QPoint origin(const QRect& icon, const QSize& panel, const std::optional<QRect>& available);

}  // namespace PanelPlacement
