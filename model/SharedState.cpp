// The application-wide state below the screens, and its small shared helpers.
#include "model/SharedState.h"

#include "platform/desktop/AccentColour.h"
#include "platform/desktop/Paths.h"
#include "platform/files/names/FileNames.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>

uint8_t currentScreenMode;
uint8_t previousScreenMode;
int selectedViewStyle;
int styleBeforeViewer;
int fullImageReturnStyle;
int mainWindowNeverShown;
bool openedFromFinder;

uint8_t screenModeForStyle(int style)
{
    switch (style) {
    case listStyle:
        return ScreenList;
    case viewerStyle:
        return ScreenViewer;
    default:
        return ScreenGrid;
    }
}

void enterScreenModeOfSelectedStyle()
{
    switch (selectedViewStyle) {
    case gridStyle:
    case listStyle:
    case viewerStyle:
        currentScreenMode = screenModeForStyle(selectedViewStyle);
        break;
    default:
        break;
    }
}

QVector<InitialDirectory> itemList;
QVector<InitialDirectory> searchResults;
bool isSearchActive;
bool isSorted;
int selectedItemIndex;
std::optional<QUrl> currentFolderURL;
QList<QUrl> copiedURLs;
QList<QUrl> selectedSourceURLs;
QList<QUrl> importQueue;

QVector<InitialDirectory> openedFileItems;
bool focusFileAfterReload;
std::optional<QUrl> fileToFocus;

QVector<InitialDirectory> &activeItemList()
{
    return isSearchActive ? searchResults : itemList;
}

// The lists keep their exact order, duplicates and the two upper-case entries:
// callers lower-case the file's extension before comparing, so "AI" and "GIF"
// never match and "pic" counts once.
const QStringList imageExtensions = {
    "jpeg", "jpg", "png", "tga", "pict", "tiff", "tif", "pct", "pic", "jp2", "jpf", "j2k",
    "jpx", "j2c", "gif", "AI", "GIF", "bmp", "dng", "dae", "eps", "fax", "fpx", "hdr",
    "icns", "ico", "openexr", "ps", "psd", "pntg", "qtif", "rad", "sgi", "xbm", "pic", "jpe",
    "heic", "mpo", "exr", "rgbe", "xyze", "mos", "cr2", "fff", "nef", "nrw", "pef", "sr2",
    "srf", "3fr", "arw", "crw", "dcr", "erf", "gpr", "iiq", "kdc", "mdc", "mef", "mrw",
    "orf", "raf", "rwl", "srw", "x3f", "pbm", "psb",
};

const QStringList videoExtensions = {
    "flc", "fli", "cel", "qtif", "qti", "mpeg", "mpeg-4", "avc", "mp4", "divx", "mov", "xvid",
    "mpg", "avi", "webm", "dv", "3gp", "m4v", "3pp2", "mpeg-2", "mpeg-1", "mpa", "flv", "wmx",
};

const QStringList mediaExtensions = {
    "jpeg", "jpg", "png", "tga", "pict", "tiff", "tif", "pct", "pic", "jp2", "jpf", "j2k",
    "jpx", "j2c", "gif", "AI", "GIF", "bmp", "dng", "dae", "eps", "fax", "fpx", "hdr",
    "icns", "ico", "openexr", "ps", "psd", "pntg", "qtif", "rad", "sgi", "xbm", "pic", "jpe",
    "heic", "mpo", "exr", "rgbe", "xyze", "mos", "cr2", "fff", "nef", "nrw", "pef", "sr2",
    "srf", "3fr", "arw", "crw", "dcr", "erf", "gpr", "iiq", "kdc", "mdc", "mef", "mrw",
    "orf", "raf", "rwl", "srw", "x3f",
    "flc", "fli", "cel", "qtif", "qti", "mpeg", "mpeg-4", "avc", "mp4", "divx", "mov", "xvid",
    "mpg", "avi", "webm", "dv", "3gp", "m4v", "3pp2", "mpeg-2", "mpeg-1", "mpa", "flv", "wmx",
    "pbm", "psb",
};

const QStringList standardHomeFolders = {
    "desktop", "documents", "downloads", "movies", "music", "pictures", "public", "applications",
};

std::atomic<bool> isBusy;
std::atomic<bool> isFileOperationRunning;
std::atomic<bool> stopAddingFolders;
bool startSlideshow;
uint8_t infoLineMode;
int preferencesTabIndex;
const QString openedWithLabel = QStringLiteral("Opened with Lumen Gallery");
const QString firstRunKey = QStringLiteral("Firstrun");

QColor makeOpaqueColor(double red, double green, double blue)
{
    return QColor::fromRgbF(float(red), float(green), float(blue), 1.0f);
}

const QColor &accentOrange()
{
    static const QColor color = lg::accentColour();
    return color;
}

QColor accentWithAlpha(int alpha)
{
    QColor color = accentOrange();
    color.setAlpha(std::clamp(alpha, 0, 255));
    return color;
}

QString withAccentColour(QString css)
{
    return css.replace(QStringLiteral("@accent"), accentOrange().name());
}

const QColor &neutralGrey()
{
    static const QColor color = makeOpaqueColor(110 / 255.0, 110 / 255.0, 110 / 255.0);
    return color;
}

const QColor &collageBorderColor()
{
    static const QColor color(Qt::white);
    return color;
}

QSet<int> draggedIndexPaths;
std::optional<QList<int>> draggedRowIndexes;
QList<QUrl> draggedItemURLs;
QVector<arrayStruct> collagePhotoList;
QVector<std::pair<double, double>> collageSizes;
int collageSelectedSize;
bool isCollageLandscape;
bool isCollageSaved;
bool isCollageFirstLoad;

bool itemListContainsFileName(const QString &name)
{
    const QString wanted = name.toLower();
    for (const InitialDirectory &item : std::as_const(itemList)) {
        if (item.url && item.url->fileName().toLower() == wanted)
            return true;
    }
    return false;
}

bool isHiddenURL(const QUrl &url)
{
    // Linux has no hidden attribute: a name starting with a dot is hidden.
    // The last component of the clean path: "/a/.hidden/" is hidden too.
    const QString name = QFileInfo(QDir::cleanPath(lg::FileNames::pathOf(url))).fileName();
    return name.startsWith(QLatin1Char('.')) && name != QLatin1String(".") && name != QLatin1String("..");
}

bool canModifyFolder(const std::optional<QUrl> &url)
{
    if (!url)
        return false;
    const QString path = lg::LexicalPaths::clean(lg::FileNames::pathOf(*url));
    const QString home = lg::LexicalPaths::clean(lg::Paths::home());
    const QFileInfo info(path);
    // A standard folder directly inside the home folder.
    if (lg::LexicalPaths::clean(info.absolutePath()) == home
        && standardHomeFolders.contains(info.fileName().toLower()))
        return false;
    if (info.suffix().toLower() == QLatin1String("photoslibrary"))
        return false;
    if (path == home)
        return false;
    // The XDG user folders count as standard folders too, whatever their names.
    for (auto location : {QStandardPaths::DesktopLocation, QStandardPaths::DocumentsLocation,
                          QStandardPaths::DownloadLocation, QStandardPaths::MoviesLocation,
                          QStandardPaths::MusicLocation, QStandardPaths::PicturesLocation}) {
        const QString standard = QStandardPaths::writableLocation(location);
        if (!standard.isEmpty() && lg::LexicalPaths::clean(standard) == path)
            return false;
    }
    return true;
}

void setSharedStateToStart()
{
    currentScreenMode = ScreenGrid;
    previousScreenMode = ScreenGrid;
    selectedViewStyle = gridStyle;
    styleBeforeViewer = 0;
    fullImageReturnStyle = 0;
    mainWindowNeverShown = 1;
    openedFromFinder = false;

    itemList.clear();
    searchResults.clear();
    isSearchActive = false;
    isSorted = false;
    selectedItemIndex = 0;
    currentFolderURL.reset();
    copiedURLs.clear();
    selectedSourceURLs.clear();
    importQueue.clear();
    openedFileItems.clear();
    focusFileAfterReload = false;
    fileToFocus.reset();

    isBusy = false;
    isFileOperationRunning = false;
    stopAddingFolders = false;
    startSlideshow = false;
    infoLineMode = 0;
    preferencesTabIndex = 1;

    draggedIndexPaths.clear();
    draggedRowIndexes.reset();
    draggedItemURLs.clear();
    collagePhotoList.clear();
    collageSizes.clear();
    collageSelectedSize = 0;
    isCollageLandscape = false;
    isCollageSaved = false;
    isCollageFirstLoad = false;
}

namespace {
// The program starts with the start values: every piece of state above is
// defined before this line, so each is made before it is set.
[[maybe_unused]] const bool stateAtStart = (setSharedStateToStart(), true);
}
