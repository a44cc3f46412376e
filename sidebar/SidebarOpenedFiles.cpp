// Files shown from outside the sidebar's folders, and the "Opened with" entry.
#include "sidebar/SidebarOpenedFiles.h"

#include "app/Essentials.h"
#include "app/mainvc.h"
#include "model/MediaRecords.h"
#include "platform/desktop/Panels.h"
#include "platform/files/names/FileNames.h"
#include "sidebar/SidebarSelection.h"
#include "sidebar/SidebarSheets.h"
#include "sidebar/sideMenuvc.h"

#include <QFileInfo>
#include <QPointer>

#include <algorithm>

namespace {

QString lowerExtension(const QString &path)
{
    return QFileInfo(path).suffix().toLower();
}

} // namespace

SidebarOpenedFiles::SidebarOpenedFiles(sideMenuvc *sidebar) : QObject(sidebar), m_sidebar(sidebar)
{
    setObjectName(QStringLiteral("sidebarOpenedFiles"));
}

void SidebarOpenedFiles::chooseFilesToShow()
{
    lg::OpenPanelSpec spec;
    spec.chooseFiles = true;
    spec.chooseDirectories = false;
    spec.allowsMultipleSelection = true;
    spec.showsHiddenFiles = false;
    QPointer<SidebarOpenedFiles> self(this);
    lg::Panels::open(m_sidebar->window(), spec, [self](const QList<QUrl> &urls) {
        if (self && !urls.isEmpty())
            self->showChosen(urls);
    });
}

void SidebarOpenedFiles::showChosen(const QList<QUrl> &urls)
{
    QList<QUrl> kept;
    for (const QUrl &url : urls) {
        if (url.isLocalFile() && mediaExtensions.contains(lowerExtension(lg::FileNames::pathOf(url))))
            kept.append(url);
    }
    if (kept.isEmpty())
        return;
    const QUrl folder = lg::FileNames::urlOf(QFileInfo(lg::FileNames::pathOf(urls.first())).absolutePath());
    const std::optional<IndexPath> node = m_sidebar->findTreeNode(folder, m_sidebar->contents());
    focusFileAfterReload = true;
    fileToFocus = kept.first();
    if (node) {
        m_sidebar->selection().selectOrReload(*node);
        return;
    }
    for (const QUrl &url : std::as_const(kept)) {
        if (lg::FileNames::isFolder(lg::FileNames::pathOf(url)))
            continue;
        InitialDirectory item = Metadata::init(url);
        // An image is told from a video by its extension, as everywhere else.
        item.isImage = imageExtensions.contains(lowerExtension(lg::FileNames::pathOf(url)));
        openedFileItems.append(item);
    }
    showOpenedWithNode();
}

void SidebarOpenedFiles::reveal(const QStringList &paths)
{
    if (paths.isEmpty())
        return;
    // Folders handed over are sources of their own: added, or selected when
    // the sidebar already has them.
    QStringList files;
    QList<QUrl> foldersToAdd;
    std::optional<IndexPath> knownFolder;
    for (const QString &path : paths) {
        if (!lg::FileNames::isFolder(path)) {
            files.append(path);
            continue;
        }
        const QUrl url = lg::FileNames::urlOf(path);
        if (const std::optional<IndexPath> node = m_sidebar->findTreeNode(url, m_sidebar->contents())) {
            if (!knownFolder)
                knownFolder = node;
        } else {
            foldersToAdd.append(url);
        }
    }
    if (files.isEmpty() && knownFolder)
        m_sidebar->selection().selectOrReload(*knownFolder);
    if (!foldersToAdd.isEmpty())
        m_sidebar->addFoldersWithProgress(foldersToAdd);
    if (files.isEmpty())
        return;

    const QUrl firstFile = lg::FileNames::urlOf(files.first());
    const QUrl folder = lg::FileNames::urlOf(QFileInfo(files.first()).absolutePath());
    const std::optional<IndexPath> node = m_sidebar->findTreeNode(folder, m_sidebar->contents());
    focusFileAfterReload = true;
    fileToFocus = firstFile;
    if (node) {
        m_sidebar->selection().selectOrReload(*node);
        return;
    }
    for (const QString &path : std::as_const(files)) {
        const bool listed = std::any_of(openedFileItems.cbegin(), openedFileItems.cend(),
                                        [&path](const InitialDirectory &item) {
                                            return item.url && lg::FileNames::pathOf(*item.url) == path;
                                        });
        if (listed)
            continue;
        const QString extension = lowerExtension(path);
        const QUrl url = lg::FileNames::urlOf(path);
        if (imageExtensions.contains(extension)) {
            InitialDirectory item = Metadata::init(url);
            item.isImage = true;
            openedFileItems.append(item);
        } else if (videoExtensions.contains(extension)) {
            InitialDirectory item = Metadata::init(url);
            item.isImage = false;
            openedFileItems.append(item);
        }
    }
    showOpenedWithNode();
}

void SidebarOpenedFiles::showOpenedWithNode()
{
    if (const std::optional<IndexPath> path = openedWithNode()) {
        m_sidebar->selection().selectOrReload(*path);
        return;
    }
    mainvc *hub = sidebarsheets::hub();
    // May run in the middle of an add (files and a folder handed over at
    // once): the add's own flag is put back as it was.
    const bool wasUpdating = isSidebarTreeUpdating.exchange(true);
    if (hub)
        hub->showBusyLoader();
    m_sidebar->treeController->removeSelectionIndexPaths();
    isSidebarTreeUpdating = wasUpdating;
    // The insertion selects the new entry, which loads it.
    m_sidebar->insertLeafNode(TreeAdditionObj(std::nullopt, openedWithLabel, false));
    if (hub)
        hub->hideBusyLoader();
}

std::optional<IndexPath> SidebarOpenedFiles::openedWithNode() const
{
    const QList<BaseNode::Ptr> &top = m_sidebar->contents();
    for (int row = 0; row < top.size(); ++row) {
        if (top.at(row) && !top.at(row)->url() && top.at(row)->nodeTitle() == openedWithLabel)
            return IndexPath{row};
    }
    return std::nullopt;
}
