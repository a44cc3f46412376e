#include "sidebar/sideMenuvc.h"

#include "model/FileTypeIcon.h"

#include "app/Essentials.h"
#include "app/mainWindowController.h"
#include "app/mainvc.h"
#include "browser/ItemMenus.h"
#include "browser/ViewController.h"
#include "browser/listVc.h"
#include "model/ThumbnailCache.h"
#include "browser/thumbnailvc.h"
#include "controls/Cells.h"
#include "controls/CursorButtons.h"
#include "controls/PopoverMaxTypeVC.h"
#include "controls/ProgressViews.h"
#include "controls/SvgArt.h"
#include "model/FileServices.h"
#include "model/MediaRecords.h"
#include "platform/runtime/Background.h"
#include "platform/runtime/Console.h"
#include "platform/runtime/ControllerRegistry.h"
#include "platform/runtime/Dispatch.h"
#include "platform/runtime/Pools.h"
#include "platform/files/names/FileNames.h"
#include "platform/desktop/Panels.h"
#include "platform/desktop/Paths.h"
#include "platform/desktop/Settings.h"
#include "sidebar/outlineView.h"
#include "sidebar/outline_cell.h"
#include "viewer/VideoPlayer.h"
#include "viewer/viewimagevc.h"

#include <QApplication>
#include <QEvent>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QSvgRenderer>
#include <QVBoxLayout>

#include <QDir>

#include <algorithm>
#include <cstdio>
#include <utility>

using lg::printLine;

std::function<void(const QUrl &folder)> sideMenuvc::folderRecordedHook;

// One add: the folders asked for, what the worker needs to know of the tree,
// and the stop switch of the controller.
struct sideMenuvc::AddJob
{
    std::optional<QList<QUrl>> urls;
    QStringList topLevelPaths;  // the tree's top-level folders when the add started
    std::atomic<bool> abort{false};
    QPointer<sideMenuvc> owner;
};

namespace {

const QString savedRootsKey = QStringLiteral("arrPaths");

mainvc *existingHub()
{
    return qobject_cast<mainvc *>(lg::ControllerRegistry::existing(QStringLiteral("mainvc")));
}

// A folder path in the form that tells two folders apart: the real path when
// the folder exists, else the cleaned path.
QString comparablePath(const QString &path)
{
    const QString canonical = lg::FileNames::canonical(path);
    return canonical.isEmpty() ? lg::LexicalPaths::clean(path) : canonical;
}

const char *sidebarStyle = R"css(
sideMenuvc { background-color: #232323; }
QFrame#previewBox { background-color: #1b1b1b; border-top: 1px solid #333333; }
QFrame#buttonBar { background-color: #262626; border-top: 1px solid #333333; }
buttoncursor { background: transparent; border: none; border-radius: 5px; }
buttoncursor:hover { background-color: #383838; }
buttoncursor:pressed { background-color: #2e2e2e; }
)css";

} // namespace

// Builds the node of a record with its whole sub-tree: a record with
// sub-folders becomes a group, one without a leaf.
BaseNode::Ptr sideMenuvc::nodeTreeForRecord(const FolderRecord &record)
{
    auto makeNode = [](const FolderRecord &r) {
        auto node = ChildNode::create();
        node->setNodeTitle(r.name);
        if (r.url1.isValid() && !r.url1.isEmpty())
            node->setUrl(r.url1);
        node->setIsLeaf(r.arrpath.empty());
        return node;
    };
    BaseNode::Ptr top = makeNode(record);
    std::vector<std::pair<const FolderRecord *, BaseNode *>> pending{{&record, top.get()}};
    while (!pending.empty()) {
        const auto [parentRecord, parentNode] = pending.back();
        pending.pop_back();
        QList<BaseNode::Ptr> children;
        children.reserve(qsizetype(parentRecord->arrpath.size()));
        for (const FolderRecord &child : parentRecord->arrpath) {
            BaseNode::Ptr node = makeNode(child);
            if (!child.arrpath.empty())
                pending.emplace_back(&child, node.get());
            children.append(node);
        }
        parentNode->setChildren(children);
    }
    return top;
}

void sideMenuvc::postToOwner(const std::shared_ptr<AddJob> &job, std::function<void(sideMenuvc *)> fn)
{
    lg::onMain([job, fn = std::move(fn)] {
        sideMenuvc *owner = job->owner.data();
        if (owner && owner->m_job == job && !job->abort.load())
            fn(owner);
    });
}

// ---------------------------------------------------------------- construction

sideMenuvc::sideMenuvc(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("sideMenuvc"));
    // At quit a scan under way stops and its thread has ended before the
    // windows go; what it would still hand over is dropped.
    lg::onShutdown(this, [this] {
        if (m_job)
            m_job->abort = true;
        m_worker.waitForFinished();
    });
    treeController = new SidebarTreeController(this);
    tooltipVc = new PopoverMaxTypeVC(this);
    popoverDetails = tooltipVc;
    buildLayout();
    viewDidLoad();
    setUpCommands();

    // The folder list is kept whenever the top-level nodes change (added,
    // removed, renamed, moved), not only at quit: a run that ends without a
    // clean quit keeps its folders too.
    SidebarTreeModel *model = treeController->model();
    auto topLevel = [this](const QModelIndex &parent) {
        if (!parent.isValid())
            queueSaveRoots();
    };
    connect(model, &QAbstractItemModel::rowsInserted, this, topLevel);
    connect(model, &QAbstractItemModel::rowsRemoved, this, topLevel);
    connect(model, &QAbstractItemModel::rowsMoved, this, topLevel);
    connect(model, &QAbstractItemModel::modelReset, this, [this] { queueSaveRoots(); });
    connect(model, &QAbstractItemModel::dataChanged, this,
            [topLevel](const QModelIndex &topLeft) { topLevel(topLeft.parent()); });
}

sideMenuvc::~sideMenuvc()
{
    if (m_job)
        m_job->abort = true;
    m_worker.waitForFinished();
}

void sideMenuvc::buildLayout()
{
    setAttribute(Qt::WA_StyledBackground, true);
    setStyleSheet(QString::fromLatin1(sidebarStyle));

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    myOutlineView = new outlineView(this);
    myOutlineView->setModel(treeController->model());
    QItemSelectionModel *own = myOutlineView->selectionModel();
    myOutlineView->setSelectionModel(treeController->selectionModel());
    delete own;
    myOutlineView->setItemDelegate(new outline_cell(myOutlineView));
    TableRowViewResult::install(myOutlineView);
    QPalette palette = myOutlineView->palette();
    palette.setColor(QPalette::Base, QColor(0x23, 0x23, 0x23));
    palette.setColor(QPalette::Window, QColor(0x23, 0x23, 0x23));
    palette.setColor(QPalette::Text, Qt::white);
    myOutlineView->setPalette(palette);
    myOutlineView->header()->setStretchLastSection(true);
    myOutlineView->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    column->addWidget(myOutlineView, 1);

    outlineViewMenu = new QMenu(this);
    outlineViewMenu->setObjectName(QStringLiteral("outlineViewMenu"));

    // The preview of the current item, with the video badge over its middle.
    auto *previewBox = new QFrame(this);
    previewBox->setObjectName(QStringLiteral("previewBox"));
    previewBox->setFixedHeight(150);
    imgviewThumbnail = new QLabel(previewBox);
    imgviewThumbnail->setObjectName(QStringLiteral("imgviewThumbnail"));
    imgviewThumbnail->setAlignment(Qt::AlignCenter);
    imgviewThumbnail->setMinimumSize(1, 1);
    imgviewThumbnail->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    imgviewThumbnail->setStyleSheet(QStringLiteral("background: transparent;"));
    video_icon = new QLabel(previewBox);
    video_icon->setObjectName(QStringLiteral("video_icon"));
    video_icon->setFixedSize(36, 36);
    video_icon->setStyleSheet(QStringLiteral("background: transparent;"));
    video_icon->hide();
    auto *previewGrid = new QGridLayout(previewBox);
    previewGrid->setContentsMargins(10, 10, 10, 10);
    previewGrid->addWidget(imgviewThumbnail, 0, 0);
    previewGrid->addWidget(video_icon, 0, 0, Qt::AlignCenter);
    column->addWidget(previewBox);

    // The buttons under the outline.
    auto *bar = new QFrame(this);
    bar->setObjectName(QStringLiteral("buttonBar"));
    bar->setFixedHeight(36);
    auto makeButton = [bar](const QString &name, const QString &icon, const QString &accessible) {
        auto *button = new buttoncursor(bar);
        button->setObjectName(name);
        button->setAccessibleName(accessible);
        button->setIcon(QIcon(svgPixmap(icon, QSize(18, 18), 2.0)));
        button->setIconSize(QSize(18, 18));
        button->setFixedSize(30, 26);
        button->setFocusPolicy(Qt::NoFocus);
        return button;
    };
    btnAddBookmark = makeButton(QStringLiteral("btnAddBookmark"), QStringLiteral(":/images/sidebar/add-folder.svg"),
                                QStringLiteral("Add Bookmark"));
    btnRemoveBookmark = makeButton(QStringLiteral("btnRemoveBookmark"),
                                   QStringLiteral(":/images/sidebar/remove-bookmark.svg"),
                                   QStringLiteral("Remove Bookmark"));
    btnAddPhotoLibrary = makeButton(QStringLiteral("btnAddPhotoLibrary"),
                                    QStringLiteral(":/images/sidebar/add-library.svg"),
                                    QStringLiteral("Add Photos Library"));
    btnShowFiles = makeButton(QStringLiteral("btnShowFiles"), QStringLiteral(":/images/sidebar/open-files.svg"),
                              QStringLiteral("Open Media Files"));
    auto *buttons = new QHBoxLayout(bar);
    buttons->setContentsMargins(8, 0, 8, 0);
    buttons->setSpacing(4);
    buttons->addWidget(btnAddBookmark);
    buttons->addWidget(btnRemoveBookmark);
    buttons->addStretch(1);
    buttons->addWidget(btnShowFiles);
    buttons->addWidget(btnAddPhotoLibrary);
    column->addWidget(bar);

    connect(btnAddBookmark, &QPushButton::clicked, this, &sideMenuvc::btnadmorefolders);
    connect(btnAddPhotoLibrary, &QPushButton::clicked, this, &sideMenuvc::btnAddPhotosLibrary);
    connect(btnShowFiles, &QPushButton::clicked, this, &sideMenuvc::btnfocus);
    connect(treeController->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { outlineViewSelectionDidChange(); });
    connect(myOutlineView, &QTreeView::expanded, this, [this] { outlineViewItemDidExpand(); });
    connect(myOutlineView, &QTreeView::collapsed, this, [this] {
        outlineViewItemWillCollapse();
        outlineViewItemDidCollapse();
    });
}

void sideMenuvc::viewDidLoad()
{
    myOutlineView->setContextMenuPolicy(Qt::DefaultContextMenu);
    isSidebarTreeUpdating = true;
    video_icon->setPixmap(svgPixmap(QStringLiteral(":/images/sidebar/video-badge.svg"), video_icon->size(),
                                    std::max<qreal>(2.0, devicePixelRatioF())));

    // The first import: the sources chosen on the home screen, or the folders
    // saved at the last quit. With a list it starts once the hub that hosts the
    // sidebar is complete (the add shows the hub's progress sheet).
    if (selectedSourceURLs.isEmpty()) {
        addFoldersWithProgress(std::nullopt);
    } else {
        const QList<QUrl> sources = selectedSourceURLs;
        QPointer<sideMenuvc> self(this);
        lg::onMain([self, sources] {
            if (self)
                self->addFoldersWithProgress(sources);
        });
    }

    myOutlineView->verticalScrollBar()->setValue(0);
    myOutlineView->horizontalScrollBar()->setValue(0);

    areaBtnAdd = btnAddBookmark;
    areabtnRemove = btnRemoveBookmark;
    areabtnAddLibrary = btnAddPhotoLibrary;
    areabtnShowFiles = btnShowFiles;
    for (QWidget *area : {areaBtnAdd, areabtnRemove, areabtnAddLibrary, areabtnShowFiles})
        area->installEventFilter(this);
    tooltipVc->setAnimates(false);
}

const QList<BaseNode::Ptr> &sideMenuvc::contents() const
{
    return treeController->contents();
}

void sideMenuvc::setContents(const QList<BaseNode::Ptr> &contents)
{
    treeController->setContents(contents);
}

// ---------------------------------------------------------------- hover hints

bool sideMenuvc::eventFilter(QObject *watched, QEvent *event)
{
    if (auto *area = qobject_cast<QWidget *>(watched)) {
        if (event->type() == QEvent::Enter)
            mouseEntered(area);
        else if (event->type() == QEvent::Leave)
            mouseExited(area);
    }
    return QWidget::eventFilter(watched, event);
}

void sideMenuvc::mouseEntered(QWidget *area)
{
    if (isBusy)
        return;
    popoverDetails->showHintFor(area, {
        {areaBtnAdd, "Add Bookmark"},
        {areabtnRemove, "Remove Bookmark"},
        {areabtnAddLibrary, "Add Photos Library"},
        {areabtnShowFiles, "Open Media Files"},
    });
}

void sideMenuvc::mouseExited(QWidget *)
{
    popoverDetails->hide();
}

// ---------------------------------------------------------------- adding folders

void sideMenuvc::addFoldersWithProgress(const std::optional<QList<QUrl>> &folderURLs)
{
    if (m_job) {
        // Both adds would share the scan flags: this one waits for its turn.
        m_pendingAdds.append(folderURLs);
        return;
    }
    startAdd(folderURLs);
}

void sideMenuvc::startAdd(const std::optional<QList<QUrl>> &folderURLs)
{
    addingFoldersCancelled = false;
    stopAddingFolders = false;

    if (mainvc *hub = existingHub()) {
        hub->circularview->setAnimated(false);
        hub->circularview->setProgress(0.0);
        hub->circularview->setAnimated(true);
        hub->showBusyLoader();
        hub->progressBox->show();
        hub->lblProcessTitle->setText(folderURLs ? QStringLiteral("Adding Folders...")
                                                 : QStringLiteral("Adding Files..."));
        hub->lblpath->setText(QStringLiteral("Getting Information"));
    }
    treeController->removeSelectionIndexPaths();
    isSidebarTreeUpdating = true;

    m_job = std::make_shared<AddJob>();
    if (!folderURLs) {
        // Nothing to count or scan: the add ends here.
        if (mainvc *hub = existingHub()) {
            hub->totalcount = 0;
            hub->currentCount = 0;
        }
        endAddingWithoutFolders();
        return;
    }

    m_job->urls = folderURLs;
    m_job->owner = this;
    for (const BaseNode::Ptr &node : contents()) {
        if (node && node->url() && node->url()->isLocalFile())
            m_job->topLevelPaths.append(comparablePath(lg::FileNames::pathOf(*node->url())));
    }
    m_worker.waitForFinished();  // the previous scan has posted its end: it is returning
    // On a pool of its own: the scan of a large tree may run for minutes. The
    // stop step made in the constructor aborts it and waits for it at quit.
    m_worker = lg::runOnPool([job = m_job] { scanAddedFolders(job); }, lg::pools::folderScans());
}

void sideMenuvc::scanAddedFolders(const std::shared_ptr<AddJob> &job)
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
        postToOwner(job, [](sideMenuvc *self) { self->endAddingFoldersEarly(); });
        return;
    }
    postToOwner(job, [total](sideMenuvc *) {
        if (mainvc *hub = existingHub()) {
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
                            postToOwner(job, [ringMoves, path](sideMenuvc *) {
                                if (mainvc *hub = existingHub()) {
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
        scanFolderTree(lg::FileNames::pathOf(url), records->back(), context);
        if (control.aborted())
            return;
        if (addingFoldersCancelled.exchange(false)) {
            // A stopped add adds none of its folders.
            postToOwner(job, [](sideMenuvc *self) { self->endAddingFoldersEarly(); });
            return;
        }
    }
    postToOwner(job, [](sideMenuvc *) {
        if (mainvc *hub = existingHub()) {
            hub->currentCount = hub->totalcount.load();
            hub->updateProgressSheet();
        }
    });
    postToOwner(job, [records, alreadyAdded, outsideHome](sideMenuvc *self) {
        self->finishAddingFolders(*records, alreadyAdded, outsideHome);
    });
}

void sideMenuvc::jobEnded()
{
    m_job.reset();
    Q_EMIT addingFinished();
    if (!m_pendingAdds.isEmpty() && !m_job)
        startAdd(m_pendingAdds.takeFirst());
}

void sideMenuvc::finishAddingFolders(const std::vector<FolderRecord> &records, bool alreadyAdded, bool outsideHome)
{
    // A saved folder added again is in the tree now: it is saved as a node.
    for (const FolderRecord &record : records) {
        if (!record.url1.isLocalFile())
            continue;
        const QString added = comparablePath(lg::FileNames::pathOf(record.url1));
        m_savedRootsNotShown.removeIf([&added](const QString &saved) { return comparablePath(saved) == added; });
    }
    myOutlineView->setUpdatesEnabled(false);
    for (const FolderRecord &record : records)
        insertFolderRecord(record);
    myOutlineView->setUpdatesEnabled(true);
    isSidebarTreeUpdating = false;

    const int rows = myOutlineView->numberOfRows();
    myOutlineView->selectRow(rows - 1);
    if (rows == 1)
        myOutlineView->expand(myOutlineView->itemAtRow(0));
    myOutlineView->scrollRowToVisible(rows - 1);

    if (mainvc *hub = existingHub()) {
        hub->hideProgressSheet();
        hub->hideBusyLoader();
    }
    addingFoldersCancelled = false;
    stopAddingFolders = false;

    if (alreadyAdded) {
        lg::afterDelay(500, this, [this] { alertFolderAlreadyAdded(); });
    } else if (outsideHome) {
        mainvc *hub = existingHub();
        if (hub) {
            hub->isonlyalert = true;
            hub->showBusyLoader();
        }
        lg::AlertSpec spec;
        spec.style = lg::AlertSpec::Style::Informational;
        spec.title = QStringLiteral("Some or all of the selected folders cannot be added. Only folders from  within "
                                    "your User folder (")
                     + lg::Paths::userName() + QStringLiteral(") can be added.");
        spec.buttons = {QStringLiteral("OK")};
        lg::Alert::show(window(), spec, [](int) {
            if (mainvc *hub = existingHub()) {
                hub->hideBusyLoader();
                hub->isonlyalert = false;
            }
        });
    } else {
        lg::afterDelay(100, this, [this] { ShowGetPermissionvc(); });
    }
    jobEnded();
}

void sideMenuvc::endAddingFoldersEarly()
{
    isSidebarTreeUpdating = false;
    if (mainvc *hub = existingHub()) {
        hub->hideProgressSheet();
        hub->hideBusyLoader();
    }
    if (myOutlineView->numberOfRows() == 0)
        resetForEmptySidebar();
    jobEnded();
}

void sideMenuvc::endAddingWithoutFolders()
{
    isSidebarTreeUpdating = false;
    myOutlineView->scrollRowToVisible(myOutlineView->numberOfRows() - 1);
    if (mainvc *hub = existingHub()) {
        hub->hideProgressSheet();
        hub->hideBusyLoader();
    }
    jobEnded();
}

void sideMenuvc::resetForEmptySidebar()
{
    if (currentScreenMode == ScreenGrid || currentScreenMode == ScreenList || currentScreenMode == ScreenViewer)
        selectedViewStyle = currentScreenMode == ScreenGrid   ? gridStyle
                            : currentScreenMode == ScreenList ? listStyle
                                                              : viewerStyle;
    itemList.clear();
    searchResults.clear();
    openedFileItems.clear();
    thumbnailGrid()->reloadCollectionView();
    // No folder is left in the tree; saved folders this run never showed are
    // still the user's, and the home screen offers them.
    lg::Settings::setValue(savedRootsKey, m_savedRootsNotShown);
    m_savedRootsNotShown.clear();
    m_saveQueued = false;   // a save still on its way would write the empty tree
    mainWindow()->showhomevc();
}

// ---------------------------------------------------------------- the stop question and messages

void sideMenuvc::alertforStopAddingFolder()
{
    alerStopAddingFolder = lg::AlertSpec();
    alerStopAddingFolder.style = lg::AlertSpec::Style::Informational;
    alerStopAddingFolder.title = QStringLiteral("Are you sure you want to Stop importing folders to view photos and videos?");
    alerStopAddingFolder.buttons = {QStringLiteral("Yes"), QStringLiteral("No")};
    QPointer<sideMenuvc> self(this);
    lg::Alert::show(window(), alerStopAddingFolder, [self](int button) {
        if (!self)
            return;
        if (button == 0)
            self->btnYes_StopAddingFolder();
        else
            self->btnCancel_StopAddingFolder();
    });
}

void sideMenuvc::btnYes_StopAddingFolder()
{
    addingFoldersCancelled = true;
    stopAddingFolders = false;
}

void sideMenuvc::btnCancel_StopAddingFolder()
{
    stopAddingFolders = false;
}

void sideMenuvc::alertFolderAlreadyAdded()
{
    if (mainvc *hub = existingHub()) {
        hub->isonlyalert = true;
        hub->showBusyLoader();
    }
    alertAlreadyAdded = lg::AlertSpec();
    alertAlreadyAdded.style = lg::AlertSpec::Style::Informational;
    alertAlreadyAdded.title =
        QStringLiteral("Some of the folders can not be added because they are already added to the bookmark list.");
    alertAlreadyAdded.buttons = {QStringLiteral("OK")};
    QPointer<sideMenuvc> self(this);
    lg::Alert::show(window(), alertAlreadyAdded, [self](int) {
        if (self)
            self->restoreOverlayAfterSheet();
    });
}

void sideMenuvc::restoreOverlayAfterSheet()
{
    printLine(QStringLiteral("Success"));
    if (mainvc *hub = existingHub()) {
        hub->isonlyalert = false;
        hub->hideBusyLoader();
    }
}

void sideMenuvc::endAlertSheet()
{
    if (mainvc *hub = existingHub()) {
        hub->isonlyalert = false;
        hub->hideBusyLoader();
    }
}

// ---------------------------------------------------------------- buttons and panels

namespace {
void endEditingInMainWindow()
{
    if (QWidget *focus = QApplication::focusWidget())
        focus->clearFocus();
}
} // namespace

void sideMenuvc::btnadmorefolders()
{
    endEditingInMainWindow();
    chooseFoldersToAdd();
}

void sideMenuvc::btnAddPhotosLibrary()
{
    choosePhotosLibrary();
}

void sideMenuvc::btnfocus()
{
    chooseFilesToShow();
}

void sideMenuvc::chooseFoldersToAdd()
{
    lg::OpenPanelSpec spec;
    spec.chooseFiles = false;
    spec.chooseDirectories = true;
    spec.allowsMultipleSelection = true;
    spec.showsHiddenFiles = false;
    if (mainvc *hub = existingHub()) {
        hub->isonlyalert = true;
        hub->showBusyLoader();
    }
    QPointer<sideMenuvc> self(this);
    lg::Panels::open(window(), spec, [self](const QList<QUrl> &urls) {
        if (mainvc *hub = existingHub()) {
            hub->isonlyalert = false;
            hub->hideBusyLoader();
        }
        if (self && !urls.isEmpty())
            self->addFoldersWithProgress(urls);
    });
}

bool sideMenuvc::panel_shouldEnableURL(const QUrl &url)
{
    const QString path = lg::FileNames::pathOf(url);
    if (isPhotosLibraryPath(path))
        return true;
    return lg::FileNames::isFolder(path);
}

void sideMenuvc::choosePhotosLibrary()
{
    endEditingInMainWindow();
    lg::OpenPanelSpec spec;
    spec.chooseFiles = true;
    spec.chooseDirectories = false;
    spec.allowsMultipleSelection = true;
    spec.showsHiddenFiles = false;
    spec.packageExtensions = {QStringLiteral("photoslibrary")};
    spec.nameFilters = {QStringLiteral("Photos Library (*.photoslibrary)")};
    spec.prompt = QStringLiteral("Add");
    spec.directory = lg::Paths::picturesOrHome();
    QPointer<sideMenuvc> self(this);
    lg::Panels::open(window(), spec, [self](const QList<QUrl> &urls) {
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
            self->addFoldersWithProgress(libraries);
    });
}

void sideMenuvc::chooseFilesToShow()
{
    lg::OpenPanelSpec spec;
    spec.chooseFiles = true;
    spec.chooseDirectories = false;
    spec.allowsMultipleSelection = true;
    spec.showsHiddenFiles = false;
    QPointer<sideMenuvc> self(this);
    lg::Panels::open(window(), spec, [self](const QList<QUrl> &urls) {
        if (self && !urls.isEmpty())
            self->showChosenFiles(urls);
    });
}

namespace {
QString lowerExtension(const QString &path)
{
    return QFileInfo(path).suffix().toLower();
}
} // namespace

void sideMenuvc::showChosenFiles(const QList<QUrl> &urls)
{
    QList<QUrl> kept;
    for (const QUrl &url : urls) {
        if (url.isLocalFile() && mediaExtensions.contains(lowerExtension(lg::FileNames::pathOf(url))))
            kept.append(url);
    }
    if (kept.isEmpty())
        return;
    const QUrl folder = lg::FileNames::urlOf(QFileInfo(lg::FileNames::pathOf(urls.first())).absolutePath());
    const std::optional<IndexPath> node = findTreeNode(folder, contents());
    focusFileAfterReload = true;
    fileToFocus = kept.first();
    if (node) {
        selectOrReload(*node);
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

void sideMenuvc::revealFolderOfFile(const QStringList &paths)
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
        if (const std::optional<IndexPath> node = findTreeNode(url, contents())) {
            if (!knownFolder)
                knownFolder = node;
        } else {
            foldersToAdd.append(url);
        }
    }
    if (files.isEmpty() && knownFolder)
        selectOrReload(*knownFolder);
    if (!foldersToAdd.isEmpty())
        addFoldersWithProgress(foldersToAdd);
    if (files.isEmpty())
        return;

    const QUrl firstFile = lg::FileNames::urlOf(files.first());
    const QUrl folder = lg::FileNames::urlOf(QFileInfo(files.first()).absolutePath());
    const std::optional<IndexPath> node = findTreeNode(folder, contents());
    focusFileAfterReload = true;
    fileToFocus = firstFile;
    if (node) {
        selectOrReload(*node);
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

void sideMenuvc::showOpenedWithNode()
{
    if (const std::optional<IndexPath> path = findOpenedWithNode()) {
        selectOrReload(*path);
        return;
    }
    mainvc *hub = existingHub();
    // May run in the middle of an add (files and a folder handed over at
    // once): the add's own flag is put back as it was.
    const bool wasUpdating = isSidebarTreeUpdating.exchange(true);
    if (hub)
        hub->showBusyLoader();
    treeController->removeSelectionIndexPaths();
    isSidebarTreeUpdating = wasUpdating;
    // The insertion selects the new entry, which loads it.
    insertLeafNode(TreeAdditionObj(std::nullopt, openedWithLabel, false));
    if (hub)
        hub->hideBusyLoader();
}

QStringList sideMenuvc::rootFolderPaths() const
{
    QStringList paths;
    for (const BaseNode::Ptr &node : contents()) {
        if (node && node->url() && node->url()->isLocalFile())
            paths.append(lg::FileNames::pathOf(*node->url()));
    }
    return paths;
}

void sideMenuvc::keepSavedRoots()
{
    const QStringList shown = rootFolderPaths();
    for (const QString &saved : lg::Settings::stringListValue(savedRootsKey).value_or(QStringList())) {
        const QString comparable = comparablePath(saved);
        const bool inTree = std::any_of(shown.cbegin(), shown.cend(), [&comparable](const QString &path) {
            return comparablePath(path) == comparable;
        });
        if (!inTree && !m_savedRootsNotShown.contains(saved))
            m_savedRootsNotShown.append(saved);
    }
}

QStringList sideMenuvc::rootsToSave() const
{
    const QStringList shown = rootFolderPaths();
    QStringList shownComparable;
    for (const QString &path : shown)
        shownComparable.append(comparablePath(path));
    QStringList roots;
    for (const QString &saved : m_savedRootsNotShown) {
        if (!shownComparable.contains(comparablePath(saved)) && !roots.contains(saved))
            roots.append(saved);
    }
    return roots + shown;
}

void sideMenuvc::saveRoots()
{
    const QStringList roots = rootsToSave();
    if (lg::Settings::stringListValue(savedRootsKey) != std::optional<QStringList>(roots))
        lg::Settings::setValue(savedRootsKey, roots);
}

void sideMenuvc::queueSaveRoots()
{
    // A change comes in several steps (an add inserts its folders one by one):
    // the list is written once they are all done.
    if (m_saveQueued)
        return;
    m_saveQueued = true;
    QPointer<sideMenuvc> self(this);
    lg::onMain([self] {
        if (!self || !self->m_saveQueued)
            return;
        self->m_saveQueued = false;
        self->saveRoots();
    });
}

// ---------------------------------------------------------------- the tree

IndexPath sideMenuvc::groupInsertionPath()
{
    const std::optional<IndexPath> selection = treeController->selectionIndexPath();
    const QList<BaseNode::Ptr> selected = treeController->selectedObjects();
    if (!selection || selected.isEmpty())
        return {int(contents().size())};
    IndexPath path = *selection;
    if (!selected.first()->isLeaf())
        path.append(int(selected.first()->childNodes().size()));
    else
        selectParentOfSelection();  // the new node takes the leaf's place
    return path;
}

void sideMenuvc::insertGroupNode(const TreeAdditionObj &request)
{
    const IndexPath path = groupInsertionPath();
    auto node = ChildNode::create();
    node->setNodeTitle(request.nodeName.value_or(QString()));
    if (request.nodeURL)
        node->setUrl(request.nodeURL);
    treeController->insertObject(node, path);
}

void sideMenuvc::insertLeafNode(const TreeAdditionObj &request)
{
    QList<BaseNode::Ptr> selected = treeController->selectedObjects();
    if (!selected.isEmpty() && selected.first()->isLeaf())
        selectParentOfSelection();
    const std::optional<IndexPath> selection = treeController->selectionIndexPath();
    selected = treeController->selectedObjects();
    IndexPath path;
    if (!selection || selected.isEmpty()) {
        path = {int(contents().size())};
    } else {
        path = *selection;
        path.append(int(selected.first()->childNodes().size()));
    }
    auto node = ChildNode::create();
    node->setIsLeaf(true);
    node->setUrl(request.nodeURL);
    node->setNodeTitle(request.nodeName.value_or(QString()));
    treeController->insertObject(node, path);
    if (request.selectItsParent)
        selectParentOfSelection();
}

void sideMenuvc::selectParentOfSelection()
{
    const QList<BaseNode::Ptr> selected = treeController->selectedObjects();
    if (selected.isEmpty())
        return;
    BaseNode *parent = selected.first()->parentNode();
    const QModelIndex parentIndex = treeController->model()->indexForNode(parent);
    if (parentIndex.isValid())
        treeController->setSelectionIndexPath(treeController->model()->pathForIndex(parentIndex));
    else
        treeController->removeSelectionIndexPaths();
}

void sideMenuvc::insertFolderRecord(const FolderRecord &record)
{
    if (record.arrpath.empty()) {
        insertLeafNode(TreeAdditionObj(record.url1.isEmpty() ? std::nullopt : std::optional<QUrl>(record.url1),
                                       record.name, false));
    } else {
        // The group arrives with its whole sub-tree in one insertion; the new
        // nodes show collapsed.
        const IndexPath path = groupInsertionPath();
        if (treeController->insertObject(nodeTreeForRecord(record), path))
            myOutlineView->collapse(treeController->model()->indexForPath(path));
    }
    selectParentOfSelection();
}

void sideMenuvc::addFolder()
{
    insertGroupNode(TreeAdditionObj(std::nullopt, QStringLiteral("Untitled"), false));
}

void sideMenuvc::removeFolder()
{
    treeController->remove();
}

bool sideMenuvc::isTopLevelFolder(const QUrl &url) const
{
    if (!url.isLocalFile())
        return false;
    const QString wanted = comparablePath(lg::FileNames::pathOf(url));
    for (const BaseNode::Ptr &node : contents()) {
        if (node && node->url() && node->url()->isLocalFile()
            && comparablePath(lg::FileNames::pathOf(*node->url())) == wanted)
            return true;
    }
    return false;
}

std::optional<IndexPath> sideMenuvc::findTreeNode(const QUrl &folder, const QList<BaseNode::Ptr> &nodes) const
{
    if (!folder.isLocalFile())
        return std::nullopt;
    const QString wanted = lg::LexicalPaths::clean(lg::FileNames::pathOf(folder));
    const QList<BaseNode::Ptr> *level = &nodes;
    // At each level: a node of the folder itself, else the node whose folder
    // contains it, whose children are searched next.
    while (level) {
        const QList<BaseNode::Ptr> *next = nullptr;
        for (const BaseNode::Ptr &node : *level) {
            if (!node || !node->url() || !node->url()->isLocalFile())
                continue;
            const QString path = lg::LexicalPaths::clean(lg::FileNames::pathOf(*node->url()));
            if (path == wanted)
                return treeController->model()->pathForNode(node.get());
            if (!next && !node->isLeaf() && lg::LexicalPaths::isInside(wanted, path))
                next = &node->childNodes();
        }
        level = next;
    }
    return std::nullopt;
}

std::optional<IndexPath> sideMenuvc::findOpenedWithNode() const
{
    const QList<BaseNode::Ptr> &top = contents();
    for (int row = 0; row < top.size(); ++row) {
        if (top.at(row) && !top.at(row)->url() && top.at(row)->nodeTitle() == openedWithLabel)
            return IndexPath{row};
    }
    return std::nullopt;
}

void sideMenuvc::selectOrReload(const IndexPath &path)
{
    if (treeController->selectionIndexPath() == path) {
        loadSelection();
        return;
    }
    // Open the node's ancestors so that the selected row shows.
    const QModelIndex index = treeController->model()->indexForPath(path);
    for (QModelIndex parent = index.parent(); parent.isValid(); parent = parent.parent())
        myOutlineView->expand(parent);
    treeController->setSelectionIndexPath(path);
    myOutlineView->scrollTo(index);
}

// ---------------------------------------------------------------- selection

void sideMenuvc::outlineViewSelectionDidChange()
{
    if (isSidebarTreeUpdating || isFileOperationRunning)
        return;
    outlineVIewLastSelectedRow = m_currentSelectedRow;
    m_currentSelectedRow = myOutlineView->selectedRow();
    loadSelection();
}

void sideMenuvc::loadSelection()
{
    const QList<BaseNode::Ptr> selected = treeController->selectedObjects();
    if (selected.size() != 1)
        return;
    const BaseNode::Ptr &node = selected.first();
    currentFolderURL.reset();
    selectedItemIndex = 0;
    if (node->url() && node->url()->isLocalFile())  // a web link is never a folder
        currentFolderURL = node->url();
    if (mainvc *hub = existingHub())
        hub->startMonitorWithSender(this);

    auto stopVideo = [] {
        viewimagevc *viewer = imageViewer();
        if (viewer->videoPlayer) {
            viewer->videoPlayer->pause();
            viewer->videoPlayer = nullptr;
        }
    };
    switch (currentScreenMode) {
    case ScreenGrid:
    case ScreenList:
        reloadShownBrowseView();
        break;
    case ScreenViewer:
        stopVideo();
        if (styleBeforeViewer == listStyle) {
            contentController()->showListView();
            listController()->refreshData();
        } else if (styleBeforeViewer == gridStyle) {
            contentController()->showThumbnailView();
            thumbnailGrid()->refreshData();
        }
        break;
    case ScreenFullImage:
        stopVideo();
        if (styleBeforeViewer == listStyle)
            listController()->refreshData();
        else if (styleBeforeViewer == gridStyle)
            thumbnailGrid()->refreshData();
        break;
    default:
        break;
    }
}

void sideMenuvc::clearPreview()
{
    ++m_previewGeneration;
    imgviewThumbnail->clear();
    video_icon->hide();
}

void sideMenuvc::updatePreviewThumbnail()
{
    video_icon->hide();
    if (itemList.isEmpty()) {
        clearPreview();
        return;
    }
    // No selection keeps the picture, and the one still on its way.
    if (selectedItemIndex == -1)
        return;
    const int generation = ++m_previewGeneration;
    contentController()->fillInfoPane();

    const InitialDirectory *item = nullptr;
    if (isSearchActive) {
        if (!searchResults.isEmpty() && selectedItemIndex >= 0 && selectedItemIndex < searchResults.size())
            item = &searchResults.at(selectedItemIndex);
    } else if (selectedItemIndex >= 0 && selectedItemIndex < itemList.size()) {
        item = &itemList.at(selectedItemIndex);
    }
    if (!item || !item->file) {
        imgviewThumbnail->clear();
        return;
    }
    const QUrl url = item->file->url;
    const bool isImage = item->isImage;
    // The picture is made off the main thread and shown when it is ready,
    // unless another item has been asked for meanwhile.
    const int side = int(std::max(imgviewThumbnail->width(), imgviewThumbnail->height()) * devicePixelRatioF());
    const int maxSide = std::clamp(side, 64, 800);
    // The picture of the file itself, read by its name's exact bytes: a name
    // that is not valid UTF-8 never shows its look-alike's picture.
    const QString path = lg::FileNames::pathOf(url);
    // Decoded within the thumbnails' budget, as theirs are.
    const ThumbnailCache *cache = &ThumbnailCache::shared();
    lg::runThenCallback(
        this,
        [url, path, isImage, maxSide, cache] {
            if (isImage) {
                if (std::optional<QImage> thumbnail = cache->decodedWithinBudget(path, maxSide))
                    return *thumbnail;
            } else if (lg::FileNames::hasRawBytes(path)) {
                // The video readers know a file by a text name only: its type's icon stands in.
            } else if (std::optional<QImage> frame = videoThumbnail(url)) {
                return *frame;
            }
            return QImage();
        },
        [this, generation, path](const QImage &image) { showPreviewImage(image, generation, path); });
    if (!isImage) {
        video_icon->show();
        video_icon->raise();
    }
}

void sideMenuvc::showPreviewImage(const QImage &image, int generation, const QString &path)
{
    if (generation != m_previewGeneration)
        return;
    const qreal ratio = devicePixelRatioF();
    const QSize room = imgviewThumbnail->size() * ratio;
    if (image.isNull()) {
        // A file without a picture shows the icon of its type, as the grid does.
        const QImage icon = path.isEmpty() ? QImage() : fileTypeIconImage(path, std::min(room.width(), room.height()));
        if (icon.isNull()) {
            imgviewThumbnail->clear();
        } else {
            QPixmap pixmap = QPixmap::fromImage(icon);
            pixmap.setDevicePixelRatio(ratio);
            imgviewThumbnail->setPixmap(pixmap);
        }
        return;
    }
    QPixmap pixmap = QPixmap::fromImage(image.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    pixmap.setDevicePixelRatio(ratio);
    imgviewThumbnail->setPixmap(pixmap);
}

void sideMenuvc::outlineViewItemDidExpand()
{
    updateColumnMinWidth();
}

void sideMenuvc::outlineViewItemDidCollapse()
{
    updateColumnMinWidth();
}

void sideMenuvc::outlineViewItemWillCollapse()
{
    endEditingInMainWindow();
}

void sideMenuvc::updateColumnMinWidth()
{
    if (isBusy)
        return;
    myOutlineView->header()->setMinimumSectionSize(columnMinWidthForLevel(myOutlineView->deepestLevel()));
}
