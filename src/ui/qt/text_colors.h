#pragma once

#include <QColor>
#include <QPalette>

// The colours of the panel's texts and focus ring, each in a tone that reads
// on what it is drawn on. A fixed orange, green or red is either too light for
// a light window or too dark for a dark one, so each hue is darkened or
// lightened from the palette's window colour until it reaches the contrast
// people with low vision need (4.5:1 for text, 3:1 for a ring around a
// control, in the relative luminance measure of the web's accessibility
// guidelines).
class TextColors {
public:
    enum class Tone {
        secondary,     // grey, for the lines that explain
        notice,        // green, an action went well
        warning,       // orange, the application runs from the wrong folder
        error,         // red
        bannerTitle,   // white on the banner
        bannerDetail,  // dimmed white on the banner
    };

    static constexpr double kTextContrast = 4.5;
    static constexpr double kRingContrast = 3.0;

    // The update banner's plate: the green of the avatar family, dark enough
    // for white text.
    static const QColor kBanner;

    explicit TextColors(const QPalette& palette);

    // The colour of `tone` on the window (or, for the banner's tones, on the banner).
    QColor color(Tone tone) const;
    // The focus ring for a control drawn on `backdrop`: the palette's
    // highlight, or white or black where the highlight would not show.
    QColor focusRing(const QColor& backdrop) const;

    // The contrast ratio of two opaque colours, from 1 (same luminance) to 21.
    static double contrast(const QColor& a, const QColor& b);
    // `hue` darkened (on a light background) or lightened (on a dark one),
    // keeping its hue and saturation, just enough to reach `minimum` on
    // `background`; unchanged when it already does.
    static QColor readable(const QColor& hue, const QColor& background, double minimum);
    // `front` at `opacity` over `back`, as the screen shows it.
    static QColor blend(const QColor& front, const QColor& back, double opacity);

private:
    static double luminance(const QColor& c);

    QColor m_window;
    QColor m_windowText;
    QColor m_highlight;
};
