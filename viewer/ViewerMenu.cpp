// The viewer's right-click menu: built from scratch each time it opens, from a
// snapshot of the moment (viewerMenuState decides what is offered). Every
// action carries an object name, so tests and tools find it. Main thread.
#include "viewer/viewimagevc.h"

#include "app/Essentials.h"
#include "browser/ViewController.h"
#include "controls/ClickViews.h"
#include "platform/files/names/FileNames.h"
#include "platform/runtime/ControllerRegistry.h"
#include "platform/desktop/Workspace.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QFileInfo>
#include <QIcon>
#include <QMenu>
#include <QSplitter>

namespace {

QAction *addItem(QMenu *menu, const QString &title, const char *name)
{
    QAction *action = menu->addAction(title);
    action->setObjectName(QString::fromLatin1(name));
    return action;
}

void emptyMenuAndSubmenus(QMenu *menu)
{
    const QList<QMenu *> submenus = menu->findChildren<QMenu *>(Qt::FindDirectChildrenOnly);
    menu->clear();
    for (QMenu *submenu : submenus)
        submenu->deleteLater();
}

bool infoPaneVisible()
{
    auto *content = qobject_cast<ViewController *>(lg::ControllerRegistry::existing(QStringLiteral("ViewController")));
    if (!content || !content->splitview || content->splitview->count() < 2)
        return false;
    return !content->splitview->widget(1)->isHidden();
}

} // namespace

void viewimagevc::installContextMenu()
{
    imgviewMenu->setObjectName(QStringLiteral("imgviewMenu"));
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this, [this](const QPoint &point) {
        // The picture area only: not the title bar.
        if (!boxbg->geometry().contains(point))
            return;
        menuWillOpen();
        if (!imgviewMenu->isEmpty())
            imgviewMenu->popup(mapToGlobal(point));
    });
}

void viewimagevc::menuWillOpen()
{
    rebuildContextMenu();
}

std::optional<QUrl> viewimagevc::currentItemFileURL() const
{
    // The file on show, never whatever a reload has put at the selected index.
    const QVector<InitialDirectory> &items = activeItemList();
    if (!viewerItemURL || selectedItemIndex < 0 || selectedItemIndex >= items.size())
        return std::nullopt;
    const InitialDirectory &item = items.at(selectedItemIndex);
    if (!item.file || item.file->url.isEmpty() || item.file->url != *viewerItemURL)
        return std::nullopt;
    return item.file->url;
}

ViewerMenuSnapshot viewimagevc::menuSnapshot() const
{
    ViewerMenuSnapshot s;
    s.busy = isBusy || isFileOperationRunning;
    const std::optional<QUrl> url = currentItemFileURL();
    s.hasCurrentItem = url.has_value();
    if (url) {
        s.currentIsImage = activeItemList().at(selectedItemIndex).isImage;
        s.itemExtension = QFileInfo(url->fileName()).suffix().toLower();
    }
    s.hasFolder = currentFolderURL.has_value();
    if (currentFolderURL)
        s.folderExtension = QFileInfo(currentFolderURL->adjusted(QUrl::StripTrailingSlash).fileName()).suffix().toLower();
    s.screenMode = currentScreenMode;
    s.slideShowRunning = isSlideShowRunning;
    s.fitStyle = fitStyle;
    s.infoPaneVisible = infoPaneVisible();
    s.applicationCount = int(recommendedApps.size());
    s.nothingShown = !hasShownFile();
    return s;
}

void viewimagevc::rebuildContextMenu()
{
    emptyMenuAndSubmenus(imgviewMenu);
    if (isBusy || isFileOperationRunning)
        return;

    recommendedApps.clear();
    recommendedAppIds.clear();
    fileURL = currentItemFileURL();
    QMenu *applications = buildApplicationsMenu();
    const ViewerMenuState state = viewerMenuState(menuSnapshot());

    QMenu *menu = imgviewMenu;
    addViewItems(menu, state, applications);
    addFileItems(menu, state);
    addShowItems(menu, state);
    addRotateItems(menu, state);
}

// Open with Application's submenu: the applications for the shown file, each
// tagged with its place in recommendedApps.
QMenu *viewimagevc::buildApplicationsMenu()
{
    auto *applications = new QMenu(imgviewMenu);
    applications->setObjectName(QStringLiteral("applicationsMenu"));
    if (fileURL) {
        const QList<lg::ApplicationInfo> found = lg::Workspace::applicationsFor(lg::FileNames::pathOf(*fileURL));
        for (const lg::ApplicationInfo &app : found) {
            const int tag = int(recommendedApps.size());
            recommendedApps << app.name;
            recommendedAppIds << app.id;
            QAction *item = applications->addAction(app.name);
            item->setObjectName(QStringLiteral("openWith_%1").arg(tag));
            item->setData(tag);
            const QIcon icon = QIcon::fromTheme(app.iconName);
            if (!icon.isNull())
                item->setIcon(QIcon(icon.pixmap(QSize(20, 20))));
            connect(item, &QAction::triggered, this, [this, tag] { openwithApplicationWithSender(tag); });
        }
    }
    return applications;
}

// Reveal, open with, full screen, wallpaper, the fits and the background colour.
void viewimagevc::addViewItems(QMenu *menu, const ViewerMenuState &state, QMenu *applications)
{
    QAction *reveal = addItem(menu, QStringLiteral("Open with File Manager"), "menuShowinFinder");
    reveal->setEnabled(state.fileCommandsEnabled);
    connect(reveal, &QAction::triggered, this, &viewimagevc::menuShowinFinder);
    QAction *openWith = addItem(menu, QStringLiteral("Open with Application"), "openWithApplication");
    if (state.openWithEnabled)
        openWith->setMenu(applications);
    else
        applications->deleteLater();
    openWith->setEnabled(state.openWithEnabled);
    menu->addSeparator();
    if (state.closeFullscreen)
        connect(addItem(menu, QStringLiteral("Close Fullscreen view"), "btnCloseViewedImage"), &QAction::triggered,
                this, &viewimagevc::btnCloseViewedImage);
    else
        connect(addItem(menu, QStringLiteral("Fullscreen view"), "menufullscreenPlay"), &QAction::triggered, this,
                &viewimagevc::menufullscreenPlay);
    QAction *wallpaper = addItem(menu, QStringLiteral("Set as wallpaper"), "SetWallpaper");
    wallpaper->setEnabled(state.fileCommandsEnabled);
    connect(wallpaper, &QAction::triggered, this, &viewimagevc::SetWallpaper);
    menu->addSeparator();
    struct Fit
    {
        const char *title;
        const char *name;
        void (viewimagevc::*action)();
        int style;
    };
    const Fit fits[] = {
        {"Fit to Image", "setImage_fittoImage", &viewimagevc::setImage_fittoImage, imageFit},
        {"Fit to View", "setImage_fittoView", &viewimagevc::setImage_fittoView, viewfit},
        {"Auto Fit", "setImage_autoFit", &viewimagevc::setImage_autoFit, autoFit},
    };
    for (const Fit &fit : fits) {
        QAction *action = addItem(menu, QString::fromLatin1(fit.title), fit.name);
        action->setCheckable(true);
        action->setChecked(state.checkedFit == fit.style);
        connect(action, &QAction::triggered, this, fit.action);
    }
    menu->addSeparator();
    connect(addItem(menu, QStringLiteral("Change background color"), "changeImageviewBGColor"), &QAction::triggered,
            this, &viewimagevc::changeImageviewBGColor);
    menu->addSeparator();
}

// Copy, Move to Trash, Move To and Copy To.
void viewimagevc::addFileItems(QMenu *menu, const ViewerMenuState &state)
{
    QAction *copy = addItem(menu, QStringLiteral("Copy"), "copyItem_menu");
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutVisibleInContextMenu(true);
    copy->setEnabled(state.fileCommandsEnabled);
    connect(copy, &QAction::triggered, this, &viewimagevc::copyItem_menu);
    QAction *trash = addItem(menu, QStringLiteral("Move to Trash"), "deleteItem_menu");
    trash->setEnabled(state.trashEnabled);
    connect(trash, &QAction::triggered, this, &viewimagevc::deleteItem_menu);
    QAction *moveTo = addItem(menu, QStringLiteral("Move To.."), "itemMoveTO_menu");
    moveTo->setEnabled(state.trashEnabled);
    connect(moveTo, &QAction::triggered, this, &viewimagevc::itemMoveTO_menu);
    QAction *copyTo = addItem(menu, QStringLiteral("Copy To.."), "itemCopyTO_menu");
    copyTo->setEnabled(state.fileCommandsEnabled);
    connect(copyTo, &QAction::triggered, this, &viewimagevc::itemCopyTO_menu);
    menu->addSeparator();
}

// Previous and next, the slide show and its speed and transitions, Properties.
void viewimagevc::addShowItems(QMenu *menu, const ViewerMenuState &state)
{
    connect(addItem(menu, QStringLiteral("Show Previous Image"), "leftSwipe"), &QAction::triggered, this,
            &viewimagevc::leftSwipe);
    connect(addItem(menu, QStringLiteral("Show Next Image"), "rightSwipe"), &QAction::triggered, this,
            &viewimagevc::rightSwipe);
    menu->addSeparator();
    connect(addItem(menu, state.slideShowTitle, "slideShowClicked"), &QAction::triggered, this,
            &viewimagevc::slideShowClicked);
    QAction *speed = addItem(menu, QStringLiteral("Slide Show Speed"), "slideShowSpeed");
    QMenu *speeds = menuplaySpeed(menu);
    speeds->setObjectName(QStringLiteral("speedMenu"));
    speed->setMenu(speeds);
    if (state.showTransitions) {
        QAction *transitions = addItem(menu, QStringLiteral("Slide Show Transitions"), "slideShowTransitions");
        QMenu *kinds = makeTransitionsMenu(menu);
        kinds->setObjectName(QStringLiteral("transitionsMenu"));
        transitions->setMenu(kinds);
    }
    menu->addSeparator();
    QAction *properties = addItem(menu, QStringLiteral("Properties"), "showProperty_menu");
    properties->setEnabled(state.propertiesEnabled);
    connect(properties, &QAction::triggered, this, &viewimagevc::showProperty_menu);
    menu->addSeparator();

}

// The Rotate submenu: three turns and two flips.
void viewimagevc::addRotateItems(QMenu *menu, const ViewerMenuState &state)
{
    QAction *rotateItem = addItem(menu, QStringLiteral("Rotate"), "rotateMenu");
    auto *rotate = new QMenu(menu);
    rotate->setObjectName(QStringLiteral("rotateSubmenu"));
    struct Turn
    {
        const char *title;
        const char *name;
        int tag;
        bool flip;
    };
    const Turn turns[] = {
        {"Rotate Left 90°", "rotateLeft90", 1, false},
        {"Rotate Right 90°", "rotateRight90", 2, false},
        {"Rotate Right 180°", "rotate180", 3, false},
        {"Horizontal Flip", "flipHorizontal", 1, true},
        {"Vertical Flip", "flipVertical", 2, true},
    };
    for (const Turn &turn : turns) {
        if (turn.flip && turn.tag == 1)
            rotate->addSeparator();
        QAction *action = rotate->addAction(QString::fromUtf8(turn.title));
        action->setObjectName(QString::fromLatin1(turn.name));
        action->setData(turn.tag);
        const int tag = turn.tag;
        if (turn.flip)
            connect(action, &QAction::triggered, this, [this, tag] { flipImageWithSender(tag); });
        else
            connect(action, &QAction::triggered, this, [this, tag] { RotateImageWithSender(tag); });
    }
    rotateItem->setMenu(rotate);
    rotateItem->setEnabled(state.rotateEnabled);
}
