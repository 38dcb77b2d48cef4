#include "ui/qt/content_view.h"

#include <QApplication>

#include <algorithm>
#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QTextBoundaryFinder>
#include <QUrl>
#include <QVBoxLayout>

#include "ui/core/agent_state.h"
#include "ui/qt/fitted_label.h"
#include "ui/qt/focus_ring.h"
#include "ui/qt/symbols.h"
#include "ui/qt/text_colors.h"

using namespace PanelText;
using Symbols::Symbol;
using Fit = FittedLabel::Fit;
using Tone = TextColors::Tone;

namespace {

// The platform text styles the layout is written in, mapped onto the
// desktop's own font so the panel follows the user's font size.
enum class TextStyle { body, title3, headline, subheadline, caption, caption2 };

QFont fontFor(TextStyle style) {
    QFont f = QApplication::font();
    const qreal base = f.pointSizeF() > 0 ? f.pointSizeF() : 10.0;
    switch (style) {
        case TextStyle::body: break;
        case TextStyle::title3: f.setPointSizeF(base * 1.3); break;
        case TextStyle::headline:
            f.setPointSizeF(base * 1.05);
            f.setWeight(QFont::Bold);
            break;
        case TextStyle::subheadline: f.setPointSizeF(base); break;
        case TextStyle::caption: f.setPointSizeF(base * 0.86); break;
        case TextStyle::caption2: f.setPointSizeF(base * 0.78); break;
    }
    return f;
}

const QColor kAvatarColor = QColor::fromRgbF(0.08f, 0.64f, 0.34f);

// Each coloured text keeps its tone here, so a change of palette (the desktop
// switching to dark) can give every one the shade that reads on the new one.
const char* const kToneProperty = "textTone";

QString q(const std::string& text) { return QString::fromStdString(text); }

// Buttons read "&" as a mnemonic marker; the texts here are shown as written.
QString buttonText(const QString& text) {
    QString escaped = text;
    escaped.replace('&', "&&");
    return escaped;
}

void setColor(QWidget* w, const QColor& color) {
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, color);
    p.setColor(QPalette::Text, color);
    w->setPalette(p);
}

void setTone(QWidget* w, Tone tone) {
    w->setProperty(kToneProperty, int(tone));
    setColor(w, TextColors(w->palette()).color(tone));
}

FittedLabel* label(const QString& text, TextStyle style, QWidget* parent, Fit fit = Fit::elideRight) {
    auto* l = new FittedLabel(fit, parent);
    l->setFont(fontFor(style));
    l->setFullText(text);
    return l;
}

FittedLabel* toneLabel(const QString& text, TextStyle style, Tone tone, QWidget* parent, Fit fit = Fit::elideRight) {
    FittedLabel* l = label(text, style, parent, fit);
    setTone(l, tone);
    return l;
}

FittedLabel* secondaryLabel(const QString& text, TextStyle style, QWidget* parent, Fit fit = Fit::elideRight) {
    return toneLabel(text, style, Tone::secondary, parent, fit);
}

FittedLabel* sectionTitle(const QString& text, QWidget* parent) {
    FittedLabel* l = secondaryLabel(text, TextStyle::caption2, parent);
    QFont f = l->font();
    f.setWeight(QFont::Bold);
    l->setFont(f);
    return l;
}

QPushButton* button(const QString& text, QWidget* parent, TextStyle style = TextStyle::caption) {
    auto* b = new QPushButton(buttonText(text), parent);
    b->setFont(fontFor(style));
    b->setAccessibleName(text);
    b->setAutoDefault(false);
    b->setFocusPolicy(Qt::StrongFocus);
    return b;
}

QFrame* divider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QLabel* symbolLabel(Symbol symbol, const QColor& color, int size, QWidget* parent) {
    auto* l = new QLabel(parent);
    l->setPixmap(Symbols::pixmap(symbol, color, size, parent->devicePixelRatioF()));
    l->setFixedSize(size, size);
    return l;
}

void setText(FittedLabel* l, const std::string& text) { l->setFullText(q(text)); }

void setButtonText(QPushButton* b, const std::string& text) {
    QString t = q(text);
    b->setText(buttonText(t));
    b->setAccessibleName(t);
}

}  // namespace

// A 30 × 30 circle in the avatar colour with the user's initial on it.
class ContentView::Avatar : public QWidget {
public:
    explicit Avatar(QWidget* parent) : QWidget(parent) {
        setFixedSize(30, 30);
        setAccessibleName("Avatar");
    }
    void setInitial(const QString& initial) {
        if (initial == m_initial) return;
        m_initial = initial;
        setAccessibleDescription(initial);
        update();
    }
    const QString& initial() const { return m_initial; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(kAvatarColor);
        p.drawEllipse(rect());
        QFont f = fontFor(TextStyle::caption);
        f.setWeight(QFont::Bold);
        p.setFont(f);
        p.setPen(Qt::white);
        p.drawText(rect(), Qt::AlignCenter, m_initial);
    }

private:
    QString m_initial;
};

// The rounded green plate under the update banner's row.
class ContentView::Banner : public QWidget {
public:
    explicit Banner(QWidget* parent) : QWidget(parent) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(TextColors::kBanner);
        p.drawRoundedRect(rect(), 10, 10);
    }
};

struct ContentView::ClientRowWidgets {
    std::string key;
    QWidget* row = nullptr;
    QLabel* mark = nullptr;
    FittedLabel* name = nullptr;
    FittedLabel* status = nullptr;
    QPushButton* button = nullptr;
    PanelModel::Mark shownMark{};
    bool markDrawn = false;
};

ContentView::ContentView(std::shared_ptr<AgentState> state, Actions actions, QWidget* parent)
    : QWidget(parent), m_state(std::move(state)), m_actions(std::move(actions)) {
    setFixedWidth(kWidth);
    build();
    m_focusRing = new FocusRing(this);
    m_observer = m_state->observe([this] { scheduleRender(); });
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) { followFocus(now); });
    render();
}

ContentView::~ContentView() { m_state->unobserve(m_observer); }

void ContentView::scheduleRender() {
    if (m_renderPending) return;
    m_renderPending = true;
    QMetaObject::invokeMethod(this, &ContentView::render, Qt::QueuedConnection);
}

int ContentView::contentHeight() {
    // Summed child by child at the width each really gets: the layout's own
    // total underestimates a banner whose title wraps beside its button, and
    // a panel cut to that total squeezes the assistants' rows.
    auto* body = layout();
    body->invalidate();
    const QMargins m = body->contentsMargins();
    const int width = kWidth - m.left() - m.right();
    int total = m.top() + m.bottom();
    int shown = 0;
    for (int i = 0; i < body->count(); ++i) {
        QWidget* child = body->itemAt(i)->widget();
        if (!child || child->isHidden()) continue;
        total += child->hasHeightForWidth() ? child->heightForWidth(width) : child->sizeHint().height();
        ++shown;
    }
    total += body->spacing() * std::max(0, shown - 1);
    return std::max(total, body->totalHeightForWidth(kWidth));
}

void ContentView::focusFirstControl() {
    for (QWidget* w = nextInFocusChain(); w && w != this; w = w->nextInFocusChain()) {
        if (!isAncestorOf(w) || !w->isVisibleTo(this) || !w->isEnabled() || !(w->focusPolicy() & Qt::TabFocus))
            continue;
        w->setFocus(Qt::TabFocusReason);
        return;
    }
}

void ContentView::keyPressEvent(QKeyEvent* event) {
    // A button that is not a dialog's default leaves Enter to its parent.
    auto* control = qobject_cast<QAbstractButton*>(focusWidget());
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (!enter || !control || !isAncestorOf(control) || !control->isEnabled()) {
        QWidget::keyPressEvent(event);
        return;
    }
    // Held down, the key repeats: one press is one action.
    if (!event->isAutoRepeat()) control->click();
    event->accept();
}

void ContentView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) applyColors();
}

void ContentView::applyColors() {
    if (!m_warningIcon) return;  // a palette set while the view is being built
    const TextColors colors(palette());
    for (QWidget* w : findChildren<QWidget*>()) {
        const QVariant tone = w->property(kToneProperty);
        if (tone.isValid()) setColor(w, colors.color(Tone(tone.toInt())));
    }
    m_warningIcon->setPixmap(
        Symbols::pixmap(Symbol::exclamationTriangle, colors.color(Tone::warning), 14, devicePixelRatioF()));
    m_loginButton->setIcon(Symbols::icon(Symbol::personBadgeKey, palette().color(QPalette::ButtonText)));
    for (auto& row : m_rows) row->markDrawn = false;
    renderClients();
    followFocus(QApplication::focusWidget());
}

void ContentView::followFocus(QWidget* focused) {
    if (!qobject_cast<QAbstractButton*>(focused) || !isAncestorOf(focused)) {
        m_focusRing->ring(nullptr, {});
        return;
    }
    const QColor backdrop = m_banner->isAncestorOf(focused) ? TextColors::kBanner : palette().color(QPalette::Window);
    m_focusRing->ring(focused, TextColors(palette()).focusRing(backdrop));
}

QString ContentView::avatarInitial(const QString& name) {
    if (name.isEmpty()) return {};
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, name);
    int end = graphemes.toNextBoundary();
    return name.left(end > 0 ? end : 1).toUpper();
}

void ContentView::build() {
    auto* body = new QVBoxLayout(this);
    body->setContentsMargins(16, 16, 16, 16);
    body->setSpacing(14);
    body->setSizeConstraint(QLayout::SetNoConstraint);

    body->addWidget(buildHeader());
    body->addWidget(buildBanner());
    body->addWidget(divider(this));
    body->addWidget(buildAccount());
    body->addWidget(divider(this));
    body->addWidget(buildClients());

    m_error = toneLabel({}, TextStyle::caption, Tone::error, this, Fit::wrap);
    m_error->setObjectName("error");
    body->addWidget(m_error);

    m_warning = new QWidget(this);
    m_warning->setObjectName("locationWarning");
    auto* warningRow = new QHBoxLayout(m_warning);
    warningRow->setContentsMargins(0, 0, 0, 0);
    warningRow->setSpacing(6);
    m_warningIcon = symbolLabel(Symbol::exclamationTriangle, TextColors(palette()).color(Tone::warning), 14, this);
    warningRow->addWidget(m_warningIcon, 0, Qt::AlignTop);
    warningRow->addWidget(toneLabel(kLocationWarning, TextStyle::caption, Tone::warning, m_warning, Fit::wrap), 1);
    body->addWidget(m_warning);

    body->addWidget(divider(this));
    m_footer = buildFooter();
    body->addWidget(m_footer);
    body->addStretch(0);
}

QWidget* ContentView::buildHeader() {
    auto* header = new QWidget(this);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    auto* icon = new QLabel(header);
    icon->setPixmap(Symbols::applicationIcon().pixmap(QSize(36, 36), devicePixelRatioF()));
    icon->setFixedSize(36, 36);
    icon->setScaledContents(true);
    icon->setAccessibleName(kTitle);
    row->addWidget(icon, 0, Qt::AlignVCenter);
    auto* column = new QVBoxLayout;
    column->setSpacing(2);
    column->addWidget(label(kTitle, TextStyle::headline, header));
    // Wrapped: in a large font the tagline is wider than the room beside the icon.
    column->addWidget(secondaryLabel(kTagline, TextStyle::caption, header, Fit::wrap));
    row->addLayout(column, 1);
    return header;
}

QWidget* ContentView::buildBanner() {
    m_banner = new Banner(this);
    m_banner->setObjectName("banner");
    auto* row = new QHBoxLayout(m_banner);
    row->setContentsMargins(10, 10, 10, 10);
    row->setSpacing(10);
    QFont symbolFont = fontFor(TextStyle::title3);
    int symbolSize = QFontMetrics(symbolFont).height();
    row->addWidget(symbolLabel(Symbol::arrowDownCircleFill, Qt::white, symbolSize, m_banner), 0, Qt::AlignVCenter);
    auto* column = new QVBoxLayout;
    column->setSpacing(1);
    m_bannerTitle = toneLabel({}, TextStyle::subheadline, Tone::bannerTitle, m_banner, Fit::wrap);
    m_bannerTitle->setObjectName("bannerTitle");
    QFont semibold = m_bannerTitle->font();
    semibold.setWeight(QFont::DemiBold);
    m_bannerTitle->setFont(semibold);
    m_bannerDetail = toneLabel({}, TextStyle::caption, Tone::bannerDetail, m_banner, Fit::wrap);
    m_bannerDetail->setObjectName("bannerDetail");
    column->addWidget(m_bannerTitle);
    column->addWidget(m_bannerDetail);
    row->addLayout(column, 1);
    m_bannerButton = button(kUpdate, m_banner);
    m_bannerButton->setObjectName("bannerUpdate");
    connect(m_bannerButton, &QPushButton::clicked, this, [this] { m_state->checkUpdates(false); });
    row->addWidget(m_bannerButton, 0, Qt::AlignVCenter);
    return m_banner;
}

QWidget* ContentView::buildAccount() {
    auto* account = new QWidget(this);
    auto* column = new QVBoxLayout(account);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
    column->addWidget(sectionTitle(kAccount, account));

    m_loggedInRow = new QWidget(account);
    auto* row = new QHBoxLayout(m_loggedInRow);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    m_avatar = new Avatar(m_loggedInRow);
    row->addWidget(m_avatar, 0, Qt::AlignVCenter);
    auto* names = new QVBoxLayout;
    names->setSpacing(1);
    m_userName = label({}, TextStyle::subheadline, m_loggedInRow);
    m_userName->setObjectName("userName");
    QFont semibold = m_userName->font();
    semibold.setWeight(QFont::DemiBold);
    m_userName->setFont(semibold);
    m_userEmail = secondaryLabel({}, TextStyle::caption, m_loggedInRow, Fit::elideMiddle);
    m_userEmail->setObjectName("userEmail");
    names->addWidget(m_userName);
    names->addWidget(m_userEmail);
    row->addLayout(names, 1);
    auto* logout = button(kLogout, m_loggedInRow);
    logout->setObjectName("logout");
    connect(logout, &QPushButton::clicked, this, [this] { m_state->logout(); });
    row->addWidget(logout, 0, Qt::AlignVCenter);
    column->addWidget(m_loggedInRow);

    m_invitation = secondaryLabel(kInvitation, TextStyle::caption, account, Fit::wrap);
    column->addWidget(m_invitation);

    m_loginRow = new QWidget(account);
    auto* loginRow = new QHBoxLayout(m_loginRow);
    loginRow->setContentsMargins(0, 0, 0, 0);
    m_loginButton = button(kLogin, m_loginRow, TextStyle::body);
    m_loginButton->setObjectName("login");
    m_loginButton->setIcon(Symbols::icon(Symbol::personBadgeKey, palette().color(QPalette::ButtonText)));
    connect(m_loginButton, &QPushButton::clicked, this, [this] { m_state->login(); });
    m_cancelButton = button(kCancel, m_loginRow);
    m_cancelButton->setObjectName("cancel");
    connect(m_cancelButton, &QPushButton::clicked, this, [this] { m_state->cancelLogin(); });
    loginRow->addWidget(m_loginButton);
    loginRow->addWidget(m_cancelButton);
    loginRow->addStretch(1);
    column->addWidget(m_loginRow);

    m_statusLine = secondaryLabel({}, TextStyle::caption, account, Fit::wrap);
    m_statusLine->setObjectName("status");
    column->addWidget(m_statusLine);
    column->addWidget(buildManualLogin(account));
    return account;
}

// When no browser could be opened, the address is all the user needs: in a
// read-only field (it fits the width, and can be selected and copied from
// the keyboard) beside a button that copies it.
QWidget* ContentView::buildManualLogin(QWidget* parent) {
    m_manualLogin = new QWidget(parent);
    m_manualLogin->setObjectName("manualLogin");
    auto* column = new QVBoxLayout(m_manualLogin);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    column->addWidget(secondaryLabel(kNoBrowser, TextStyle::caption, m_manualLogin, Fit::wrap));
    auto* row = new QHBoxLayout;
    m_manualAddress = new QLineEdit(m_manualLogin);
    m_manualAddress->setObjectName("manualAddress");
    m_manualAddress->setReadOnly(true);
    m_manualAddress->setAccessibleName(q(kNoBrowser));
    auto* copy = button(kCopyAddress, m_manualLogin);
    copy->setObjectName("copyAddress");
    connect(copy, &QPushButton::clicked, this, [this] {
        QGuiApplication::clipboard()->setText(m_manualAddress->text());
        m_manualAddress->selectAll();
    });
    row->addWidget(m_manualAddress, 1);
    row->addWidget(copy);
    column->addLayout(row);
    m_manualLogin->setVisible(false);
    return m_manualLogin;
}

QWidget* ContentView::buildClients() {
    auto* clients = new QWidget(this);
    auto* column = new QVBoxLayout(clients);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);

    auto* titleRow = new QHBoxLayout;
    titleRow->addWidget(sectionTitle(kAssistants, clients));
    titleRow->addStretch(1);
    m_configureAll = button(kConfigureAll, clients);
    m_configureAll->setObjectName("configureAll");
    connect(m_configureAll, &QPushButton::clicked, this, [this] { m_state->configureAll(); });
    titleRow->addWidget(m_configureAll);
    column->addLayout(titleRow);

    m_rowsLayout = new QVBoxLayout;
    m_rowsLayout->setSpacing(8);
    column->addLayout(m_rowsLayout);

    m_notice = toneLabel({}, TextStyle::caption, Tone::notice, clients, Fit::wrap);
    m_notice->setObjectName("notice");
    column->addWidget(m_notice);
    m_clientsNote = secondaryLabel({}, TextStyle::caption, clients, Fit::wrap);
    m_clientsNote->setObjectName("clientsNote");
    column->addWidget(m_clientsNote);
    return clients;
}

QWidget* ContentView::buildFooter() {
    auto* footer = new QWidget(this);
    auto* column = new QVBoxLayout(footer);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);

    auto* first = new QHBoxLayout;
    m_loginItem = new QCheckBox(buttonText(kStartAtLogin), footer);
    m_loginItem->setObjectName("loginItem");
    m_loginItem->setFont(fontFor(TextStyle::caption));
    m_loginItem->setAccessibleName(kStartAtLogin);
    // `clicked` is the user's change only, never the rendering's setChecked.
    connect(m_loginItem, &QCheckBox::clicked, this, [this](bool on) { m_state->setLoginItem(on); });
    first->addWidget(m_loginItem);
    first->addStretch(1);
    m_checkUpdates = button(kCheckUpdates, footer);
    m_checkUpdates->setObjectName("checkUpdates");
    connect(m_checkUpdates, &QPushButton::clicked, this, [this] { m_state->checkUpdates(false); });
    first->addWidget(m_checkUpdates);
    column->addLayout(first);

    m_updateStatus = secondaryLabel({}, TextStyle::caption, footer, Fit::wrap);
    m_updateStatus->setObjectName("updateStatus");
    column->addWidget(m_updateStatus);

    auto* last = new QHBoxLayout;
    m_connections = button(kConnections, footer);
    m_connections->setObjectName("connections");
    connect(m_connections, &QPushButton::clicked, this, &ContentView::openConnections);
    last->addWidget(m_connections);
    last->addStretch(1);
    m_version = secondaryLabel({}, TextStyle::caption2, footer);
    m_version->setObjectName("version");
    last->addWidget(m_version);
    m_quit = button(kQuit, footer);
    m_quit->setObjectName("quit");
    connect(m_quit, &QPushButton::clicked, this, [this] {
        if (m_actions.quit) m_actions.quit();
    });
    last->addWidget(m_quit);
    column->addLayout(last);
    return footer;
}

void ContentView::openConnections() {
    QUrl url(q(PanelModel::connectionsUrl(m_state->cfg().baseUrl)), QUrl::StrictMode);
    // A base URL edited into something that is no address opens nothing.
    if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty()) return;
    if (m_actions.openUrl) m_actions.openUrl(url.toString(QUrl::FullyEncoded).toStdString());
}

void ContentView::configureRow(const std::string& key) {
    for (const ClientApp& app : m_state->clients())
        if (app.key == key) {
            m_state->configure(app);
            return;
        }
}

void ContentView::render() {
    m_renderPending = false;
    m_model = PanelModel::from(PanelModel::Input::from(*m_state));
    renderBanner();
    renderAccount();
    renderClients();
    setText(m_error, m_model.error);
    m_error->setVisible(!m_model.error.empty());
    m_warning->setVisible(m_model.showLocationWarning);
    renderFooter();
    emit rendered();
}

void ContentView::renderBanner() {
    m_banner->setVisible(m_model.showBanner);
    if (!m_model.showBanner) return;
    setText(m_bannerTitle, m_model.bannerTitle);
    setText(m_bannerDetail, m_model.bannerDetail);
    setButtonText(m_bannerButton, m_model.bannerButton);
    m_bannerButton->setEnabled(m_model.bannerButtonEnabled);
}

void ContentView::renderAccount() {
    const bool in = m_model.loggedIn;
    m_loggedInRow->setVisible(in);
    m_invitation->setVisible(!in);
    m_loginRow->setVisible(!in);
    m_statusLine->setVisible(!in && !m_model.statusLine.empty());
    if (in) {
        m_avatar->setInitial(avatarInitial(q(m_model.avatarName)));
        setText(m_userName, m_model.userName);
        setText(m_userEmail, m_model.userEmail);
        m_userEmail->setVisible(!m_model.userEmail.empty());
        return;
    }
    setButtonText(m_loginButton, m_model.loginLabel);
    m_loginButton->setEnabled(m_model.loginEnabled);
    m_cancelButton->setVisible(m_model.showCancel);
    setText(m_statusLine, m_model.statusLine);
    m_manualLogin->setVisible(!m_model.manualLoginAddress.empty());
    if (m_manualAddress->text() != q(m_model.manualLoginAddress)) {
        m_manualAddress->setText(q(m_model.manualLoginAddress));
        m_manualAddress->setCursorPosition(0);
    }
}

void ContentView::rebuildClientRows() {
    for (auto& row : m_rows) delete row->row;
    m_rows.clear();
    for (const auto& model : m_model.rows) {
        auto widgets = std::make_unique<ClientRowWidgets>();
        widgets->key = model.key;
        widgets->row = new QWidget(this);
        widgets->row->setObjectName(q("client:" + model.key));
        auto* row = new QHBoxLayout(widgets->row);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(8);
        widgets->mark = new QLabel(widgets->row);
        widgets->mark->setFixedSize(16, 16);
        row->addWidget(widgets->mark, 0, Qt::AlignVCenter);
        auto* column = new QVBoxLayout;
        column->setSpacing(1);
        widgets->name = label(q(model.name), TextStyle::subheadline, widgets->row);
        // One line each, shortened when too long: a wrapping label in a row
        // beside a button makes the row's height depend on its width, which
        // box layouts get wrong by a few pixels and then draw the two lines
        // over each other.
        widgets->status = secondaryLabel({}, TextStyle::caption, widgets->row);
        column->addWidget(widgets->name);
        column->addWidget(widgets->status);
        row->addLayout(column, 1);
        widgets->button = button(kConfigure, widgets->row);
        widgets->button->setObjectName(q("configure:" + model.key));
        std::string key = model.key;
        connect(widgets->button, &QPushButton::clicked, this, [this, key] { configureRow(key); });
        row->addWidget(widgets->button, 0, Qt::AlignVCenter);
        m_rowsLayout->addWidget(widgets->row);
        m_rows.push_back(std::move(widgets));
    }
    // Keep the tab order top to bottom: rows come after "Tout configurer".
    QWidget* previous = m_configureAll;
    for (auto& row : m_rows) {
        setTabOrder(previous, row->button);
        previous = row->button;
    }
    setTabOrder(previous, m_loginItem);
}

void ContentView::renderClients() {
    m_configureAll->setVisible(m_model.showConfigureAll);
    bool sameRows = m_rows.size() == m_model.rows.size();
    for (size_t i = 0; sameRows && i < m_rows.size(); ++i) sameRows = m_rows[i]->key == m_model.rows[i].key;
    if (!sameRows) rebuildClientRows();

    for (size_t i = 0; i < m_rows.size(); ++i) {
        const auto& model = m_model.rows[i];
        auto& w = *m_rows[i];
        if (!w.markDrawn || w.shownMark != model.mark) {
            Symbol symbol = model.mark == PanelModel::Mark::configured ? Symbol::checkmarkCircleFill
                            : model.mark == PanelModel::Mark::installed ? Symbol::circle
                                                                        : Symbol::circleDashed;
            const TextColors colors(palette());
            QColor color = colors.color(model.mark == PanelModel::Mark::configured ? Tone::notice : Tone::secondary);
            w.mark->setPixmap(Symbols::pixmap(symbol, color, 16, devicePixelRatioF()));
            w.shownMark = model.mark;
            w.markDrawn = true;
        }
        setText(w.name, model.name);
        setText(w.status, model.statusLine);
        w.row->setAccessibleName(q(model.name + " : " + model.statusLine));
        w.button->setVisible(model.showButton);
        setButtonText(w.button, model.buttonLabel);
        w.button->setAccessibleName(q(model.buttonLabel + " " + model.name));
    }
    setText(m_notice, m_model.notice);
    m_notice->setVisible(!m_model.notice.empty());
    setText(m_clientsNote, m_model.clientsNote);
}

void ContentView::renderFooter() {
    m_loginItem->setChecked(m_model.loginItemChecked);
    setText(m_updateStatus, m_model.updateStatus);
    m_updateStatus->setVisible(!m_model.updateStatus.empty());
    setText(m_version, m_model.versionLabel);
}
