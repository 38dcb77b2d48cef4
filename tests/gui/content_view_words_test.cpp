// Every text of the real panel, in the states that change its words, read
// from the widgets themselves: on this desktop none names the Mac.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLabel>

#include "names_the_mac.h"
#include "state_fixture.h"
#include "ui/qt/content_view.h"

namespace {

// What the panel shows and tells a screen reader.
std::vector<QString> textsOf(QWidget& view) {
    std::vector<QString> texts{view.windowTitle(), view.accessibleName(), view.toolTip()};
    for (QWidget* w : view.findChildren<QWidget*>()) {
        texts.push_back(w->accessibleName());
        texts.push_back(w->toolTip());
        if (auto* label = qobject_cast<QLabel*>(w)) texts.push_back(label->text());
        if (auto* button = qobject_cast<QAbstractButton*>(w)) texts.push_back(button->text());
    }
    return texts;
}

void settle(StateFixture& f) {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::processEvents();
        f.main.runUntilIdle();
    }
}

bool shows(const std::vector<QString>& texts, const char* text) {
    return std::find(texts.begin(), texts.end(), QString(text)) != texts.end();
}

TEST(ContentViewWords, NoTextOfThePanelNamesTheMac) {
    ensureApplication();
    for (bool loggedIn : {false, true}) {
        SCOPED_TRACE(loggedIn ? "logged in" : "logged out");
        StateFixture f(loggedIn);
        f.catalogue[0].appPaths = {"/nonexistent/kestro-test/Claude"};  // no assistant installed
        f.announced = "9.9.9";
        f.make();
        ContentView::Actions actions;
        actions.openUrl = [](const std::string&) {};
        actions.quit = [] {};
        ContentView view(f.state, actions);
        view.show();
        settle(f);
        std::vector<QString> texts = textsOf(view);
        if (loggedIn) {
            f.state->configureAll();  // nothing installed: the notice says so
            settle(f);
            f.state->checkUpdates(false);  // from a build folder: the install advice
            settle(f);
            std::vector<QString> after = textsOf(view);
            texts.insert(texts.end(), after.begin(), after.end());
            EXPECT_TRUE(shows(texts, "Aucun assistant détecté sur cet ordinateur."));
            EXPECT_TRUE(shows(texts, "Installe l'app dans /opt pour les mises à jour automatiques."));
        }
        for (const QString& text : texts) EXPECT_FALSE(namesTheMac(text.toStdString())) << text.toStdString();
        EXPECT_TRUE(shows(texts, "Tes fichiers de l'ordinateur, dans Kestro, par ton assistant IA."));
        EXPECT_TRUE(shows(texts, "Ouvrir à l'ouverture de session"));
        EXPECT_TRUE(shows(texts,
                          "Installe l'app dans /opt avant de configurer : les assistants la lancent par son "
                          "chemin."));
        EXPECT_TRUE(shows(texts, "Non détecté sur cet ordinateur"));
    }
}

}  // namespace
