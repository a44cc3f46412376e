#include "app/homeVc.h"

#include "app/Essentials.h"
#include "app/mainWindowController.h"
#include "app/mainvc.h"
#include "controls/SvgArt.h"
#include "platform/desktop/Alert.h"
#include "platform/runtime/Dispatch.h"
#include "platform/desktop/Panels.h"
#include "platform/desktop/Paths.h"
#include "platform/desktop/Settings.h"
#include "sidebar/sideMenuvc.h"
#include "platform/files/names/FileNames.h"

#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QShowEvent>
#include <QSvgRenderer>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const QString savedRootsKey = QStringLiteral("arrPaths");

const char *homeStyle = R"css(
homeVc { background-color: #1e1e1e; }
QLabel { color: #e6e6e6; background: transparent; }
QLabel#lblHomeSubtitle { color: #9a9a9a; }
QToolButton#btnAddFolders, QToolButton#btnAddLibrary {
    background-color: #272727; color: #f0f0f0; border: 1px solid #363636;
    border-radius: 14px; padding: 22px 10px 18px 10px;
}
QToolButton#btnAddFolders:hover, QToolButton#btnAddLibrary:hover {
    background-color: #2e2e2e; border: 1px solid @accent;
}
QToolButton#btnAddFolders:pressed, QToolButton#btnAddLibrary:pressed { background-color: #242424; }
QPushButton#btnContinuePreviousSelection {
    background: transparent; border: none; color: rgb(10,132,255); text-decoration: underline; padding: 4px;
}
QPushButton#btnContinuePreviousSelection:hover { color: rgb(64,156,255); }
QWidget#blacklayer { background-color: rgba(0, 0, 0, 140); }
)css";

QFont lightFont(int pointSize)
{
    QFont font;
    font.setFamilies({QStringLiteral("Helvetica Neue Light"), QStringLiteral("Helvetica Neue"),
                      QStringLiteral("sans-serif")});
    font.setPointSize(pointSize);
    font.setWeight(QFont::Light);
    return font;
}


QToolButton *makeSourceButton(QWidget *parent, const QString &name, const QString &title, const QString &icon)
{
    auto *button = new QToolButton(parent);
    button->setObjectName(name);
    button->setText(title);
    button->setIcon(QIcon(svgPixmap(icon, QSize(72, 72))));
    button->setIconSize(QSize(72, 72));
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setFixedSize(240, 190);
    button->setFont(lightFont(15));
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

} // namespace

homeVc::homeVc(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("homeVc"));
    buildLayout();
    viewDidLoad();
}

void homeVc::buildLayout()
{
    setAttribute(Qt::WA_StyledBackground, true);
    setStyleSheet(withAccentColour(QString::fromLatin1(homeStyle)));

    auto *page = new QWidget(this);
    auto *icon = new QLabel(page);
    icon->setPixmap(svgPixmap(QStringLiteral(":/images/lumengallery.svg"), QSize(96, 96)));
    icon->setAlignment(Qt::AlignCenter);
    auto *title = new QLabel(QStringLiteral("Lumen Gallery"), page);
    title->setObjectName(QStringLiteral("lblHomeTitle"));
    title->setFont(lightFont(30));
    title->setAlignment(Qt::AlignCenter);
    auto *subtitle = new QLabel(QStringLiteral("Where are your photos and videos?"), page);
    subtitle->setObjectName(QStringLiteral("lblHomeSubtitle"));
    subtitle->setFont(lightFont(14));
    subtitle->setAlignment(Qt::AlignCenter);

    btnAddFolders = makeSourceButton(page, QStringLiteral("btnAddFolders"), QStringLiteral("Add Folders"),
                                     QStringLiteral(":/images/home/add-folders.svg"));
    btnAddLibrary = makeSourceButton(page, QStringLiteral("btnAddLibrary"), QStringLiteral("Add Photos Library"),
                                     QStringLiteral(":/images/home/add-library.svg"));
    btnContinuePreviousSelection = new QPushButton(page);
    btnContinuePreviousSelection->setObjectName(QStringLiteral("btnContinuePreviousSelection"));
    btnContinuePreviousSelection->setFlat(true);
    btnContinuePreviousSelection->setCursor(Qt::PointingHandCursor);
    btnContinuePreviousSelection->hide();

    connect(btnAddFolders, &QToolButton::clicked, this, &homeVc::btnaddfolders);
    connect(btnAddLibrary, &QToolButton::clicked, this, &homeVc::btnAddLibrary_clicked);
    connect(btnContinuePreviousSelection, &QPushButton::clicked, this,
            &homeVc::btnContinuePreviousSelectionClicked);

    auto *choices = new QHBoxLayout;
    choices->setSpacing(28);
    choices->addStretch(1);
    choices->addWidget(btnAddFolders);
    choices->addWidget(btnAddLibrary);
    choices->addStretch(1);

    auto *column = new QVBoxLayout(page);
    column->setContentsMargins(40, 40, 40, 40);
    column->setSpacing(0);
    column->addStretch(3);
    column->addWidget(icon);
    column->addSpacing(14);
    column->addWidget(title);
    column->addSpacing(8);
    column->addWidget(subtitle);
    column->addSpacing(40);
    column->addLayout(choices);
    column->addSpacing(26);
    column->addWidget(btnContinuePreviousSelection, 0, Qt::AlignHCenter);
    column->addStretch(4);

    blacklayer = new QWidget(this);
    blacklayer->setObjectName(QStringLiteral("blacklayer"));
    blacklayer->setAttribute(Qt::WA_StyledBackground, true);
    blacklayer->hide();

    // The dimming layer lies over the page, in the same cell.
    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->addWidget(page, 0, 0);
    grid->addWidget(blacklayer, 0, 0);
}

void homeVc::viewDidLoad()
{
    btnContinuePreviousSelection->setText(QStringLiteral("Continue with previous selection"));
    QFont font = btnContinuePreviousSelection->font();
    font.setUnderline(true);
    font.setPointSize(12);
    btnContinuePreviousSelection->setFont(font);
}

void homeVc::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (event->spontaneous())
        return;
    viewWillAppear();
    lg::afterDelay(0, this, [this] {
        if (isVisible())
            viewDidAppear();
    });
}

void homeVc::viewWillAppear()
{
    if (const std::optional<QStringList> saved = lg::Settings::stringListValue(savedRootsKey)) {
        btnContinuePreviousSelection->setVisible(!saved->isEmpty());
    } else {
        lg::Settings::setValue(savedRootsKey, QStringList());
        btnContinuePreviousSelection->hide();
    }
}

void homeVc::viewDidAppear()
{
    if (!openedFromFinder)
        return;
    // Files were handed over at launch: their batch brings up the content.
    openedFromFinder = false;
    if (QWidget *w = window(); w && w != this)
        w->hide();
}

QString homeVc::rejectionMessage()
{
    return QStringLiteral("Some or all of the selected folders cannot be added. Only folders from  within your User "
                          "folder (")
           + lg::Paths::userName() + QStringLiteral(") can be added.");
}

void homeVc::enterBrowser()
{
    // The hub (and the screens inside it) are made first, so that nothing they
    // set up while being made overrides the mode chosen below.
    mainvc *hub = contentHub();
    if (!mainWindowNeverShown)
        sidebarController()->addFoldersWithProgress(selectedSourceURLs);
    enterScreenModeOfSelectedStyle();
    blacklayer->hide();
    mainWindowController *window = mainWindow();
    window->setResizable(true);
    window->setContentViewController(hub);
    window->showWindow();
    mainWindowNeverShown = 0;
}

void homeVc::btnAddLibrary_clicked()
{
    blacklayer->show();
    blacklayer->raise();

    lg::OpenPanelSpec panel;
    panel.chooseFiles = true;
    panel.chooseDirectories = false;
    panel.showsHiddenFiles = false;
    panel.allowsMultipleSelection = true;
    panel.packageExtensions = {QStringLiteral("photoslibrary")};
    panel.nameFilters = {QStringLiteral("Photos Library (*.photoslibrary)")};
    panel.prompt = QStringLiteral("Add");
    panel.directory = lg::Paths::picturesOrHome();

    lg::Panels::open(this, panel, [this](const QList<QUrl> &urls) {
        // Only Photos library packages are taken, whatever the panel gave.
        QList<QUrl> libraries;
        for (const QUrl &url : urls) {
            const QString path = lg::FileNames::pathOf(url);
            if (url.isLocalFile() && lg::FileNames::isFolder(path)
                && QFileInfo(path).suffix().toLower() == QLatin1String("photoslibrary"))
                libraries.append(url);
        }
        if (libraries.isEmpty()) {
            blacklayer->hide();
            return;
        }
        selectedSourceURLs = libraries;
        enterBrowser();
    });
}

void homeVc::btnaddfolders()
{
    blacklayer->show();
    blacklayer->raise();

    lg::OpenPanelSpec panel;
    panel.chooseFiles = false;
    panel.chooseDirectories = true;
    panel.allowsMultipleSelection = true;
    panel.showsHiddenFiles = false;

    lg::Panels::open(this, panel, [this](const QList<QUrl> &urls) {
        if (urls.isEmpty()) {
            blacklayer->hide();
            return;
        }
        QList<QUrl> accepted;
        bool rejected = false;
        for (const QUrl &url : urls) {
            const QString path = url.isLocalFile() ? lg::FileNames::pathOf(url) : QString();
            if (path.isEmpty() || !lg::FileNames::isFolder(path) || isHiddenURL(url)
                || !lg::Paths::isInsideHome(path)) {
                rejected = true;
                continue;
            }
            accepted.append(url);
        }
        selectedSourceURLs = accepted;

        if (rejected) {
            lg::AlertSpec alert;
            alert.title = rejectionMessage();
            alert.buttons = {QStringLiteral("OK")};
            alert.style = lg::AlertSpec::Style::Informational;
            lg::Alert::show(this, alert, [this, accepted](int) {
                selectedSourceURLs = accepted;
                if (!accepted.isEmpty())
                    enterBrowser();
                blacklayer->hide();
            });
            return;
        }
        if (!accepted.isEmpty())
            enterBrowser();
        blacklayer->hide();
    });
}

void homeVc::btnContinuePreviousSelectionClicked()
{
    selectedSourceURLs.clear();
    const QStringList paths = lg::Settings::stringListValue(savedRootsKey).value_or(QStringList());
    for (const QString &path : paths) {
        if (!path.isEmpty())
            selectedSourceURLs.append(lg::FileNames::urlOf(path));
    }
    if (selectedSourceURLs.isEmpty())
        return;
    enterBrowser();
}
