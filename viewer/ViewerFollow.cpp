// The viewer's watch of its folder: the listing again, and the file on show
// followed through renames, rewrites and its going.
#include "viewer/ViewerFollow.h"

#include "app/Essentials.h"
#include "browser/Listing.h"
#include "browser/ViewController.h"
#include "model/ChosenFiles.h"
#include "platform/files/names/FileNames.h"
#include "platform/files/operations/FileOperations.h"
#include "platform/runtime/Background.h"
#include "platform/runtime/ControllerRegistry.h"
#include "viewer/AnimatedImage.h"
#include "viewer/ElidedLabel.h"
#include "viewer/PictureLoader.h"
#include "viewer/ViewerVideo.h"
#include "viewer/ViewerZoom.h"
#include "viewer/viewimagevc.h"

#include <QFrame>
#include <QPointer>

#include <utility>

namespace {

// Where the file the viewer shows at path stands in the folder just listed as
// items: still listed by its name (renamedTo none, left false), listed under
// another name after a rename within the folder (renamedTo that item's URL),
// or gone from the folder (left). Known by identity: device, inode, birth
// time and type, whatever was written to it meanwhile. Any thread.
struct ShownFileInListing
{
    bool left = false;
    std::optional<QUrl> renamedTo;
};

ShownFileInListing findShownFileIn(const QString &path, const std::optional<lg::FileIdentity> &identity,
                                   const QVector<InitialDirectory> &items)
{
    if (path.isEmpty())
        return {};
    const QUrl url = lg::FileNames::urlOf(path);
    for (const InitialDirectory &item : items)
        if (item.file && item.file->url == url)
            return {};
    if (!identity)
        return {true, std::nullopt};
    for (const InitialDirectory &item : items) {
        if (!item.file)
            continue;
        const std::optional<lg::FileIdentity> listed = lg::fileIdentity(lg::FileNames::pathOf(item.file->url));
        if (listed && compareChosen(*identity, *listed) != ChosenFileState::Replaced)
            return {false, item.file->url};
    }
    return {true, std::nullopt};
}

} // namespace

ViewerFollow::ViewerFollow(viewimagevc *viewer) : QObject(viewer), m_viewer(viewer) {}

void ViewerFollow::forgetGoneItem()
{
    m_goneOrder.clear();
    m_gonePosition = -1;
}

void ViewerFollow::reload()
{
    viewimagevc &v = *m_viewer;
    if (isFileOperationRunning)
        return;
    if (!currentFolderURL)
        return;
    const QUrl folderURL = *currentFolderURL;
    const QString folder = lg::FileNames::pathOf(folderURL);
    const quint64 generation = ++m_generation;
    const QString shownPath = v.m_shownPath;
    const std::optional<lg::FileIdentity> shownIdentity = v.m_shownIdentity;
    QPointer<ViewerFollow> self(this);
    // Listed off the main thread: a folder of thousands of files does not
    // hold up the window. The shown item stays on screen meanwhile.
    using Listed = std::pair<QVector<InitialDirectory>, ShownFileInListing>;
    lg::runThenCallback(
        this,
        [folder, shownPath, shownIdentity] {
            QVector<InitialDirectory> items = mediaItemsInFolder(folder);
            const ShownFileInListing found = findShownFileIn(shownPath, shownIdentity, items);
            return Listed(std::move(items), found);
        },
        [self, folderURL, generation, shownPath](Listed listed) {
            QVector<InitialDirectory> &items = listed.first;
            const bool shownFileLeft = listed.second.left;
            const std::optional<QUrl> &renamedTo = listed.second.renamedTo;
            if (self.isNull() || generation != self->m_generation)
                return;
            if (isFileOperationRunning || currentFolderURL != folderURL)
                return;
            // The order the shown file was last seen in, for next and previous if it has gone.
            QList<QUrl> previousOrder;
            for (const InitialDirectory &item : activeItemList())
                previousOrder << (item.file ? item.file->url : QUrl());
            itemList = std::move(items);
            searchResults.clear();
            // Renamed within the folder by another program: the viewer and
            // its commands go on with the file under its new name.
            if (renamedTo && self->m_viewer->m_shownPath == shownPath)
                self->followRenamedFile(*renamedTo);
            self->m_viewer->box_nofilefound->setVisible(itemList.isEmpty());
            if (auto *content = lg::ControllerRegistry::existingAs<ViewController>(QStringLiteral("ViewController"))) {
                applySortAndSearchAfterListing([] {});
                content->updateItemCountLabel();
            }
            self->findShownItemAgain(previousOrder);
            // The file on show was deleted, or moved out of the folder, by
            // another program: the viewer moves on to the item that stood
            // after it, as after its own Move to Trash.
            if (shownFileLeft && self->m_viewer->m_shownPath == shownPath && selectedItemIndex < 0 && !itemList.isEmpty()
                && !lg::fileIdentity(shownPath)) {
                if (!activeItemList().isEmpty()) {
                    self->m_viewer->showNextItem();
                } else {
                    self->m_viewer->showNoFiles();
                    showNoCurrentItem();
                }
            }
            // The file on show was written over or changed: it is shown again.
            self->followChangedFile();
            // The last file went: the picture goes with it.
            if (itemList.isEmpty()) {
                self->m_viewer->showNoFiles();
                showNoCurrentItem();
            }
        });
}

void ViewerFollow::followRenamedFile(const QUrl &url)
{
    viewimagevc &v = *m_viewer;
    if (!viewerItemURL || lg::FileNames::pathOf(*viewerItemURL) != v.m_shownPath || v.isTransformRunning())
        return;
    const QString oldPath = v.m_shownPath;
    const QString path = lg::FileNames::pathOf(url);
    // Still the same file at the new name, and nothing at the old one (a file
    // that took the old name is another file: the viewer's file left).
    const std::optional<lg::FileIdentity> now = lg::fileIdentity(path);
    if (!v.m_shownIdentity || !now || compareChosen(*v.m_shownIdentity, *now) == ChosenFileState::Replaced
        || lg::existsOrLink(oldPath))
        return;
    viewerItemURL = url;
    v.m_shownPath = path;
    // A rename changes the inode change time alone: the identity commands
    // check is taken anew, unless the content changed too (then the viewer
    // shows it again first, as for any file changed under it).
    lg::FileIdentity renamed = *now;
    renamed.changedSeconds = v.m_shownIdentity->changedSeconds;
    renamed.changedNanoseconds = v.m_shownIdentity->changedNanoseconds;
    if (renamed == *v.m_shownIdentity)
        v.m_shownIdentity = now;
    v.lblfilename->setText(url.fileName());
    if (v.m_wantedKey && v.m_wantedKey->path == oldPath) {
        // The picture waited for is read under the new name.
        v.waitFor(PictureLoader::keyFor(path, v.decodeBound()));
    } else if (v.m_animation->path() == oldPath) {
        v.m_zoom->keep(true);
        v.showAnimated(path);
    }
    v.updateEditButton();
}

void ViewerFollow::followChangedFile()
{
    viewimagevc &v = *m_viewer;
    // Only the file on show, still listed where the viewer stands; our own
    // turn in progress sets the identity itself when it is done.
    if (v.isTransformRunning() || v.m_shownPath.isEmpty() || !viewerItemURL
        || lg::FileNames::pathOf(*viewerItemURL) != v.m_shownPath)
        return;
    const QVector<InitialDirectory> &items = activeItemList();
    if (selectedItemIndex < 0 || selectedItemIndex >= items.size())
        return;
    const InitialDirectory &item = items.at(selectedItemIndex);
    if (!item.file || item.file->url != *viewerItemURL)
        return;
    const std::optional<lg::FileIdentity> now = lg::fileIdentity(v.m_shownPath);
    if (!now || now == v.m_shownIdentity || now == v.m_followedIdentity)
        return;
    // The identity becomes the one commands check once the new content is on
    // screen; until then they refuse, as for any file changed under the viewer.
    v.m_followedIdentity = now;
    const QString extension = pathExtensionOf(viewerItemURL->fileName()).toLower();
    if (videoExtensions.contains(extension) && !item.isImage) {
        v.m_video->showAgain(*viewerItemURL);
        return;
    }
    if (!v.isVisible())
        return;
    // Zoom, fit and place stay, as after a turn; the old picture stays on
    // screen until the new one is decoded.
    v.m_zoom->keep(true);
    if (extension == QLatin1String("gif")) {
        v.showAnimated(v.m_shownPath);
        return;
    }
    if (!item.isImage) {
        v.takeFollowedIdentity();
        return;
    }
    const PictureKey key = PictureLoader::keyFor(v.m_shownPath, v.decodeBound());
    if (std::optional<DecodedPicture> picture = v.m_loader->cached(key)) {
        v.applyStill(key, *picture);
        return;
    }
    v.waitFor(key);
}

void ViewerFollow::findShownItemAgain(const QList<QUrl> &previousOrder)
{
    if (!viewerItemURL)
        return;
    const QVector<InitialDirectory> &items = activeItemList();
    for (int i = 0; i < items.size(); ++i) {
        if (items.at(i).file && items.at(i).file->url == *viewerItemURL) {
            selectedItemIndex = i;
            m_goneOrder.clear();
            m_gonePosition = -1;
            return;
        }
    }
    // The shown file is gone: it stays on screen and the commands find
    // nothing. Next and previous go on from where it stood in the last list
    // that held it (a later reload keeps that list).
    selectedItemIndex = -1;
    if (const int position = int(previousOrder.indexOf(*viewerItemURL)); position >= 0) {
        m_goneOrder = previousOrder;
        m_gonePosition = position;
    }
}

int ViewerFollow::indexBesideGoneItem(int step) const
{
    const int count = int(m_goneOrder.size());
    if (m_gonePosition < 0 || m_gonePosition >= count)
        return -1;
    const QVector<InitialDirectory> &items = activeItemList();
    // The first item after (or before) it, going round, that is still listed.
    for (int offset = 1; offset < count; ++offset) {
        const QUrl &url = m_goneOrder.at(((m_gonePosition + step * offset) % count + count) % count);
        if (url.isEmpty())
            continue;
        for (int i = 0; i < items.size(); ++i)
            if (items.at(i).file && items.at(i).file->url == url)
                return i;
    }
    return -1;
}

