// The sidebar's file commands through the one flow: Trash, paste, drops, folder moves.
#include "sidebar/SidebarFileCommands.h"

#include "app/Essentials.h"
#include "app/mainvc.h"
#include "browser/ItemMenus.h"
#include "model/FileCommandFlow.h"
#include "model/FileServices.h"
#include "platform/base/LexicalPaths.h"
#include "platform/desktop/NotificationHub.h"
#include "platform/files/names/FileNames.h"
#include "platform/runtime/Background.h"
#include "platform/runtime/Dispatch.h"
#include "sidebar/SidebarNodes.h"
#include "sidebar/SidebarSelection.h"
#include "sidebar/SidebarSheets.h"
#include "sidebar/outlineView.h"
#include "sidebar/sideMenuvc.h"
#include "viewer/VideoPlayer.h"
#include "viewer/viewimagevc.h"

#include <QFileInfo>
#include <QPointer>

using namespace sidebarsheets;

namespace {

// The records of the folders that arrived, scanned for their sub-folders.
std::vector<FolderRecord> scanArrivedFolders(const QList<lg::FileOpResult> &results)
{
    std::vector<FolderRecord> arrived;
    for (const lg::FileOpResult &result : results) {
        if (lg::isShuttingDown())
            break;   // quitting: the sidebar is not shown again
        if (!result.arrived() || !lg::FileNames::isFolder(result.target) || isAliasFile(result.target).value_or(false))
            continue;
        FolderRecord record = FolderRecord::make(lg::FileNames::urlOf(lg::LexicalPaths::clean(result.target)));
        if (!isPhotosLibraryPath(result.target)) {
            ScanContext context;
            sideMenuvc::scanFolderTree(result.target, record, context);
        }
        arrived.push_back(std::move(record));
    }
    return arrived;
}

} // namespace

SidebarFileCommands::SidebarFileCommands(sideMenuvc *sidebar) : QObject(sidebar), m_sidebar(sidebar)
{
    setObjectName(QStringLiteral("sidebarFileCommands"));
}

void SidebarFileCommands::trashFolder(const BaseNode::Ptr &node, const QString &folder, const lg::AlertSpec &question)
{
    FileCommandRequest request;
    request.kind = lg::FileOpKind::Trash;
    request.chosen = chooseItems({folder}, false);
    request.chosenWhen = ChosenWhen::ForTrash;
    request.confirmation = question;

    // A folder on another device is copied into the Trash: the work runs on a
    // pool thread behind the overlay with the spinner. It goes with what it
    // holds when the question is put, and only while it holds that.
    FileCommandScreen part = screen(false);
    QPointer<SidebarFileCommands> self(this);
    part.settled = [self, node](const QList<lg::FileOpResult> &results, const std::any &) {
        if (self)
            self->finishTrashFolder(node, results);
    };
    runFileCommand(std::move(part), std::move(request));
}

void SidebarFileCommands::moveFolders(const QList<ChosenItem> &folders, const QList<BaseNode::Ptr> &nodes,
                                      const QString &destination, const lg::AlertSpec &question,
                                      const lg::AlertSpec &clashQuestion)
{
    // The flow of every file command: the question, the same-name question
    // (asked again for a name taken meanwhile, or a target that changed), the
    // check of each folder right before it goes, the one alert after.
    FileCommandRequest request;
    request.kind = lg::FileOpKind::Move;
    request.chosen.items = folders;
    request.targetFolder = destination;
    request.confirmation = question;
    request.clashQuestion = clashQuestion;
    request.chosenWhen = ChosenWhen::Chosen;
    runTransfer(std::move(request), lg::FileNames::urlOf(destination), nodes, true);
}

void SidebarFileCommands::paste(const QList<ChosenItem> &copied, const QUrl &destination)
{
    transfer(copied, destination, true, std::nullopt);
}

void SidebarFileCommands::moveDropped(const QList<ChosenItem> &dropped, const QUrl &destination,
                                      const std::optional<lg::AlertSpec> &question)
{
    transfer(dropped, destination, false, question);
}

void SidebarFileCommands::transfer(const QList<ChosenItem> &sources, const QUrl &destinationURL, bool paste,
                                   const std::optional<lg::AlertSpec> &question)
{
    const QString destination = localPath(destinationURL);
    if (sources.isEmpty() || destination.isEmpty())
        return;
    FileCommandRequest request;
    for (const ChosenItem &item : sources) {
        const QString source = lg::LexicalPaths::clean(item.path);
        // One that has gone since it was dragged or copied is said (the flow's check).
        if (source.isEmpty() || isHiddenURL(lg::FileNames::urlOf(source)))
            continue;
        // A move onto or into itself changes nothing; a paste there is refused
        // by the copy itself, so that the summary tells the user.
        if (!paste && sameOrInside(destination, source))
            continue;
        if (!paste && lg::LexicalPaths::clean(QFileInfo(source).absolutePath()) == destination)
            continue;
        request.chosen.items.append(item);
    }
    // By their bytes: a name that is not valid UTF-8 is moved or copied as
    // itself, never as its look-alike.
    request.kind = paste ? lg::FileOpKind::Copy : lg::FileOpKind::Move;
    request.targetFolder = destination;
    request.clashSubject = QStringLiteral("A file or folder");
    request.chosenWhen = paste ? ChosenWhen::CopiedOrCut : ChosenWhen::Chosen;
    request.confirmation = question;
    runTransfer(std::move(request), destinationURL, {}, false);
}

void SidebarFileCommands::runTransfer(FileCommandRequest request, const QUrl &destination,
                                      const QList<BaseNode::Ptr> &nodes, bool folderDrag)
{
    FileCommandScreen part = screen(true);
    QPointer<SidebarFileCommands> self(this);
    if (!folderDrag)
        part.working = [working = part.working] {
            // The viewer gives way to the files the items go to or come from.
            if (currentScreenMode == ScreenViewer) {
                viewimagevc *viewer = imageViewer();
                if (viewer->videoPlayer) {
                    viewer->videoPlayer->pause();
                    viewer->videoPlayer = nullptr;
                }
                lg::NotificationHub::instance().post(QStringLiteral("backtofiles"));
            }
            if (working)
                working();
        };
    part.alsoOffThread = [](const QList<lg::FileOpResult> &results) -> std::any {
        return scanArrivedFolders(results);
    };
    part.settled = [self, kind = request.kind, destination, folderDrag,
                    nodes](const QList<lg::FileOpResult> &results, const std::any &extra) {
        if (!self)
            return;
        self->finishTransfer(kind, results, std::any_cast<std::vector<FolderRecord>>(extra), destination, folderDrag);
        // A dragged folder followed to another name leaves its old row too.
        SidebarTreeController *tree = self->m_sidebar->treeController;
        for (const BaseNode::Ptr &node : nodes) {
            const QString path = localPath(node->url());
            if (!path.isEmpty() && !lg::existsOrLink(path) && tree->model()->indexForNode(node.get()).isValid())
                tree->removeObjectAtArrangedObjectIndexPath(tree->model()->pathForNode(node.get()));
        }
    };
    if (folderDrag) {
        // A folder drag has ended once its last words are said.
        part.passDone = {};
        part.ended = [self] {
            if (self)
                Q_EMIT self->m_sidebar->fileWorkFinished();
        };
    }
    runFileCommand(std::move(part), std::move(request));
}

FileCommandScreen SidebarFileCommands::screen(bool stopMonitor)
{
    FileCommandScreen part;
    part.owner = this;
    QPointer<sideMenuvc> sidebar(m_sidebar);
    part.window = [sidebar]() -> QWidget * { return sidebar ? sidebar->window() : nullptr; };
    part.working = [sidebar, stopMonitor] {
        if (mainvc *h = hub(); h && sidebar && stopMonitor)
            h->stopMonitorWithSender(sidebar);
    };
    part.passDone = [sidebar] {
        if (sidebar)
            Q_EMIT sidebar->fileWorkFinished();
    };
    return part;
}

void SidebarFileCommands::finishTransfer(lg::FileOpKind kind, const QList<lg::FileOpResult> &results,
                                const std::vector<FolderRecord> &arrived, const QUrl &destination,
                                bool selectDestination)
{
    // Folders that arrived join the destination's node with their sub-folders;
    // a moved folder leaves its old node. The selection stays where it was,
    // or goes to the destination (selectDestination).
    const BaseNode::Ptr selected = m_sidebar->selection().selectedNode();
    isSidebarTreeUpdating = true;
    if (kind == lg::FileOpKind::Move) {
        for (const lg::FileOpResult &result : results) {
            // A folder not wholly moved keeps its node, read again.
            if (result.arrived() && lg::FileNames::isFolder(result.target)) {
                if (const std::optional<IndexPath> old = m_sidebar->nodes().indexPathOfFolderNode(lg::FileNames::urlOf(result.source))) {
                    if (!lg::existsOrLink(result.source))
                        m_sidebar->treeController->removeObjectAtArrangedObjectIndexPath(*old);
                    else
                        m_sidebar->nodes().rescanFolderNode(m_sidebar->treeController->descendantNodeAtIndexPath(*old));
                }
            }
        }
    }
    for (const FolderRecord &record : arrived) {
        if (const std::optional<IndexPath> replaced = m_sidebar->nodes().indexPathOfFolderNode(record.url1))
            m_sidebar->treeController->removeObjectAtArrangedObjectIndexPath(*replaced);
        const std::optional<IndexPath> destinationPath = m_sidebar->nodes().indexPathOfFolderNode(destination);
        if (!destinationPath)
            break;
        m_sidebar->nodes().makeNodeExpandable(*destinationPath);
        m_sidebar->treeController->setSelectionIndexPath(*destinationPath);
        m_sidebar->nodes().insertFolderRecord(record);
    }
    const std::optional<IndexPath> destinationPath = m_sidebar->nodes().indexPathOfFolderNode(destination);
    const bool toDestination = selectDestination && destinationPath && !arrived.empty();
    if (toDestination) {
        m_sidebar->treeController->setSelectionIndexPath(*destinationPath);
        m_sidebar->myOutlineView->expand(m_sidebar->treeController->model()->indexForPath(*destinationPath));
    } else if (!m_sidebar->selection().reselect(selected) && !arrived.empty()) {
        m_sidebar->treeController->removeSelectionIndexPaths();
    }
    isSidebarTreeUpdating = false;

    if (toDestination)
        m_sidebar->loadSelection();
    else
        reloadShownBrowseView();
    if (mainvc *h = hub())
        h->startMonitorWithSender(m_sidebar);
}

void SidebarFileCommands::finishTrashFolder(const BaseNode::Ptr &node, const QList<lg::FileOpResult> &results)
{
    // A folder already gone is what was asked: its node goes too.
    if (!results.isEmpty()
        && (results.first().arrived() || results.first().error == lg::FileOpError::SourceMissing)) {
        // Where the node is now: the tree may have changed meanwhile. A
        // folder not wholly put in the Trash keeps its node, read again.
        if (node && m_sidebar->treeController->model()->indexForNode(node.get()).isValid()) {
            if (lg::existsOrLink(results.first().source))
                m_sidebar->nodes().rescanFolderNode(node);
            else
                m_sidebar->treeController->removeObjectAtArrangedObjectIndexPath(m_sidebar->treeController->model()->pathForNode(node.get()));
        }
    }
    m_sidebar->selection().settleAfterTrash();
}
