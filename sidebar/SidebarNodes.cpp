// The sidebar's tree as folders.
#include "sidebar/SidebarNodes.h"

#include "model/PhotosLibrary.h"
#include "platform/base/LexicalPaths.h"
#include "platform/files/names/FileNames.h"
#include "platform/runtime/Background.h"
#include "sidebar/SidebarSelection.h"
#include "sidebar/SidebarSheets.h"
#include "sidebar/outlineView.h"
#include "sidebar/sideMenuvc.h"

#include <QFileInfo>

#include <memory>
#include <utility>
#include <vector>

using sidebarsheets::comparablePath;
using sidebarsheets::localPath;

SidebarNodes::SidebarNodes(sideMenuvc *sidebar) : QObject(sidebar), m_sidebar(sidebar)
{
    setObjectName(QStringLiteral("sidebarNodes"));
}

SidebarTreeController *SidebarNodes::tree() const
{
    return m_sidebar->treeController;
}

BaseNode::Ptr SidebarNodes::nodeTreeForRecord(const FolderRecord &record)
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

IndexPath SidebarNodes::groupInsertionPath()
{
    const std::optional<IndexPath> selection = tree()->selectionIndexPath();
    const QList<BaseNode::Ptr> selected = tree()->selectedObjects();
    if (!selection || selected.isEmpty())
        return {int(m_sidebar->contents().size())};
    IndexPath path = *selection;
    if (!selected.first()->isLeaf())
        path.append(int(selected.first()->childNodes().size()));
    else
        m_sidebar->selection().selectParent();  // the new node takes the leaf's place
    return path;
}

void SidebarNodes::insertGroupNode(const TreeAdditionObj &request)
{
    const IndexPath path = groupInsertionPath();
    auto node = ChildNode::create();
    node->setNodeTitle(request.nodeName.value_or(QString()));
    if (request.nodeURL)
        node->setUrl(request.nodeURL);
    tree()->insertObject(node, path);
}

void SidebarNodes::insertLeafNode(const TreeAdditionObj &request)
{
    QList<BaseNode::Ptr> selected = tree()->selectedObjects();
    if (!selected.isEmpty() && selected.first()->isLeaf())
        m_sidebar->selection().selectParent();
    const std::optional<IndexPath> selection = tree()->selectionIndexPath();
    selected = tree()->selectedObjects();
    IndexPath path;
    if (!selection || selected.isEmpty()) {
        path = {int(m_sidebar->contents().size())};
    } else {
        path = *selection;
        path.append(int(selected.first()->childNodes().size()));
    }
    auto node = ChildNode::create();
    node->setIsLeaf(true);
    node->setUrl(request.nodeURL);
    node->setNodeTitle(request.nodeName.value_or(QString()));
    tree()->insertObject(node, path);
    if (request.selectItsParent)
        m_sidebar->selection().selectParent();
}

void SidebarNodes::insertFolderRecord(const FolderRecord &record)
{
    if (record.arrpath.empty()) {
        insertLeafNode(TreeAdditionObj(record.url1.isEmpty() ? std::nullopt : std::optional<QUrl>(record.url1),
                                       record.name, false));
    } else {
        // The group arrives with its whole sub-tree in one insertion; the new
        // nodes show collapsed.
        const IndexPath path = groupInsertionPath();
        if (tree()->insertObject(nodeTreeForRecord(record), path))
            m_sidebar->myOutlineView->collapse(tree()->model()->indexForPath(path));
    }
    m_sidebar->selection().selectParent();
}

bool SidebarNodes::isTopLevelFolder(const QUrl &url) const
{
    if (!url.isLocalFile())
        return false;
    const QString wanted = comparablePath(lg::FileNames::pathOf(url));
    for (const BaseNode::Ptr &node : m_sidebar->contents()) {
        if (node && node->url() && node->url()->isLocalFile()
            && comparablePath(lg::FileNames::pathOf(*node->url())) == wanted)
            return true;
    }
    return false;
}

std::optional<IndexPath> SidebarNodes::findTreeNode(const QUrl &folder, const QList<BaseNode::Ptr> &nodes) const
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
                return tree()->model()->pathForNode(node.get());
            if (!next && !node->isLeaf() && lg::LexicalPaths::isInside(wanted, path))
                next = &node->childNodes();
        }
        level = next;
    }
    return std::nullopt;
}

std::optional<IndexPath> SidebarNodes::indexPathOfFolderNode(const QUrl &folder) const
{
    const QString wanted = localPath(folder);
    if (wanted.isEmpty())
        return std::nullopt;
    std::vector<const QList<BaseNode::Ptr> *> pending{&m_sidebar->contents()};
    while (!pending.empty()) {
        const QList<BaseNode::Ptr> *level = pending.back();
        pending.pop_back();
        for (const BaseNode::Ptr &node : *level) {
            if (!node)
                continue;
            const QString path = localPath(node->url());
            if (!path.isEmpty() && path == wanted)
                return tree()->model()->pathForNode(node.get());
            // Down through nodes without a folder and the folders on the way.
            if (!node->isLeaf() && (!node->url() || (!path.isEmpty() && lg::LexicalPaths::isInside(wanted, path))))
                pending.push_back(&node->childNodes());
        }
    }
    return std::nullopt;
}

BaseNode::Ptr SidebarNodes::makeNodeExpandable(const IndexPath &path)
{
    BaseNode::Ptr node = tree()->descendantNodeAtIndexPath(path);
    if (!node || !node->isLeaf())
        return node;
    auto replacement = ChildNode::create();
    replacement->setNodeTitle(node->url() && node->url()->isLocalFile()
                                  ? lg::FileNames::shown(QFileInfo(localPath(node->url())).fileName())
                                  : node->nodeTitle());
    replacement->setUrl(node->url());
    tree()->removeSelectionIndexPaths();
    tree()->removeObjectAtArrangedObjectIndexPath(path);
    tree()->insertObject(replacement, path);
    return replacement;
}

void SidebarNodes::folderLeftItsPlace(const QUrl &url)
{
    const std::optional<IndexPath> path = findTreeNode(url, m_sidebar->contents());
    if (!path)
        return;
    SidebarTreeModel *model = tree()->model();
    BaseNode *node = model->nodeForIndex(model->indexForPath(*path));
    BaseNode *parent = node ? node->parentNode() : nullptr;
    if (!parent || !model->indexForNode(parent).isValid()) {
        model->reloadData();   // a top-level folder: shown as missing
        return;
    }
    rescanFolderNode(model->sharedNodeForIndex(model->indexForNode(parent)));
}

void SidebarNodes::rescanFolderNode(const BaseNode::Ptr &node)
{
    const QString folder = localPath(node ? node->url() : std::nullopt);
    if (folder.isEmpty() || !lg::FileNames::isFolder(folder) || isPhotosLibraryPath(folder))
        return;
    const std::weak_ptr<BaseNode> rescanned = node;
    lg::runThenCallback(
        this,
        [folder] {
            FolderRecord record = FolderRecord::make(lg::FileNames::urlOf(folder));
            ScanContext context;
            sideMenuvc::scanFolderTree(folder, record, context);
            return record;
        },
        [this, rescanned](const FolderRecord &scanned) {
            const BaseNode::Ptr target = rescanned.lock();
            if (target && tree()->model()->indexForNode(target.get()).isValid())
                addNewSubfolders(target, scanned);
            Q_EMIT m_sidebar->refreshFinished();
        });
}

void SidebarNodes::addNewSubfolders(const BaseNode::Ptr &node, const FolderRecord &scanned)
{
    SidebarTreeModel *model = tree()->model();
    // The nodes of folders the tree already shows keep their place, children
    // and expansion; each new folder goes in after the sibling it follows on disk.
    std::vector<std::pair<BaseNode::Ptr, const FolderRecord *>> pending{{node, &scanned}};
    while (!pending.empty()) {
        auto [parent, record] = pending.back();
        pending.pop_back();
        // Folders renamed, moved or removed by another program leave the tree
        // (a renamed one comes back under its new name below).
        for (qsizetype i = parent->childNodes().size() - 1; i >= 0; --i) {
            const BaseNode::Ptr shown = parent->childNodes().at(i);
            const QString shownPath = shown ? localPath(shown->url()) : QString();
            if (!shownPath.isEmpty() && !lg::FileNames::isFolder(shownPath))
                model->removeNode(model->pathForNode(shown.get()));
        }
        int next = 0;
        for (const FolderRecord &child : record->arrpath) {
            const QString childPath = localPath(child.url1);
            const QList<BaseNode::Ptr> &shown = parent->childNodes();
            qsizetype found = -1;
            for (qsizetype i = 0; i < shown.size() && found < 0; ++i) {
                if (shown.at(i) && localPath(shown.at(i)->url()) == childPath)
                    found = i;
            }
            if (found >= 0) {
                next = int(found) + 1;
                const BaseNode::Ptr existing = shown.at(found);
                if (!child.arrpath.empty()) {
                    existing->setIsLeaf(false);
                    pending.emplace_back(existing, &child);
                }
                continue;
            }
            parent->setIsLeaf(false);
            IndexPath at = model->pathForNode(parent.get());
            at.append(next++);
            model->insertNode(nodeTreeForRecord(child), at);
        }
    }
}
