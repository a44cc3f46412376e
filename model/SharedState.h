#pragma once
// Application-wide state below the screens: the current-screen mode, the
// shared item lists and selection, the extension lists, flags and colours,
// and the small helpers that every screen shares. It names no screen; the
// controller registry that makes the screens is app/Essentials.h. Main-thread
// state unless noted.
#include "model/MediaRecords.h"

#include <QColor>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVector>
#include <atomic>
#include <cstdint>
#include <optional>
#include <utility>

class QModelIndex;

// ---- Current-screen mode and view styles ----
enum ScreenMode : uint8_t {
    ScreenGrid = 0,
    ScreenList = 1,
    ScreenViewer = 2,
    ScreenFullImage = 3,
    ScreenHome = 4,
    ScreenWelcome = 5,
    ScreenCollage = 6,
};
extern uint8_t currentScreenMode;
extern uint8_t previousScreenMode;

constexpr int gridStyle = 0;
constexpr int listStyle = 1;
constexpr int viewerStyle = 2;
extern int selectedViewStyle;
extern int styleBeforeViewer;
extern int fullImageReturnStyle;
extern int mainWindowNeverShown;
extern bool openedFromFinder;
// The screen mode that shows a content style (grid 0, list 1, viewer 2).
uint8_t screenModeForStyle(int style);
// Sets currentScreenMode to the screen of selectedViewStyle; a style other
// than grid, list and viewer leaves the mode as it is.
void enterScreenModeOfSelectedStyle();

// ---- Shared item lists and selection ----
extern QVector<InitialDirectory> itemList;
extern QVector<InitialDirectory> searchResults;
extern bool isSearchActive;
extern bool isSorted;
extern int selectedItemIndex;
extern std::optional<QUrl> currentFolderURL;
extern QList<QUrl> copiedURLs;
extern QList<QUrl> selectedSourceURLs;
// Files waiting to be imported into the Photos library.
extern QList<QUrl> importQueue;
// The list that views and commands use: searchResults while a search is active.
QVector<InitialDirectory> &activeItemList();
// Media files opened from outside that lie in no sidebar folder; shown while
// there is no current folder.
extern QVector<InitialDirectory> openedFileItems;
// A file that the next reload of the grid or the list selects (and shows in the
// full-image viewer) while focusFileAfterReload is set.
extern bool focusFileAfterReload;
extern std::optional<QUrl> fileToFocus;
// The thumbnails and pixel sizes shared by the grid, the list, the viewer and
// the collage (model/ThumbnailCache.h).
class ThumbnailCache;
ThumbnailCache &thumbnailCache();

// ---- Extension lists (callers compare after lower-casing the extension) ----
extern const QStringList imageExtensions;     // 67 entries
extern const QStringList videoExtensions;     // 24 entries
extern const QStringList mediaExtensions;     // 91 entries
extern const QStringList standardHomeFolders; // 8 entries

// ---- Application-wide flags ----
// isBusy and stopAddingFolders are polled by background work: atomic.
extern std::atomic<bool> isBusy;
extern std::atomic<bool> isFileOperationRunning;
extern std::atomic<bool> stopAddingFolders;
extern bool startSlideshow;
extern uint8_t infoLineMode;
extern int preferencesTabIndex;
extern const QString openedWithLabel;  // "Opened with Lumen Gallery"
extern const QString firstRunKey;      // "Firstrun"

// ---- Colours ----
QColor makeOpaqueColor(double red, double green, double blue);
const QColor &accentOrange();
// The accent colour with that alpha (0..255).
QColor accentWithAlpha(int alpha);
// css with every "@accent" replaced by the accent colour (#rrggbb): the
// style sheets name the colour only through this.
QString withAccentColour(QString css);
const QColor &neutralGrey();
const QColor &collageBorderColor();

// ---- Globals kept here for other screens (the widgets among them: app/Essentials.h) ----
extern QSet<int> draggedIndexPaths;              // grid items being dragged (rows)
extern std::optional<QList<int>> draggedRowIndexes;  // list rows being dragged
extern QList<QUrl> draggedItemURLs;
extern QVector<arrayStruct> collagePhotoList;
extern QVector<std::pair<double, double>> collageSizes;
extern int collageSelectedSize;
extern bool isCollageLandscape;
extern bool isCollageSaved;
extern bool isCollageFirstLoad;

// ---- Helpers ----
// True when itemList holds a file whose name equals name, both lower-cased.
bool itemListContainsFileName(const QString &name);
// The file's hidden attribute (a dot name here); false when it cannot be read.
bool isHiddenURL(const QUrl &url);
// False for a Photos library, the home folder, a standard folder directly in
// the home folder, and no URL at all; true otherwise.
bool canModifyFolder(const std::optional<QUrl> &url);
// Starts importing importQueue into the Photos library.
void startPhotoLibraryImport();

// Puts every piece of the state above back to its start value, the values the
// program starts with (written there alone). Tests call it between cases
// through resetSharedState (app/Essentials.h), or directly below the screens.
void setSharedStateToStart();
