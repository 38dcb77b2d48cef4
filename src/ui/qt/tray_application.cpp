#include "ui/qt/tray_application.h"

#include <QApplication>
#include <QStringList>

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

// The same opener as the login's: xdg-open, which picks the user's
// browser and honours $BROWSER.
void openInBrowser(const std::string& url) { BrowserLauncher::open(url); }

}  // namespace

int run(int argc, char** argv) {
    const bool background = hasArgument(argc, argv, PlatformPaths::kBackgroundArgument);
    const std::string lockPath = InstanceLock::defaultPath();
    const QString socketPath = InstanceChannel::socketPathFor(QString::fromStdString(lockPath));

    InstanceLock lock(lockPath);
    if (!lock.tryAcquire()) {
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
    Updater::setQuitRequest([&main](std::chrono::milliseconds delay) {
        main.postAfter(delay, [] { QApplication::quit(); });
    });
    auto state = AgentState::create(main, workers, AgentState::Services::real(main, workers));

    AppDelegate::Options options;
    options.settingsFile = QString::fromStdString(ConfigStore::dir() + "/settings.ini");
    options.background = background;
    options.actions.openUrl = openInBrowser;
    options.actions.quit = [] { QApplication::quit(); };
    AppDelegate delegate(state, main, options);

    InstanceChannel channel;
    channel.listen(socketPath, [&delegate] { delegate.bringForward(); });

    delegate.applicationDidFinishLaunching();
    const int status = app.exec();
    Updater::setQuitRequest({});  // `main` is about to go
    return status;
}

}  // namespace TrayApplication
