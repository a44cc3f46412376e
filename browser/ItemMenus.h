#pragma once
// The context menu of the thumbnail grid and of the list, and the simple
// actions behind it: view, slideshow, reveal, refresh, full-image view, open
// with another application, wallpaper, copy, paste, the grid's info line and
// properties. The file operations of the same menu are in ItemFileCommands.
//
// The menu is rebuilt on every right click and popped up without a nested
// event loop; every action has an object name (see ItemMenuRules.h) so that it
// can be found and triggered. Main thread only.
#include "browser/ItemMenuRules.h"
#include "platform/desktop/Workspace.h"

#include <QList>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <optional>

class QAbstractItemView;
class QMenu;
class QMouseEvent;
class QWidget;
class ShownItemsModel;

// The pieces of a browse view the menu and the commands work on.
struct BrowseView
{
    QWidget *controller = nullptr;   // thumbnailvc or listVc
    QAbstractItemView *view = nullptr;
    ShownItemsModel *model = nullptr;
    bool grid = true;
    int *menuClickedRow = nullptr;
};
BrowseView gridBrowseView();
BrowseView listBrowseView();
// Lists the current folder again in the grid or the list, whichever the
// current screen is; nothing in the other modes.
void reloadShownBrowseView();

namespace itemmenus {

// The selected rows of the view, ascending (the shown order).
QList<int> selectedRows(const BrowseView &view);
// The file paths of rows of the view's shown list by their exact bytes
// (lg::FileNames), passing over entries without one.
QStringList pathsOfRows(const BrowseView &view, const QList<int> &rows);

// A right click in the view's controller: settles the selection and opens the menu.
void handleRightMouseDown(const BrowseView &view, QMouseEvent *event);
// Builds the menu for a click on row (-1: empty space) and pops it up at
// globalPos; returns it (it belongs to the controller and lives until the next build).
QMenu *popUpContextMenu(const BrowseView &view, int row, QPoint globalPos);
// The snapshot of the menu's inputs for a click on row (-1: empty space).
ItemMenuSnapshot snapshotFor(const BrowseView &view, int row, bool hasApplications);

// The applications the last built menu lists, and the file they were listed for.
QList<lg::ApplicationInfo> recommendedApps(bool grid);

// ---- actions ----
void viewImage();
void startSlideShow();
void showInFileManager();
void refresh(const BrowseView &view);
void fullscreenView();
// Opens the file the menu listed applications for with the application at index.
void openWithApplication(bool grid, int index);
// The file of the item under the right click (bound as the menu opened)
// becomes the desktop picture; a failure is told.
void setWallpaper(const BrowseView &view, const QString &path);
// The selection's file URLs in shown order go on the clipboard and in copiedURLs;
// an empty selection empties both.
void copyItems(const BrowseView &view);
void pasteItems();
void setInfoLineMode(int mode);
// Shows the information pane when it is hidden.
void showProperties();

} // namespace itemmenus
