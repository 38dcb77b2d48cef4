// The real tray application on a real X display (Xvfb) with a freedesktop
// tray (trayer), against the stand-in service, logged in through a real
// headless browser. Skipped only when there is no Xvfb to run.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <QColor>
#include <QImage>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "agent_process.h"
#include "config/config_store.h"
#include "core/atomic_file.h"
#include "core/version.h"
#include "login/oauth_flow.h"
#include "dev_service.h"
#include "loopback_port.h"
#include "maintenance/updater.h"
#include "platform/platform_paths.h"
#include "running_programs.h"
#include "scoped_env.h"
#include "spawned.h"
#include "temp_home.h"

namespace fs = std::filesystem;
using Ms = std::chrono::milliseconds;

namespace {

const QColor kAvatar = QColor::fromRgbF(0.08f, 0.64f, 0.34f);
const QColor kBanner = QColor(0x12, 0x7b, 0x43);  // the banner green, dark enough for white text

template <typename F>
bool waitFor(F done, Ms timeout = Ms(20000)) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(Ms(100));
    }
    return true;
}

struct Geometry {
    int x = 0, y = 0, w = 0, h = 0;
};

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Everything of one run: the display, its tray, the service and the
// application, each ended by its PID when the test ends.
class TrayDisplay : public ::testing::Test {
protected:
    void SetUp() override {
        auto xvfbProgram = findProgram("Xvfb");
        if (!xvfbProgram) GTEST_SKIP() << "Xvfb is not installed";
        for (const char* tool : {"xdotool", "trayer", "chromium", "import", "xprop", "xwininfo", "xdg-open"})
            ASSERT_TRUE(findProgram(tool)) << tool << " is needed with Xvfb";
        // Logs beside the screenshots, so a failed run can be read afterwards.
        m_logs = std::string(KESTRO_SCREENSHOT_DIR) + "/logs/" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(m_logs);
        fs::create_directories(m_logs);
        startDisplay(*xvfbProgram);
        bool answering = !m_display.empty() &&
                         waitFor([&] { return runCommand({"xwininfo", "-root"}, {{"DISPLAY", m_display}}).has_value(); },
                                 Ms(10000));
        ASSERT_TRUE(answering) << "no X display answered";
        service.start(0);

        // No desktop and no registered handlers: xdg-open then uses $BROWSER,
        // the headless browser below.
        fs::create_directories(home.path() + "/xdg-data");
        fs::create_directories(home.path() + "/xdg-config-dirs");
        std::string browser = home.path() + "/browser";
        std::ofstream(browser) << "#!/bin/sh\n"
                               << "exec chromium --headless --no-sandbox --disable-gpu --disable-background-networking"
                               << " --disable-component-update --disable-sync --no-first-run"
                               << " --user-data-dir='" << home.path() << "/chromium' --dump-dom \"$1\" >> '"
                               << m_logs << "/browser-page.html' 2>> '" << m_logs << "/browser.log'\n";
        fs::permissions(browser, fs::perms::owner_all);
        // The system's xdg-open, run with a trace kept in the logs: when no
        // browser comes up, the trace says which way it went.
        std::string tracing = home.path() + "/traced-bin";
        fs::create_directories(tracing);
        std::ofstream(tracing + "/xdg-open") << "#!/bin/sh\nexec sh -x " << *findProgram("xdg-open") << " \"$@\" 2>> '"
                                             << m_logs << "/xdg-open.log'\n";
        fs::permissions(tracing + "/xdg-open", fs::perms::owner_all);
        const char* path = std::getenv("PATH");
        env = {{"DISPLAY", m_display},
               {"PATH", tracing + ":" + (path ? path : "/usr/bin:/bin")},
               {"QT_QPA_PLATFORM", "xcb"},
               {"BROWSER", browser},
               {"XDG_DATA_DIRS", home.path() + "/xdg-data"},
               {"XDG_CONFIG_DIRS", home.path() + "/xdg-config-dirs"},
               {"XDG_CURRENT_DESKTOP", kUnsetVariable},
               {"DESKTOP_SESSION", kUnsetVariable},
               {"WAYLAND_DISPLAY", kUnsetVariable},
               {"DBUS_SESSION_BUS_ADDRESS", "disabled:"},
               {"KESTRO_AGENT_MANIFEST_URL", kUnsetVariable}};

        AgentConfig cfg;
        cfg.baseUrl = service.baseUrl();
        ConfigStore::save(cfg);
        // Two assistants present in this HOME.
        fs::create_directories(home.path() + "/.config/Claude");
        fs::create_directories(home.path() + "/.cursor");
    }

    void TearDown() override {
        app.reset();
        tray.reset();
        xvfb.reset();
    }

    // -noreset: by default the server resets each time its last client
    // leaves, and a client connecting during that reset is refused. The
    // polls of xdotool come and go while trayer and the application connect,
    // so without it one of them fails to open the display now and then.
    void startDisplay(const std::string& program, const std::string& screen = "1280x800x24") {
        xvfb.reset();
        m_display.clear();
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        xvfb = std::make_unique<Spawned>(
            std::vector<std::string>{program, "-displayfd", "3", "-screen", "0", screen, "-nolisten", "tcp",
                                     "-noreset"},
            std::map<std::string, std::string>{}, m_logs + "/xvfb.log", fds[1]);
        ::close(fds[1]);
        std::string number;
        char c;
        auto deadline = std::chrono::steady_clock::now() + Ms(15000);
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd p{fds[0], POLLIN, 0};
            if (::poll(&p, 1, 200) <= 0) continue;
            if (::read(fds[0], &c, 1) != 1 || c == '\n') break;
            number += c;
        }
        ::close(fds[0]);
        if (!number.empty()) m_display = ":" + number;
    }

    void startTray(const std::string& edge = "top") {
        tray = std::make_unique<Spawned>(
            std::vector<std::string>{*findProgram("trayer"), "--edge", edge, "--align", "right", "--widthtype",
                                     "request", "--height", "28", "--SetDockType", "true", "--transparent", "false",
                                     "--tint", "0xd0d0d0", "--expand", "true"},
            env, m_logs + "/trayer.log");
        ASSERT_TRUE(waitFor([&] { return !windows({"--class", "trayer"}).empty(); }));
    }

    // The bundle's program (with its icons) when the build made one.
    static std::string appBinary() {
        const char* bundle = std::getenv("KESTRO_BUNDLE_DIR");
        if (bundle && fs::exists(std::string(bundle) + "/bin/kestro-agent")) return std::string(bundle) + "/bin/kestro-agent";
        return AgentProcess::agentBinary();
    }

    void startApp() {
        app = std::make_unique<Spawned>(std::vector<std::string>{appBinary()}, env, m_logs + "/app.log");
    }

    std::string x(const std::vector<std::string>& argv) { return runCommand(argv, env).value_or(""); }

    std::vector<std::string> windows(const std::vector<std::string>& query) {
        std::vector<std::string> args{"xdotool", "search"};
        args.insert(args.end(), query.begin(), query.end());
        std::istringstream out(x(args));
        std::vector<std::string> ids;
        for (std::string id; out >> id;) ids.push_back(id);
        return ids;
    }

    // Where the window really is on the screen, as the X server says.
    Geometry geometry(const std::string& window) {
        Geometry g;
        std::istringstream out(x({"xwininfo", "-id", window}));
        for (std::string line; std::getline(out, line);) {
            auto colon = line.find(':');
            if (colon == std::string::npos) continue;
            int v = std::atoi(line.c_str() + colon + 1);
            if (line.find("Absolute upper-left X") != std::string::npos) g.x = v;
            if (line.find("Absolute upper-left Y") != std::string::npos) g.y = v;
            if (line.find("  Width") != std::string::npos) g.w = v;
            if (line.find("  Height") != std::string::npos) g.h = v;
        }
        return g;
    }

    // The application's small window embedded in the tray.
    std::optional<std::string> trayIcon() { return app ? trayIconOf(app->pid()) : std::nullopt; }
    std::optional<std::string> trayIconOf(pid_t pid) {
        for (const auto& id : windows({"--onlyvisible", "--pid", std::to_string(pid)})) {
            Geometry g = geometry(id);
            if (g.w > 0 && g.w <= 48 && g.h <= 48) return id;
        }
        return std::nullopt;
    }

    // The panel, `width` pixels wide (380 at the usual scale).
    std::optional<std::string> panel(int width = 380) { return app ? panelOf(app->pid(), width) : std::nullopt; }
    std::optional<std::string> panelOf(pid_t pid, int width = 380) {
        for (const auto& id : windows({"--onlyvisible", "--pid", std::to_string(pid), "--name", "^Kestro Agent$"}))
            if (geometry(id).w == width) return id;
        return std::nullopt;
    }

    void click(const Geometry& g) {
        hover(g);
        x({"xdotool", "click", "1"});
    }

    // --sync waits for the pointer to move, and gives up only after 15 s
    // when it is already there (a second click on the tray icon).
    void hover(const Geometry& g) {
        const std::string to = "X=" + std::to_string(g.x + g.w / 2) + "\nY=" + std::to_string(g.y + g.h / 2) + "\n";
        if (x({"xdotool", "getmouselocation", "--shell"}).starts_with(to)) return;
        x({"xdotool", "mousemove", "--sync", std::to_string(g.x + g.w / 2), std::to_string(g.y + g.h / 2)});
    }

    // Keys for `window`: it gets the X input focus first, as a click would
    // give it, so a key sent while the server is busy is never lost elsewhere.
    void keysTo(const std::optional<std::string>& window, const std::vector<std::string>& names) {
        if (window) x({"xdotool", "windowfocus", "--sync", *window});
        keys(names);
    }

    // Where `window` ends up once it has stopped changing (content arriving
    // late, such as the update banner, makes the panel grow).
    Geometry settled(const std::string& window) {
        Geometry last = geometry(window);
        int same = 0;
        waitFor([&] {
            Geometry now = geometry(window);
            same = (now.x == last.x && now.y == last.y && now.w == last.w && now.h == last.h) ? same + 1 : 0;
            last = now;
            return same >= 5;
        });
        return last;
    }

    void keys(const std::vector<std::string>& names) {
        for (const auto& k : names) {
            x({"xdotool", "key", k});
            std::this_thread::sleep_for(Ms(150));
        }
    }

    // A picture of the whole screen, kept in the build folder.
    QImage screenshot(const std::string& name) {
        fs::create_directories(KESTRO_SCREENSHOT_DIR);
        std::string file = std::string(KESTRO_SCREENSHOT_DIR) + "/" + name + ".png";
        x({"import", "-window", "root", file});
        return QImage(QString::fromStdString(file));
    }

    // Pixels of exactly `color` inside the panel's area of `shot`.
    static int pixels(const QImage& shot, const Geometry& area, const QColor& color) {
        int n = 0;
        for (int y = area.y; y < area.y + area.h && y < shot.height(); ++y)
            for (int x = area.x; x < area.x + area.w && x < shot.width(); ++x)
                if (QColor(shot.pixel(x, y)).rgb() == color.rgb()) ++n;
        return n;
    }

    // Hides and shows the panel again: the showing puts the keyboard focus
    // on the first control.
    Geometry reopen(const Geometry& icon) {
        click(icon);
        waitFor([&] { return !panel(); }, Ms(5000));
        click(icon);
        std::optional<std::string> id;
        waitFor([&] { return (id = panel()).has_value(); }, Ms(5000));
        std::this_thread::sleep_for(Ms(500));
        return id ? geometry(*id) : Geometry{};
    }

    // What the application, the opener and the browser left behind, and a
    // picture of the panel, for a login that never ended: short enough to
    // be read whole in a CI log.
    std::string whyNoLogin() {
        screenshot("login-not-done");
        const std::string holders = portHolders(OAuthFlow::kDefaultPort);
        std::string asked;
        for (const auto& r : service.requests()) asked += " " + r.method + " " + r.path;
        return "service was asked:" + asked + "\nport " + std::to_string(OAuthFlow::kDefaultPort) +
               (loopbackPortFree(OAuthFlow::kDefaultPort) ? " free" : " taken") + ", its sockets:\n" + holders +
               "application: " + readFile(m_logs + "/app.log").substr(0, 1500) +
               "\nxdg-open (last lines):\n" + lines(m_logs + "/xdg-open.log", false) +
               "browser (first lines):\n" + lines(m_logs + "/browser.log", true);
    }

    // Up to a dozen lines of a log, from its start or its end, each cut short.
    static std::string lines(const std::string& file, bool first) {
        if (!fs::exists(file)) return "  (no such file)\n";
        std::vector<std::string> all;
        std::istringstream in(readFile(file));
        for (std::string line; std::getline(in, line);) all.push_back(line.substr(0, 160));
        const std::size_t n = std::min<std::size_t>(all.size(), 12);
        std::string out;
        for (std::size_t i = 0; i < n; ++i) out += "  " + all[first ? i : all.size() - n + i] + "\n";
        return out + "  (" + std::to_string(all.size()) + " lines)\n";
    }

    // The sockets with `port` as their own, as `ss` lists them.
    std::string portHolders(std::uint16_t port) {
        return runCommand({"ss", "-Htanp", "( sport = :" + std::to_string(port) + " )"}, env).value_or("(no ss)\n");
    }

    TempHome home;
    devservice::DevService service;
    std::map<std::string, std::string> env;
    std::unique_ptr<Spawned> xvfb, tray, app;
    std::string m_display, m_logs;
};

TEST_F(TrayDisplay, TrayIconPanelLoginAndAssistants) {
    startTray();
    startApp();
    std::optional<std::string> icon;
    ASSERT_TRUE(waitFor([&] { return (icon = trayIcon()).has_value(); })) << readFile(m_logs + "/app.log");
    Geometry iconBox;

    // Logged out: the panel opened by itself, under the icon from the first
    // moment it is seen (it waits for the icon to settle in the tray).
    std::optional<std::string> shown;
    ASSERT_TRUE(waitFor([&] { return (shown = panel()).has_value(); }, Ms(5000)));
    Geometry box = geometry(*shown);
    iconBox = geometry(*icon);
    EXPECT_EQ(box.y, iconBox.y + iconBox.h + 6)
        << "6 px below the icon: panel at " << box.y << ", icon " << iconBox.y << "+" << iconBox.h;
    EXPECT_EQ(box.w, 380);
    EXPECT_EQ(box.x + box.w, 1280 - 8) << "8 px inside the right edge";

    // A click hides it, a second one shows it again.
    click(iconBox);
    ASSERT_TRUE(waitFor([&] { return !panel(); }, Ms(5000)));
    click(iconBox);
    ASSERT_TRUE(waitFor([&] { return (shown = panel()).has_value(); }, Ms(5000)));
    std::this_thread::sleep_for(Ms(500));
    box = geometry(*shown);
    QImage loggedOut = screenshot("panel-logged-out");
    EXPECT_EQ(pixels(loggedOut, box, kAvatar), 0) << "no avatar while logged out";

    // A loopback connection of an earlier test whose client side had the
    // login's port keeps it for a minute (TIME_WAIT): the login would fail
    // with "Port 51734 occupé", as it would for a user just then.
    ASSERT_TRUE(waitForLoopbackPort(OAuthFlow::kDefaultPort))
        << "the login's port stays taken:\n" << portHolders(OAuthFlow::kDefaultPort);
    // "Se connecter à Kestro", clicked (a click needs no keyboard focus): the
    // whole login runs in the browser.
    click(Geometry{box.x + 86, box.y + 141, 20, 20});
    ASSERT_TRUE(waitFor([&] { return service.count("POST", "/oauth/register") > 0; }))
        << "the click started no login\n" << whyNoLogin();
    AgentConfig cfg;
    ASSERT_TRUE(waitFor([&] { return (cfg = ConfigStore::load()).isLoggedIn(); }, Ms(90000))) << whyNoLogin();
    EXPECT_FALSE(cfg.userName.empty());
    // The browser followed the stand-in's redirect to the loopback listener
    // and rendered what it answered.
    EXPECT_TRUE(waitFor([&] {
        return readFile(m_logs + "/browser-page.html").find("Kestro Agent est connecté") != std::string::npos;
    })) << readFile(m_logs + "/browser-page.html");

    // A successful login configures every assistant present.
    const std::string claude = home.path() + "/.config/Claude/claude_desktop_config.json";
    const std::string cursor = home.path() + "/.cursor/mcp.json";
    ASSERT_TRUE(waitFor([&] { return fs::exists(claude) && fs::exists(cursor); }));
    EXPECT_NE(readFile(claude).find("kestro-agent"), std::string::npos);

    // "Tout configurer" (the control after "Se déconnecter") writes them again.
    fs::remove(claude);
    box = reopen(iconBox);
    keysTo(panel(), {"Tab", "space"});
    ASSERT_TRUE(waitFor([&] { return fs::exists(claude); }, Ms(10000)));
    EXPECT_NE(readFile(claude).find(fs::canonical(appBinary()).string()), std::string::npos)
        << "the entry starts kestro-agent, not the GUI program";
    std::this_thread::sleep_for(Ms(500));
    QImage loggedIn = screenshot("panel-logged-in");
    EXPECT_GT(pixels(loggedIn, box, kAvatar), 100) << "the avatar of the logged-in user";

    // The service announces a newer version: the next showing has the banner.
    service.setManifest(R"({"latest":{"version":"9.0.0","url":")" + service.baseUrl() +
                        R"(/releases/x.zip","sha256":"00"}})");
    QImage withBanner;
    ASSERT_TRUE(waitFor(
        [&] {
            box = reopen(iconBox);
            std::this_thread::sleep_for(Ms(1000));
            withBanner = screenshot("panel-update-banner");
            return pixels(withBanner, box, kBanner) > 1000;
        },
        Ms(30000)));
}

TEST_F(TrayDisplay, WithoutATrayThePanelIsAWindowThatComesBack) {
    startApp();
    std::optional<std::string> window;
    ASSERT_TRUE(waitFor([&] { return (window = panel()).has_value(); })) << readFile(m_logs + "/app.log");
    std::string type = x({"xprop", "-id", *window, "_NET_WM_WINDOW_TYPE"});
    EXPECT_NE(type.find("_NET_WM_WINDOW_TYPE_NORMAL"), std::string::npos) << type;
    // Taskbars show the window with the application's icon and group it with
    // the desktop entry, whose StartupWMClass is the window's class.
    std::string windowClass = x({"xprop", "-id", *window, "WM_CLASS"});
    EXPECT_NE(windowClass.find(", \"io.kestro.agent\""), std::string::npos) << windowClass;
    std::string icon = x({"xprop", "-id", *window, "_NET_WM_ICON"});
    EXPECT_NE(icon.find("_NET_WM_ICON(CARDINAL) = "), std::string::npos) << icon.substr(0, 200);
    screenshot("window-fallback");

    // Closing it from the keyboard hides it; the process stays.
    x({"xdotool", "windowfocus", "--sync", *window});
    keys({"ctrl+w"});
    ASSERT_TRUE(waitFor([&] { return !panel(); }, Ms(5000)));
    EXPECT_TRUE(app->running());

    // Launching the application again brings it back, and ends at once.
    Spawned again({appBinary()}, env, m_logs + "/again.log");
    ASSERT_TRUE(waitFor([&] { return panel().has_value(); }, Ms(10000)));
    EXPECT_TRUE(waitFor([&] { return !again.running(); }, Ms(10000)));
}

// The whole self-update as a user lives it: the installed application offers
// the newer release in its banner, "Mettre à jour" installs it, the old copy
// ends and the new files' copy shows its panel; "Quitter" then ends it, even
// after the tray's tooltip has shown.
TEST_F(TrayDisplay, AnUpdateFromThePanelEndsWithTheNewVersionsPanelAndQuitterEndsIt) {
    const char* source = std::getenv("KESTRO_SOURCE_DIR");
    const char* built = std::getenv("KESTRO_BUNDLE_DIR");
    ASSERT_TRUE(source && built) << "run through ctest";
    // Only a copy under /opt/ updates itself. The application gets a private
    // /opt (a mount namespace, our folder bound there); the relaunched copy
    // inherits it. Without the right to make one, there is no way to run it.
    if (!runCommand({"unshare", "--mount", "--propagation", "private", "true"}, {}).has_value())
        GTEST_SKIP() << "no mount namespace can be made here (needs root)";

    const std::string opt = home.path() + "/opt";
    const std::string installed = opt + "/Kestro Agent.app";
    {
        ScopedEnv prefix("KESTRO_INSTALL_PREFIX", opt);
        ScopedEnv data("XDG_DATA_HOME", home.path() + "/.local/share");
        ASSERT_EQ(Updater::run(std::string(source) + "/scripts/install", {built}), 0);
        ScopedEnv buildDir("BUILD_DIR", fs::path(built).parent_path().parent_path().string());
        ScopedEnv dist("DIST_DIR", home.path() + "/dist");
        ASSERT_EQ(Updater::run(std::string(source) + "/scripts/package", {}), 0);
    }
    auto archive = AtomicFile::read(home.path() + "/dist/kestro-agent-" + kAppVersion + ".zip");
    ASSERT_TRUE(archive);
    service.releases().publish("99.0.0", *archive);
    const std::string gui = std::string("/Kestro Agent.app/bin/") + PlatformPaths::kGuiExecutableName;
    const struct stat before = [&] {
        struct stat st {};
        ::stat((opt + gui).c_str(), &st);
        return st;
    }();

    startTray();
    app = std::make_unique<Spawned>(
        std::vector<std::string>{*findProgram("unshare"), "--mount", "--propagation", "private", "sh", "-c",
                                 "mount --bind \"$1\" /opt && exec \"$2\"", "sh", opt,
                                 "/opt/Kestro Agent.app/bin/kestro-agent"},
        env, m_logs + "/app.log");
    // Logged out, the panel opens by itself; shown again, it has the banner
    // the service's release put there, with the keyboard on its button.
    ASSERT_TRUE(waitFor([&] { return panel().has_value(); })) << readFile(m_logs + "/app.log");
    std::optional<std::string> icon;
    ASSERT_TRUE(waitFor([&] { return (icon = trayIcon()).has_value(); }));
    std::this_thread::sleep_for(Ms(1500));
    Geometry box = reopen(geometry(*icon));
    ASSERT_EQ(box.w, 380);
    screenshot("update-offered");
    keysTo(panel(), {"space"});
    // The pointer rests on the icon meanwhile: its tooltip is showing when the
    // installed update asks the application to end.
    hover(geometry(*icon));

    // The old copy ends by itself, and a copy of the new files shows its panel.
    EXPECT_TRUE(waitFor([&] { return !app->running(); }, Ms(120000))) << readFile(m_logs + "/app.log");
    // The new files carry this build's version, not 99.0.0: from now on the
    // service offers that version, or the new copy's own check 20 s after
    // its launch would install the same release again and restart.
    service.releases().publish(kAppVersion, *archive);
    std::vector<pid_t> updated;
    ASSERT_TRUE(waitFor([&] { return !(updated = processesOfHome(opt + gui, home.path())).empty(); }, Ms(30000)));
    struct stat now {};
    ASSERT_EQ(::stat((opt + gui).c_str(), &now), 0);
    EXPECT_NE(now.st_ino, before.st_ino) << "the update put new files in place";
    const pid_t newCopy = updated.front();
    std::optional<std::string> newPanel;
    EXPECT_TRUE(waitFor([&] { return (newPanel = panelOf(newCopy)).has_value(); }))
        << "the new version shows its panel";
    ASSERT_TRUE(waitFor([&] { return (icon = trayIconOf(newCopy)).has_value(); }));
    screenshot("update-new-version-panel");

    // The tray's tooltip shows while the pointer rests on the icon; it is
    // still there when "Quitter", at the panel's bottom right, is clicked.
    hover(geometry(*icon));
    std::this_thread::sleep_for(Ms(1500));
    ASSERT_TRUE(waitFor([&] { return (newPanel = panelOf(newCopy)).has_value(); }));
    Geometry panelBox = settled(*newPanel);
    // Timed from before the click: the figure bounds the quit from above.
    auto asked = std::chrono::steady_clock::now();
    click(Geometry{panelBox.x + panelBox.w - 66, panelBox.y + panelBox.h - 36, 20, 20});
    // (Not its child: an ended copy is found no more, zombie or not.)
    bool ended = waitFor([&] { return processesOfHome(opt + gui, home.path()).empty(); }, Ms(10000));
    auto took = std::chrono::duration_cast<Ms>(std::chrono::steady_clock::now() - asked).count();
    EXPECT_TRUE(ended) << "\"Quitter\" left the process running";
    std::printf("quit: the process ended within %lld ms of the click\n", static_cast<long long>(took));
    endProcesses(processesOfHome(opt + gui, home.path()));
}

// The panel on other desktops: a tray at the bottom of the screen opens it
// above the icon, and a doubled scale (on a screen of twice the pixels)
// draws it twice as large, still under the icon and inside the screen.
TEST_F(TrayDisplay, ThePanelFitsATrayAtTheBottomAndADoubledScale) {
    struct Desktop {
        const char* edge;
        const char* scale;
        const char* screen;
        int width;
        const char* shot;
    };
    for (Desktop d : {Desktop{"bottom", "1", "1280x800x24", 1280, "panel-tray-bottom"},
                      Desktop{"top", "2", "2560x1600x24", 2560, "panel-scale-2"}}) {
        SCOPED_TRACE(d.shot);
        app.reset();
        tray.reset();
        if (d.width != 1280) {
            startDisplay(*findProgram("Xvfb"), d.screen);
            env["DISPLAY"] = m_display;
            ASSERT_TRUE(waitFor([&] { return runCommand({"xwininfo", "-root"}, env).has_value(); }, Ms(10000)));
        }
        startTray(d.edge);
        env["QT_SCALE_FACTOR"] = d.scale;
        startApp();
        std::optional<std::string> icon, shown;
        ASSERT_TRUE(waitFor([&] { return (icon = trayIcon()).has_value(); })) << readFile(m_logs + "/app.log");
        ASSERT_TRUE(waitFor([&] { return (shown = panel(380 * std::atoi(d.scale))).has_value(); }));
        std::this_thread::sleep_for(Ms(800));
        Geometry iconBox = geometry(*icon), box = geometry(*shown);
        screenshot(d.shot);
        EXPECT_EQ(box.w, 380 * std::atoi(d.scale));
        if (std::string(d.edge) == "bottom")
            EXPECT_EQ(box.y + box.h, iconBox.y - 6) << "6 px above the icon";
        else
            EXPECT_NEAR(box.y, iconBox.y + iconBox.h + 6 * std::atoi(d.scale), 1) << "below the icon (a pixel of rounding)";
        EXPECT_GE(box.x, 0);
        EXPECT_LE(box.x + box.w, d.width);
        EXPECT_LE(box.y + box.h, d.width == 1280 ? 800 : 1600) << "the whole panel on the screen";
    }
}

}  // namespace
