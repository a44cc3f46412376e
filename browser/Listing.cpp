#include "browser/Listing.h"

#include "app/Essentials.h"
#include "app/mainWindowController.h"
#include "app/mainvc.h"
#include "browser/InfoPane.h"
#include "browser/ItemEditing.h"
#include "browser/ViewController.h"
#include "model/FileServices.h"
#include "model/NameOrder.h"
#include "platform/files/names/FileNames.h"
#include "platform/runtime/Background.h"
#include "platform/runtime/Pools.h"
#include "sidebar/sideMenuvc.h"
#include "viewer/viewimagevc.h"

#include <QAbstractItemView>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPointer>

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int g_listingBudgetMs = 10;
quint64 g_fillGeneration = 0;
// The fill whose listing is on its way (0: none); only the newest fill counts.
quint64 g_pendingGeneration = 0;

bool isPhotosLibrary(const QUrl &url)
{
    return QFileInfo(lg::FileNames::pathOf(url)).suffix().toLower() == QLatin1String("photoslibrary");
}

void installListing(QVector<InitialDirectory> items)
{
    itemList = std::move(items);
    searchResults.clear();
}

} // namespace

QString pathExtensionOf(const QString &fileName)
{
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0)
        return QString();
    return fileName.mid(dot + 1);
}

namespace {

// The entry of path. Its attributes are read relative to folder, a descriptor
// of the folder that holds it, by the name that starts at nameStart (one step
// for the file system instead of the whole path), or with AT_FDCWD and
// nameStart 0 by the path itself.
std::optional<InitialDirectory> mediaItemIn(int folder, const QString &path, qsizetype nameStart)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString extension = pathExtensionOf(path.mid(slash + 1)).toLower();
    if (extension.isEmpty())
        return std::nullopt;
    // The lists are compared as stored: their upper-case entries never match.
    bool isImage = false;
    if (imageExtensions.contains(extension))
        isImage = true;
    else if (!videoExtensions.contains(extension))
        return std::nullopt;
    // One request for the type and the attributes. Folders are never listed,
    // followed symbolic links included; a path that does not exist goes on
    // like a file.
    struct statx sx {};
    const QByteArray name = lg::FileNames::toNative(nameStart > 0 ? path.mid(nameStart) : path);
    const bool read = !name.isEmpty()
        && statx(folder, name.constData(), AT_STATX_SYNC_AS_STAT, STATX_TYPE | Metadata::attributeMask, &sx) == 0;
    if (read && (sx.stx_mask & STATX_TYPE) && S_ISDIR(sx.stx_mode))
        return std::nullopt;
    InitialDirectory item = Metadata::fromAttributes(lg::FileNames::urlOf(path), read ? &sx : nullptr);
    item.isImage = isImage;
    return item;
}

} // namespace

std::optional<InitialDirectory> mediaItemForPath(const QString &path)
{
    return mediaItemIn(AT_FDCWD, path, 0);
}

void appendMediaItemForPath(const QString &path)
{
    if (std::optional<InitialDirectory> item = mediaItemForPath(path))
        itemList.append(std::move(*item));
}

QVector<InitialDirectory> mediaItemsInFolder(const QString &folderPath)
{
    QVector<InitialDirectory> items;
    const std::optional<QStringList> paths = directoryContents(folderPath);
    if (!paths)
        return items;
    const qsizetype count = paths->size();
    // The entries are read relative to the folder; should it not open, by
    // their whole paths.
    const int folder = ::open(lg::FileNames::toNative(folderPath).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    const int base = folder >= 0 ? folder : AT_FDCWD;
    // Each entry costs a file-system call: a large folder is split over the
    // cores in chunks, read while this thread puts the names in order.
    constexpr qsizetype chunk = 512;
    QVector<std::optional<InitialDirectory>> found(count);
    std::optional<InitialDirectory> *entries = found.data();
    // At quit the listing is unwanted: what is left is passed over.
    auto readChunk = [&](qsizetype begin, qsizetype end) {
        if (lg::isShuttingDown())
            return;
        for (qsizetype i = begin; i < end; ++i) {
            const QString &path = paths->at(i);
            entries[i] = mediaItemIn(base, path, folder >= 0 ? path.lastIndexOf(QLatin1Char('/')) + 1 : 0);
        }
    };
    QFuture<void> reading = lg::startEachChunk(count, chunk, readChunk, lg::pools::folderListing());
    // The file system's order is hash order on most Linux file systems: the
    // listing is shown by name, as file managers do; a chosen sort comes on top.
    const QVector<qsizetype> order = lg::isShuttingDown() ? QVector<qsizetype>() : nameOrderOf(*paths);
    reading.waitForFinished();
    if (folder >= 0)
        ::close(folder);
    if (lg::isShuttingDown())
        return items;
    items.reserve(count);
    for (qsizetype index : order) {
        if (entries[index])
            items.append(std::move(*entries[index]));
    }
    return items;
}

void setListingBudget(int ms)
{
    g_listingBudgetMs = std::max(0, ms);
}

bool isListingPending()
{
    return g_pendingGeneration != 0 && g_pendingGeneration == g_fillGeneration;
}

void fillItemListFromSource(const QObject *context, std::function<void()> done)
{
    const quint64 generation = ++g_fillGeneration;
    QPointer<const QObject> guard(context);

    if (!currentFolderURL) {
        // The files opened from outside; entries without metadata leave both lists.
        QVector<InitialDirectory> kept;
        kept.reserve(openedFileItems.size());
        for (const InitialDirectory &item : std::as_const(openedFileItems)) {
            if (item.file)
                kept.append(item);
        }
        openedFileItems = kept;
        installListing(std::move(kept));
        done();
        return;
    }
    if (isPhotosLibrary(*currentFolderURL)) {
        installListing({});
        sidebarController()->loadPhotosLibrary();
        done();
        return;
    }

    // By its bytes: a folder whose name is not UTF-8 lists its own files.
    const QString folder = lg::FileNames::pathOf(*currentFolderURL);
    // Taken at once when it is ready within the budget, otherwise delivered
    // later: then only the newest fill counts.
    const bool inTime = lg::runWithinBudget(
        QCoreApplication::instance(), g_listingBudgetMs, [folder] { return mediaItemsInFolder(folder); },
        [generation, guard, done](QVector<InitialDirectory> items) {
            if (generation != g_fillGeneration)
                return;
            g_pendingGeneration = 0;
            if (guard.isNull())
                return;
            installListing(std::move(items));
            done();
        });
    if (inTime)
        return;
    // Too slow for the main thread to wait: the listing arrives later.
    g_pendingGeneration = generation;
    // The old folder's list no longer belongs to the current folder: until
    // the new one arrives, selections, double-clicks and next/previous find
    // nothing to act on.
    installListing({});
}

void applySortAndSearchAfterListing(const std::function<void()> &reloadView)
{
    if (isSorted) {
        ViewController *content = contentController();
        switch (content->Currentsort) {
        case 1:
            content->SortName();
            return;
        case 2:
            content->SortSize();
            return;
        case 3:
            content->SortType();
            return;
        case 4:
            content->SortDate();
            return;
        default:
            break;  // no key chosen yet: the listing order stays
        }
    }
    if (isSearchActive)
        contentController()->applySearchFilter();
    reloadView();
}

namespace {

bool hasCurrentItem()
{
    return selectedItemIndex >= 0 && selectedItemIndex < activeItemList().size();
}

} // namespace

void showNoCurrentItem()
{
    sidebarController()->clearPreview();   // also drops a picture still on its way
    InfoPane::instance()->fillForPath(QString());
}

void finishBrowseReload(const std::function<void()> &reloadView, const QAbstractItemView *view,
                        const bool &firstAccess, const std::function<void()> &selectCurrent)
{
    applySortAndSearchAfterListing(reloadView);
    followRenamedItem();
    focusRequestedFileOrRefreshPreview();
    contentController()->updateItemCountLabel();
    // The selection came back with its files; without one, the current item.
    if (firstAccess && !view->selectionModel()->hasSelection())
        selectCurrent();
}

void focusRequestedFileOrRefreshPreview()
{
    if (!focusFileAfterReload) {
        sidebarController()->updatePreviewThumbnail();
        // The preview keeps its picture for no current item; after a load
        // that would be a file of another folder, or one that has gone.
        if (!hasCurrentItem())
            showNoCurrentItem();
        return;
    }
    focusFileAfterReload = false;
    // Paths are compared exactly: file names differ by case on this system.
    const QString wanted = fileToFocus ? QDir::cleanPath(lg::FileNames::pathOf(*fileToFocus)) : QString();
    for (qsizetype i = 0; i < itemList.size(); ++i) {
        const InitialDirectory &item = itemList.at(i);
        const QString path = item.url ? QDir::cleanPath(lg::FileNames::pathOf(*item.url)) : QString();
        if (bool(fileToFocus) == bool(item.url) && path == wanted)
            selectedItemIndex = int(i);
    }
    if (currentScreenMode == ScreenFullImage) {
        imageViewer()->openSelectedItem();
        sidebarController()->updatePreviewThumbnail();
        mainWindowController *window = mainWindow();
        if (!window->isInFullScreen())
            window->setWindowState(window->windowState() | Qt::WindowFullScreen);
        return;
    }
    contentHub()->enterFullImage();
}
