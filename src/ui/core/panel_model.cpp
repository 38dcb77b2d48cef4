#include "ui/core/panel_model.h"

#include "core/version.h"
#include "ui/core/agent_state.h"

using namespace PanelText;

PanelModel::Input PanelModel::Input::from(const AgentState& state) {
    Input in;
    in.cfg = state.cfg();
    in.busy = state.busy();
    in.status = state.status();
    in.manualLoginAddress = state.manualLoginAddress();
    in.error = state.error();
    in.configured = state.configured();
    in.notice = state.notice();
    in.updateStatus = state.updateStatus();
    in.availableVersion = state.availableVersion();
    in.updating = state.updating();
    in.loginItem = state.loginItem();
    for (const ClientApp& app : state.clients())
        in.clients.push_back({.key = app.key, .name = app.name, .hint = app.hint, .installed = app.installed()});
    in.inApplications = state.inApplications();
    return in;
}

namespace {

PanelModel::ClientRow rowFor(const PanelModel::Input::Client& client, bool flag, bool loggedIn) {
    PanelModel::ClientRow row{.key = client.key, .name = client.name};
    // The configured flag comes first: an assistant configured and then
    // uninstalled still shows its entry as written.
    if (flag) {
        row.mark = PanelModel::Mark::configured;
        row.statusLine = kConfiguredPrefix + client.hint;
    } else if (client.installed) {
        row.mark = PanelModel::Mark::installed;
        row.statusLine = kNotConfigured;
    } else {
        row.mark = PanelModel::Mark::absent;
        row.statusLine = kNotDetected;
    }
    row.showButton = loggedIn;
    row.buttonLabel = flag ? kRedo : kConfigure;
    return row;
}

}  // namespace

PanelModel PanelModel::from(const Input& in) {
    PanelModel m;

    if (in.availableVersion) {
        m.showBanner = true;
        m.bannerTitle = "Nouvelle version " + *in.availableVersion + " disponible";
        if (in.updating)
            m.bannerDetail = in.updateStatus.empty() ? kBannerInstalling : in.updateStatus;
        else
            m.bannerDetail = kBannerIdle;
        m.bannerButton = in.updating ? kUpdateBusy : kUpdate;
        m.bannerButtonEnabled = !in.updating;
    }

    m.loggedIn = in.cfg.isLoggedIn();
    if (m.loggedIn) {
        m.userName = in.cfg.userName.empty() ? kConnected : in.cfg.userName;
        m.avatarName = in.cfg.userName;
        m.userEmail = in.cfg.userEmail;
    } else {
        m.loginLabel = in.busy ? kLoggingIn : kLogin;
        m.loginEnabled = !in.busy;
        m.showCancel = in.busy;
        m.statusLine = in.status;
        if (in.busy) m.manualLoginAddress = in.manualLoginAddress;
    }

    m.showConfigureAll = m.loggedIn;
    for (const auto& client : in.clients) {
        auto found = in.configured.find(client.key);
        bool flag = found != in.configured.end() && found->second;
        m.rows.push_back(rowFor(client, flag, m.loggedIn));
    }
    m.notice = in.notice;
    m.clientsNote = m.loggedIn ? kExample : kLoginFirst;

    m.error = in.error;
    m.showLocationWarning = !in.inApplications;

    m.loginItemChecked = in.loginItem;
    m.updateStatus = in.updateStatus;
    m.versionLabel = std::string("v") + kAppVersion;
    return m;
}

std::string PanelModel::connectionsUrl(const std::string& baseUrl) {
    return baseUrl + "/index.php?page=board_tool_connexions";
}
