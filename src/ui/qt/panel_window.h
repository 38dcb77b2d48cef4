#pragma once

#include <QWidget>

#include <memory>

#include "ui/qt/content_view.h"

// The window that holds the panel's view. Two forms:
//   floating  a frameless tool window above the others, placed under the tray
//             icon by the delegate; Escape hides it
//   window    an ordinary titled window for desktops without a tray; closing
//             it only hides it, so launching the application again brings it back
// Either way it takes the view's height at the fixed width after each rendering.
class PanelWindow : public QWidget {
    Q_OBJECT
public:
    enum class Form { floating, window };

    PanelWindow(Form form, std::shared_ptr<AgentState> state, ContentView::Actions actions);

    Form form() const { return m_form; }
    ContentView* content() const { return m_content; }
    // Sizes the window to the view's current content.
    void fitContent();

signals:
    // After a rendering changed the window's size (the delegate re-places it).
    void resized();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void refit();

    Form m_form;
    ContentView* m_content;
};
