// The panel for people who read it from afar, by ear or with low vision, and
// who work it from the keyboard: texts that fit its width whatever their
// length, Enter on its buttons, a focus ring that shows on every background,
// and coloured texts that read on light and dark desktops. Everything through
// the real panel window, offscreen.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QDir>
#include <QKeyEvent>
#include <QPushButton>
#include <QStyle>
#include <QStyleFactory>

#include <cmath>

#include "state_fixture.h"
#include "ui/qt/fitted_label.h"
#include "ui/qt/panel_window.h"
#include "ui/qt/text_colors.h"

namespace {

constexpr const char* kInstalled = "/opt/Kestro Agent.app/bin/kestro-agent";
const QString kLongName = "Marie-Thérèse-Joséphine de La Rochefoucauld-Montmorency d'Aubigné-Saint-Exupéry";
const QString kLongEmail = "marie-therese.josephine.de-la-rochefoucauld@services-informatiques.exemple-regional.fr";
const QString kLongUrl =
    "https://kestro.example.com/index.php?page=board_tool_connexions&session=0123456789abcdef0123456789abcdef"
    "&retour=/Users/marie/Documents/Projets/2026/episode-03/SEQ07";

// The contrast of two colours as the web's accessibility guidelines define
// it, worked out here again rather than taken from the code under test.
double luminance(const QColor& c) {
    auto linear = [](int channel) {
        const double v = channel / 255.0;
        return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(c.red()) + 0.7152 * linear(c.green()) + 0.0722 * linear(c.blue());
}

double contrast(const QColor& a, const QColor& b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QString withoutBreaks(QString text) { return text.remove(QChar(0x200B)); }

// Sets the application's palette for one test and puts the previous one back.
struct PaletteScope {
    QPalette previous = QApplication::palette();
    explicit PaletteScope(const QPalette& p) { QApplication::setPalette(p); }
    ~PaletteScope() { QApplication::setPalette(previous); }
};

QPalette plainPalette(const QColor& window, const QColor& text, const QColor& highlight) {
    QPalette p(window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::Highlight, highlight);
    return p;
}

// The dark palette desktops commonly pair with the Fusion style.
QPalette fusionDark() {
    QPalette p = plainPalette(QColor(0x35, 0x35, 0x35), Qt::white, QColor(0x2a, 0x82, 0xda));
    p.setColor(QPalette::Base, QColor(0x2a, 0x2a, 0x2a));
    p.setColor(QPalette::Button, QColor(0x35, 0x35, 0x35));
    return p;
}

struct NamedPalette {
    const char* name;
    QPalette palette;
};

std::vector<NamedPalette> palettes() {
    std::unique_ptr<QStyle> fusion(QStyleFactory::create("Fusion"));
    return {
        {"fusion-light", fusion->standardPalette()},
        {"white", plainPalette(Qt::white, Qt::black, QColor(0x30, 0x8c, 0xc6))},
        {"dark", plainPalette(QColor(0x2b, 0x2b, 0x2b), QColor(0xee, 0xee, 0xee), QColor(0x30, 0x8c, 0xc6))},
        {"fusion-dark", fusionDark()},
    };
}

class ContentViewAccessTest : public ::testing::Test {
protected:
    void SetUp() override { ensureApplication(); }

    // The panel as the application shows it, with the keyboard focus.
    std::unique_ptr<PanelWindow> show(StateFixture& f) {
        if (!f.state) f.make();
        ContentView::Actions actions;
        actions.openUrl = [](const std::string&) {};
        actions.quit = [this] { ++quits; };
        auto w = std::make_unique<PanelWindow>(PanelWindow::Form::floating, f.state, actions);
        w->show();
        w->activateWindow();
        for (int i = 0; i < 50 && QApplication::activeWindow() != w.get(); ++i)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        EXPECT_EQ(QApplication::activeWindow(), w.get());
        f.settle();
        return w;
    }

    // Logged in under a long name, with the banner of a newer version.
    static void longNamesAndBanner(StateFixture& f) {
        f.stored.userName = kLongName.toStdString();
        f.stored.userEmail = kLongEmail.toStdString();
        f.announced = "1.2.0";
        f.make();
        f.state->refreshAvailable();
        f.background.runAll();
    }

    // An error whose text holds one word longer than the panel is wide.
    static void failLogin(StateFixture& f) {
        f.state->login();
        f.lastLogin->onDone(LoginError{"token_failed", ("Échec de l'échange du jeton : " + kLongUrl).toStdString()});
    }

    template <typename W = QWidget>
    static W* child(PanelWindow& w, const char* name) {
        W* found = w.findChild<W*>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    static FittedLabel* labelShowing(PanelWindow& w, const QString& fullText) {
        for (auto* l : w.findChildren<FittedLabel*>())
            if (l->fullText() == fullText) return l;
        ADD_FAILURE() << "no label for " << fullText.toStdString();
        return nullptr;
    }

    static void press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier, bool repeat = false) {
        QWidget* target = QApplication::focusWidget();
        ASSERT_NE(target, nullptr);
        QKeyEvent down(QEvent::KeyPress, key, modifiers, key == Qt::Key_Space ? " " : "\r", repeat);
        QKeyEvent up(QEvent::KeyRelease, key, modifiers, key == Qt::Key_Space ? " " : "\r", repeat);
        QApplication::sendEvent(target, &down);
        QApplication::sendEvent(target, &up);
    }

    static void focus(QWidget* control) {
        control->setFocus(Qt::TabFocusReason);
        QCoreApplication::processEvents();
        ASSERT_EQ(QApplication::focusWidget(), control) << control->objectName().toStdString();
    }

    // How many pixels of the two-pixel band just outside `control` contrast
    // with `backdrop` by 3:1 or more, out of the band's size.
    static double ringShare(const QImage& shot, PanelWindow& w, QWidget* control, const QColor& backdrop) {
        const QRect inner(control->mapTo(&w, QPoint(0, 0)), control->size());
        const QRect outer = inner.adjusted(-2, -2, 2, 2);
        int band = 0, standing = 0;
        for (int y = outer.top(); y <= outer.bottom(); ++y)
            for (int x = outer.left(); x <= outer.right(); ++x) {
                if (inner.contains(x, y)) continue;
                ++band;
                if (contrast(shot.pixelColor(x, y), backdrop) >= 3.0) ++standing;
            }
        return band ? double(standing) / band : 0;
    }

    int quits = 0;
};

}  // namespace

TEST_F(ContentViewAccessTest, LongNamesAndAddressesAreShortenedAndLongWordsWrapWithinTheWidth) {
    StateFixture f(true);
    longNamesAndBanner(f);
    failLogin(f);
    auto w = show(f);
    EXPECT_EQ(w->width(), ContentView::kWidth);

    // Nothing reaches past the margin, nothing is cut at the bottom, and each
    // shortened line fits whole in its label.
    const int right = ContentView::kWidth - 16;
    for (FittedLabel* l : w->findChildren<FittedLabel*>()) {
        if (!l->isVisibleTo(w.get())) continue;
        SCOPED_TRACE(l->fullText().toStdString());
        EXPECT_LE(l->mapTo(w.get(), QPoint(l->width(), 0)).x(), right);
        if (l->fit() == FittedLabel::Fit::wrap) {
            EXPECT_LE(l->minimumSizeHint().width(), l->width());
            EXPECT_LE(l->heightForWidth(l->width()), l->height());
        } else {
            EXPECT_LE(l->fontMetrics().horizontalAdvance(l->text()), l->width());
        }
    }
    EXPECT_GE(w->height(), w->content()->contentHeight());

    auto* name = child<FittedLabel>(*w, "userName");
    auto* email = child<FittedLabel>(*w, "userEmail");
    ASSERT_TRUE(name && email);
    EXPECT_TRUE(name->text().endsWith(QChar(0x2026))) << name->text().toStdString();
    EXPECT_TRUE(kLongName.startsWith(name->text().chopped(1)));
    const QString shown = email->text();
    const qsizetype cut = shown.indexOf(QChar(0x2026));
    ASSERT_GT(cut, 4) << shown.toStdString();  // the middle goes: whose address, and where, both stay
    EXPECT_LT(cut, shown.size() - 5);
    EXPECT_TRUE(kLongEmail.startsWith(shown.left(cut)));
    EXPECT_TRUE(kLongEmail.endsWith(shown.mid(cut + 1)));
    for (FittedLabel* l : {name, email}) {
        EXPECT_EQ(l->toolTip(), l->fullText());
        EXPECT_EQ(l->accessibleName(), l->fullText());
    }
    EXPECT_EQ(name->fullText(), kLongName);
    EXPECT_EQ(email->fullText(), kLongEmail);

    // The error keeps every character, on as many lines as it takes.
    auto* error = child<FittedLabel>(*w, "error");
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(withoutBreaks(error->text()), error->fullText());
    EXPECT_TRUE(error->fullText().endsWith(kLongUrl));
    EXPECT_EQ(error->accessibleName(), error->fullText());
    EXPECT_EQ(error->toolTip(), error->fullText());


    // A short name takes its place again, whole and without a tooltip.
    f.stored.userName = "ada";
    f.stored.userEmail = "ada@example.com";
    f.state->refresh();
    f.settle();
    EXPECT_EQ(name->text(), "ada");
    EXPECT_EQ(email->text(), "ada@example.com");
    EXPECT_TRUE(name->toolTip().isEmpty());
    EXPECT_TRUE(email->toolTip().isEmpty());
}

TEST_F(ContentViewAccessTest, ALabelShortensAgainWhenItsWidthOrFontChanges) {
    ensureApplication();
    QWidget parent;
    parent.resize(600, 100);
    parent.show();
    FittedLabel label(FittedLabel::Fit::elideMiddle, &parent);
    label.show();
    label.setFullText(kLongEmail);
    label.resize(label.sizeHint().width() + 4, label.sizeHint().height());
    EXPECT_EQ(label.text(), kLongEmail);
    EXPECT_TRUE(label.toolTip().isEmpty());
    label.resize(120, label.height());
    EXPECT_NE(label.text(), kLongEmail);
    EXPECT_LE(label.fontMetrics().horizontalAdvance(label.text()), 120);
    EXPECT_EQ(label.toolTip(), kLongEmail);
    const QString at120 = label.text();
    QFont larger = label.font();
    larger.setPointSizeF(larger.pointSizeF() * 1.5);
    label.setFont(larger);
    EXPECT_LT(label.text().size(), at120.size());
    EXPECT_LE(label.fontMetrics().horizontalAdvance(label.text()), 120);
}

TEST_F(ContentViewAccessTest, OnlyWordsWiderThanTheLineMayBreakAndNeverInsideACharacter) {
    ensureApplication();
    const QFontMetrics metrics(QApplication::font());
    const QString text = "Voir https://exemple.fr/tre\u0300s/longue/adresse/de/fichier/e\u0301pisode-03 ici";
    const QString broken = FittedLabel::breakLongWords(text, metrics, 100);
    EXPECT_EQ(withoutBreaks(broken), text);
    EXPECT_TRUE(broken.startsWith("Voir h"));  // the short word stays whole
    EXPECT_TRUE(broken.endsWith(" ici"));
    EXPECT_GT(broken.count(QChar(0x200B)), 20);
    EXPECT_TRUE(broken.contains(QString::fromUtf8("e\u0301")));  // a letter and its accent stay together
    EXPECT_TRUE(broken.contains(QString::fromUtf8("e\u0300")));
    EXPECT_EQ(FittedLabel::breakLongWords(text, metrics, 10000), text);  // a line wide enough changes nothing
}

TEST_F(ContentViewAccessTest, EnterAndKeypadEnterPressTheFocusedControl) {
    StateFixture f(true);
    f.executable = kInstalled;
    longNamesAndBanner(f);
    auto w = show(f);

    // The panel just shown works from the keyboard at once: the first control is the banner's.
    w->content()->focusFirstControl();
    QCoreApplication::processEvents();
    auto* update = child<QPushButton>(*w, "bannerUpdate");
    ASSERT_EQ(QApplication::focusWidget(), update);
    press(Qt::Key_Return);
    f.settle();
    EXPECT_FALSE(child<QPushButton>(*w, "bannerUpdate")->isEnabled());  // the check runs
    f.background.runAll();
    f.settle();
    EXPECT_TRUE(f.called("checkAndInstall"));

    focus(child(*w, "configure:cursor"));
    press(Qt::Key_Enter, Qt::KeypadModifier);
    f.settle();
    EXPECT_TRUE(f.called("configure:cursor"));
    // A key held down repeats; it still is one press.
    const auto configures = [&] { return std::count(f.calls.begin(), f.calls.end(), "configure:cursor"); };
    focus(child(*w, "configure:cursor"));
    press(Qt::Key_Return, Qt::NoModifier, true);
    f.settle();
    EXPECT_EQ(configures(), 1);

    focus(child<QCheckBox>(*w, "loginItem"));
    press(Qt::Key_Return);
    f.settle();
    EXPECT_TRUE(f.called("loginItem:on"));

    focus(child(*w, "quit"));
    press(Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(quits, 1);
    press(Qt::Key_Space);  // as before
    EXPECT_EQ(quits, 2);
}

TEST_F(ContentViewAccessTest, TheFocusedControlHasARingThatShowsOnTheBannerToo) {
    StateFixture f(true);
    longNamesAndBanner(f);
    auto w = show(f);
    auto* update = child(*w, "bannerUpdate");
    auto* connections = child(*w, "connections");
    const QColor window = w->palette().color(QPalette::Window);

    // From the first showing, before any key.
    w->content()->focusFirstControl();
    QCoreApplication::processEvents();
    ASSERT_EQ(QApplication::focusWidget(), update);
    QImage onBanner = w->grab().toImage();
    EXPECT_GT(ringShare(onBanner, *w, update, TextColors::kBanner), 0.6);
    EXPECT_LT(ringShare(onBanner, *w, connections, window), 0.1);
    // Light on the banner's green, where the desktop's dark or blue ring would vanish.
    const QRect ring(update->mapTo(w.get(), QPoint(update->width() / 2, -2)), QSize(1, 1));
    EXPECT_GE(luminance(onBanner.pixelColor(ring.topLeft())), 0.5);

    focus(connections);
    QImage offBanner = w->grab().toImage();
    EXPECT_GT(ringShare(offBanner, *w, connections, window), 0.6);
    EXPECT_LT(ringShare(offBanner, *w, update, TextColors::kBanner), 0.1);
}

TEST_F(ContentViewAccessTest, ColouredTextsReadOnLightAndDarkPalettes) {
    for (const NamedPalette& named : palettes()) {
        SCOPED_TRACE(named.name);
        for (bool switched : {false, true}) {
            SCOPED_TRACE(switched ? "palette changed while shown" : "palette set before");
            PaletteScope scope(switched ? palettes()[0].palette : named.palette);
            StateFixture f(true);
            longNamesAndBanner(f);
            f.state->configure(f.catalogue[0]);  // the green notice
            failLogin(f);                        // the red error
            f.state->checkUpdates(false);        // from a build folder: a secondary line under the footer
            auto w = show(f);
            if (switched) {
                QApplication::setPalette(named.palette);
                f.settle();
            }
            const QImage shot = w->grab().toImage();
            // What the texts are really drawn on, read from the picture.
            const QColor window = shot.pixelColor(4, 4);
            EXPECT_EQ(window.rgb(), named.palette.color(QPalette::Window).rgb());
            auto* banner = child(*w, "banner");
            const QColor green = shot.pixelColor(banner->mapTo(w.get(), QPoint(4, banner->height() / 2)));
            EXPECT_GE(contrast(Qt::white, green), 4.5);

            auto check = [&](FittedLabel* l, const QColor& background) {
                ASSERT_NE(l, nullptr);
                ASSERT_TRUE(l->isVisibleTo(w.get())) << l->fullText().toStdString();
                const QColor text = l->palette().color(QPalette::WindowText);
                EXPECT_EQ(text.alpha(), 255);
                EXPECT_GE(contrast(text, background), 4.5)
                    << l->fullText().toStdString() << ": " << text.name().toStdString() << " on "
                    << background.name().toStdString();
            };
            check(child<FittedLabel>(*w, "error"), window);
            check(child<FittedLabel>(*w, "notice"), window);
            check(labelShowing(*w, PanelText::kLocationWarning), window);
            check(child<FittedLabel>(*w, "userEmail"), window);
            check(child<FittedLabel>(*w, "updateStatus"), window);
            check(child<FittedLabel>(*w, "clientsNote"), window);
            check(child<FittedLabel>(*w, "version"), window);
            check(labelShowing(*w, "Non détecté sur cet ordinateur"), window);
            check(child<FittedLabel>(*w, "bannerTitle"), green);
            check(child<FittedLabel>(*w, "bannerDetail"), green);

#ifdef KESTRO_SCREENSHOT_DIR
            if (!switched) {
                QDir().mkpath(KESTRO_SCREENSHOT_DIR);
                shot.save(QString(KESTRO_SCREENSHOT_DIR) + "/panel-" + named.name + ".png");
            }
#endif
        }
    }
}
