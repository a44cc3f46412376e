// Drag and drop in the sidebar, and files pasted or dropped into a sidebar
// folder: sidebar folders moved into other folders (with their questions),
// web links dropped as bookmark leaves, files copied (paste) or moved (drop)
// into a folder with the same-name sheet. The disk work runs on a pool thread
// through the file-operations layer and comes back with a ticket; the tree is
// brought in line with the disk on the main thread afterwards.
#include "sidebar/sideMenuvc.h"

#include "platform/files/names/FileNames.h"

#include "app/Essentials.h"
#include "app/mainvc.h"
#include "browser/ItemMenus.h"
#include "browser/listVc.h"
#include "browser/thumbnailvc.h"
#include "model/CommandSettle.h"
#include "model/FileCommandFlow.h"
#include "model/FileServices.h"
#include "model/ThumbnailCache.h"
#include "platform/desktop/Clipboard.h"
#include "platform/runtime/Background.h"
#include "platform/runtime/Dispatch.h"
#include "platform/files/operations/FileOperations.h"
#include "platform/desktop/NotificationHub.h"
#include "platform/desktop/Paths.h"
#include "sidebar/SidebarSheets.h"
#include "sidebar/outlineView.h"
#include "viewer/VideoPlayer.h"
#include "viewer/viewimagevc.h"

#include <QDir>
#include <QFileInfo>
#include <QMimeData>
#include <QSet>

#include <algorithm>
#include <cctype>

using namespace sidebarsheets;

namespace {

const QString mozUrlType = QStringLiteral("text/x-moz-url");
const QString uriListType = QStringLiteral("text/uri-list");

QString localPath(const std::optional<QUrl> &url)
{
    return url && url->isLocalFile() ? lg::LexicalPaths::clean(lg::FileNames::pathOf(*url)) : QString();
}

bool sameOrInside(const QString &path, const QString &folder)
{
    return path == folder || lg::LexicalPaths::isInside(path, folder);
}

// The title of a web link dropped without one.
QString titleForLink(const QUrl &url)
{
    // The last path component, a trailing "/" aside (".../a/b/" gives "b").
    const QStringList components = url.path().split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (components.isEmpty())
        return url.toString();  // a bare site address
    return components.last();
}

// The URL lines of a text/uri-list; ok is false when a line is not a valid URL.
QList<QUrl> uriList(const QMimeData *data, bool *ok)
{
    *ok = true;
    QList<QUrl> urls;
    for (const QByteArray &raw : data->data(uriListType).split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QUrl url(QString::fromUtf8(line), QUrl::StrictMode);
        if (!url.isValid() || url.scheme().isEmpty()) {
            *ok = false;
            return {};
        }
        urls.append(url);
    }
    return urls;
}

// Web links with their titles: text/x-moz-url (URL and title on alternate
// lines, usually UTF-16), else the non-file URLs of a text/uri-list.
QList<std::pair<QUrl, QString>> webLinks(const QMimeData *data)
{
    QList<std::pair<QUrl, QString>> links;
    if (data->hasFormat(mozUrlType)) {
        const QByteArray bytes = data->data(mozUrlType);
        QString text;
        if (bytes.contains('\0') && bytes.size() % 2 == 0)
            text = QString::fromUtf16(reinterpret_cast<const char16_t *>(bytes.constData()), bytes.size() / 2);
        else
            text = QString::fromUtf8(bytes);
        text.remove(QChar(0xFEFF));
        text.remove(QChar(0));
        const QStringList lines = text.split(QLatin1Char('\n'));
        for (int i = 0; i < lines.size(); i += 2) {
            const QUrl url(lines.at(i).trimmed(), QUrl::StrictMode);
            if (!url.isValid() || url.scheme().isEmpty() || url.isLocalFile())
                return {};
            const QString title = i + 1 < lines.size() ? lines.at(i + 1).trimmed() : QString();
            links.append({url, title.isEmpty() ? titleForLink(url) : title});
        }
        return links;
    }
    bool ok = false;
    for (const QUrl &url : uriList(data, &ok)) {
        if (url.isLocalFile())
            return {};
        links.append({url, titleForLink(url)});
    }
    return ok ? links : QList<std::pair<QUrl, QString>>{};
}

// The files of a text/uri-list dropped on the folder destination (clean), in
// order, less those already there or that the folder lies in; none when the
// whole drop is refused: a line that is not a valid local file URL, a file
// inside a Photos library or outside the home folder. Read by name only,
// looking at the disk just for a path outside the home folder as spelt (a
// home reached through a link). Any thread.
std::optional<QList<QUrl>> filesForFolderDrop(const QByteArray &list, const QString &destination)
{
    const QString homePrefix = lg::LexicalPaths::clean(QDir::homePath()) + QLatin1Char('/');
    QList<QUrl> usable;
    for (const QByteArray &raw : list.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        std::optional<QString> path = lg::Clipboard::plainFileURLPath(line);
        if (!path) {
            const QUrl url(QString::fromUtf8(line), QUrl::StrictMode);
            if (!url.isValid() || !url.isLocalFile())
                return std::nullopt;
            path = lg::LexicalPaths::clean(lg::FileNames::pathOf(url));
        }
        const QString &source = *path;
        if (source.contains(QLatin1String(".photoslibrary/"), Qt::CaseInsensitive)
            || (!source.startsWith(homePrefix) && !lg::Paths::isInsideHome(source)))
            return std::nullopt;
        // Both are clean: the containment is a comparison of their spellings.
        const qsizetype slash = source.lastIndexOf(QLatin1Char('/'));
        if (destination == source || QStringView(source).first(std::max<qsizetype>(slash, 0)) == destination
            || (destination.startsWith(source) && destination.at(source.size()) == QLatin1Char('/')))
            continue;  // already there, or into itself
        usable.append(lg::FileNames::urlOf(source));
    }
    return usable;
}

// The URL lines of a drag of files. QMimeData hands out text/uri-list only
// after decoding and encoding every URL again (some 10 ms for 10,000 files,
// at every movement of the drag), so GNOME's list of the same files is read
// when the drag carries it (ours do); its first line says copy or cut.
QByteArray fileURLLines(const QMimeData *data)
{
    static const QString gnomeFormat = QStringLiteral("x-special/gnome-copied-files");
    if (data->hasFormat(gnomeFormat)) {
        const QByteArray list = data->data(gnomeFormat);
        const qsizetype firstLine = list.indexOf('\n');
        if (firstLine >= 0)
            return list.sliced(firstLine + 1);
    }
    return data->data(uriListType);
}

enum class DropKind { None, Nodes, WebLinks, Files };

// Whether every line of a text/uri-list names a local file ("file:"), read
// from the bytes without making a URL of each: a drag of thousands of files
// is asked this at every movement. The URLs themselves are checked on drop.
bool allLinesAreFileURLs(const QByteArray &list)
{
    static const QByteArray scheme("file:");
    bool any = false;
    qsizetype start = 0;
    while (start < list.size()) {
        qsizetype end = list.indexOf('\n', start);
        if (end < 0)
            end = list.size();
        qsizetype first = start;
        while (first < end && std::isspace(static_cast<unsigned char>(list.at(first))))
            ++first;
        if (first < end && list.at(first) != '#') {
            if (end - first < scheme.size() || qstrnicmp(list.constData() + first, scheme.constData(), scheme.size()) != 0)
                return false;
            any = true;
        }
        start = end + 1;
    }
    return any;
}

DropKind dropKind(const QMimeData *data, bool checkEachURL = true)
{
    if (!data)
        return DropKind::None;
    if (data->hasFormat(SidebarTreeModel::myNodesPBoardType))
        return DropKind::Nodes;
    if (data->hasFormat(mozUrlType) && !webLinks(data).isEmpty())
        return DropKind::WebLinks;
    if (data->hasFormat(uriListType)) {
        if (!checkEachURL && allLinesAreFileURLs(fileURLLines(data)))
            return DropKind::Files;
        bool ok = false;
        const QList<QUrl> urls = uriList(data, &ok);
        if (!ok || urls.isEmpty())
            return DropKind::None;
        const bool allFiles = std::all_of(urls.cbegin(), urls.cend(), [](const QUrl &u) { return u.isLocalFile(); });
        if (allFiles)
            return DropKind::Files;
        return webLinks(data).isEmpty() ? DropKind::None : DropKind::WebLinks;
    }
    return DropKind::None;  // an unknown drag type is refused, never copied
}

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

// The folders moved by a drag in the tree: one result per folder, and the
// records of those that arrived.
struct FolderMoveOutcome
{
    QList<lg::FileOpResult> results;
    std::vector<FolderRecord> arrived;
};

// Dragged folders, one result per folder in order: the question was asked
// before, so a name taken meanwhile is refused, and so is a Replace of a
// target that is no longer what it was when the question was put (asked:
// the targets' identities then). One run of the batch for all of them, so
// that no dragged folder replaces another of the same name.
FolderMoveOutcome runFolderMoves(const std::shared_ptr<lg::FileBatch> &batch, const QStringList &sources,
                                 lg::ConflictPolicy onClash, const ChosenIdentities &asked)
{
    QStringList running;
    QSet<QString> changed;
    for (const QString &source : sources) {
        const QString target = targetIn(batch->targetFolder(), source);
        if (onClash == lg::ConflictPolicy::Replace && asked.contains(target)) {
            const ChosenFileState state = chosenFileState(target, asked.value(target));
            if (state == ChosenFileState::Replaced || state == ChosenFileState::Changed) {
                changed.insert(source);
                continue;
            }
        }
        running.append(source);
    }
    const lg::FileBatch::Outcome done = batch->run(running, onClash);
    // Every source has either a result or a place among the clashes, each list
    // in the sources' order.
    FolderMoveOutcome outcome;
    qsizetype nextResult = 0;
    qsizetype nextClash = 0;
    for (const QString &source : sources) {
        if (changed.contains(source)) {
            lg::FileOpResult taken;
            taken.error = lg::FileOpError::TargetExists;
            taken.source = source;
            taken.target = targetIn(batch->targetFolder(), source);
            taken.message = QStringLiteral("An item with the same name already exists.");
            outcome.results.append(taken);
            continue;
        }
        const bool hasResult = nextResult < done.results.size() && done.results.at(nextResult).source == source;
        const bool clashed = !hasResult && nextClash < done.clashes.size() && done.clashes.at(nextClash) == source;
        if (!clashed) {
            if (nextResult < done.results.size())
                outcome.results.append(done.results.at(nextResult++));
            continue;
        }
        ++nextClash;
        lg::FileOpResult taken;
        taken.error = lg::FileOpError::TargetExists;
        taken.source = source;
        taken.target = batch->targetFolder() + QLatin1Char('/') + QFileInfo(source).fileName();
        taken.message = QStringLiteral("An item with the same name already exists.");
        outcome.results.append(taken);
    }
    outcome.arrived = scanArrivedFolders(outcome.results);
    return outcome;
}

} // namespace

// ---------------------------------------------------------------- look-ups

std::optional<QUrl> sideMenuvc::folderURLAtDropPath(const IndexPath &path) const
{
    IndexPath at = path;
    if (!at.isEmpty() && at.last() == -1)
        at.removeLast();
    const BaseNode::Ptr node = treeController->descendantNodeAtIndexPath(at);
    return node ? node->url() : std::nullopt;
}

std::optional<QUrl> sideMenuvc::parentFolderURL(const IndexPath &path) const
{
    if (path.size() < 2)
        return std::nullopt;  // the parent of a top-level node is the invisible root
    const BaseNode::Ptr node = treeController->descendantNodeAtIndexPath(path.first(path.size() - 1));
    return node ? node->url() : std::nullopt;
}

std::optional<IndexPath> sideMenuvc::indexPathOfFolderNode(const QUrl &folder) const
{
    const QString wanted = localPath(folder);
    if (wanted.isEmpty())
        return std::nullopt;
    std::vector<const QList<BaseNode::Ptr> *> pending{&contents()};
    while (!pending.empty()) {
        const QList<BaseNode::Ptr> *level = pending.back();
        pending.pop_back();
        for (const BaseNode::Ptr &node : *level) {
            if (!node)
                continue;
            const QString path = localPath(node->url());
            if (!path.isEmpty() && path == wanted)
                return treeController->model()->pathForNode(node.get());
            // Down through nodes without a folder and the folders on the way.
            if (!node->isLeaf() && (!node->url() || (!path.isEmpty() && lg::LexicalPaths::isInside(wanted, path))))
                pending.push_back(&node->childNodes());
        }
    }
    return std::nullopt;
}

// ---------------------------------------------------------------- drag and drop

QMimeData *sideMenuvc::mimeDataForRows(const QList<IndexPath> &rows)
{
    QList<BaseNode::Ptr> nodes;
    for (const IndexPath &path : rows) {
        const BaseNode::Ptr node = treeController->descendantNodeAtIndexPath(path);
        QStringList indexes;
        for (int i : path)
            indexes.append(QString::number(i));
        printLine(QStringLiteral("[%1]").arg(indexes.join(QStringLiteral(", "))));
        const QString folder = localPath(node ? node->url() : std::nullopt);
        if (folder.isEmpty())
            return nullptr;
        if (!lg::FileNames::exists(folder)) {
            treeController->model()->reloadData();
            return nullptr;
        }
        // Bookmarked roots and the folders that must stay put are not dragged.
        if (!canModifyFolder(node->url()) || path.size() == 1)
            return nullptr;
        nodes.append(node);
    }
    if (nodes.isEmpty())
        return nullptr;
    dragNodesArray = nodes;
    auto *data = new QMimeData;
    data->setData(SidebarTreeModel::myNodesPBoardType, QByteArray());
    return data;
}

bool sideMenuvc::canDropOnRow(const QMimeData *data, const std::optional<IndexPath> &item, int childIndex)
{
    if (isBusy || !item || childIndex != -1)
        return false;
    const DropKind kind = dropKind(data, false);
    if (kind == DropKind::None)
        return false;
    if (kind == DropKind::Nodes) {
        const BaseNode::Ptr target = treeController->descendantNodeAtIndexPath(*item);
        if (!target || !dragNodesArray || dragNodesArray->isEmpty())
            return false;
        return !target->isOneOfNodesOrDescendant(*dragNodesArray);
    }
    return true;
}

bool sideMenuvc::acceptDropOnRow(const QMimeData *data, const std::optional<IndexPath> &item, int childIndex)
{
    if (isBusy || !data)
        return false;
    IndexPath dropPath;
    if (item) {
        dropPath = *item;
        dropPath.append(childIndex);
    }
    else
        dropPath = {childIndex == -1 ? int(contents().size()) : childIndex};

    switch (dropKind(data, false)) {
    case DropKind::Nodes: {
        if (!dragNodesArray || dragNodesArray->isEmpty())
            return false;
        IndexPath movePath = dropPath;
        if (movePath.last() == -1)
            movePath.last() = 0;
        const QString destination = localPath(parentFolderURL(movePath));
        if (destination.isEmpty())
            return false;
        if (!lg::FileNames::isFolder(destination)) {
            treeController->model()->reloadData();
            return false;
        }
        if (isPhotosLibraryPath(destination))
            return false;
        // Every dragged folder must be able to go, or none goes.
        for (const BaseNode::Ptr &node : std::as_const(*dragNodesArray)) {
            const QString source = localPath(node ? node->url() : std::nullopt);
            if (source.isEmpty() || sameOrInside(destination, source)
                || lg::LexicalPaths::clean(QFileInfo(source).absolutePath()) == destination)
                return false;
        }
        prepareFolderMove(dropPath);
        return true;
    }
    case DropKind::WebLinks: {
        // On a folder: its last children; on a leaf: right after it.
        IndexPath at = dropPath;
        if (!at.isEmpty() && at.last() == -1) {
            at.removeLast();
            const BaseNode::Ptr target = treeController->descendantNodeAtIndexPath(at);
            if (!target)
                return false;
            if (target->isLeaf())
                at.last() += 1;
            else
                at.append(int(target->childNodes().size()));
        }
        insertWebURLNodes(webLinks(data), at);
        return true;
    }
    case DropKind::Files: {
        const QString destination = localPath(folderURLAtDropPath(dropPath));
        if (destination.isEmpty())
            return false;
        if (isPhotosLibraryPath(destination)) {
            lg::Alert::inform(window(), QStringLiteral("Photos library import is not available"),
                              QStringLiteral("Files cannot be imported into a Photos library on this system."));
            return false;
        }
        if (!lg::FileNames::isFolder(destination)) {
            treeController->model()->reloadData();
            return false;
        }
        // A drop may hold thousands of files: they are read and checked on a
        // pool thread, and the question follows; a refused drop does nothing.
        const quint64 ticket = ++m_dropTicket;
        const QUrl destinationURL = lg::FileNames::urlOf(destination);
        const auto done = [this, ticket, destinationURL](const std::optional<QList<QUrl>> &result) {
            const std::optional<QList<QUrl>> usable = result;
            if (ticket != m_dropTicket || !usable || usable->isEmpty() || isBusy)
                return;
            // Where the folder's node is now.
            std::optional<IndexPath> path = indexPathOfFolderNode(destinationURL);
            if (!path)
                return;
            path->append(-1);
            dropItemsOnFolder(*usable, *path);
        };
        lg::runThenCallback(
            this, [lines = fileURLLines(data), destination] { return filesForFolderDrop(lines, destination); }, done);
        return true;
    }
    case DropKind::None:
        break;
    }
    return false;
}

void sideMenuvc::insertWebURLNodes(const QList<std::pair<QUrl, QString>> &links, const IndexPath &path)
{
    if (links.isEmpty() || path.isEmpty())
        return;
    // Each goes to the same place, so the last goes in first.
    for (auto it = links.crbegin(); it != links.crend(); ++it) {
        auto node = ChildNode::create();
        node->setIsLeaf(true);
        node->setNodeTitle(it->second);
        node->setUrl(it->first);
        if (!treeController->insertObject(node, path))
            return;
    }
}

// ---------------------------------------------------------------- folder moves

void sideMenuvc::prepareFolderMove(const IndexPath &dropPath)
{
    IndexPath path = dropPath;
    if (!path.isEmpty() && path.last() == -1)
        path.last() = 0;
    internalDroppedIndexpath = path;
    if (!dragNodesArray || dragNodesArray->isEmpty())
        return;
    const QString source = localPath(dragNodesArray->first()->url());
    const QString destination = localPath(parentFolderURL(path));
    if (source.isEmpty() || destination.isEmpty() || sameOrInside(destination, source))
        return;
    alertMoveInternalFolders();
}

void sideMenuvc::alertMoveInternalFolders()
{
    showSheetOverlay();
    alertforInternalMoveFolders = lg::AlertSpec();
    alertforInternalMoveFolders.style = lg::AlertSpec::Style::Informational;
    alertforInternalMoveFolders.title = QStringLiteral(
        "Moving a folder into another folder will physically move the folder and all its contents to the "
        "destination folder. Are you sure you want to move the selected folder?");
    alertforInternalMoveFolders.buttons = {QStringLiteral("Yes"), QStringLiteral("No")};
    QPointer<sideMenuvc> self(this);
    lg::Alert::show(window(), alertforInternalMoveFolders, [self](int button) {
        if (!self)
            return;
        if (button == 0)
            self->btnOk_alertMoveInternalFolder();
        else
            self->btnCancel_alertMoveInternalFolder();
    });
}

void sideMenuvc::btnOk_alertMoveInternalFolder()
{
    showWorkOverlay();
    const QString destination = internalDroppedIndexpath ? localPath(parentFolderURL(*internalDroppedIndexpath)) : QString();
    bool nameTaken = false;
    QStringList taken;
    bool refused = destination.isEmpty() || !dragNodesArray || dragNodesArray->isEmpty();
    if (!refused) {
        for (const BaseNode::Ptr &node : std::as_const(*dragNodesArray)) {
            const QString source = localPath(node->url());
            if (source.isEmpty() || sameOrInside(destination, source)) {
                refused = true;
                break;
            }
            const QString target = destination + QLatin1Char('/') + QFileInfo(source).fileName();
            if (lg::existsOrLink(target)) {
                nameTaken = true;
                taken.append(target);
            }
        }
    }
    if (refused) {
        hideOverlay();
        return;
    }
    // What the question is asked about: a Replace covers these as they are now.
    m_folderTargetsAsked = identitiesOf(taken);
    if (nameTaken)
        alertfolderExist();
    else
        startFolderMove(lg::ConflictPolicy::Refuse);
}

void sideMenuvc::btnCancel_alertMoveInternalFolder()
{
    hideOverlay();
}

void sideMenuvc::alertfolderExist()
{
    showSheetOverlay();
    alertsameFolder = lg::AlertSpec();
    alertsameFolder.style = lg::AlertSpec::Style::Informational;
    alertsameFolder.title = QStringLiteral("A folder with the same name already exists in the destination folder. "
                                           "Do you want to overwrite the destination folder?");
    alertsameFolder.buttons = {QStringLiteral("Replace"), QStringLiteral("Keep both"), QStringLiteral("Cancel")};
    QPointer<sideMenuvc> self(this);
    lg::Alert::show(window(), alertsameFolder, [self](int button) {
        if (!self)
            return;
        if (button == 0)
            self->btnOverwrite_folderExistalert();
        else if (button == 1)
            self->btnRename_folderExistalert();
        else
            self->btnCancel_folderExistalert();
    });
}

void sideMenuvc::btnOverwrite_folderExistalert()
{
    startFolderMove(lg::ConflictPolicy::Replace);
}

void sideMenuvc::btnRename_folderExistalert()
{
    startFolderMove(lg::ConflictPolicy::KeepBoth);
}

void sideMenuvc::btnCancel_folderExistalert()
{
    hideOverlay();
}

void sideMenuvc::startFolderMove(lg::ConflictPolicy onConflict)
{
    if (!dragNodesArray || !internalDroppedIndexpath) {
        hideOverlay();
        return;
    }
    const QUrl destination = parentFolderURL(*internalDroppedIndexpath).value_or(QUrl());
    const QList<BaseNode::Ptr> dragged = *dragNodesArray;
    QStringList sources;
    for (const BaseNode::Ptr &node : dragged)
        sources.append(localPath(node->url()));
    auto batch = std::make_shared<lg::FileBatch>(lg::FileOpKind::Move, localPath(destination));

    showWorkOverlay();
    isFileOperationRunning = true;
    isSidebarTreeUpdating = true;
    if (mainvc *h = hub())
        h->stopMonitorWithSender(this);
    const quint64 ticket = ++m_fileWorkTicket;
    const auto done = [this, ticket, dragged, destination](const FolderMoveOutcome &result) {
        if (ticket != m_fileWorkTicket)
            return;
        const FolderMoveOutcome outcome = result;
        finishFolderMove(outcome.results, outcome.arrived, dragged, destination);
    };
    lg::runThenCallback(
        this,
        [batch, sources, onConflict, asked = std::exchange(m_folderTargetsAsked, {})] {
            return runFolderMoves(batch, sources, onConflict, asked);
        },
        done);
}

void sideMenuvc::finishFolderMove(const QList<lg::FileOpResult> &results, const std::vector<FolderRecord> &moved,
                                  const QList<BaseNode::Ptr> &draggedNodes, const QUrl &destination)
{
    // The thumbnails on disk of their files follow the moved folders.
    const QList<lg::FileOpResult> told = settleCommand(lg::FileOpKind::Move, results);
    // The moved folders leave their old places (a folder not wholly moved
    // stays where the disk still has it).
    for (int i = 0; i < results.size() && i < draggedNodes.size(); ++i) {
        if (!results.at(i).arrived())
            continue;
        const BaseNode *node = draggedNodes.at(i).get();
        if (!treeController->model()->indexForNode(node).isValid())
            continue;
        if (lg::existsOrLink(results.at(i).source))
            rescanFolderNode(draggedNodes.at(i));
        else
            treeController->removeObjectAtArrangedObjectIndexPath(treeController->model()->pathForNode(node));
    }
    // And arrive, as the disk has them now, as the last children of the destination.
    std::optional<IndexPath> destinationPath = indexPathOfFolderNode(destination);
    if (destinationPath && !moved.empty()) {
        makeNodeExpandable(*destinationPath);
        for (const FolderRecord &record : moved) {
            if (const std::optional<IndexPath> replaced = indexPathOfFolderNode(record.url1))
                treeController->removeObjectAtArrangedObjectIndexPath(*replaced);
            destinationPath = indexPathOfFolderNode(destination);
            if (!destinationPath)
                break;
            treeController->setSelectionIndexPath(*destinationPath);
            insertFolderRecord(record);
        }
        if (destinationPath) {
            treeController->setSelectionIndexPath(*destinationPath);
            myOutlineView->expand(treeController->model()->indexForPath(*destinationPath));
        }
    }
    isSidebarTreeUpdating = false;
    isFileOperationRunning = false;
    hideOverlay();
    loadSelection();
    QPointer<sideMenuvc> self(this);
    reportFailures(told, lg::FileOpKind::Move, [self] {
        if (self)
            Q_EMIT self->fileWorkFinished();
    });
}

// ---------------------------------------------------------------- files pasted or dropped into a folder

void sideMenuvc::dropItemsOnFolder(const QList<QUrl> &items, const IndexPath &path)
{
    indexpathForFolderDrop = path;
    const std::optional<QUrl> destination = folderURLAtDropPath(path);
    if (!destination || !destination->isLocalFile())
        return;
    m_transferSources = items;
    dropdestiUrl = destination;
    isItemFromPaste = false;
    alertMoveFile();
}

void sideMenuvc::alertMoveFile()
{
    showSheetOverlay();
    alertforMoveFile = lg::AlertSpec();
    alertforMoveFile.style = lg::AlertSpec::Style::Informational;
    alertforMoveFile.title = QStringLiteral("Are you sure you want to move the selected items to the destination folder?");
    alertforMoveFile.buttons = {QStringLiteral("Yes"), QStringLiteral("No")};
    QPointer<sideMenuvc> self(this);
    lg::Alert::show(window(), alertforMoveFile, [self](int button) {
        if (!self)
            return;
        if (button == 0)
            self->btnOk_alertMove_PasteFile();
        else
            self->btnCancel_alertMoveFile();
    });
}

void sideMenuvc::btnCancel_alertMoveFile()
{
    hideOverlay();
}

void sideMenuvc::btnOk_alertMove_PasteFile()
{
    if (mainvc *h = hub())
        h->isonlyalert = false;
    if (currentScreenMode == ScreenViewer) {
        viewimagevc *viewer = imageViewer();
        if (viewer->videoPlayer) {
            viewer->videoPlayer->pause();
            viewer->videoPlayer = nullptr;
        }
        lg::NotificationHub::instance().post(QStringLiteral("backtofiles"));
    }
    if (m_transferSources.isEmpty() || !dropdestiUrl) {
        hideOverlay();
        return;
    }
    runTransfer(m_transferSources);
}

void sideMenuvc::runTransfer(const QList<QUrl> &sources)
{
    const QString destination = localPath(dropdestiUrl);
    QStringList items;
    for (const QUrl &url : sources) {
        const QString source = localPath(url);
        // One that has gone since it was dragged or copied is said (the flow's check).
        if (source.isEmpty() || destination.isEmpty() || isHiddenURL(url))
            continue;
        // A move onto or into itself changes nothing; a paste there is refused
        // by the copy itself, so that the summary tells the user.
        if (!isItemFromPaste && sameOrInside(destination, source))
            continue;
        if (!isItemFromPaste && lg::LexicalPaths::clean(QFileInfo(source).absolutePath()) == destination)
            continue;
        items.append(source);
    }
    // By their bytes: a name that is not valid UTF-8 is moved or copied as
    // itself, never as its look-alike.
    FileCommandRequest request;
    request.kind = isItemFromPaste ? lg::FileOpKind::Copy : lg::FileOpKind::Move;
    request.chosen = chooseItems(items, false);
    request.targetFolder = destination;
    request.clashSubject = QStringLiteral("A file or folder");
    request.goneMessage = QStringLiteral("The item is no longer where it was when it was chosen.");

    FileCommandScreen screen = fileCommandScreen(true);
    QPointer<sideMenuvc> self(this);
    screen.alsoOffThread = [](const QList<lg::FileOpResult> &results) -> std::any {
        return scanArrivedFolders(results);
    };
    screen.settled = [self, kind = request.kind](const QList<lg::FileOpResult> &results, const std::any &extra) {
        if (self)
            self->finishTransfer(kind, results, std::any_cast<std::vector<FolderRecord>>(extra));
    };
    runFileCommand(std::move(screen), std::move(request));
}

FileCommandScreen sideMenuvc::fileCommandScreen(bool stopMonitor)
{
    FileCommandScreen screen;
    screen.owner = this;
    QPointer<sideMenuvc> self(this);
    screen.window = [self]() -> QWidget * { return self ? self->window() : nullptr; };
    screen.asking = [] { showSheetOverlay(); };
    screen.working = [self, stopMonitor] {
        showWorkOverlay();
        isFileOperationRunning = true;
        if (mainvc *h = hub(); h && self && stopMonitor)
            h->stopMonitorWithSender(self);
    };
    screen.passDone = [self] {
        if (self)
            Q_EMIT self->fileWorkFinished();
    };
    screen.ended = [] {
        isFileOperationRunning = false;
        hideOverlay();
    };
    return screen;
}

void sideMenuvc::finishTransfer(lg::FileOpKind kind, const QList<lg::FileOpResult> &results,
                                const std::vector<FolderRecord> &arrived)
{
    isFileOperationRunning = false;
    // Folders that arrived join the destination's node with their sub-folders;
    // a moved folder leaves its old node. The selection stays where it was.
    const BaseNode::Ptr selected =
        treeController->selectedObjects().isEmpty() ? nullptr : treeController->selectedObjects().first();
    isSidebarTreeUpdating = true;
    if (kind == lg::FileOpKind::Move) {
        for (const lg::FileOpResult &result : results) {
            // A folder not wholly moved keeps its node, read again.
            if (result.arrived() && lg::FileNames::isFolder(result.target)) {
                if (const std::optional<IndexPath> old = indexPathOfFolderNode(lg::FileNames::urlOf(result.source))) {
                    if (!lg::existsOrLink(result.source))
                        treeController->removeObjectAtArrangedObjectIndexPath(*old);
                    else
                        rescanFolderNode(treeController->descendantNodeAtIndexPath(*old));
                }
            }
        }
    }
    for (const FolderRecord &record : arrived) {
        if (const std::optional<IndexPath> replaced = indexPathOfFolderNode(record.url1))
            treeController->removeObjectAtArrangedObjectIndexPath(*replaced);
        const std::optional<IndexPath> destinationPath = indexPathOfFolderNode(*dropdestiUrl);
        if (!destinationPath)
            break;
        makeNodeExpandable(*destinationPath);
        treeController->setSelectionIndexPath(*destinationPath);
        insertFolderRecord(record);
    }
    if (selected && treeController->model()->indexForNode(selected.get()).isValid())
        treeController->setSelectionIndexPath(treeController->model()->pathForNode(selected.get()));
    else if (!arrived.empty())
        treeController->removeSelectionIndexPaths();
    isSidebarTreeUpdating = false;

    reloadShownBrowseView();
    if (mainvc *h = hub())
        h->startMonitorWithSender(this);
    hideOverlay();
}
