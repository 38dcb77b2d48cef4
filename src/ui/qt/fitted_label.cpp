#include "ui/qt/fitted_label.h"

#include <QEvent>
#include <QTextBoundaryFinder>

namespace {

const QChar kZeroWidthSpace(0x200B);
const QString kEllipsis = QString(QChar(0x2026));

// `word` with a zero-width space after each of its characters but the last.
QString breakableEverywhere(const QString& word) {
    QString out;
    QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, word);
    qsizetype start = 0;
    for (qsizetype end = characters.toNextBoundary(); end > 0; end = characters.toNextBoundary()) {
        if (start > 0) out += kZeroWidthSpace;
        out += word.mid(start, end - start);
        start = end;
    }
    return out;
}

}  // namespace

FittedLabel::FittedLabel(Fit fit, QWidget* parent) : QLabel(parent), m_fit(fit) {
    setTextFormat(Qt::PlainText);
    setWordWrap(fit == Fit::wrap);
}

void FittedLabel::setFullText(const QString& text) {
    setAccessibleName(text);
    if (text == m_fullText) return;
    m_fullText = text;
    refit();
    updateGeometry();
}

QString FittedLabel::breakLongWords(const QString& text, const QFontMetrics& metrics, int width) {
    if (width <= 0) return text;
    QString out;
    qsizetype i = 0;
    while (i < text.size()) {
        qsizetype end = i;
        const bool space = text[i].isSpace();
        while (end < text.size() && text[end].isSpace() == space) ++end;
        const QString run = text.mid(i, end - i);
        out += !space && metrics.horizontalAdvance(run) > width ? breakableEverywhere(run) : run;
        i = end;
    }
    return out;
}

int FittedLabel::textWidth() const {
    const QMargins m = contentsMargins();
    return width() - m.left() - m.right() - 2 * margin();
}

QString FittedLabel::shownText(int width) const {
    // The same measure as the size hint's: a text given the room it asked
    // for is never shortened.
    if (m_fit != Fit::wrap && fontMetrics().horizontalAdvance(m_fullText) <= width) return m_fullText;
    switch (m_fit) {
        case Fit::elideRight: return fontMetrics().elidedText(m_fullText, Qt::ElideRight, width);
        case Fit::elideMiddle: return fontMetrics().elidedText(m_fullText, Qt::ElideMiddle, width);
        case Fit::wrap: return breakLongWords(m_fullText, fontMetrics(), width);
    }
    return m_fullText;
}

void FittedLabel::refit() {
    const QString shown = shownText(textWidth());
    if (shown != text()) setText(shown);
    const QString tip = shown == m_fullText ? QString() : m_fullText;
    if (toolTip() != tip) setToolTip(tip);
}

QSize FittedLabel::sizeHint() const {
    if (m_fit == Fit::wrap) return QLabel::sizeHint();
    // The whole text's width, so a row gives it all the room it has; the
    // minimum below lets it shrink rather than push the panel wider.
    const QMargins m = contentsMargins();
    const int whole = fontMetrics().horizontalAdvance(m_fullText) + m.left() + m.right() + 2 * margin();
    return {whole, QLabel::sizeHint().height()};
}

QSize FittedLabel::minimumSizeHint() const {
    if (m_fit == Fit::wrap) return QLabel::minimumSizeHint();
    return {fontMetrics().horizontalAdvance(kEllipsis), QLabel::minimumSizeHint().height()};
}

int FittedLabel::heightForWidth(int width) const {
    const QMargins m = contentsMargins();
    const int available = width - m.left() - m.right() - 2 * margin();
    const QString shown = shownText(available);
    if (m_fit != Fit::wrap || shown == text()) return QLabel::heightForWidth(width);
    // The layout asks before the label has its new width: measure the text
    // as it will be broken at that width, the way a plain label measures it.
    const QRect lines = fontMetrics().boundingRect(QRect(0, 0, available, 100000),
                                                   int(alignment()) | Qt::TextWordWrap, shown);
    return lines.height() + m.top() + m.bottom() + 2 * margin();
}

void FittedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    refit();
}

void FittedLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange) refit();
}
