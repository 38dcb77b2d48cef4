#include "ui/qt/content_view.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "state_fixture.h"

namespace {

class ContentViewTest : public ::testing::Test {
protected:
    void SetUp() override { ensureApplication(); }

    std::unique_ptr<ContentView> view(StateFixture& f) {
        f.make();
        ContentView::Actions actions;
        actions.openUrl = [this](const std::string& url) { opened.push_back(url); };
        actions.quit = [this] { ++quits; };
        auto v = std::make_unique<ContentView>(f.state, actions);
        v->show();
        return v;
    }

    template <typename W = QPushButton>
    static W* control(ContentView& v, const char* name) {
        W* w = v.findChild<W*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    static bool showsText(ContentView& v, const QString& text) {
        for (QLabel* l : v.findChildren<QLabel*>())
            if (l->isVisibleTo(&v) && l->text() == text) return true;
        return false;
    }

    std::vector<std::string> opened;
    int quits = 0;
};

}  // namespace

TEST_F(ContentViewTest, LoggedOutShowsTheInvitationAndTheLoginButtonOnly) {
    StateFixture f;
    auto v = view(f);
    EXPECT_TRUE(showsText(*v, PanelText::kInvitation));
    EXPECT_TRUE(showsText(*v, PanelText::kLoginFirst));
    EXPECT_TRUE(showsText(*v, PanelText::kLocationWarning));  // a build folder is not the install folder
    EXPECT_TRUE(showsText(*v, "v1.1.4"));
    auto* login = control(*v, "login");
    EXPECT_TRUE(login->isVisibleTo(v.get()));
    EXPECT_EQ(login->accessibleName(), "Se connecter à Kestro");
    EXPECT_FALSE(control(*v, "cancel")->isVisibleTo(v.get()));
    EXPECT_FALSE(control(*v, "configureAll")->isVisibleTo(v.get()));
    EXPECT_FALSE(control(*v, "configure:claude")->isVisibleTo(v.get()));
    EXPECT_FALSE(control<QWidget>(*v, "banner")->isVisibleTo(v.get()));
}

TEST_F(ContentViewTest, LoginButtonStartsTheLoginAndTheViewFollowsOnTheNextTurn) {
    StateFixture f;
    auto v = view(f);
    int renders = 0;
    QObject::connect(v.get(), &ContentView::rendered, [&] { ++renders; });
    control(*v, "login")->click();
    EXPECT_TRUE(f.called("login:http://127.0.0.1:9"));
    EXPECT_TRUE(f.called("login:start"));
    // The announcement comes before the change: nothing is drawn inside it.
    EXPECT_EQ(renders, 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(renders, 1);  // several fields changed, one rendering
    auto* login = control(*v, "login");
    EXPECT_EQ(login->accessibleName(), "Connexion en cours…");
    EXPECT_FALSE(login->isEnabled());
    auto* cancel = control(*v, "cancel");
    ASSERT_TRUE(cancel->isVisibleTo(v.get()));

    cancel->click();
    f.settle();
    EXPECT_TRUE(f.called("login:cancel"));
    EXPECT_FALSE(f.state->busy());
    EXPECT_TRUE(control(*v, "login")->isEnabled());
    EXPECT_FALSE(control(*v, "cancel")->isVisibleTo(v.get()));
}

TEST_F(ContentViewTest, LoggedInControlsCallTheirOperations) {
    StateFixture f(true);
    auto v = view(f);
    EXPECT_TRUE(showsText(*v, "ada lovelace"));
    EXPECT_TRUE(showsText(*v, "ada@example.com"));
    EXPECT_TRUE(showsText(*v, PanelText::kExample));
    EXPECT_TRUE(showsText(*v, "Non configuré"));
    EXPECT_TRUE(showsText(*v, "Non détecté sur cet ordinateur"));
    EXPECT_EQ(ContentView::avatarInitial("ada lovelace"), "A");

    auto* claude = control(*v, "configure:claude");
    EXPECT_EQ(claude->accessibleName(), "Configurer Claude Desktop");
    claude->click();
    f.settle();
    EXPECT_TRUE(f.called("configure:claude"));
    EXPECT_TRUE(showsText(*v, "Configuré · Relance Claude après configuration"));
    EXPECT_TRUE(showsText(*v, "✓ Claude Desktop : configuration écrite. Relance Claude après configuration."));
    EXPECT_EQ(control(*v, "configure:claude")->accessibleName(), "Refaire Claude Desktop");

    // Offered for an assistant that is not installed too.
    control(*v, "configure:cursor")->click();
    EXPECT_TRUE(f.called("configure:cursor"));

    f.calls.clear();
    control(*v, "configureAll")->click();
    f.settle();
    EXPECT_TRUE(f.called("configure:claude"));
    EXPECT_FALSE(f.called("configure:cursor"));  // only installed ones
    EXPECT_TRUE(f.called("save:/home/ada/build/kestro-agent"));

    control(*v, "logout")->click();
    f.settle();
    EXPECT_TRUE(f.called("clear"));
    EXPECT_TRUE(f.called("remove:claude"));
    EXPECT_TRUE(control(*v, "login")->isVisibleTo(v.get()));
    EXPECT_FALSE(control(*v, "configureAll")->isVisibleTo(v.get()));
}

TEST_F(ContentViewTest, FooterControls) {
    StateFixture f;
    auto v = view(f);
    auto* loginItem = control<QCheckBox>(*v, "loginItem");
    EXPECT_EQ(loginItem->accessibleName(), "Ouvrir à l'ouverture de session");
    EXPECT_FALSE(loginItem->isChecked());
    loginItem->click();
    f.settle();
    EXPECT_TRUE(f.called("loginItem:on"));
    EXPECT_TRUE(control<QCheckBox>(*v, "loginItem")->isChecked());

    // Outside the install folder a check only explains why it cannot update.
    control(*v, "checkUpdates")->click();
    f.settle();
    EXPECT_FALSE(f.called("checkAndInstall"));
    EXPECT_TRUE(showsText(*v, "Installe l'app dans /opt pour les mises à jour automatiques."));

    auto* connections = control(*v, "connections");
    EXPECT_EQ(connections->accessibleName(), "Connexions & apps");
    EXPECT_EQ(connections->text(), "Connexions && apps");  // a literal ampersand, no mnemonic
    connections->click();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], "http://127.0.0.1:9/index.php?page=board_tool_connexions");

    control(*v, "quit")->click();
    EXPECT_EQ(quits, 1);
}

TEST_F(ContentViewTest, ConnectionsOpensNothingForABaseUrlThatIsNoAddress) {
    StateFixture f;
    f.stored.baseUrl = "pas une adresse";
    auto v = view(f);
    control(*v, "connections")->click();
    EXPECT_TRUE(opened.empty());
}

TEST_F(ContentViewTest, BannerButtonRunsAVisibleCheckAndWaitsForIt) {
    StateFixture f;
    f.executable = "/opt/Kestro Agent.app/bin/kestro-agent";
    f.announced = "1.2.0";
    auto v = view(f);
    f.state->refreshAvailable();
    f.background.runAll();
    f.settle();
    ASSERT_TRUE(control<QWidget>(*v, "banner")->isVisibleTo(v.get()));
    EXPECT_TRUE(showsText(*v, "Nouvelle version 1.2.0 disponible"));
    EXPECT_FALSE(showsText(*v, PanelText::kLocationWarning));

    control(*v, "bannerUpdate")->click();
    f.settle();
    auto* button = control(*v, "bannerUpdate");
    EXPECT_EQ(button->accessibleName(), "…");
    EXPECT_FALSE(button->isEnabled());
    EXPECT_TRUE(showsText(*v, "Recherche de mise à jour…"));

    f.background.runAll();
    f.settle();
    EXPECT_TRUE(f.called("checkAndInstall"));
    EXPECT_TRUE(control(*v, "bannerUpdate")->isEnabled());
    EXPECT_TRUE(showsText(*v, "À jour (v1.1.4)."));
}

TEST_F(ContentViewTest, EveryControlHasAnAccessibleNameAndTakesTheKeyboardFocus) {
    StateFixture f(true);
    auto v = view(f);
    int controls = 0;
    for (QAbstractButton* b : v->findChildren<QAbstractButton*>()) {
        EXPECT_FALSE(b->accessibleName().isEmpty()) << b->objectName().toStdString();
        EXPECT_TRUE(b->focusPolicy() & Qt::TabFocus) << b->objectName().toStdString();
        ++controls;
    }
    EXPECT_GE(controls, 9);
}

TEST_F(ContentViewTest, AvatarTakesTheFirstCharacterWhole) {
    EXPECT_EQ(ContentView::avatarInitial(""), "");
    EXPECT_EQ(ContentView::avatarInitial("émile"), "É");
    // A letter with a combining accent is one character on screen.
    EXPECT_EQ(ContentView::avatarInitial(QString::fromUtf8("e\u0301mile")), QString::fromUtf8("E\u0301"));
}

// No browser could be opened: the panel gives the address, whole, to copy by
// button or select from the keyboard, for as long as the login waits.
TEST_F(ContentViewTest, WithoutABrowserTheAddressCanBeCopiedWhileTheLoginWaits) {
    StateFixture f;
    auto v = view(f);
    EXPECT_FALSE(control<QWidget>(*v, "manualLogin")->isVisibleTo(v.get()));
    const int narrowest = v->minimumSizeHint().width();
    control(*v, "login")->click();
    f.settle();
    const std::string url = "http://127.0.0.1:9/oauth/authorize?response_type=code&client_id=" + std::string(300, 'c');
    f.lastLogin->onBrowserFailed(url);
    f.settle();
    ASSERT_TRUE(control<QWidget>(*v, "manualLogin")->isVisibleTo(v.get()));
    EXPECT_TRUE(showsText(*v, PanelText::kNoBrowser));
    auto* field = control<QLineEdit>(*v, "manualAddress");
    EXPECT_EQ(field->text().toStdString(), url);
    EXPECT_TRUE(field->isReadOnly());
    EXPECT_LE(v->minimumSizeHint().width(), narrowest) << "a long address does not widen the panel";
    control(*v, "copyAddress")->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), url);

    control(*v, "cancel")->click();
    f.settle();
    EXPECT_FALSE(control<QWidget>(*v, "manualLogin")->isVisibleTo(v.get())) << "gone with the login";
    EXPECT_EQ(f.state->manualLoginAddress(), "");
}
