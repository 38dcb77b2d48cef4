#include "ui/qt/tray_application.h"

#include <QApplication>
#include <QStringList>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "config/config_store.h"
#include "core/version.h"
#include "maintenance/updater.h"
#include "platform/browser_launcher.h"
#include "platform/instance_lock.h"
#include "platform/platform_paths.h"
#include "platform/thread_background.h"
#include "ui/core/agent_state.h"
#include "ui/core/panel_model.h"
#include "ui/qt/app_delegate.h"
#include "ui/qt/display_platform.h"
#include "ui/qt/instance_channel.h"
#include "ui/qt/qt_main_queue.h"
#include "ui/qt/symbols.h"

namespace TrayApplication {
namespace {

bool hasArgument(int argc, char** argv, const char* wanted) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], wanted) == 0) return true;
    return false;
}

// The copy that installed an update ends a moment after starting the new one.
constexpr std::chrono::seconds kOldCopyEndsWithin{10};
// What still runs in the background when the loop has ended (a login waiting
// for the browser, a request to the service) gets this long to finish.
constexpr std::chrono::milliseconds kBackgroundWorkGrace{400};

// A user's launch, a background one or an update's relaunch takes the lock;
// false when another copy keeps it.
bool takeLock(InstanceLock& lock, bool afterUpdate) {
    if (lock.tryAcquire()) return true;
    return afterUpdate && lock.acquireWithin(kOldCopyEndsWithin);
}

}  // namespace

int run(int argc, char** argv) {
    const bool background = hasArgument(argc, argv, PlatformPaths::kBackgroundArgument);
    const bool afterUpdate = hasArgument(argc, argv, PlatformPaths::kAfterUpdateArgument);
    const std::string lockPath = InstanceLock::defaultPath();
    const QString socketPath = InstanceChannel::socketPathFor(QString::fromStdString(lockPath));

    InstanceLock lock(lockPath);
    if (!takeLock(lock, afterUpdate)) {
        // Another copy runs: a user's launch brings its panel forward, a
        // background launch has nothing to do.
        if (!background) InstanceChannel::requestShow(socketPath);
        return 0;
    }

    // The command line Qt sees, with the platform when it must be named: an
    // argument, not a variable, so the browser and the relaunched program
    // inherit nothing.
    std::vector<char*> qtArguments(argv, argv + argc);
    auto platform = DisplayPlatform::forcedPlatform(std::getenv("QT_QPA_PLATFORM"), hasArgument(argc, argv, "-platform"));
    char platformFlag[] = "-platform";
    if (platform) {
        qtArguments.push_back(platformFlag);
        qtArguments.push_back(platform->data());
    }
    qtArguments.push_back(nullptr);
    int qtArgumentCount = static_cast<int>(qtArguments.size()) - 1;
    QApplication app(qtArgumentCount, qtArguments.data());
    // The application name is the X window class, which taskbars match
    // against the desktop entry's StartupWMClass to show the entry's icon and
    // group the windows; the display name stays the title users read.
    QApplication::setApplicationName(kBundleIdentifier);
    QApplication::setApplicationDisplayName(PanelText::kTitle);
    QApplication::setDesktopFileName(kBundleIdentifier);
    // Every window gets the application's icon (_NET_WM_ICON on X11).
    QApplication::setWindowIcon(Symbols::applicationIcon());
    // Closing the panel's window must never end the application.
    QApplication::setQuitOnLastWindowClosed(false);

    QtMainQueue main;
    ThreadBackground workers;
    // An installed update ends this copy through the event loop, so the lock
    // and the settings are released in order before the new copy starts.
    Updater::setQuitRequest(
        [&main](std::chrono::milliseconds delay) { main.postAfter(delay, AppDelegate::quitApplication); });
    auto state = AgentState::create(main, workers, AgentState::Services::real(main, workers));

    AppDelegate::Options options;
    options.settingsFile = QString::fromStdString(ConfigStore::dir() + "/settings.ini");
    options.background = background;
    options.afterUpdate = afterUpdate;
    // The same opener as the login's (xdg-open, which picks the user's
    // browser and honours $BROWSER), off the main thread: it watches the
    // opener for a moment, and the panel must not freeze meanwhile.
    options.actions.openUrl = [&workers](const std::string& url) {
        workers.run([url] { BrowserLauncher::open(url); });
    };
    options.actions.quit = AppDelegate::quitApplication;
    AppDelegate delegate(state, main, options);

    InstanceChannel channel;
    channel.listen(socketPath, [&delegate] { delegate.bringForward(); });

    delegate.applicationDidFinishLaunching();
    const int status = app.exec();
    Updater::setQuitRequest({});  // `main` is about to go
    // A quitting application must not wait on the network: a login still
    // listening stops now, and work that does not end promptly is left to the
    // process's end. Every file the agent writes is replaced whole, so none is
    // left half written; the kernel releases the lock.
    state->cancelLogin();
    if (!workers.waitIdleFor(kBackgroundWorkGrace)) {
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}

}  // namespace TrayApplication
