#include "sidebar/sideMenuvc.h"

#include "app/Essentials.h"
#include "app/mainWindowController.h"
#include "browser/thumbnailvc.h"
#include "controls/Cells.h"
#include "controls/CursorButtons.h"
#include "controls/PopoverMaxTypeVC.h"
#include "controls/SvgArt.h"
#include "model/ScreenHooks.h"
#include "platform/runtime/Console.h"
#include "platform/runtime/Dispatch.h"
#include "sidebar/SidebarDragDrop.h"
#include "sidebar/SidebarFolderAdd.h"
#include "sidebar/SidebarHoverHints.h"
#include "sidebar/SidebarNodes.h"
#include "sidebar/SidebarOpenedFiles.h"
#include "sidebar/SidebarPreview.h"
#include "sidebar/SidebarSavedRoots.h"
#include "sidebar/SidebarSelection.h"
#include "sidebar/SidebarSheets.h"
#include "sidebar/outlineView.h"
#include "sidebar/outline_cell.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMenu>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

using lg::printLine;

std::function<void(const QUrl &folder)> sideMenuvc::folderRecordedHook;

namespace {

const char *sidebarStyle = R"css(
sideMenuvc { background-color: #232323; }
QFrame#previewBox { background-color: #1b1b1b; border-top: 1px solid #333333; }
QFrame#buttonBar { background-color: #262626; border-top: 1px solid #333333; }
buttoncursor { background: transparent; border: none; border-radius: 5px; }
buttoncursor:hover { background-color: #383838; }
buttoncursor:pressed { background-color: #2e2e2e; }
)css";

} // namespace

// ---------------------------------------------------------------- construction

sideMenuvc::sideMenuvc(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("sideMenuvc"));
    m_folderAdd = new SidebarFolderAdd(this);
    m_nodes = new SidebarNodes(this);
    m_hoverHints = new SidebarHoverHints(this);
    m_preview = new SidebarPreview(this);
    m_selection = new SidebarSelection(this);
    m_openedFiles = new SidebarOpenedFiles(this);
    treeController = new SidebarTreeController(this);
    // The folder list is kept whenever the top-level nodes change.
    m_savedRoots = new SidebarSavedRoots(this);
    tooltipVc = new PopoverMaxTypeVC(this);
    popoverDetails = tooltipVc;
    buildLayout();
    viewDidLoad();
    setUpCommands();
}

sideMenuvc::~sideMenuvc()
{
    m_folderAdd->stopAndWait();
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
    column->addWidget(m_preview->makeBox(this));

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
    m_hoverHints->watchAreas();
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

void sideMenuvc::mouseEntered(QWidget *area)
{
    m_hoverHints->entered(area);
}

void sideMenuvc::mouseExited(QWidget *)
{
    m_hoverHints->exited();
}

// ---------------------------------------------------------------- adding folders

void sideMenuvc::addFoldersWithProgress(const std::optional<QList<QUrl>> &folderURLs)
{
    m_folderAdd->add(folderURLs);
}

bool sideMenuvc::isAdding() const
{
    return m_folderAdd->isAdding();
}

void sideMenuvc::finishAddingFolders(const std::vector<FolderRecord> &records, bool alreadyAdded, bool outsideHome)
{
    m_folderAdd->finish(records, alreadyAdded, outsideHome);
}

void sideMenuvc::endAddingFoldersEarly()
{
    m_folderAdd->endEarly();
}

void sideMenuvc::endAddingWithoutFolders()
{
    m_folderAdd->endWithoutFolders();
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
    m_savedRoots->keepOnlyUnshown();
    mainWindow()->showhomevc();
}

// ---------------------------------------------------------------- the stop question and messages

void sideMenuvc::alertforStopAddingFolder()
{
    m_folderAdd->askToStop();
}

void sideMenuvc::btnYes_StopAddingFolder()
{
    m_folderAdd->stopConfirmed();
}

void sideMenuvc::btnCancel_StopAddingFolder()
{
    m_folderAdd->stopDeclined();
}

void sideMenuvc::alertFolderAlreadyAdded()
{
    m_folderAdd->sayAlreadyAdded();
}

void sideMenuvc::restoreOverlayAfterSheet()
{
    printLine(QStringLiteral("Success"));
    showOverlay(Overlay::Hidden);
}

void sideMenuvc::endAlertSheet()
{
    showOverlay(Overlay::Hidden);
}

// ---------------------------------------------------------------- buttons and panels

void sideMenuvc::btnadmorefolders()
{
    sidebarsheets::endEditing();
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
    m_folderAdd->chooseFolders();
}

bool sideMenuvc::panel_shouldEnableURL(const QUrl &url)
{
    return SidebarFolderAdd::canChoose(url);
}

void sideMenuvc::choosePhotosLibrary()
{
    m_folderAdd->choosePhotosLibraries();
}

void sideMenuvc::chooseFilesToShow()
{
    m_openedFiles->chooseFilesToShow();
}

void sideMenuvc::showChosenFiles(const QList<QUrl> &urls)
{
    m_openedFiles->showChosen(urls);
}

void sideMenuvc::revealFolderOfFile(const QStringList &paths)
{
    m_openedFiles->reveal(paths);
}

// ---------------------------------------------------------------- the folder list kept for the next start

QStringList sideMenuvc::rootFolderPaths() const
{
    return m_savedRoots->rootFolderPaths();
}

void sideMenuvc::keepSavedRoots()
{
    m_savedRoots->keepSavedRoots();
}

QStringList sideMenuvc::rootsToSave() const
{
    return m_savedRoots->rootsToSave();
}

void sideMenuvc::saveRoots()
{
    m_savedRoots->saveRoots();
}

// ---------------------------------------------------------------- the tree

void sideMenuvc::insertGroupNode(const TreeAdditionObj &request)
{
    m_nodes->insertGroupNode(request);
}

void sideMenuvc::insertLeafNode(const TreeAdditionObj &request)
{
    m_nodes->insertLeafNode(request);
}

void sideMenuvc::insertFolderRecord(const FolderRecord &record)
{
    m_nodes->insertFolderRecord(record);
}

void sideMenuvc::selectParentOfSelection()
{
    m_selection->selectParent();
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
    return m_nodes->isTopLevelFolder(url);
}

std::optional<IndexPath> sideMenuvc::findTreeNode(const QUrl &folder, const QList<BaseNode::Ptr> &nodes) const
{
    return m_nodes->findTreeNode(folder, nodes);
}

std::optional<IndexPath> sideMenuvc::indexPathOfFolderNode(const QUrl &folder) const
{
    return m_nodes->indexPathOfFolderNode(folder);
}

void sideMenuvc::folderLeftItsPlace(const QUrl &url)
{
    m_nodes->folderLeftItsPlace(url);
}

std::optional<IndexPath> sideMenuvc::findOpenedWithNode() const
{
    return m_openedFiles->openedWithNode();
}

// ---------------------------------------------------------------- selection

void sideMenuvc::outlineViewSelectionDidChange()
{
    m_selection->changed();
}

void sideMenuvc::loadSelection()
{
    m_selection->load();
}

// ---------------------------------------------------------------- drag and drop

std::optional<QUrl> sideMenuvc::folderURLAtDropPath(const IndexPath &path) const
{
    return m_dragDrop->folderURLAtDropPath(path);
}

std::optional<QUrl> sideMenuvc::parentFolderURL(const IndexPath &path) const
{
    return m_dragDrop->parentFolderURL(path);
}

void sideMenuvc::insertWebURLNodes(const QList<std::pair<QUrl, QString>> &links, const IndexPath &path)
{
    m_dragDrop->insertWebURLNodes(links, path);
}

QMimeData *sideMenuvc::mimeDataForRows(const QList<IndexPath> &rows)
{
    return m_dragDrop->mimeDataForRows(rows);
}

bool sideMenuvc::canDropOnRow(const QMimeData *data, const std::optional<IndexPath> &item, int childIndex)
{
    return m_dragDrop->canDropOnRow(data, item, childIndex);
}

bool sideMenuvc::acceptDropOnRow(const QMimeData *data, const std::optional<IndexPath> &item, int childIndex)
{
    return m_dragDrop->acceptDropOnRow(data, item, childIndex);
}

void sideMenuvc::prepareFolderMove(const IndexPath &dropPath)
{
    m_dragDrop->prepareFolderMove(dropPath);
}

void sideMenuvc::alertMoveInternalFolders()
{
    m_dragDrop->alertMoveInternalFolders();
}

void sideMenuvc::dropItemsOnFolder(const QList<QUrl> &items, const IndexPath &path)
{
    m_dragDrop->dropItemsOnFolder(items, path);
}

void sideMenuvc::alertMoveFile()
{
    m_dragDrop->alertMoveFile();
}

void sideMenuvc::btnOk_alertMove_PasteFile()
{
    m_dragDrop->btnOk_alertMove_PasteFile();
}

// ---------------------------------------------------------------- preview

void sideMenuvc::clearPreview()
{
    m_preview->clear();
}

void sideMenuvc::updatePreviewThumbnail()
{
    m_preview->update();
}

// ---------------------------------------------------------------- outline columns

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
    sidebarsheets::endEditing();
}

void sideMenuvc::updateColumnMinWidth()
{
    if (isBusy)
        return;
    myOutlineView->header()->setMinimumSectionSize(columnMinWidthForLevel(myOutlineView->deepestLevel()));
}
