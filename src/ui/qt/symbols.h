#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>

// The few symbols the panel draws, painted here so they look the same on
// every desktop whatever its icon theme (a theme may have none of them, as on
// a bare X server). Pixmaps follow the screen's device pixel ratio.
namespace Symbols {

enum class Symbol {
    seal,                 // the tray's fallback: a seal with a check mark
    appIcon,              // the header's application icon
    arrowDownCircleFill,  // update banner
    exclamationTriangle,  // location warning
    personBadgeKey,       // login button
    checkmarkCircleFill,  // assistant configured
    circle,               // assistant installed
    circleDashed,         // assistant not found
};

QPixmap pixmap(Symbol symbol, const QColor& color, int size, qreal devicePixelRatio);
QIcon icon(Symbol symbol, const QColor& color);

// The tray icon: the bundle's "menubar" image, else the theme's seal or check
// icon, else the painted seal.
QIcon trayIcon();

// The header's icon: the bundle's application icon, else the painted one.
QIcon applicationIcon();

}  // namespace Symbols
