// Adding folders to the sidebar: the panels that choose them, the scan on its
// worker, the progress in the hub, the stop question.
#include "sidebar/SidebarFolderAdd.h"

#include "app/Essentials.h"
#include "app/mainvc.h"
#include "controls/ProgressViews.h"
#include "model/PhotosLibrary.h"
#include "platform/desktop/Panels.h"
#include "platform/desktop/Paths.h"
#include "platform/files/names/FileNames.h"
#include "platform/runtime/Background.h"
#include "platform/runtime/Dispatch.h"
#include "platform/runtime/Pools.h"
#include "sidebar/SidebarSavedRoots.h"
#include "sidebar/SidebarSheets.h"
#include "sidebar/outlineView.h"
#include "sidebar/sideMenuvc.h"

#include <QLabel>
#include <QPointer>

#include <atomic>

using namespace sidebarsheets;

// One add: the folders asked for, what the worker needs to know of the tree,
// and the stop switch of the owner.
struct SidebarFolderAdd::AddJob
{
    std::optional<QList<QUrl>> urls;
    QStringList topLevelPaths;  // the tree's top-level folders when the add started
    std::atomic<bool> abort{false};
    QPointer<SidebarFolderAdd> owner;
};

SidebarFolderAdd::SidebarFolderAdd(sideMenuvc *sidebar) : QObject(sidebar), m_sidebar(sidebar)
{
    // At quit a scan under way stops and its thread has ended before the
    // windows go; what it would still hand over is dropped.
    lg::onShutdown(this, [this] { stopAndWait(); });
}

void SidebarFolderAdd::stopAndWait()
{
    if (m_job)
        m_job->abort = true;
    m_worker.waitForFinished();
}

void SidebarFolderAdd::postToOwner(const std::shared_ptr<AddJob> &job, std::function<void(SidebarFolderAdd *)> fn)
{
    lg::onMain([job, fn = std::move(fn)] {
        SidebarFolderAdd *owner = job->owner.data();
        if (owner && owner->m_job == job && !job->abort.load())
            fn(owner);
    });
}

void SidebarFolderAdd::add(const std::optional<QList<QUrl>> &folderURLs)
{
    if (m_job) {
        // Both adds would share the scan flags: this one waits for its turn.
        m_pendingAdds.append(folderURLs);
        return;
    }
    startAdd(folderURLs);
}

void SidebarFolderAdd::startAdd(const std::optional<QList<QUrl>> &folderURLs)
{
    addingFoldersCancelled = false;
    stopAddingFolders = false;

    if (mainvc *hub = sidebarsheets::hub()) {
        hub->circularview->setAnimated(false);
        hub->circularview->setProgress(0.0);
        hub->circularview->setAnimated(true);
        hub->showBusyLoader();
        hub->progressBox->show();
        hub->lblProcessTitle->setText(folderURLs ? QStringLiteral("Adding Folders...")
                                                 : QStringLiteral("Adding Files..."));
        hub->lblpath->setText(QStringLiteral("Getting Information"));
    }
    m_sidebar->treeController->removeSelectionIndexPaths();
    isSidebarTreeUpdating = true;

    m_job = std::make_shared<AddJob>();
    if (!folderURLs) {
        // Nothing to count or scan: the add ends here.
        if (mainvc *hub = sidebarsheets::hub()) {
            hub->totalcount = 0;
            hub->currentCount = 0;
        }
        endWithoutFolders();
        return;
    }

    m_job->urls = folderURLs;
    m_job->owner = this;
    for (const BaseNode::Ptr &node : m_sidebar->contents()) {
        if (node && node->url() && node->url()->isLocalFile())
            m_job->topLevelPaths.append(comparablePath(lg::FileNames::pathOf(*node->url())));
    }
    m_worker.waitForFinished();  // the previous scan has posted its end: it is returning
    // On a pool of its own: the scan of a large tree may run for minutes. The
    // stop step made in the constructor aborts it and waits for it at quit.
    m_worker = lg::runOnPool([job = m_job] { scanAddedFolders(job); }, lg::pools::folderScans());
}

void SidebarFolderAdd::scanAddedFolders(const std::shared_ptr<AddJob> &job)
{
    const ScanControl control(&job->abort);
    // Roots are kept in their clean form ("/a/b", not "/a/b/").
    QList<QUrl> urls;
    for (const QUrl &url : *job->urls)
        urls.append(url.isLocalFile() ? lg::FileNames::urlOf(lg::LexicalPaths::clean(lg::FileNames::pathOf(url))) : url);
    auto insideHome = [](const QUrl &url) {
        return url.isLocalFile() && lg::Paths::isInsideHome(lg::FileNames::pathOf(url));
    };

    // Counting: the progress total, and the folder listings for the records.
    FolderListings listings;
    int total = 0;
    for (const QUrl &url : urls) {
        if (!insideHome(url))
            continue;
        total += countSubfolders(lg::FileNames::pathOf(url), control, &listings).value_or(0);
        if (!control.waitWhilePaused())
            return;
    }
    if (control.aborted())
        return;
    if (addingFoldersCancelled.exchange(false)) {
        postToOwner(job, [](SidebarFolderAdd *self) { self->endEarly(); });
        return;
    }
    postToOwner(job, [total](SidebarFolderAdd *) {
        if (mainvc *hub = sidebarsheets::hub()) {
            hub->totalcount = total;
            hub->currentCount = 0;
            hub->showProgressSheet();
        }
    });

    // Recording: one record per accepted folder, filled with its sub-folders.
    // Every folder counts on the main thread; the ring and the path line move
    // with every sixth sub-folder of a parent.
    ScanContext context{control, &listings, [job](const QUrl &folder, bool ringMoves) {
                            if (sideMenuvc::folderRecordedHook)
                                sideMenuvc::folderRecordedHook(folder);
                            const QString path
                                = ringMoves ? lg::FileNames::shown(lg::FileNames::pathOf(folder)) : QString();
                            postToOwner(job, [ringMoves, path](SidebarFolderAdd *) {
                                if (mainvc *hub = sidebarsheets::hub()) {
                                    hub->currentCount += 1;
                                    if (ringMoves) {
                                        hub->updateProgressSheet();
                                        hub->setProgressPath(path);
                                    }
                                }
                            });
                        }};
    auto records = std::make_shared<std::vector<FolderRecord>>();
    bool alreadyAdded = false;
    bool outsideHome = false;
    QStringList takenThisTime;  // a folder named twice in one list is added once
    for (const QUrl &url : urls) {
        if (job->topLevelPaths.contains(comparablePath(lg::FileNames::pathOf(url))) && url.isLocalFile()) {
            alreadyAdded = true;
            continue;
        }
        if (url.isLocalFile()) {
            const QString path = comparablePath(lg::FileNames::pathOf(url));
            if (takenThisTime.contains(path))
                continue;
            takenThisTime.append(path);
        }
        if (!insideHome(url)) {
            outsideHome = true;
            continue;
        }
        records->push_back(FolderRecord::make(url));
        if (isPhotosLibraryPath(lg::FileNames::pathOf(url)))
            continue;
        sideMenuvc::scanFolderTree(lg::FileNames::pathOf(url), records->back(), context);
        if (control.aborted())
            return;
        if (addingFoldersCancelled.exchange(false)) {
            // A stopped add adds none of its folders.
            postToOwner(job, [](SidebarFolderAdd *self) { self->endEarly(); });
            return;
        }
    }
    postToOwner(job, [](SidebarFolderAdd *) {
        if (mainvc *hub = sidebarsheets::hub()) {
            hub->currentCount = hub->totalcount.load();
            hub->updateProgressSheet();
        }
    });
    postToOwner(job, [records, alreadyAdded, outsideHome](SidebarFolderAdd *self) {
        self->finish(*records, alreadyAdded, outsideHome);
    });
}

void SidebarFolderAdd::jobEnded()
{
    m_job.reset();
    Q_EMIT m_sidebar->addingFinished();
    if (!m_pendingAdds.isEmpty() && !m_job)
        startAdd(m_pendingAdds.takeFirst());
}

void SidebarFolderAdd::finish(const std::vector<FolderRecord> &records, bool alreadyAdded, bool outsideHome)
{
    m_sidebar->m_savedRoots->nowInTree(records);
    m_sidebar->myOutlineView->setUpdatesEnabled(false);
    for (const FolderRecord &record : records)
        m_sidebar->insertFolderRecord(record);
    m_sidebar->myOutlineView->setUpdatesEnabled(true);
    isSidebarTreeUpdating = false;

    const int rows = m_sidebar->myOutlineView->numberOfRows();
    m_sidebar->myOutlineView->selectRow(rows - 1);
    if (rows == 1)
        m_sidebar->myOutlineView->expand(m_sidebar->myOutlineView->itemAtRow(0));
    m_sidebar->myOutlineView->scrollRowToVisible(rows - 1);

    if (mainvc *hub = sidebarsheets::hub()) {
        hub->hideProgressSheet();
        hub->hideBusyLoader();
    }
    addingFoldersCancelled = false;
    stopAddingFolders = false;

    if (alreadyAdded) {
        lg::afterDelay(500, this, [this] { sayAlreadyAdded(); });
    } else if (outsideHome) {
        showOverlay(Overlay::Sheet);
        lg::AlertSpec spec;
        spec.style = lg::AlertSpec::Style::Informational;
        spec.title = QStringLiteral("Some or all of the selected folders cannot be added. Only folders from  within "
                                    "your User folder (")
                     + lg::Paths::userName() + QStringLiteral(") can be added.");
        spec.buttons = {QStringLiteral("OK")};
        lg::Alert::show(m_sidebar->window(), spec, [](int) {
            showOverlay(Overlay::Hidden);
        });
    } else {
        lg::afterDelay(100, m_sidebar, [sidebar = m_sidebar] { sidebar->ShowGetPermissionvc(); });
    }
    jobEnded();
}

void SidebarFolderAdd::endEarly()
{
    isSidebarTreeUpdating = false;
    if (mainvc *hub = sidebarsheets::hub()) {
        hub->hideProgressSheet();
        hub->hideBusyLoader();
    }
    if (m_sidebar->myOutlineView->numberOfRows() == 0)
        m_sidebar->resetForEmptySidebar();
    jobEnded();
}

void SidebarFolderAdd::endWithoutFolders()
{
    isSidebarTreeUpdating = false;
    m_sidebar->myOutlineView->scrollRowToVisible(m_sidebar->myOutlineView->numberOfRows() - 1);
    if (mainvc *hub = sidebarsheets::hub()) {
        hub->hideProgressSheet();
        hub->hideBusyLoader();
    }
    jobEnded();
}

void SidebarFolderAdd::askToStop()
{
    m_sidebar->alerStopAddingFolder = lg::AlertSpec();
    m_sidebar->alerStopAddingFolder.style = lg::AlertSpec::Style::Informational;
    m_sidebar->alerStopAddingFolder.title = QStringLiteral("Are you sure you want to Stop importing folders to view photos and videos?");
    m_sidebar->alerStopAddingFolder.buttons = {QStringLiteral("Yes"), QStringLiteral("No")};
    QPointer<SidebarFolderAdd> self(this);
    lg::Alert::show(m_sidebar->window(), m_sidebar->alerStopAddingFolder, [self](int button) {
        if (!self)
            return;
        if (button == 0)
            self->stopConfirmed();
        else
            self->stopDeclined();
    });
}

void SidebarFolderAdd::stopConfirmed()
{
    addingFoldersCancelled = true;
    stopAddingFolders = false;
}

void SidebarFolderAdd::stopDeclined()
{
    stopAddingFolders = false;
}

void SidebarFolderAdd::sayAlreadyAdded()
{
    showOverlay(Overlay::Sheet);
    m_sidebar->alertAlreadyAdded = lg::AlertSpec();
    m_sidebar->alertAlreadyAdded.style = lg::AlertSpec::Style::Informational;
    m_sidebar->alertAlreadyAdded.title =
        QStringLiteral("Some of the folders can not be added because they are already added to the bookmark list.");
    m_sidebar->alertAlreadyAdded.buttons = {QStringLiteral("OK")};
    QPointer<SidebarFolderAdd> self(this);
    lg::Alert::show(m_sidebar->window(), m_sidebar->alertAlreadyAdded, [self](int) {
        if (self)
            self->m_sidebar->restoreOverlayAfterSheet();
    });
}

// ---------------------------------------------------------------- the panels that choose folders

void SidebarFolderAdd::chooseFolders()
{
    lg::OpenPanelSpec spec;
    spec.chooseFiles = false;
    spec.chooseDirectories = true;
    spec.allowsMultipleSelection = true;
    spec.showsHiddenFiles = false;
    showOverlay(Overlay::Sheet);
    QPointer<SidebarFolderAdd> self(this);
    lg::Panels::open(m_sidebar->window(), spec, [self](const QList<QUrl> &urls) {
        showOverlay(Overlay::Hidden);
        if (self && !urls.isEmpty())
            self->add(urls);
    });
}

bool SidebarFolderAdd::canChoose(const QUrl &url)
{
    const QString path = lg::FileNames::pathOf(url);
    if (isPhotosLibraryPath(path))
        return true;
    return lg::FileNames::isFolder(path);
}

void SidebarFolderAdd::choosePhotosLibraries()
{
    endEditing();
    lg::OpenPanelSpec spec;
    spec.chooseFiles = true;
    spec.chooseDirectories = false;
    spec.allowsMultipleSelection = true;
    spec.showsHiddenFiles = false;
    spec.packageExtensions = {QStringLiteral("photoslibrary")};
    spec.nameFilters = {QStringLiteral("Photos Library (*.photoslibrary)")};
    spec.prompt = QStringLiteral("Add");
    spec.directory = lg::Paths::picturesOrHome();
    QPointer<SidebarFolderAdd> self(this);
    lg::Panels::open(m_sidebar->window(), spec, [self](const QList<QUrl> &urls) {
        if (!self || urls.isEmpty())
            return;
        // Only Photos library packages can be chosen in this panel.
        QList<QUrl> libraries;
        for (const QUrl &url : urls) {
            const QString path = lg::FileNames::pathOf(url);
            if (url.isLocalFile() && isPhotosLibraryPath(path) && lg::FileNames::isFolder(path))
                libraries.append(url);
        }
        if (!libraries.isEmpty())
            self->add(libraries);
    });
}
