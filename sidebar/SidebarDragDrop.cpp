// Drag and drop in the sidebar.
#include "sidebar/SidebarDragDrop.h"

#include "platform/files/names/FileNames.h"

#include "app/Essentials.h"
#include "app/mainvc.h"
#include "browser/ItemMenus.h"
#include "model/FileCommandFlow.h"
#include "model/FileServices.h"
#include "platform/desktop/Clipboard.h"
#include "platform/runtime/Background.h"
#include "platform/runtime/Dispatch.h"
#include "platform/files/operations/FileOperations.h"
#include "platform/desktop/Paths.h"
#include "sidebar/SidebarFileCommands.h"
#include "sidebar/SidebarNodes.h"
#include "sidebar/SidebarSheets.h"
#include "sidebar/outlineView.h"
#include "sidebar/sideMenuvc.h"

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

// The files of a drop as chosen: those of this program's drag as they were
// when it started (marked), any other as it is now (any thread).
QList<ChosenItem> chosenForDrop(const QList<QUrl> &usable, const std::optional<QList<ChosenItem>> &marked)
{
    QHash<QString, ChosenItem> atDragStart;
    if (marked)
        for (const ChosenItem &item : *marked)
            atDragStart.insert(lg::LexicalPaths::clean(item.path), item);
    QList<ChosenItem> chosen;
    chosen.reserve(usable.size());
    for (const QUrl &url : usable) {
        const QString path = lg::LexicalPaths::clean(lg::FileNames::pathOf(url));
        const auto found = atDragStart.constFind(path);
        if (found != atDragStart.cend())
            chosen.append({path, found->identity, found->held});
        else
            chosen.append({path, lg::fileIdentity(path), std::nullopt});
    }
    return chosen;
}

} // namespace

SidebarDragDrop::SidebarDragDrop(sideMenuvc *sidebar) : QObject(sidebar), m_sidebar(sidebar)
{
    setObjectName(QStringLiteral("sidebarDragDrop"));
}

// ---------------------------------------------------------------- look-ups

std::optional<QUrl> SidebarDragDrop::folderURLAtDropPath(const IndexPath &path) const
{
    IndexPath at = path;
    if (!at.isEmpty() && at.last() == -1)
        at.removeLast();
    const BaseNode::Ptr node = m_sidebar->treeController->descendantNodeAtIndexPath(at);
    return node ? node->url() : std::nullopt;
}

std::optional<QUrl> SidebarDragDrop::parentFolderURL(const IndexPath &path) const
{
    if (path.size() < 2)
        return std::nullopt;  // the parent of a top-level node is the invisible root
    const BaseNode::Ptr node = m_sidebar->treeController->descendantNodeAtIndexPath(path.first(path.size() - 1));
    return node ? node->url() : std::nullopt;
}

// ---------------------------------------------------------------- drag and drop

QMimeData *SidebarDragDrop::mimeDataForRows(const QList<IndexPath> &rows)
{
    QList<BaseNode::Ptr> nodes;
    for (const IndexPath &path : rows) {
        const BaseNode::Ptr node = m_sidebar->treeController->descendantNodeAtIndexPath(path);
        QStringList indexes;
        for (int i : path)
            indexes.append(QString::number(i));
        printLine(QStringLiteral("[%1]").arg(indexes.join(QStringLiteral(", "))));
        const QString folder = localPath(node ? node->url() : std::nullopt);
        if (folder.isEmpty())
            return nullptr;
        if (!lg::FileNames::exists(folder)) {
            m_sidebar->treeController->model()->reloadData();
            return nullptr;
        }
        // Bookmarked roots and the folders that must stay put are not dragged.
        if (!canModifyFolder(node->url()) || path.size() == 1)
            return nullptr;
        nodes.append(node);
    }
    if (nodes.isEmpty())
        return nullptr;
    m_sidebar->dragNodesArray = nodes;
    // The dragged folders as they are when the drag starts: a folder put in
    // the place of one of them meanwhile is never moved.
    QStringList folders;
    for (const BaseNode::Ptr &node : std::as_const(nodes))
        folders.append(localPath(node->url()));
    m_draggedFolders = chooseItems(folders, false).items;
    auto *data = new QMimeData;
    data->setData(SidebarTreeModel::myNodesPBoardType, QByteArray());
    return data;
}

bool SidebarDragDrop::canDropOnRow(const QMimeData *data, const std::optional<IndexPath> &item, int childIndex)
{
    if (isBusy || !item || childIndex != -1)
        return false;
    const DropKind kind = dropKind(data, false);
    if (kind == DropKind::None)
        return false;
    if (kind == DropKind::Nodes) {
        const BaseNode::Ptr target = m_sidebar->treeController->descendantNodeAtIndexPath(*item);
        if (!target || !m_sidebar->dragNodesArray || m_sidebar->dragNodesArray->isEmpty())
            return false;
        return !target->isOneOfNodesOrDescendant(*m_sidebar->dragNodesArray);
    }
    return true;
}

bool SidebarDragDrop::acceptDropOnRow(const QMimeData *data, const std::optional<IndexPath> &item, int childIndex)
{
    if (isBusy || !data)
        return false;
    IndexPath dropPath;
    if (item) {
        dropPath = *item;
        dropPath.append(childIndex);
    }
    else
        dropPath = {childIndex == -1 ? int(m_sidebar->contents().size()) : childIndex};

    switch (dropKind(data, false)) {
    case DropKind::Nodes: {
        if (!m_sidebar->dragNodesArray || m_sidebar->dragNodesArray->isEmpty())
            return false;
        IndexPath movePath = dropPath;
        if (movePath.last() == -1)
            movePath.last() = 0;
        const QString destination = localPath(parentFolderURL(movePath));
        if (destination.isEmpty())
            return false;
        if (!lg::FileNames::isFolder(destination)) {
            m_sidebar->treeController->model()->reloadData();
            return false;
        }
        if (isPhotosLibraryPath(destination))
            return false;
        // Every dragged folder must be able to go, or none goes.
        for (const BaseNode::Ptr &node : std::as_const(*m_sidebar->dragNodesArray)) {
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
            const BaseNode::Ptr target = m_sidebar->treeController->descendantNodeAtIndexPath(at);
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
            lg::Alert::inform(m_sidebar->window(), QStringLiteral("Photos library import is not available"),
                              QStringLiteral("Files cannot be imported into a Photos library on this system."));
            return false;
        }
        if (!lg::FileNames::isFolder(destination)) {
            m_sidebar->treeController->model()->reloadData();
            return false;
        }
        // A drop may hold thousands of files: they are read and checked on a
        // pool thread, and the question follows; a refused drop does nothing.
        // The files of this program's drag are taken as they were when the
        // drag started; others as they are when they land.
        const quint64 ticket = ++m_dropTicket;
        const QUrl destinationURL = lg::FileNames::urlOf(destination);
        const auto done = [this, ticket, destinationURL](const std::optional<QList<ChosenItem>> &result) {
            const std::optional<QList<ChosenItem>> usable = result;
            if (ticket != m_dropTicket || !usable || usable->isEmpty() || isBusy)
                return;
            // Where the folder's node is now.
            std::optional<IndexPath> path = m_sidebar->nodes().indexPathOfFolderNode(destinationURL);
            if (!path)
                return;
            path->append(-1);
            dropChosenOnFolder(*usable, *path);
        };
        lg::runThenCallback(
            this,
            [lines = fileURLLines(data), destination, marked = draggedItems(data)] {
                std::optional<QList<ChosenItem>> chosen;
                if (const std::optional<QList<QUrl>> usable = filesForFolderDrop(lines, destination))
                    chosen = chosenForDrop(*usable, marked);
                return chosen;
            },
            done);
        return true;
    }
    case DropKind::None:
        break;
    }
    return false;
}

void SidebarDragDrop::insertWebURLNodes(const QList<std::pair<QUrl, QString>> &links, const IndexPath &path)
{
    if (links.isEmpty() || path.isEmpty())
        return;
    // Each goes to the same place, so the last goes in first.
    for (auto it = links.crbegin(); it != links.crend(); ++it) {
        auto node = ChildNode::create();
        node->setIsLeaf(true);
        node->setNodeTitle(it->second);
        node->setUrl(it->first);
        if (!m_sidebar->treeController->insertObject(node, path))
            return;
    }
}

// ---------------------------------------------------------------- folder moves

void SidebarDragDrop::prepareFolderMove(const IndexPath &dropPath)
{
    IndexPath path = dropPath;
    if (!path.isEmpty() && path.last() == -1)
        path.last() = 0;
    m_sidebar->internalDroppedIndexpath = path;
    if (!m_sidebar->dragNodesArray || m_sidebar->dragNodesArray->isEmpty())
        return;
    const QString source = localPath(m_sidebar->dragNodesArray->first()->url());
    const QString destination = localPath(parentFolderURL(path));
    if (source.isEmpty() || destination.isEmpty() || sameOrInside(destination, source))
        return;
    alertMoveInternalFolders();
}

void SidebarDragDrop::alertMoveInternalFolders()
{
    const QString destination =
        m_sidebar->internalDroppedIndexpath ? localPath(parentFolderURL(*m_sidebar->internalDroppedIndexpath)) : QString();
    if (destination.isEmpty() || !m_sidebar->dragNodesArray || m_sidebar->dragNodesArray->isEmpty())
        return;
    // Every dragged folder must be able to go, or none goes.
    for (const ChosenItem &folder : std::as_const(m_draggedFolders))
        if (folder.path.isEmpty() || sameOrInside(destination, folder.path))
            return;
    lg::AlertSpec &question = m_sidebar->alertforInternalMoveFolders;
    question = lg::AlertSpec();
    question.style = lg::AlertSpec::Style::Informational;
    question.title = QStringLiteral(
        "Moving a folder into another folder will physically move the folder and all its contents to the "
        "destination folder. Are you sure you want to move the selected folder?");
    question.buttons = {QStringLiteral("Yes"), QStringLiteral("No")};
    lg::AlertSpec &clash = m_sidebar->alertsameFolder;
    clash = lg::AlertSpec();
    clash.style = lg::AlertSpec::Style::Informational;
    clash.title = QStringLiteral("A folder with the same name already exists in the destination folder. "
                                 "Do you want to overwrite the destination folder?");
    clash.buttons = {QStringLiteral("Replace"), QStringLiteral("Keep both"), QStringLiteral("Cancel")};

    m_sidebar->m_fileCommands->moveFolders(m_draggedFolders, *m_sidebar->dragNodesArray, destination, question, clash);
}

// ---------------------------------------------------------------- files dropped on a folder

void SidebarDragDrop::dropItemsOnFolder(const QList<QUrl> &items, const IndexPath &path)
{
    QStringList paths;
    for (const QUrl &url : items)
        paths.append(localPath(url));
    dropChosenOnFolder(chooseItems(paths, false).items, path);
}

void SidebarDragDrop::dropChosenOnFolder(const QList<ChosenItem> &items, const IndexPath &path)
{
    m_sidebar->indexpathForFolderDrop = path;
    const std::optional<QUrl> destination = folderURLAtDropPath(path);
    if (!destination || !destination->isLocalFile())
        return;
    m_sidebar->m_transferSources = items;
    m_sidebar->dropdestiUrl = destination;
    m_sidebar->isItemFromPaste = false;
    alertMoveFile();
}

void SidebarDragDrop::alertMoveFile()
{
    lg::AlertSpec &question = m_sidebar->alertforMoveFile;
    question = lg::AlertSpec();
    question.style = lg::AlertSpec::Style::Informational;
    question.title = QStringLiteral("Are you sure you want to move the selected items to the destination folder?");
    question.buttons = {QStringLiteral("Yes"), QStringLiteral("No")};
    if (m_sidebar->dropdestiUrl)
        m_sidebar->m_fileCommands->moveDropped(m_sidebar->m_transferSources, *m_sidebar->dropdestiUrl, question);
}

void SidebarDragDrop::btnOk_alertMove_PasteFile()
{
    if (!m_sidebar->dropdestiUrl)
        return;
    if (m_sidebar->isItemFromPaste)
        m_sidebar->m_fileCommands->paste(m_sidebar->m_transferSources, *m_sidebar->dropdestiUrl);
    else
        m_sidebar->m_fileCommands->moveDropped(m_sidebar->m_transferSources, *m_sidebar->dropdestiUrl, std::nullopt);
}
