#include "ui/qt/panel_window.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QTimer>
#include <QVBoxLayout>

#include "ui/core/panel_model.h"

PanelWindow::PanelWindow(Form form, std::shared_ptr<AgentState> state, ContentView::Actions actions)
    : QWidget(nullptr,
              form == Form::floating ? Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint : Qt::Window),
      m_form(form) {
    setWindowTitle(PanelText::kTitle);
    setAccessibleName(PanelText::kTitle);
    setAttribute(Qt::WA_DeleteOnClose, false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSizeConstraint(QLayout::SetNoConstraint);
    m_content = new ContentView(std::move(state), std::move(actions), this);
    layout->addWidget(m_content);
    connect(m_content, &ContentView::rendered, this, [this] {
        refit();
        // Sections shown by this rendering are laid out by the toolkit on the
        // next turn; measure again then, so nothing ends up squeezed.
        QTimer::singleShot(0, this, &PanelWindow::refit);
    });
    fitContent();
}

void PanelWindow::refit() {
    QSize before = size();
    fitContent();
    if (size() != before) emit resized();
}

void PanelWindow::fitContent() {
    int h = m_content->contentHeight();
    m_content->setFixedHeight(h);
    setFixedSize(ContentView::kWidth, h);
}

void PanelWindow::keyPressEvent(QKeyEvent* event) {
    // Escape puts the floating panel away, the usual close keys the window.
    if ((m_form == Form::floating && event->key() == Qt::Key_Escape) ||
        (m_form == Form::window && event->matches(QKeySequence::Close))) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void PanelWindow::closeEvent(QCloseEvent* event) {
    // The application goes on in the background; only "Quitter" ends it.
    event->ignore();
    hide();
}

void PanelWindow::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    if (m_form != Form::floating) return;
    // A frameless window needs its own edge to stand out from what is behind.
    QPainter p(this);
    QColor edge = palette().color(QPalette::Mid);
    p.setPen(edge);
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}
