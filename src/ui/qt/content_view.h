#pragma once

#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/core/panel_model.h"

class AgentState;
class FittedLabel;
class FocusRing;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QVBoxLayout;

// The panel's one view: header, update banner, account, assistants, error and
// location lines, footer. It keeps no state of its own: each rendering draws
// the PanelModel of the state's current values, and each control calls one
// operation of the state.
//
// The state announces a change before making it, so an announcement only
// schedules a rendering for the next turn of the event loop; a burst of
// changes (a login's end changes half the fields) is drawn once.
class ContentView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 380;

    // What the view does outside the state.
    struct Actions {
        std::function<void(const std::string& url)> openUrl;
        std::function<void()> quit;
    };

    ContentView(std::shared_ptr<AgentState> state, Actions actions, QWidget* parent = nullptr);
    ~ContentView() override;

    // Draws the current values now.
    void render();
    const PanelModel& model() const { return m_model; }
    // Puts the keyboard focus on the first control that can take it, so a
    // panel just shown works from the keyboard at once.
    void focusFirstControl();
    // The height the content needs at the fixed width.
    int contentHeight();

    // The avatar's letter: the name's first character (a whole grapheme), in upper case.
    static QString avatarInitial(const QString& name);

signals:
    void rendered();

protected:
    // Enter and the keypad's Enter press the focused button or checkbox, as
    // Space does.
    void keyPressEvent(QKeyEvent* event) override;
    // A new palette (the desktop turning dark) tones the coloured texts again.
    void changeEvent(QEvent* event) override;

private:
    struct ClientRowWidgets;
    class Avatar;
    class Banner;

    void scheduleRender();
    void build();
    QWidget* buildHeader();
    QWidget* buildBanner();
    QWidget* buildAccount();
    QWidget* buildManualLogin(QWidget* parent);
    QWidget* buildClients();
    QWidget* buildFooter();
    void rebuildClientRows();
    void renderBanner();
    void renderAccount();
    void renderClients();
    void renderFooter();
    void configureRow(const std::string& key);
    void openConnections();
    // Gives every coloured text and symbol the shade that reads on the current palette.
    void applyColors();
    // Rings the control that now has the keyboard focus, if it is one of ours.
    void followFocus(QWidget* focused);

    std::shared_ptr<AgentState> m_state;
    Actions m_actions;
    int m_observer = -1;
    bool m_renderPending = false;
    PanelModel m_model;

    FocusRing* m_focusRing = nullptr;

    QWidget* m_banner = nullptr;
    FittedLabel* m_bannerTitle = nullptr;
    FittedLabel* m_bannerDetail = nullptr;
    QPushButton* m_bannerButton = nullptr;

    QWidget* m_loggedInRow = nullptr;
    Avatar* m_avatar = nullptr;
    FittedLabel* m_userName = nullptr;
    FittedLabel* m_userEmail = nullptr;
    FittedLabel* m_invitation = nullptr;
    QWidget* m_loginRow = nullptr;
    QPushButton* m_loginButton = nullptr;
    QPushButton* m_cancelButton = nullptr;
    FittedLabel* m_statusLine = nullptr;
    QWidget* m_manualLogin = nullptr;
    QLineEdit* m_manualAddress = nullptr;

    QPushButton* m_configureAll = nullptr;
    QVBoxLayout* m_rowsLayout = nullptr;
    std::vector<std::unique_ptr<ClientRowWidgets>> m_rows;
    FittedLabel* m_notice = nullptr;
    FittedLabel* m_clientsNote = nullptr;

    FittedLabel* m_error = nullptr;
    QWidget* m_warning = nullptr;
    QLabel* m_warningIcon = nullptr;

    QWidget* m_footer = nullptr;
    QCheckBox* m_loginItem = nullptr;
    QPushButton* m_checkUpdates = nullptr;
    FittedLabel* m_updateStatus = nullptr;
    QPushButton* m_connections = nullptr;
    FittedLabel* m_version = nullptr;
    QPushButton* m_quit = nullptr;
};
