#include "ui/core/panel_model.h"

#include <gtest/gtest.h>

namespace {

using Input = PanelModel::Input;
using Mark = PanelModel::Mark;

Input::Client claude{.key = "claude", .name = "Claude Desktop", .hint = "Relance Claude après configuration",
                     .installed = true};
Input::Client cursor{.key = "cursor", .name = "Cursor", .hint = "Relance Cursor", .installed = false};

Input loggedOut() {
    Input in;
    in.clients = {claude, cursor};
    return in;
}

Input loggedIn(std::string name = "Ada Lovelace") {
    Input in = loggedOut();
    in.cfg.token = "tok";
    in.cfg.userName = std::move(name);
    in.cfg.userEmail = "ada@example.com";
    return in;
}

}  // namespace

// The three account states, as the panel shows them.
TEST(PanelModel, AccountAndAssistantsPerLoginState) {
    struct Row {
        const char* state;
        Input in;
        bool loggedIn;
        const char* loginLabel;
        bool loginEnabled;
        bool cancel;
        bool configureAll;
        bool rowButtons;
        const char* note;
    };
    Input busy = loggedOut();
    busy.busy = true;
    busy.status = "Autorise Kestro Agent dans le navigateur…";
    const Row rows[] = {
        {"logged out", loggedOut(), false, "Se connecter à Kestro", true, false, false, false,
         "Connecte-toi d'abord : les assistants seront configurés automatiquement."},
        {"logging in", busy, false, "Connexion en cours…", false, true, false, false,
         "Connecte-toi d'abord : les assistants seront configurés automatiquement."},
        {"logged in", loggedIn(), true, "", false, false, true, true,
         "Dans l'assistant, demande par exemple : « Regarde ~/Desktop/SEQ07 et remplis la séquence 7 de "
         "l'épisode 3 avec ces images »."},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.state);
        PanelModel m = PanelModel::from(r.in);
        EXPECT_EQ(m.loggedIn, r.loggedIn);
        EXPECT_EQ(m.loginLabel, r.loginLabel);
        EXPECT_EQ(m.loginEnabled, r.loginEnabled);
        EXPECT_EQ(m.showCancel, r.cancel);
        EXPECT_EQ(m.showConfigureAll, r.configureAll);
        ASSERT_EQ(m.rows.size(), 2u);
        for (const auto& row : m.rows) EXPECT_EQ(row.showButton, r.rowButtons) << row.key;
        EXPECT_EQ(m.clientsNote, r.note);
    }
    PanelModel during = PanelModel::from(busy);
    EXPECT_EQ(during.statusLine, "Autorise Kestro Agent dans le navigateur…");
}

TEST(PanelModel, LoggedInShowsNameAndMailWithAnEmptyNameReadingConnecte) {
    PanelModel named = PanelModel::from(loggedIn());
    EXPECT_EQ(named.userName, "Ada Lovelace");
    EXPECT_EQ(named.avatarName, "Ada Lovelace");
    EXPECT_EQ(named.userEmail, "ada@example.com");

    PanelModel anonymous = PanelModel::from(loggedIn(""));
    EXPECT_EQ(anonymous.userName, "Connecté");
    EXPECT_EQ(anonymous.avatarName, "");  // an empty circle
}

// Mark, status line and button of one row, from its flag and installation.
TEST(PanelModel, AssistantRowsFromConfiguredFlagAndInstallation) {
    struct Row {
        bool installed;
        std::optional<bool> flag;  // none: the key is missing from the map
        Mark mark;
        const char* status;
        const char* button;
    };
    const Row rows[] = {
        {true, true, Mark::configured, "Configuré · Relance Claude après configuration", "Refaire"},
        // The flag comes first: configured, then uninstalled.
        {false, true, Mark::configured, "Configuré · Relance Claude après configuration", "Refaire"},
        {true, false, Mark::installed, "Non configuré", "Configurer"},
        {true, std::nullopt, Mark::installed, "Non configuré", "Configurer"},
        {false, false, Mark::absent, "Non détecté sur cet ordinateur", "Configurer"},
    };
    for (const Row& r : rows) {
        Input in = loggedIn();
        in.clients = {claude};
        in.clients[0].installed = r.installed;
        if (r.flag) in.configured["claude"] = *r.flag;
        PanelModel m = PanelModel::from(in);
        ASSERT_EQ(m.rows.size(), 1u);
        EXPECT_EQ(m.rows[0].mark, r.mark) << r.status;
        EXPECT_EQ(m.rows[0].statusLine, r.status);
        EXPECT_EQ(m.rows[0].buttonLabel, r.button);
        EXPECT_EQ(m.rows[0].name, "Claude Desktop");
    }
}

TEST(PanelModel, RowsKeepCatalogueOrder) {
    Input in = loggedOut();
    in.clients = {cursor, claude};
    PanelModel m = PanelModel::from(in);
    ASSERT_EQ(m.rows.size(), 2u);
    EXPECT_EQ(m.rows[0].key, "cursor");
    EXPECT_EQ(m.rows[1].key, "claude");
}

TEST(PanelModel, UpdateBannerFollowsTheCheck) {
    struct Row {
        const char* what;
        std::optional<std::string> available;
        bool updating;
        std::string updateStatus;
        bool banner;
        const char* detail;
        const char* button;
        bool enabled;
    };
    const Row rows[] = {
        {"nothing announced", std::nullopt, false, "", false, "", "", false},
        {"announced", "1.2.0", false, "", true, "Installée en quelques secondes, l'app redémarre seule.",
         "Mettre à jour", true},
        {"installing, no text yet", "1.2.0", true, "", true, "Installation…", "…", false},
        // An earlier check's text is still what the banner shows.
        {"installing after an earlier check", "1.2.0", true, "À jour (v1.1.4).", true, "À jour (v1.1.4).", "…",
         false},
        {"announced, a check ended", "1.2.0", false, "Mise à jour vers 1.2.0…", true,
         "Installée en quelques secondes, l'app redémarre seule.", "Mettre à jour", true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        Input in = loggedIn();
        in.availableVersion = r.available;
        in.updating = r.updating;
        in.updateStatus = r.updateStatus;
        PanelModel m = PanelModel::from(in);
        EXPECT_EQ(m.showBanner, r.banner);
        if (!r.banner) continue;
        EXPECT_EQ(m.bannerTitle, "Nouvelle version 1.2.0 disponible");
        EXPECT_EQ(m.bannerDetail, r.detail);
        EXPECT_EQ(m.bannerButton, r.button);
        EXPECT_EQ(m.bannerButtonEnabled, r.enabled);
        EXPECT_EQ(m.updateStatus, r.updateStatus);  // the footer line too
    }
}

TEST(PanelModel, LinesIndependentOfTheAccount) {
    for (Input in : {loggedOut(), loggedIn()}) {
        in.inApplications = false;
        in.error = "Connexion impossible";
        in.notice = "✓ Configuré : Claude Desktop. Relance les apps.";
        in.loginItem = true;
        PanelModel m = PanelModel::from(in);
        EXPECT_TRUE(m.showLocationWarning);
        EXPECT_EQ(m.error, "Connexion impossible");
        EXPECT_EQ(m.notice, "✓ Configuré : Claude Desktop. Relance les apps.");
        EXPECT_TRUE(m.loginItemChecked);
        EXPECT_EQ(m.versionLabel, "v1.1.4");

        in.inApplications = true;
        EXPECT_FALSE(PanelModel::from(in).showLocationWarning);
    }
}

TEST(PanelModel, ConnectionsPageOfTheBaseUrl) {
    EXPECT_EQ(PanelModel::connectionsUrl("https://kestro.io"),
              "https://kestro.io/index.php?page=board_tool_connexions");
}
