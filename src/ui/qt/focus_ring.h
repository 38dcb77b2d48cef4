#pragma once

#include <QColor>
#include <QPointer>
#include <QWidget>

#include <vector>

// A ring around the control that has the keyboard focus, drawn in the two
// pixels just outside it in a colour chosen for what is behind it. The
// desktop's own indication is faint, shows only once a key was pressed, and
// is lost on the banner's green; this one shows from the panel's first
// showing on.
//
// It is a transparent sheet over the whole view, above every control, so the
// ring is never cut by the section that holds the control; it follows the
// control wherever a layout moves it.
class FocusRing : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 2;

    explicit FocusRing(QWidget* view);

    // Rings `control` (nothing for nullptr) in `color`.
    void ring(QWidget* control, const QColor& color);
    QWidget* control() const { return m_control; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void watch(QWidget* control);

    QPointer<QWidget> m_control;
    QColor m_color;
    std::vector<QPointer<QWidget>> m_watched;  // the control and its sections, up to the view
};
