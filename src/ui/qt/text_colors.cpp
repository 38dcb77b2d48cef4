#include "ui/qt/text_colors.h"

#include <cmath>

namespace {

// The hues as they were chosen; `readable` gives the tone of each that shows.
const QColor kGreen(0x1f, 0x9d, 0x4c);
const QColor kRed(0xd7, 0x2c, 0x2c);
const QColor kOrange(0xe0, 0x7b, 0x12);

// How much of the window's text colour the secondary grey keeps.
constexpr double kSecondaryOpacity = 0.6;
// The banner's second line is a little dimmer than its title, yet readable.
constexpr double kBannerDetailOpacity = 0.9;

double linear(double channel) {
    return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

// What the screen draws: eight bits a channel.
QColor onScreen(const QColor& c) { return QColor(c.rgb()); }

}  // namespace

// The banner green darkened by an eighth from (0.08, 0.55, 0.30), on which
// white reached only 4.3:1.
const QColor TextColors::kBanner(0x12, 0x7b, 0x43);

TextColors::TextColors(const QPalette& palette)
    : m_window(palette.color(QPalette::Window)),
      m_windowText(palette.color(QPalette::WindowText)),
      m_highlight(palette.color(QPalette::Highlight)) {}

QColor TextColors::color(Tone tone) const {
    switch (tone) {
        case Tone::secondary:
            return readable(blend(m_windowText, m_window, kSecondaryOpacity), m_window, kTextContrast);
        case Tone::notice: return readable(kGreen, m_window, kTextContrast);
        case Tone::warning: return readable(kOrange, m_window, kTextContrast);
        case Tone::error: return readable(kRed, m_window, kTextContrast);
        case Tone::bannerTitle: return QColor(Qt::white);
        case Tone::bannerDetail: return blend(Qt::white, kBanner, kBannerDetailOpacity);
    }
    return m_windowText;
}

QColor TextColors::focusRing(const QColor& backdrop) const {
    if (contrast(m_highlight, backdrop) >= kRingContrast) return m_highlight;
    const QColor white(Qt::white), black(Qt::black);
    return contrast(white, backdrop) >= contrast(black, backdrop) ? white : black;
}

double TextColors::luminance(const QColor& c) {
    const QColor rgb = onScreen(c);
    return 0.2126 * linear(rgb.redF()) + 0.7152 * linear(rgb.greenF()) + 0.0722 * linear(rgb.blueF());
}

double TextColors::contrast(const QColor& a, const QColor& b) {
    double la = luminance(a), lb = luminance(b);
    if (la < lb) std::swap(la, lb);
    return (la + 0.05) / (lb + 0.05);
}

QColor TextColors::readable(const QColor& hue, const QColor& background, double minimum) {
    const QColor start = onScreen(hue);
    if (contrast(start, background) >= minimum) return start;
    // Away from the background: towards black on a light one, white on a dark one.
    const bool darken = contrast(Qt::black, background) >= contrast(Qt::white, background);
    float h = 0, s = 0, l = 0, a = 0;
    start.getHslF(&h, &s, &l, &a);
    auto withLightness = [&](double lightness) { return onScreen(QColor::fromHslF(h, s, float(lightness))); };
    // Luminance grows with lightness at a fixed hue and saturation, so the
    // tone nearest the original that still reads is found by halving.
    double good = darken ? 0.0 : 1.0;
    double bad = l;
    if (contrast(withLightness(good), background) < minimum) return withLightness(good);
    for (int step = 0; step < 20; ++step) {
        const double middle = (good + bad) / 2;
        if (contrast(withLightness(middle), background) >= minimum) good = middle;
        else bad = middle;
    }
    return withLightness(good);
}

QColor TextColors::blend(const QColor& front, const QColor& back, double opacity) {
    auto mix = [opacity](double f, double b) { return f * opacity + b * (1 - opacity); };
    return onScreen(QColor::fromRgbF(float(mix(front.redF(), back.redF())), float(mix(front.greenF(), back.greenF())),
                                     float(mix(front.blueF(), back.blueF()))));
}
