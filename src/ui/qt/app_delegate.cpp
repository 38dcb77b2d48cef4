#include "ui/qt/app_delegate.h"

#include <QCursor>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QTimer>

#include "ui/core/agent_state.h"
#include "ui/core/panel_model.h"
#include "ui/qt/panel_placement.h"
#include "ui/qt/panel_window.h"
#include "ui/qt/symbols.h"

AppDelegate::AppDelegate(std::shared_ptr<AgentState> state, MainQueue& main, Options options)
    : m_state(std::move(state)), m_main(main), m_options(std::move(options)) {}

AppDelegate::~AppDelegate() {
    delete m_panel;
    delete m_menu;
}

void AppDelegate::quitApplication() { QCoreApplication::exit(0); }

void AppDelegate::applicationDidFinishLaunching() {
    const bool tray = trayAvailable();
    if (tray) createStatusItem();
    // Without a tray nothing could ever be clicked: the panel becomes an
    // ordinary window instead, never a process without a face.
    createPanel(tray);
    if (!tray) {
        // A session starting its autostart entries before its panel bar has
        // no tray yet: the icon goes there as soon as one appears.
        watchForTray();
        if (!m_options.background || !m_state->cfg().isLoggedIn()) showPanel();
    } else if (!m_state->cfg().isLoggedIn() || m_options.afterUpdate) {
        // After an update the user was looking at the panel: it comes back
        // from the new version.
        showUnderSettlingIcon();
    }
    applyLoginItemDefault();
    startSchedules();
}

bool AppDelegate::trayAvailable() const {
    return m_options.trayAvailable ? m_options.trayAvailable() : QSystemTrayIcon::isSystemTrayAvailable();
}

void AppDelegate::showUnderSettlingIcon() {
    // A new icon is still finding its place in the tray (created at the
    // screen's corner, then embedded and moved): shown at once, the panel
    // would appear where the icon was for a moment and jump. It is shown once
    // the icon's place has held still for a moment, or when waiting longer
    // would be noticed; hosts that never tell where the icon is are not waited for.
    struct Settling {
        QElapsedTimer waited;
        QRect last;
        int stillFor = 0;  // polls the icon has kept its place
    };
    auto* watch = new QTimer(this);
    watch->setInterval(kSettlePoll);
    auto settling = std::make_shared<Settling>();
    settling->waited.start();
    connect(watch, &QTimer::timeout, this, [this, watch, settling] {
        const QRect now = m_statusItem ? m_statusItem->geometry() : QRect();
        const bool told = now.isValid() && !now.isEmpty();
        const bool still = told && now == settling->last && now.topLeft() != QPoint(0, 0);
        settling->stillFor = still ? settling->stillFor + 1 : 0;
        settling->last = now;
        const bool settled = !told || settling->stillFor * kSettlePoll >= kSettleStill;
        if (!settled && settling->waited.elapsed() < kSettleTime.count()) return;
        watch->stop();
        watch->deleteLater();
        if (!m_panel) return;
        if (!m_panel->isVisible()) showPanel();
        else if (m_panel->form() == PanelWindow::Form::floating) {
            m_anchor = anchor();
            place();
        }
    });
    watch->start();
}

void AppDelegate::watchForTray() {
    // Qt asks the desktop again at each call (the XEmbed manager selection,
    // or the StatusNotifier watcher on the session bus), so a plain timer
    // sees a tray that was started after the application.
    m_trayWatch = new QTimer(this);
    m_trayWatch->setInterval(kTrayWatchEvery);
    connect(m_trayWatch, &QTimer::timeout, this, [this] {
        if (trayAvailable()) moveIntoTray();
    });
    m_trayWatch->start();
}

void AppDelegate::moveIntoTray() {
    m_trayWatch->stop();
    m_trayWatch->deleteLater();
    m_trayWatch = nullptr;
    const bool wasShown = m_panel->isVisible();
    m_panel->hide();
    m_panel->deleteLater();
    m_panel = nullptr;
    createStatusItem();
    createPanel(true);
    // What the user was looking at stays in front of them, now under the icon.
    if (wasShown) showUnderSettlingIcon();
}

void AppDelegate::createStatusItem() {
    m_statusItem = new QSystemTrayIcon(Symbols::trayIcon(), this);
    m_statusItem->setToolTip(PanelText::kTitle);
    connect(m_statusItem, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        // A second click soon after the first comes as a double click: it
        // toggles the panel too, or the user's click would be lost.
        if (reason != QSystemTrayIcon::Trigger && reason != QSystemTrayIcon::DoubleClick) return;
        m_clicked = true;
        togglePanel();
        m_clicked = false;
    });
    // Some tray hosts only offer a menu; it holds the same two actions.
    m_menu = new QMenu;
    m_menu->addAction(PanelText::kTitle, this, &AppDelegate::togglePanel);
    m_menu->addAction(PanelText::kQuit, this, [this] {
        if (m_options.actions.quit) m_options.actions.quit();
    });
    m_statusItem->setContextMenu(m_menu);
    m_statusItem->show();
}

void AppDelegate::createPanel(bool floating) {
    m_panel = new PanelWindow(floating ? PanelWindow::Form::floating : PanelWindow::Form::window, m_state,
                              m_options.actions);
    connect(m_panel, &PanelWindow::resized, this, [this] {
        if (m_panel->isVisible() && m_panel->form() == PanelWindow::Form::floating) place();
    });
}

void AppDelegate::applyLoginItemDefault() {
    QSettings settings(m_options.settingsFile, QSettings::IniFormat);
    if (!m_state->inApplications() || settings.value(kLoginItemDecided, false).toBool()) return;
    m_state->setLoginItem(true);
    // Recorded even when the autostart entry could not be written, so the
    // default is applied once and the user's later choice always stands.
    settings.setValue(kLoginItemDecided, true);
    settings.sync();
}

void AppDelegate::startSchedules() {
    QPointer<AppDelegate> self(this);
    auto checkUpdates = [this, self] {
        if (self) m_state->checkUpdates(true);
    };
    m_main.postAfter(kFirstUpdateCheck, checkUpdates);
    // Each firing queues its work, as everything that touches the state goes
    // through the main queue.
    MainQueue& main = m_main;
    m_main.schedule(kUpdateCheckEvery, true, [&main, checkUpdates] { main.post(checkUpdates); });
    m_main.schedule(kAvailableEvery, true, [this, self, &main] {
        main.post([this, self] {
            if (self) m_state->refreshAvailable();
        });
    });
}

void AppDelegate::togglePanel() {
    if (!m_panel) return;
    if (m_panel->isVisible()) m_panel->hide();
    else showPanel();
}

void AppDelegate::showPanel() {
    if (!m_panel) return;
    m_state->refresh();
    m_state->refreshAvailable();
    // Draw the refreshed values now, so the size and place fit what shows.
    m_panel->content()->render();
    m_panel->fitContent();
    if (m_panel->form() == PanelWindow::Form::floating) {
        m_anchor = anchor();
        place();
    }
    m_panel->show();
    m_panel->raise();
    // Taking the focus is what makes the panel usable from the keyboard.
    m_panel->activateWindow();
    m_panel->content()->focusFirstControl();
}

void AppDelegate::bringForward() {
    if (!m_panel) return;
    if (!m_panel->isVisible()) {
        showPanel();
        return;
    }
    // A minimised window comes back too.
    m_panel->setWindowState(m_panel->windowState() & ~Qt::WindowMinimized);
    m_panel->raise();
    m_panel->activateWindow();
}

QRect AppDelegate::anchor() const {
    QRect icon = m_statusItem ? m_statusItem->geometry() : QRect();
    if (icon.isValid() && !icon.isEmpty()) return icon;
    // Tray hosts that draw the icon themselves (StatusNotifier) do not tell
    // where it is. A click happens with the pointer on the icon; otherwise
    // the top right corner is where tray areas usually are.
    if (m_clicked) {
        QPoint pointer = QCursor::pos();
        if (QGuiApplication::screenAt(pointer)) return QRect(pointer, QSize(1, 1));
    }
    QScreen* primary = QGuiApplication::primaryScreen();
    if (!primary) return QRect(0, 0, 1, 1);
    QRect v = primary->availableGeometry();
    return QRect(v.x() + v.width() - 1, v.y() - 1, 1, 1);
}

void AppDelegate::place() {
    if (!m_anchor) return;
    QScreen* screen = QGuiApplication::screenAt(m_anchor->center());
    if (!screen) screen = QGuiApplication::primaryScreen();
    std::optional<QRect> available;
    if (screen) available = screen->availableGeometry();
    m_panel->move(PanelPlacement::origin(*m_anchor, m_panel->size(), available));
}
