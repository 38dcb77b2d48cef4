#include "ui/qt/panel_placement.h"

#include <algorithm>

namespace PanelPlacement {

QPoint origin(const QRect& icon, const QSize& panel, const std::optional<QRect>& available) {
    // Work in exclusive right/bottom edges: QRect::right() is the last pixel.
    const int iconTop = icon.y();
    const int iconBottom = icon.y() + icon.height();
    int x = icon.x() + icon.width() / 2 - panel.width() / 2;
    int y = iconBottom + kGap;
    if (!available) return {x, y};

    const QRect& v = *available;
    x = std::max(x, v.x() + kMargin);
    x = std::min(x, v.x() + v.width() - panel.width() - kMargin);

    // An icon below the middle of the screen (a bottom bar, whose area the
    // available geometry usually excludes) opens the panel upwards.
    const int iconMiddle = iconTop + icon.height() / 2;
    if (iconMiddle > v.y() + v.height() / 2) {
        y = iconTop - kGap - panel.height();
        // Taller than the room above: keep its top on screen.
        y = std::max(y, v.y());
    }
    return {x, y};
}

}  // namespace PanelPlacement
