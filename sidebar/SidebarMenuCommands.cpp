// The sidebar's context menu and its folder commands: open in the file
// manager, refresh, bookmarks, new folder, Move to Trash and paste (run by
// SidebarFileCommands), copy, Get Info, and the in-place rename of a folder.
// Main thread.
#include "sidebar/sideMenuvc.h"

#include "app/Essentials.h"
#include "app/mainvc.h"
#include "controls/Cells.h"
#include "controls/CursorButtons.h"
#include "model/CommandSettle.h"
#include "model/FileCommandFlow.h"
#include "model/ThumbnailCache.h"
#include "platform/desktop/Clipboard.h"
#include "platform/files/names/FileNames.h"
#include "platform/desktop/Paths.h"
#include "platform/runtime/Timer.h"
#include "platform/files/operations/Trash.h"
#include "platform/desktop/Workspace.h"
#include "sidebar/SidebarDragDrop.h"
#include "sidebar/SidebarFileCommands.h"
#include "sidebar/SidebarMenu.h"
#include "sidebar/SidebarNodes.h"
#include "sidebar/SidebarSelection.h"
#include "sidebar/SidebarSheets.h"
#include "sidebar/outlineView.h"
#include "sidebar/outline_cell.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>

#include <utility>

using namespace sidebarsheets;

namespace {

// Calls fn for the events of one object.
class EventHook : public QObject
{
public:
    EventHook(QObject *watched, std::function<bool(QEvent *)> fn) : QObject(watched), m_fn(std::move(fn))
    {
        watched->installEventFilter(this);
    }
    bool eventFilter(QObject *, QEvent *event) override { return m_fn(event); }

private:
    std::function<bool(QEvent *)> m_fn;
};

// The cell with its title editor: the kit's editing field over the title, whose
// text goes to the sidebar's rename instead of into the model.
class SidebarTitleCell : public outline_cell
{
public:
    using Commit = std::function<void(const QModelIndex &index, const QString &text)>;
    SidebarTitleCell(QObject *parent, Commit commit) : outline_cell(parent), m_commit(std::move(commit)) {}

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &, const QModelIndex &) const override
    {
        printLine(QStringLiteral("begin"));
        auto *editor = new Editing(parent);
        editor->setObjectName(QStringLiteral("lbltitle"));
        editor->setFrame(false);
        editor->setStyleSheet(QStringLiteral("QLineEdit { background: #1b1b1b; color: white; "
                                             "border: 1px solid #4a4a4a; padding: 0 2px; }"));
        return editor;
    }
    void setEditorData(QWidget *editor, const QModelIndex &index) const override
    {
        if (auto *line = qobject_cast<QLineEdit *>(editor))
            line->setText(index.data(Qt::EditRole).toString());
    }
    void setModelData(QWidget *editor, QAbstractItemModel *, const QModelIndex &index) const override
    {
        if (auto *line = qobject_cast<QLineEdit *>(editor); line && m_commit)
            m_commit(index, line->text());
    }
    void updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option, const QModelIndex &) const override
    {
        // Over the title, right of the icon.
        const int left = 2 + kIconSize + 4;
        editor->setGeometry(option.rect.adjusted(left, 2, -4, -2));
    }

private:
    Commit m_commit;
};

// Points the URLs of a renamed folder's descendants at the new place.
void rebaseDescendants(BaseNode *node, const QString &oldPath, const QString &newPath)
{
    std::vector<BaseNode *> pending{node};
    while (!pending.empty()) {
        BaseNode *current = pending.back();
        pending.pop_back();
        for (const BaseNode::Ptr &child : current->childNodes()) {
            if (!child)
                continue;
            const QString path = localPath(child->url());
            if (!path.isEmpty() && lg::LexicalPaths::isInside(path, oldPath))
                child->setUrl(lg::FileNames::urlOf(newPath + path.mid(oldPath.size())));
            pending.push_back(child.get());
        }
    }
}

} // namespace

void sideMenuvc::setUpCommands()
{
    m_fileCommands = new SidebarFileCommands(this);
    m_dragDrop = new SidebarDragDrop(this);
    treeController->model()->setDropHandler(m_dragDrop);
    myOutlineView->setDragEnabled(true);
    myOutlineView->setAcceptDrops(true);
    myOutlineView->setDropIndicatorShown(true);
    myOutlineView->setDragDropMode(QAbstractItemView::DragDrop);

    // Renaming in place: a click on the selected row's title, or F2.
    QAbstractItemDelegate *plain = myOutlineView->itemDelegate();
    myOutlineView->setItemDelegate(new SidebarTitleCell(myOutlineView, [this](const QModelIndex &index,
                                                                              const QString &text) {
        // After the editor has closed, for the node that was edited (wherever it is then).
        const std::weak_ptr<BaseNode> edited = treeController->model()->sharedNodeForIndex(index);
        QPointer<sideMenuvc> self(this);
        QMetaObject::invokeMethod(
            this,
            [self, edited, text] {
                const BaseNode::Ptr node = edited.lock();
                if (!self || !node || !self->treeController->model()->indexForNode(node.get()).isValid())
                    return;
                self->didEditTextField(self->treeController->model()->pathForNode(node.get()), text);
            },
            Qt::QueuedConnection);
    }));
    delete plain;
    myOutlineView->setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);

    myOutlineView->setContextMenuPolicy(Qt::DefaultContextMenu);
    outlineViewMenu->setStyleSheet(withAccentColour(QStringLiteral(
        "QMenu { background-color: #2b2b2b; color: #e6e6e6; border: 1px solid #3a3a3a; padding: 3px 0; }"
        "QMenu::item { padding: 5px 24px 5px 18px; }"
        "QMenu::item:selected { background-color: @accent; color: #1e1e1e; }"
        "QMenu::item:disabled { color: #777777; }"
        "QMenu::separator { height: 1px; background: #3a3a3a; margin: 4px 8px; }")));
    new EventHook(myOutlineView->viewport(), [this](QEvent *event) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
            // The menu acts on the clicked row: a right click neither selects
            // it nor loads its folder.
            return static_cast<QMouseEvent *>(event)->button() == Qt::RightButton;
        case QEvent::ContextMenu: {
            auto *menuEvent = static_cast<QContextMenuEvent *>(event);
            showOutlineMenu(menuEvent->pos(), menuEvent->globalPos());
            return true;
        }
        default:
            return false;
        }
    });
    connect(btnRemoveBookmark, &QPushButton::clicked, this, &sideMenuvc::btnremove);
}

BaseNode::Ptr sideMenuvc::nodeAtRow(int row, IndexPath *path) const
{
    const QModelIndex index = myOutlineView->itemAtRow(row);
    if (!index.isValid())
        return {};
    if (path)
        *path = treeController->model()->pathForIndex(index);
    return treeController->model()->sharedNodeForIndex(index);
}

// ---------------------------------------------------------------- the menu

bool sideMenuvc::menuWillOpen(int row)
{
    endEditing();
    outlineViewMenu->clear();
    m_clickedRow = row;
    IndexPath path;
    const BaseNode::Ptr node = nodeAtRow(row, &path);
    SidebarMenuSnapshot snapshot = sidebarMenuSnapshot(node.get(), path.size() == 1);
    snapshot.busy = isBusy;
    snapshot.clipboardHasFiles = !lg::Clipboard::readFiles().urls.isEmpty();
    const SidebarMenuState state = sidebarMenuState(snapshot);
    if (!state.showsMenu)
        return false;
    if (snapshot.hasUrl && snapshot.isLocal && !snapshot.exists)
        treeController->model()->reloadData();  // the row shows its missing state

    auto add = [this](const char *name, const QString &title, bool enabled, void (sideMenuvc::*command)()) {
        QAction *action = outlineViewMenu->addAction(title);
        action->setObjectName(QString::fromLatin1(name));
        action->setEnabled(enabled);
        connect(action, &QAction::triggered, this, command);
    };
    add("actionOpenInFileManager", QStringLiteral("Open with File Manager"), state.openInFileManager,
        &sideMenuvc::menuShowinFinder);
    add("actionRefresh", QStringLiteral("Refresh"), true, &sideMenuvc::menurefreshAllitem);
    outlineViewMenu->addSeparator();
    add("actionAddBookmark", QStringLiteral("Add Bookmark"), true, &sideMenuvc::addBookmark);
    if (state.showsRemoveBookmark)
        add("actionRemoveBookmark", QStringLiteral("Remove Bookmark"), true, &sideMenuvc::menuremoveitem);
    outlineViewMenu->addSeparator();
    add("actionCreateNewFolder", QStringLiteral("Create New Folder"), state.createNewFolder,
        &sideMenuvc::createNewFolder);
    add("actionMoveToTrash", QStringLiteral("Move to Trash"), state.moveToTrash, &sideMenuvc::DeleteFolder);
    outlineViewMenu->addSeparator();
    add("actionCopyFolder", state.copyTitle, state.copy, &sideMenuvc::menuCopyFolder);
    add("actionPasteItem", QStringLiteral("Paste Item"), state.paste, &sideMenuvc::menuPasteItem);
    add("actionGetInfo", QStringLiteral("Get Info"), state.getInfo, &sideMenuvc::menuGetInfo);
    return true;
}

void sideMenuvc::showOutlineMenu(const QPoint &pos, const QPoint &globalPos)
{
    const int row = myOutlineView->rowForItem(myOutlineView->indexAt(pos));
    if (menuWillOpen(row))
        outlineViewMenu->popup(globalPos);
}

void sideMenuvc::menuShowinFinder()
{
    const BaseNode::Ptr node = nodeAtRow(m_clickedRow);
    const QString path = localPath(node ? node->url() : std::nullopt);
    if (path.isEmpty() || refuseNameThatIsNotText(path))
        return;
    lg::Workspace::showInFileManager({path}, window());
}

void sideMenuvc::menurefreshAllitem()
{
    treeController->model()->reloadData();
    myOutlineView->scrollRowToVisible(0);
    // The clicked row's folder is read again: sub-folders made elsewhere appear.
    m_nodes->rescanFolderNode(nodeAtRow(m_clickedRow));
}

void sideMenuvc::addBookmark()
{
    chooseFoldersToAdd();
}

void sideMenuvc::menuGetInfo()
{
    const BaseNode::Ptr node = nodeAtRow(m_clickedRow);
    const QString path = localPath(node ? node->url() : std::nullopt);
    if (path.isEmpty() || refuseNameThatIsNotText(path))
        return;
    lg::Workspace::showProperties({path}, window());
}

void sideMenuvc::menuCopyFolder()
{
    const BaseNode::Ptr node = nodeAtRow(m_clickedRow);
    if (!node || !node->url() || !node->url()->isLocalFile())
        return;
    copiedURLs = {*node->url()};
    lg::Clipboard::writeFiles(copiedURLs);
}

void sideMenuvc::menuPasteItem()
{
    IndexPath path;
    const BaseNode::Ptr node = nodeAtRow(m_clickedRow, &path);
    if (!node)
        return;
    indexpathForFolderDrop = path;
    if (!node->url() || !node->url()->isLocalFile())
        return;
    QStringList copied;
    for (const QUrl &url : lg::Clipboard::readFiles().urls)
        copied.append(localPath(url));
    m_transferSources = chooseItems(copied, false).items;
    dropdestiUrl = node->url();
    isItemFromPaste = true;
    // Straight into the flow, unasked: a paste is no drop.
    m_fileCommands->paste(m_transferSources, *dropdestiUrl);
}

// ---------------------------------------------------------------- new folder and rename

void sideMenuvc::createNewFolder()
{
    IndexPath path;
    BaseNode::Ptr node = nodeAtRow(m_clickedRow, &path);
    const QString folder = localPath(node ? node->url() : std::nullopt);
    if (folder.isEmpty())
        return;
    lg::NameNumbering numbering;
    numbering.firstNumber = 0;
    numbering.isFolder = true;
    const QString name = lg::freeName(folder, QStringLiteral("Untitled Folder"), numbering);
    const lg::FileOpResult made = lg::createFolder(folder, name);
    if (!made.ok()) {
        printLine(made.message);
        return;
    }
    if (node->isLeaf())
        m_nodes->makeNodeExpandable(path);  // selects the replacement
    else
        treeController->setSelectionIndexPath(path);
    myOutlineView->expand(treeController->model()->indexForPath(path));
    const QString target = made.target.isEmpty() ? folder + QLatin1Char('/') + name : made.target;
    insertLeafNode(TreeAdditionObj(lg::FileNames::urlOf(target), name, false));
    lg::Timer::singleShot(100, this, [this] { outlineView_StartLabelEditing(); });
}

void sideMenuvc::outlineView_StartLabelEditing()
{
    const std::optional<IndexPath> path = treeController->selectionIndexPath();
    if (!path)
        return;
    const QModelIndex index = treeController->model()->indexForPath(*path);
    myOutlineView->scrollTo(index);
    myOutlineView->setFocus();
    if (!myOutlineView->indexWidget(index))
        myOutlineView->edit(index);
    // The insertion point after the last character, nothing selected.
    if (auto *line = qobject_cast<QLineEdit *>(myOutlineView->indexWidget(index))) {
        line->deselect();
        line->end(false);
    }
}

void sideMenuvc::showRefusal(const QString &message)
{
    showSheetOverlay();
    lg::AlertSpec spec;
    spec.style = lg::AlertSpec::Style::Informational;
    spec.title = message;
    spec.buttons = {QStringLiteral("OK")};
    lg::Alert::show(window(), spec, [](int) {
        printLine(QStringLiteral("Success"));
        hideOverlay();
    });
}

bool sideMenuvc::refuseNameThatIsNotText(const QString &path)
{
    // Other programs are handed the path as text, which names the look-alike.
    if (!lg::FileNames::hasRawBytes(path))
        return false;
    showRefusal(lg::FileNames::notTextMessage(path));
    return true;
}

void sideMenuvc::didEditTextField(const IndexPath &path, const QString &newName)
{
    const BaseNode::Ptr node = treeController->descendantNodeAtIndexPath(path);
    const QString oldPath = localPath(node ? node->url() : std::nullopt);
    if (oldPath.isEmpty() || newName == node->nodeTitle())
        return;
    const QString renameFailed = QStringLiteral("An error occurred while renaming file.");
    if (!lg::isValidFileName(newName)) {
        showRefusal(renameFailed);
        return;
    }
    if (!canModifyFolder(node->url())) {
        showRefusal(QStringLiteral("You cannot rename System folders!"));
        return;
    }
    const QString taken = QStringLiteral("The name \u201C%1\u201D is already taken. Please choose a different name.")
                              .arg(newName);
    const QString newPath = QFileInfo(oldPath).absolutePath() + QLatin1Char('/') + newName;
    // By the bytes: a folder whose name is not UTF-8 is renamed as itself.
    if (lg::existsOrLink(newPath)) {
        showRefusal(taken);
        return;
    }
    if (!lg::FileNames::exists(oldPath)) {
        // A name that is not valid UTF-8, given as its look-alike's text.
        if (const QString unreadable = lg::unreadableNameMessage(oldPath); !unreadable.isEmpty()) {
            showRefusal(unreadable);
            return;
        }
        // Renamed, moved or deleted by another program while the name was typed.
        showRefusal(QStringLiteral("The folder \u201C%1\u201D is no longer there. It may have been renamed, moved "
                                   "or deleted by another program.")
                        .arg(node->nodeTitle()));
        return;
    }
    lg::FileOpResult renamed = lg::renameItem(oldPath, newName);
    if (renamed.ok())
        renamed.target = renamed.target.isEmpty() ? newPath : lg::LexicalPaths::clean(renamed.target);
    // The thumbnails on disk of the files inside follow them.
    if (const QList<lg::FileOpResult> told = settleCommand(lg::FileOpKind::Move, {renamed}); !told.isEmpty()) {
        printLine(told.first().message);
        showRefusal(told.first().error == lg::FileOpError::TargetExists ? taken : renameFailed);
        return;
    }
    const QString target = renamed.target;
    node->setNodeTitle(newName);
    node->setUrl(lg::FileNames::urlOf(target));
    // The children stay, with their expansion; their folders moved along.
    rebaseDescendants(node.get(), oldPath, target);
    treeController->model()->nodeChanged(node.get());
    // The saved folder list names the new path at once: a kill from here on
    // does not bring the old one back at the next start.
    saveRoots();

    // The current folder follows when it was this folder or one inside it.
    const QList<BaseNode::Ptr> selected = treeController->selectedObjects();
    if (selected.size() == 1) {
        for (const BaseNode *n = selected.first().get(); n; n = n->parentNode()) {
            if (n == node.get()) {
                loadSelection();
                break;
            }
        }
    }
}

// ---------------------------------------------------------------- remove bookmark and Trash

void sideMenuvc::menuremoveitem()
{
    IndexPath path;
    if (!nodeAtRow(m_clickedRow, &path))
        return;
    if (path.size() == 1) {
        callRemoveFolder_fromMenu = true;
        outlineView_CLickedRow = m_clickedRow;
        alertRemoveBookmark();
    } else {
        alertCannotRemoveBookmark();
    }
}

void sideMenuvc::btnremove()
{
    endEditing();
    callRemoveFolder_fromMenu = false;
    const std::optional<IndexPath> selection = treeController->selectionIndexPath();
    if (!selection)
        return;
    if (selection->size() == 1)
        alertRemoveBookmark();
    else
        alertCannotRemoveBookmark();
}

void sideMenuvc::alertCannotRemoveBookmark()
{
    showSheetOverlay();
    alertCannotremoveBookmark = lg::AlertSpec();
    alertCannotremoveBookmark.style = lg::AlertSpec::Style::Informational;
    alertCannotremoveBookmark.title = QStringLiteral("Sub-folder cannot be removed");
    alertCannotremoveBookmark.text = QStringLiteral(
        "The selected folder is not a Parent folder and cannot be removed from this tree structure. You can only "
        "remove the bookmarks you have added.");
    alertCannotremoveBookmark.buttons = {QStringLiteral("OK")};
    lg::Alert::show(window(), alertCannotremoveBookmark, [](int) { hideOverlay(); });
}

void sideMenuvc::alertRemoveBookmark()
{
    showSheetOverlay();
    alertremoveBookmark = lg::AlertSpec();
    alertremoveBookmark.style = lg::AlertSpec::Style::Informational;
    alertremoveBookmark.title = QStringLiteral("Remove bookmark?");
    alertremoveBookmark.text = QStringLiteral("Are you sure you want to remove the selected bookmark?");
    alertremoveBookmark.buttons = {QStringLiteral("OK"), QStringLiteral("Cancel")};
    QPointer<sideMenuvc> self(this);
    lg::Alert::show(window(), alertremoveBookmark, [self](int button) {
        if (!self)
            return;
        if (button == 0)
            self->btnremovebookmark_alert();
        else
            self->btnremovebookmark_cancelalert();
    });
}

void sideMenuvc::btnremovebookmark_alert()
{
    std::optional<IndexPath> path;
    if (callRemoveFolder_fromMenu) {
        const QModelIndex index = myOutlineView->itemAtRow(outlineView_CLickedRow);
        if (index.isValid())
            path = treeController->model()->pathForIndex(index);
    } else {
        path = treeController->selectionIndexPath();
    }
    int removedRow = -1;
    if (path) {
        const BaseNode::Ptr node = treeController->descendantNodeAtIndexPath(*path);
        removedRow = myOutlineView->rowForItem(treeController->model()->indexForPath(*path));
        if (node && !node->url())
            openedFileItems.clear();
        if (path->size() == 1)
            treeController->removeObjectAtArrangedObjectIndexPath(*path);
    }
    hideOverlay();
    callRemoveFolder_fromMenu = false;
    m_selection->settleAfterRemoval(path, removedRow);
}

void sideMenuvc::btnremovebookmark_cancelalert()
{
    hideOverlay();
    callRemoveFolder_fromMenu = false;
}

void sideMenuvc::DeleteFolder()
{
    endEditing();
    outlineView_CLickedRow = m_clickedRow;
    alertforDeleteFolder();
}

void sideMenuvc::alertforDeleteFolder()
{
    // The folder of the clicked row, bound now (its identity too): a change of
    // the tree while the question is open does not move the command to
    // another folder, and a folder put in its place meanwhile is refused.
    const BaseNode::Ptr node = nodeAtRow(outlineView_CLickedRow);
    const QString folder = node ? localPath(node->url()) : QString();
    // Never the home folder or a Photos library; standard folders after the question.
    if (folder.isEmpty() || isPhotosLibraryPath(folder) || folder == lg::LexicalPaths::clean(lg::Paths::home()))
        return;
    alertDeleteFolder = lg::AlertSpec();
    alertDeleteFolder.style = lg::AlertSpec::Style::Informational;
    alertDeleteFolder.title = QStringLiteral("Are you sure you want to move the selected Folder to Trash? All the "
                                             "items from within the folder will be deleted.");
    alertDeleteFolder.buttons = {QStringLiteral("Yes"), QStringLiteral("No")};
    m_fileCommands->trashFolder(node, folder, alertDeleteFolder);
}
