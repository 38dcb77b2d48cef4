#include "ui/qt/focus_ring.h"

#include <QEvent>
#include <QPainter>

FocusRing::FocusRing(QWidget* view) : QWidget(view) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    setGeometry(view->rect());
    view->installEventFilter(this);
}

void FocusRing::ring(QWidget* control, const QColor& color) {
    m_color = color;
    if (control != m_control) watch(control);
    m_control = control;
    // Sections built after the sheet would otherwise cover it.
    raise();
    show();
    update();
}

void FocusRing::watch(QWidget* control) {
    for (auto& w : m_watched)
        if (w) w->removeEventFilter(this);
    m_watched.clear();
    for (QWidget* w = control; w && w != parentWidget(); w = w->parentWidget()) {
        w->installEventFilter(this);
        m_watched.emplace_back(w);
    }
}

bool FocusRing::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::Resize:
            if (watched == parentWidget()) setGeometry(parentWidget()->rect());
            update();
            break;
        case QEvent::Move:
        case QEvent::Show:
        case QEvent::Hide:
        case QEvent::EnabledChange: update(); break;
        default: break;
    }
    return false;
}

void FocusRing::paintEvent(QPaintEvent*) {
    if (!m_control || !m_control->isVisibleTo(parentWidget())) return;
    const QRect around =
        QRect(m_control->mapTo(parentWidget(), QPoint(0, 0)), m_control->size()).adjusted(-kWidth, -kWidth, kWidth, kWidth);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(m_color, kWidth));
    p.setBrush(Qt::NoBrush);
    const qreal half = kWidth / 2.0;
    p.drawRoundedRect(QRectF(around).adjusted(half, half, -half, -half), 4, 4);
}
