#include "ui/qt/app_delegate.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QThread>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolTip>

#include "state_fixture.h"
#include "ui/qt/panel_window.h"

namespace {

using namespace std::chrono_literals;

constexpr const char* kInstalled = "/opt/Kestro Agent.app/bin/kestro-agent";

class AppDelegateTest : public ::testing::Test {
protected:
    void SetUp() override {
        ensureApplication();
        ASSERT_TRUE(dir.isValid());
    }

    std::unique_ptr<AppDelegate> launch(StateFixture& f, bool tray, bool background = false) {
        trayShown = tray;
        f.make();
        AppDelegate::Options options;
        options.settingsFile = settingsFile();
        options.trayAvailable = [this] { return trayShown; };
        options.background = background;
        options.actions.openUrl = [](const std::string&) {};
        options.actions.quit = [] {};
        auto d = std::make_unique<AppDelegate>(f.state, f.main, options);
        d->applicationDidFinishLaunching();
        QCoreApplication::processEvents();
        return d;
    }

    QString settingsFile() const { return dir.filePath("settings.ini"); }
    bool decided() const { return QSettings(settingsFile(), QSettings::IniFormat).value("loginItemDecided").toBool(); }

    static int count(const StateFixture& f, const std::string& what) {
        return static_cast<int>(std::count(f.calls.begin(), f.calls.end(), what));
    }

    // Runs the event loop until `done`, for at most a few seconds.
    template <typename F>
    static bool spinUntil(F done) {
        QElapsedTimer clock;
        clock.start();
        while (!done() && clock.elapsed() < 10000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            QThread::msleep(10);
        }
        return done();
    }

    QTemporaryDir dir;
    bool trayShown = false;
};

}  // namespace

TEST_F(AppDelegateTest, WithoutATrayThePanelIsAnOrdinaryWindowThatClosingOnlyHides) {
    StateFixture f;
    auto d = launch(f, false);
    PanelWindow* panel = d->panel();
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(d->statusItem(), nullptr);
    EXPECT_EQ(panel->form(), PanelWindow::Form::window);
    EXPECT_EQ(panel->windowTitle(), "Kestro Agent");
    EXPECT_FALSE(panel->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(panel->isVisible());  // logged out: opened at launch
    EXPECT_EQ(panel->width(), 380);

    panel->close();
    EXPECT_FALSE(panel->isVisible());
    // A second launch reaches the running copy, which shows it again.
    d->bringForward();
    EXPECT_TRUE(panel->isVisible());
}

TEST_F(AppDelegateTest, FloatingPanelToggledByTheIconAndPlacedInsideTheScreen) {
    StateFixture f(true);
    auto d = launch(f, true);
    PanelWindow* panel = d->panel();
    ASSERT_NE(d->statusItem(), nullptr);
    EXPECT_EQ(d->statusItem()->toolTip(), "Kestro Agent");
    EXPECT_EQ(panel->form(), PanelWindow::Form::floating);
    EXPECT_TRUE(panel->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(panel->windowFlags() & Qt::Tool);
    EXPECT_FALSE(panel->isVisible());  // logged in: hidden until clicked

    f.calls.clear();
    d->togglePanel();
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(panel->width(), 380);
    EXPECT_EQ(panel->height(), panel->content()->height());
    f.background.runAll();
    EXPECT_EQ(count(f, "available"), 1);  // each showing asks for the announced version
    QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE(panel->geometry().right() + 1, available.right() + 1 - 8);
    EXPECT_GE(panel->x(), available.x() + 8);

    d->togglePanel();
    EXPECT_FALSE(panel->isVisible());

    // Escape closes the floating panel from the keyboard.
    d->togglePanel();
    ASSERT_TRUE(panel->isVisible());
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(panel, &escape);
    EXPECT_FALSE(panel->isVisible());
}

TEST_F(AppDelegateTest, PanelGrowsWithItsContent) {
    StateFixture f;
    auto d = launch(f, false);
    int before = d->panel()->height();
    f.state->flash("✓ Configuré : Claude Desktop. Relance les apps.");
    QCoreApplication::processEvents();
    EXPECT_GT(d->panel()->height(), before);
}

TEST_F(AppDelegateTest, FirstLaunchFromTheInstallFolderTurnsStartAtLoginOnOnce) {
    {
        StateFixture f;
        f.executable = kInstalled;
        auto d = launch(f, false);
        EXPECT_TRUE(f.called("loginItem:on"));
        EXPECT_TRUE(f.state->loginItem());
        EXPECT_TRUE(decided());
    }
    // The user turned it off; the next launch leaves it off.
    StateFixture again;
    again.executable = kInstalled;
    auto d = launch(again, false);
    EXPECT_FALSE(again.called("loginItem:on"));
    EXPECT_FALSE(again.state->loginItem());
}

TEST_F(AppDelegateTest, LaunchFromElsewhereLeavesStartAtLoginAndTheSettingAlone) {
    StateFixture f;
    auto d = launch(f, false);
    EXPECT_FALSE(f.called("loginItem:on"));
    EXPECT_FALSE(decided());
}

TEST_F(AppDelegateTest, SchedulesTheSilentChecksAndTheHourlyAnnouncement) {
    StateFixture f(true);
    f.executable = kInstalled;
    // Started by the session: nothing shown, so only the schedules ask.
    auto d = launch(f, false, true);
    f.calls.clear();
    f.main.advance(19s);
    f.background.runAll();
    EXPECT_EQ(count(f, "checkAndInstall"), 0);  // nothing at launch itself
    f.main.advance(1s);
    f.background.runAll();
    f.main.runUntilIdle();
    EXPECT_EQ(count(f, "checkAndInstall"), 1);
    // A silent check that finds nothing shows nothing.
    EXPECT_EQ(f.state->updateStatus(), "");

    f.main.advance(1h);
    f.background.runAll();
    EXPECT_EQ(count(f, "available"), 1);
    f.main.advance(5h);
    f.background.runAll();
    f.main.runUntilIdle();
    EXPECT_EQ(count(f, "available"), 6);
    EXPECT_EQ(count(f, "checkAndInstall"), 2);  // the 6-hour check
}

TEST_F(AppDelegateTest, ScheduledTasksDoNothingOnceTheDelegateIsGone) {
    StateFixture f(true);
    f.executable = kInstalled;
    launch(f, false, true).reset();
    f.calls.clear();
    f.main.advance(7h);
    f.background.runAll();
    f.main.runUntilIdle();
    EXPECT_TRUE(f.calls.empty());
}

// A panel cut shorter than its content squeezes the rows and draws their two
// lines over each other; the banner's wrapped title once did that.
TEST_F(AppDelegateTest, EveryRowGetsTheHeightItAsksFor) {
    StateFixture f(true);
    f.announced = "9.0.0";
    auto d = launch(f, true);
    // The announcement arrives while the panel is already on screen.
    d->showPanel();
    QCoreApplication::processEvents();
    f.background.runAll();
    f.main.runUntilIdle();
    QCoreApplication::processEvents();
    ASSERT_TRUE(d->panel()->findChild<QWidget*>("banner")->isVisible());
    for (const char* key : {"claude", "cursor"}) {
        auto* row = d->panel()->findChild<QWidget*>(QString("client:") + key);
        ASSERT_NE(row, nullptr);
        EXPECT_GE(row->height(), row->sizeHint().height()) << key;
    }
}

TEST_F(AppDelegateTest, WithoutATrayAUserLaunchShowsTheWindowEvenLoggedIn) {
    StateFixture f(true);
    auto d = launch(f, false);
    EXPECT_EQ(d->panel()->form(), PanelWindow::Form::window);
    EXPECT_TRUE(d->panel()->isVisible());
}

TEST_F(AppDelegateTest, ATrayThatComesAfterTheLaunchTakesTheIcon) {
    // Started by the session before its panel bar, logged in: nothing to show yet.
    StateFixture f(true);
    auto d = launch(f, false, true);
    EXPECT_EQ(d->statusItem(), nullptr);
    EXPECT_FALSE(d->panel()->isVisible());

    trayShown = true;
    ASSERT_TRUE(spinUntil([&] { return d->statusItem() != nullptr; }));
    EXPECT_TRUE(d->statusItem()->isVisible());
    ASSERT_NE(d->panel(), nullptr);
    EXPECT_EQ(d->panel()->form(), PanelWindow::Form::floating);
    EXPECT_FALSE(d->panel()->isVisible());
    d->togglePanel();
    EXPECT_TRUE(d->panel()->isVisible());
}

TEST_F(AppDelegateTest, AShownWindowMovesUnderTheLateTrayIcon) {
    StateFixture f;
    auto d = launch(f, false);
    ASSERT_TRUE(d->panel()->isVisible());
    trayShown = true;
    ASSERT_TRUE(spinUntil([&] { return d->statusItem() && d->panel() && d->panel()->isVisible(); }));
    EXPECT_EQ(d->panel()->form(), PanelWindow::Form::floating);
}

TEST_F(AppDelegateTest, AQuickSecondClickOnTheIconIsNotLost) {
    StateFixture f(true);
    auto d = launch(f, true);
    ASSERT_NE(d->statusItem(), nullptr);
    emit d->statusItem()->activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(d->panel()->isVisible());
    // The second click of two in quick succession arrives as a double click.
    emit d->statusItem()->activated(QSystemTrayIcon::DoubleClick);
    EXPECT_FALSE(d->panel()->isVisible());
    emit d->statusItem()->activated(QSystemTrayIcon::Context);
    EXPECT_FALSE(d->panel()->isVisible());
}

// The panel refuses to close (closing only hides it); a quit that asks the
// windows first is cancelled whenever another window, a tooltip still
// showing, is asked after it. The application's quit must end the loop.
TEST_F(AppDelegateTest, QuitEndsTheEventLoopWhateverTheWindowsSay) {
    StateFixture f;
    auto delegate = launch(f, false);
    ASSERT_TRUE(delegate->panel()->isVisible());
    for (int attempt = 0; attempt < 2; ++attempt) {
        QToolTip::showText(QPoint(100, 100), "Kestro Agent");
        QTimer::singleShot(50, [] { AppDelegate::quitApplication(); });
        // A quit that never happens ends the loop with another code, later.
        QTimer fallback;
        fallback.setSingleShot(true);
        QObject::connect(&fallback, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        fallback.start(5000);
        EXPECT_EQ(QCoreApplication::exec(), 0) << "attempt " << attempt;
        delegate->showPanel();
    }
}
