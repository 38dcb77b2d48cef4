#pragma once

#include <QLabel>

// A label whose text never widens the panel nor is clipped by its fixed width.
//   elideRight   one line, shortened at its end with "…" (names)
//   elideMiddle  one line, shortened in its middle (e-mail addresses, whose
//                start and domain both tell whose they are)
//   wrap         as many lines as the text needs; a word too long for a line
//                (a long address or path) may break anywhere in it
// What it shows is worked out again whenever the text, the width or the font
// changes. Whenever that differs from the text, the whole text is the tooltip;
// screen readers always get the whole text.
class FittedLabel : public QLabel {
    Q_OBJECT
public:
    enum class Fit { elideRight, elideMiddle, wrap };

    FittedLabel(Fit fit, QWidget* parent);

    void setFullText(const QString& text);
    const QString& fullText() const { return m_fullText; }
    Fit fit() const { return m_fit; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    int heightForWidth(int width) const override;

    // `text` with a break opportunity (a zero-width space) between the
    // characters of each word wider than `width`, never inside a character
    // made of several code points.
    static QString breakLongWords(const QString& text, const QFontMetrics& metrics, int width);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QString shownText(int width) const;
    int textWidth() const;
    void refit();

    Fit m_fit;
    QString m_fullText;
};
