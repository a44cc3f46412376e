#include "browser/ItemMenus.h"

#include "app/Essentials.h"
#include "app/mainvc.h"
#include "browser/GridView.h"
#include "browser/ItemFileCommands.h"
#include "browser/ListTableView.h"
#include "browser/ShownItemsModel.h"
#include "browser/ViewController.h"
#include "browser/listVc.h"
#include "browser/thumbnailvc.h"
#include "model/PhotoLibraryImport.h"
#include "platform/desktop/Alert.h"
#include "platform/desktop/Clipboard.h"
#include "platform/files/names/FileNames.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QIcon>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QSplitter>
#include <QTextStream>

#include <algorithm>

BrowseView gridBrowseView()
{
    thumbnailvc *grid = thumbnailGrid();
    return {grid, grid->collectionview, grid->itemsModel(), true, &grid->menuClickedRow};
}

BrowseView listBrowseView()
{
    listVc *list = listController();
    return {list, list->tblview, list->itemsModel(), false, &list->menuClickedRow};
}

void reloadShownBrowseView()
{
    if (currentScreenMode == ScreenList)
        listController()->refreshData();
    else if (currentScreenMode == ScreenGrid)
        thumbnailGrid()->refreshData();
}

namespace itemmenus {

namespace {

struct MenuState
{
    QList<lg::ApplicationInfo> apps;
    QString appsFile;   // the file the applications were listed for
    QString appsExactFile;   // the same by its exact bytes
};
MenuState &stateOf(bool grid)
{
    static MenuState states[2];
    return states[grid ? 0 : 1];
}

const InitialDirectory *currentItem()
{
    const QVector<InitialDirectory> &shown = activeItemList();
    if (selectedItemIndex < 0 || selectedItemIndex >= shown.size())
        return nullptr;
    return &shown.at(selectedItemIndex);
}

QString currentItemPath()
{
    const InitialDirectory *item = currentItem();
    return item ? item->commandPath() : QString();
}

// An item's path by its exact bytes: what a name that is not valid UTF-8 is
// refused by.
QString exactPathOf(const InitialDirectory *item)
{
    return item && item->url && item->url->isLocalFile() ? lg::FileNames::pathOf(*item->url) : QString();
}

QString pathOfRow(const BrowseView &view, int row)
{
    const InitialDirectory *item = view.model ? view.model->entry(row) : nullptr;
    return item ? item->commandPath() : QString();
}

QAction *addItem(QMenu *menu, const QString &name, const QString &title, std::function<void()> action)
{
    QAction *item = menu->addAction(title);
    item->setObjectName(name);
    QObject::connect(item, &QAction::triggered, menu, [action = std::move(action)] { action(); });
    return item;
}

} // namespace

QList<int> selectedRows(const BrowseView &view)
{
    QList<int> rows;
    if (!view.view || !view.view->selectionModel())
        return rows;
    for (const QModelIndex &index : view.view->selectionModel()->selectedIndexes())
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

QStringList pathsOfRows(const BrowseView &view, const QList<int> &rows)
{
    QStringList paths;
    for (int row : rows) {
        // By the exact bytes: a drag carries a name that is not valid UTF-8 as
        // itself (never as its look-alike), and where it lands acts on it by
        // those bytes or says why not.
        const QString path = exactPathOf(view.model ? view.model->entry(row) : nullptr);
        if (!path.isEmpty())
            paths.append(path);
    }
    return paths;
}

void handleRightMouseDown(const BrowseView &view, QMouseEvent *event)
{
    if (!event || !view.view || isFileOperationRunning || isBusy)
        return;
    const QPoint global = event->globalPosition().toPoint();
    const QModelIndex index = view.view->indexAt(view.view->viewport()->mapFromGlobal(global));
    popUpContextMenu(view, index.isValid() ? index.row() : -1, global);
}

ItemMenuSnapshot snapshotFor(const BrowseView &view, int row, bool hasApplications)
{
    ItemMenuSnapshot s;
    s.overItem = row >= 0;
    s.selectedCount = int(selectedRows(view).size());
    const InitialDirectory *clicked = view.model && row >= 0 ? view.model->entry(row) : nullptr;
    s.clickedIsImage = clicked && clicked->isImage;
    s.hasCurrentFolder = currentFolderURL.has_value();
    s.folderIsPhotoLibrary = isPhotoLibraryImportTarget(currentFolderURL);
    s.clipboardHasMediaFile
        = lg::Clipboard::holdsFileWithExtension(QGuiApplication::clipboard()->mimeData(), mediaExtensions);
    QWidget *pane = contentController()->splitview->widget(1);
    s.infoPaneShown = pane && !pane->isHidden();
    s.hasApplications = hasApplications;
    return s;
}

QList<lg::ApplicationInfo> recommendedApps(bool grid)
{
    return stateOf(grid).apps;
}

QMenu *popUpContextMenu(const BrowseView &view, int row, QPoint globalPos)
{
    if (!view.view || !view.model)
        return nullptr;
    if (row >= view.model->rowCount())
        row = -1;
    MenuState &state = stateOf(view.grid);
    state.apps.clear();
    state.appsFile.clear();
    state.appsExactFile.clear();
    if (QWidget *focus = QApplication::focusWidget())
        focus->clearFocus();   // ends a rename in progress

    // Settle the target and the selection.
    QItemSelectionModel *selection = view.view->selectionModel();
    if (row < 0) {
        const QList<int> rows = selectedRows(view);
        if (rows.size() == 1) {
            state.appsFile = pathOfRow(view, rows.first());
            state.appsExactFile = exactPathOf(view.model->entry(rows.first()));
        }
    } else {
        state.appsFile = pathOfRow(view, row);
        state.appsExactFile = exactPathOf(view.model->entry(row));
        if (!selection->isSelected(view.model->index(row, 0))) {
            QItemSelectionModel::SelectionFlags flags = QItemSelectionModel::ClearAndSelect;
            if (!view.grid)
                flags |= QItemSelectionModel::Rows;
            selection->setCurrentIndex(view.model->index(row, 0), flags);
        }
        *view.menuClickedRow = row;
    }
    if (!state.appsFile.isEmpty())
        state.apps = lg::Workspace::applicationsFor(state.appsFile);

    const QString menuName = view.grid ? QStringLiteral("gridContextMenu") : QStringLiteral("tblviewviewMenu");
    QMenu *menu = view.controller->findChild<QMenu *>(menuName, Qt::FindDirectChildrenOnly);
    if (!menu) {
        menu = new QMenu(view.controller);
        menu->setObjectName(menuName);
    }
    menu->clear();
    for (QObject *child : menu->children())
        if (qobject_cast<QMenu *>(child))
            child->deleteLater();

    const BrowseView v = view;
    const bool grid = view.grid;
    addItem(menu, QStringLiteral("actionView"), QStringLiteral("View"), [] { viewImage(); });
    addItem(menu, QStringLiteral("actionRefresh"), QStringLiteral("Refresh"), [v] { refresh(v); });
    addItem(menu, QStringLiteral("actionOpenWithFileManager"), QStringLiteral("Open with File Manager"),
            [] { showInFileManager(); });
    QAction *openWith = menu->addAction(QStringLiteral("Open with Application"));
    openWith->setObjectName(QStringLiteral("actionOpenWithApplication"));
    if (!state.apps.isEmpty()) {
        auto *apps = new QMenu(menu);
        apps->setObjectName(QStringLiteral("applicationsMenu"));
        for (int i = 0; i < state.apps.size(); ++i) {
            const lg::ApplicationInfo &app = state.apps.at(i);
            QAction *item = addItem(apps, QStringLiteral("actionOpenWith_") + app.id, app.name,
                                    [grid, i] { openWithApplication(grid, i); });
            const QIcon icon = QIcon::fromTheme(app.iconName);
            if (!icon.isNull())
                item->setIcon(icon);
        }
        openWith->setMenu(apps);
    }
    menu->addSeparator();
    if (grid) {
        QAction *show = menu->addAction(QStringLiteral("Show"));
        show->setObjectName(QStringLiteral("actionShow"));
        auto *lines = new QMenu(menu);
        lines->setObjectName(QStringLiteral("showMenu"));
        addItem(lines, QStringLiteral("actionShowFileSize"), QStringLiteral("File Size"), [] { setInfoLineMode(0); });
        addItem(lines, QStringLiteral("actionShowPixelSize"), QStringLiteral("Pixel Size"), [] { setInfoLineMode(1); });
        addItem(lines, QStringLiteral("actionShowModifiedDate"), QStringLiteral("Modified Date"),
                [] { setInfoLineMode(2); });
        show->setMenu(lines);
    }
    addItem(menu, QStringLiteral("actionStartSlideShow"), QStringLiteral("Start Slide Show"), [] { startSlideShow(); });
    menu->addSeparator();
    addItem(menu, QStringLiteral("actionFullscreenView"), QStringLiteral("Fullscreen view"), [] { fullscreenView(); });
    // The item right-clicked, bound as the menu opens.
    const QString clickedPath = pathOfRow(view, *view.menuClickedRow);
    const QString clickedExact = exactPathOf(view.model->entry(*view.menuClickedRow));
    addItem(menu, QStringLiteral("actionSetAsWallpaper"), QStringLiteral("Set as wallpaper"),
            [v, clickedPath, clickedExact] {
                if (!ItemFileCommands::instance()->sayNameIsNotText(clickedExact))
                    setWallpaper(v, clickedPath);
            });
    menu->addSeparator();
    QAction *copy = addItem(menu, QStringLiteral("actionCopy"), QStringLiteral("Copy"), [v] { copyItems(v); });
    copy->setShortcut(QKeySequence::Copy);
    QAction *paste = addItem(menu, QStringLiteral("actionPaste"), QStringLiteral("Paste"), [] { pasteItems(); });
    paste->setShortcut(QKeySequence::Paste);
    menu->addSeparator();
    addItem(menu, QStringLiteral("actionDuplicate"), QStringLiteral("Duplicate"),
            [v] { ItemFileCommands::instance()->duplicateItems(v); });
    addItem(menu, QStringLiteral("actionMoveToTrash"), QStringLiteral("Move to Trash"),
            [v] { ItemFileCommands::instance()->trashItems(v); });
    addItem(menu, QStringLiteral("actionMoveTo"), QStringLiteral("Move To.."),
            [v] { ItemFileCommands::instance()->moveItemsTo(v); });
    addItem(menu, QStringLiteral("actionCopyTo"), QStringLiteral("Copy To.."),
            [v] { ItemFileCommands::instance()->copyItemsTo(v); });
    menu->addSeparator();
    addItem(menu, QStringLiteral("actionProperties"), QStringLiteral("Properties"), [] { showProperties(); });

    const QHash<QString, bool> enabled = itemMenuEnabling(snapshotFor(view, row, !state.apps.isEmpty()), grid);
    for (QAction *action : menu->actions())
        if (enabled.contains(action->objectName()))
            action->setEnabled(enabled.value(action->objectName()));
    menu->popup(globalPos);
    return menu;
}

// ---------------------------------------------------------------- actions

void viewImage()
{
    contentController()->viewimage();
}

void startSlideShow()
{
    startSlideshow = true;
    contentController()->viewimage();
}

void showInFileManager()
{
    if (ItemFileCommands::instance()->sayNameIsNotText(exactPathOf(currentItem())))
        return;
    const QString path = currentItemPath();
    if (!path.isEmpty())
        lg::Workspace::showInFileManager({path}, contentController()->window());
}

void refresh(const BrowseView &view)
{
    if (view.grid)
        thumbnailGrid()->refreshData();
    else
        listController()->refreshData();
}

void fullscreenView()
{
    contentHub()->enterFullImage();
}

void openWithApplication(bool grid, int index)
{
    const MenuState &state = stateOf(grid);
    if (index < 0 || index >= state.apps.size() || state.appsFile.isEmpty()
        || ItemFileCommands::instance()->sayNameIsNotText(state.appsExactFile))
        return;
    QString error;
    if (!lg::Workspace::openWith(state.apps.at(index).id, {state.appsFile}, &error))
        QTextStream(stdout) << "Open with " << state.apps.at(index).id << " failed: " << error << Qt::endl;
}

void setWallpaper(const BrowseView &view, const QString &path)
{
    if (path.isEmpty() || ItemFileCommands::instance()->sayNameIsNotText(path))
        return;
    QString error;
    if (!lg::Workspace::setDesktopPicture(path, &error))
        lg::Alert::inform(view.controller->window(), QStringLiteral("The wallpaper could not be set."), error);
}

void copyItems(const BrowseView &view)
{
    // Each file by its name's exact bytes ("%E9", not a look-alike's
    // "%EF%BF%BD"), so that a paste finds the file itself.
    QList<QUrl> urls;
    for (int row : selectedRows(view)) {
        if (const QString path = exactPathOf(view.model ? view.model->entry(row) : nullptr); !path.isEmpty())
            urls.append(lg::FileNames::urlOf(path));
    }
    copiedURLs = urls;
    lg::Clipboard::writeFiles(urls);
}

void pasteItems()
{
    ItemFileCommands::instance()->pasteItems();
}

void setInfoLineMode(int mode)
{
    infoLineMode = uint8_t(std::clamp(mode, 0, 2));
    thumbnailGrid()->reloadCollectionView();
}

void showProperties()
{
    QWidget *pane = contentController()->splitview->widget(1);
    if (!pane || !pane->isHidden())
        return;
    pane->show();
    highlightRightSplitButton();
}

} // namespace itemmenus
