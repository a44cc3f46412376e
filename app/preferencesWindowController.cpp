#include "app/preferencesWindowController.h"

#include "app/AboutPane.h"
#include "app/Essentials.h"
#include "app/LaunchAtLogin.h"
#include "platform/desktop/Settings.h"
#include "platform/desktop/Updater.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QProxyStyle>
#include <QStyleOption>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

namespace {

const QString autoUpdateKey = QStringLiteral("autocheckforupdate");
const QString launchAtLoginKey = QStringLiteral("startstatus");

const char *preferencesStyle = R"css(
preferencesWindowController { background-color: #1e1e1e; }
QLabel, QCheckBox { color: #e6e6e6; background: transparent; }
QCheckBox { spacing: 8px; }
QLabel#lblTagline, QLabel#lblUpdateNote { color: #9a9a9a; }
QTabWidget::pane { border: 1px solid #333333; border-radius: 8px; background: #252525; top: -1px; }
QTabWidget::tab-bar { alignment: center; }
QTabBar::tab {
    background: #2c2c2c; color: #bdbdbd; border: 1px solid #3a3a3a;
    padding: 6px 22px; margin: 0 2px;
    border-top-left-radius: 6px; border-top-right-radius: 6px;
}
QTabBar::tab:selected { background: #252525; color: #ffffff; border-bottom: 2px solid @accent; }
QTabBar::tab:hover:!selected { color: #ffffff; }
QPushButton {
    background-color: #333333; color: #f0f0f0; border: 1px solid #4a4a4a;
    border-radius: 6px; padding: 6px 16px;
}
QPushButton:hover { background-color: #3d3d3d; }
QPushButton:disabled { color: #777777; border-color: #3a3a3a; }
)css";

// Check boxes drawn to match the dark window: a rounded box, orange with a white
// tick when on.
class CheckBoxStyle : public QProxyStyle
{
public:
    CheckBoxStyle() : QProxyStyle(QStringLiteral("Fusion")) {}

    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget) const override
    {
        if (element != PE_IndicatorCheckBox) {
            QProxyStyle::drawPrimitive(element, option, painter, widget);
            return;
        }
        const bool on = option->state.testFlag(State_On);
        const bool enabled = option->state.testFlag(State_Enabled);
        const QRectF box = QRectF(option->rect).adjusted(0.5, 0.5, -0.5, -0.5);
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing, true);
        const QColor accent = accentOrange();
        painter->setPen(QPen(on ? accent : QColor(0x6a, 0x6a, 0x6a), 1.0));
        painter->setBrush(on ? (enabled ? accent : accent.darker(160)) : QColor(0x2b, 0x2b, 0x2b));
        painter->drawRoundedRect(box, 3, 3);
        if (on) {
            QPainterPath tick;
            tick.moveTo(box.left() + box.width() * 0.22, box.top() + box.height() * 0.52);
            tick.lineTo(box.left() + box.width() * 0.42, box.top() + box.height() * 0.72);
            tick.lineTo(box.left() + box.width() * 0.78, box.top() + box.height() * 0.30);
            painter->setPen(QPen(QColor(0x1e, 0x1e, 0x1e), 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            painter->setBrush(Qt::NoBrush);
            painter->drawPath(tick);
        }
        painter->restore();
    }
};

void applyDarkPalette(QWidget *widget)
{
    QPalette pal = widget->palette();
    pal.setColor(QPalette::Window, QColor(0x1e, 0x1e, 0x1e));
    pal.setColor(QPalette::WindowText, QColor(0xe6, 0xe6, 0xe6));
    pal.setColor(QPalette::Base, QColor(0x2b, 0x2b, 0x2b));
    pal.setColor(QPalette::Text, QColor(0xf0, 0xf0, 0xf0));
    pal.setColor(QPalette::Button, QColor(0x33, 0x33, 0x33));
    pal.setColor(QPalette::ButtonText, QColor(0xf0, 0xf0, 0xf0));
    pal.setColor(QPalette::Highlight, accentOrange());
    widget->setPalette(pal);
}

} // namespace

std::optional<QString> shortVersionString()
{
    const QString version = QCoreApplication::applicationVersion();
    if (version.isEmpty())
        return std::nullopt;
    return version;
}

// ---- settingsVc ----

settingsVc::settingsVc(QWidget *parent)
    : QWidget(parent), appUrl(QUrl::fromLocalFile(QCoreApplication::applicationFilePath()))
{
    setObjectName(QStringLiteral("settingsVc"));
    checkbox_launchauto = new QCheckBox(QStringLiteral("Launch Lumen Gallery at login"), this);
    checkbox_launchauto->setObjectName(QStringLiteral("checkbox_launchauto"));
    checkbox_launchauto->setChecked(true);
    checkbox_installupdate = new QCheckBox(QStringLiteral("Automatically download and install updates"), this);
    checkbox_installupdate->setObjectName(QStringLiteral("checkbox_installupdate"));
    checkbox_installupdate->setChecked(true);
    static CheckBoxStyle *checkStyle = new CheckBoxStyle;  // shared for the whole run
    checkbox_launchauto->setStyle(checkStyle);
    checkbox_installupdate->setStyle(checkStyle);
    auto *note = new QLabel(QStringLiteral("A change to the update choice applies from the next start."), this);
    note->setObjectName(QStringLiteral("lblUpdateNote"));
    btnCheckForUpdate = new QPushButton(QStringLiteral("Check for Updates…"), this);
    btnCheckForUpdate->setObjectName(QStringLiteral("btncheckforupdate"));

    connect(checkbox_launchauto, &QCheckBox::clicked, this, &settingsVc::checkbox_autolaunch);
    connect(checkbox_installupdate, &QCheckBox::clicked, this, &settingsVc::checkbox_installupdate_clicked);
    connect(btnCheckForUpdate, &QPushButton::clicked, this, &settingsVc::btncheckforupdate);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(32, 28, 32, 24);
    column->setSpacing(14);
    column->addWidget(checkbox_launchauto);
    column->addWidget(checkbox_installupdate);
    column->addWidget(note);
    column->addSpacing(8);
    column->addWidget(btnCheckForUpdate, 0, Qt::AlignLeft);
    column->addStretch();

    viewDidLoad();
}

lg::Updater *settingsVc::updater() const
{
    return lg::Updater::shared();
}

void settingsVc::viewDidLoad()
{
    // Another value, or none, leaves a checkbox as it was made.
    if (const std::optional<int> policy = lg::Settings::intValue(autoUpdateKey)) {
        if (*policy == 0)
            checkbox_installupdate->setChecked(false);
        else if (*policy == 1)
            checkbox_installupdate->setChecked(true);
    }
    if (const std::optional<bool> launch = lg::Settings::boolValue(launchAtLoginKey))
        checkbox_launchauto->setChecked(*launch);
}

void settingsVc::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Without an update feed there is nothing to check.
    const bool haveFeed = !updater()->feedURL().isEmpty();
    btnCheckForUpdate->setEnabled(haveFeed);
    btnCheckForUpdate->setToolTip(haveFeed ? QString() : QStringLiteral("No update feed is configured."));
}

void settingsVc::checkbox_autolaunch()
{
    const bool on = checkbox_launchauto->isChecked();
    lg::Settings::setValue(launchAtLoginKey, on);
    setLaunchAtLogin(on, appUrl);
}

void settingsVc::checkbox_installupdate_clicked()
{
    lg::Settings::setValue(autoUpdateKey, checkbox_installupdate->isChecked() ? 1 : 0);
}

void settingsVc::btncheckforupdate()
{
    updater()->checkForUpdates();
}

// ---- TabViewSettings ----

TabViewSettings::TabViewSettings(QWidget *parent) : QTabWidget(parent)
{
    setObjectName(QStringLiteral("TabViewSettings"));
    setDocumentMode(false);
    settings = new settingsVc(this);
    about = new aboutVc(this);
    addTab(settings, QStringLiteral("Preferences"));
    addTab(about, QStringLiteral("About"));
}

void TabViewSettings::viewWillAppear()
{
    if (preferencesTabIndex >= 0 && preferencesTabIndex < count())
        setCurrentIndex(preferencesTabIndex);
}

// ---- preferencesWindowController ----

preferencesWindowController::preferencesWindowController(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("preferencesWindowController"));
    setWindowTitle(QStringLiteral("Preferences"));
    setAttribute(Qt::WA_StyledBackground, true);
    applyDarkPalette(this);
    setStyleSheet(withAccentColour(QString::fromLatin1(preferencesStyle)));
    tabView = new TabViewSettings(this);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->addWidget(tabView);
    setFixedSize(520, 380);
    // Escape and Ctrl+W close the window, as they do other small windows.
    for (const QKeySequence &keys : {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)}) {
        auto *shortcut = new QShortcut(keys, this);
        connect(shortcut, &QShortcut::activated, this, &QWidget::close);
    }
}

void preferencesWindowController::showWindow()
{
    tabView->viewWillAppear();
    show();
    raise();
    activateWindow();
}
