#pragma once

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include "ui/qt/content_view.h"

class AgentState;
class MainQueue;
class PanelWindow;
class QSystemTrayIcon;
class QMenu;
class QTimer;

// The tray application: the status icon, the panel under it, the first-launch
// start-at-login default and the schedules that keep the update information
// current. Created by the GUI program's entry before its event loop runs.
//
//   launch ─ tray icon (or, without a tray, a window) ─ panel
//          ─ logged out? show the panel
//          ─ first launch from the install folder? start at login on, once
//          ─ 20 s: silent update check; every 6 h: again; every 1 h: announced version
class AppDelegate : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::seconds kFirstUpdateCheck{20};
    static constexpr std::chrono::hours kUpdateCheckEvery{6};
    static constexpr std::chrono::hours kAvailableEvery{1};
    static inline const char* kLoginItemDecided = "loginItemDecided";
    // How long a new tray icon may take to settle before the panel shows
    // anyway, and how often its place is looked at meanwhile.
    static constexpr std::chrono::milliseconds kSettleTime{2000};
    static constexpr std::chrono::milliseconds kSettlePoll{50};
    static constexpr std::chrono::milliseconds kSettleStill{150};
    // How often a desktop without a tray is asked again whether one came.
    static constexpr std::chrono::milliseconds kTrayWatchEvery{1000};

    struct Options {
        QString settingsFile;                     // the per-user settings (INI)
        std::function<bool()> trayAvailable;      // the desktop's answer when unset
        bool background = false;                  // started by the session, not by the user
        bool afterUpdate = false;                 // relaunched by an update it just installed
        ContentView::Actions actions;             // browser and quit
    };

    AppDelegate(std::shared_ptr<AgentState> state, MainQueue& main, Options options);
    ~AppDelegate() override;

    // Leaves the event loop without asking the windows. QApplication::quit()
    // asks them to close first and is cancelled when one refuses; the panel
    // refuses (closing it only hides it), so "Quitter" and an installed
    // update end through this.
    static void quitApplication();

    // Builds everything, in launch order. Called once, with the event loop about to run.
    void applicationDidFinishLaunching();

    // The status icon's action: shows the panel if hidden, hides it if visible.
    void togglePanel();
    // Refreshes the state, sizes and places the panel, and shows it.
    void showPanel();
    // Another launch by the user: show the panel if hidden, and bring it to the front.
    void bringForward();

    const std::shared_ptr<AgentState>& state() const { return m_state; }
    QSystemTrayIcon* statusItem() const { return m_statusItem; }
    PanelWindow* panel() const { return m_panel; }

private:
    bool trayAvailable() const;
    void createStatusItem();
    void createPanel(bool floating);
    void watchForTray();
    void moveIntoTray();
    void showUnderSettlingIcon();
    void applyLoginItemDefault();
    void startSchedules();
    void place();
    QRect anchor() const;

    std::shared_ptr<AgentState> m_state;
    MainQueue& m_main;
    Options m_options;
    QSystemTrayIcon* m_statusItem = nullptr;
    QMenu* m_menu = nullptr;
    PanelWindow* m_panel = nullptr;
    bool m_clicked = false;         // inside the icon's click
    QTimer* m_trayWatch = nullptr;  // runs while there is no tray
    std::optional<QRect> m_anchor;  // where the icon was when the panel was last placed
};
