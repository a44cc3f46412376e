#include "sidebar/SidebarTreeModel.h"

#include "browser/GridView.h"
#include "platform/files/names/FileNames.h"

#include <QColor>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QMimeData>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

#include <algorithm>

namespace {

QIcon svgIcon(const QString &resource)
{
    QIcon icon;
    QSvgRenderer renderer(resource);
    for (int side : {16, 32, 48}) {
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        if (renderer.isValid()) {
            QPainter painter(&pixmap);
            renderer.render(&painter);
        }
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace

// ---------------------------------------------------------------- SidebarTreeModel

SidebarTreeModel::SidebarTreeModel(QObject *parent)
    : QAbstractItemModel(parent), m_root(std::make_shared<BaseNode>())
{
    m_root->setNodeTitle(QString());
}

SidebarTreeModel::~SidebarTreeModel() = default;

QIcon SidebarTreeModel::folderIcon()
{
    static const QIcon icon = svgIcon(QStringLiteral(":/images/sidebar/folder.svg"));
    return icon;
}

QIcon SidebarTreeModel::photosLibraryIcon()
{
    static const QIcon icon = svgIcon(QStringLiteral(":/images/sidebar/photos-library.svg"));
    return icon;
}

bool SidebarTreeModel::isMissingFolder(const BaseNode *node)
{
    if (!node || !node->url() || !node->url()->isLocalFile())
        return false;
    // By the path's bytes: a name that is not UTF-8 is not its look-alike.
    return !lg::FileNames::exists(lg::FileNames::pathOf(*node->url()));
}

BaseNode *SidebarTreeModel::nodeForIndex(const QModelIndex &index) const
{
    if (!index.isValid() || index.model() != this)
        return nullptr;
    return static_cast<BaseNode *>(index.internalPointer());
}

BaseNode::Ptr SidebarTreeModel::sharedNodeForIndex(const QModelIndex &index) const
{
    BaseNode *node = nodeForIndex(index);
    if (!node)
        return {};
    BaseNode *parent = node->m_parent ? node->m_parent : m_root.get();
    const QList<BaseNode::Ptr> &siblings = parent->m_children;
    if (node->m_row >= 0 && node->m_row < siblings.size() && siblings.at(node->m_row).get() == node)
        return siblings.at(node->m_row);
    return {};
}

QModelIndex SidebarTreeModel::index(int row, int column, const QModelIndex &parent) const
{
    if (column != 0 || row < 0)
        return {};
    const BaseNode *parentNode = parent.isValid() ? nodeForIndex(parent) : m_root.get();
    if (!parentNode || parentNode->isLeaf() || row >= parentNode->m_children.size())
        return {};
    return createIndex(row, 0, parentNode->m_children.at(row).get());
}

QModelIndex SidebarTreeModel::parent(const QModelIndex &child) const
{
    const BaseNode *node = nodeForIndex(child);
    if (!node || !node->m_parent || node->m_parent == m_root.get())
        return {};
    return createIndex(node->m_parent->m_row, 0, node->m_parent);
}

int SidebarTreeModel::rowCount(const QModelIndex &parent) const
{
    if (parent.column() > 0)
        return 0;
    const BaseNode *node = parent.isValid() ? nodeForIndex(parent) : m_root.get();
    if (!node || node->isLeaf())
        return 0;
    return int(node->m_children.size());
}

int SidebarTreeModel::columnCount(const QModelIndex &) const
{
    return 1;
}

bool SidebarTreeModel::hasChildren(const QModelIndex &parent) const
{
    return rowCount(parent) > 0;
}

QVariant SidebarTreeModel::data(const QModelIndex &index, int role) const
{
    const BaseNode *node = nodeForIndex(index);
    if (!node)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        // On one line, as the grid and the list show a name.
        return GridItemDelegate::oneLineName(node->nodeTitle());
    case Qt::EditRole:
        return node->nodeTitle();
    case Qt::DecorationRole:
        if (node->url() && QFileInfo(node->url()->path()).suffix().toLower() == QLatin1String("photoslibrary"))
            return photosLibraryIcon();
        return folderIcon();
    case Qt::ForegroundRole:
        return isMissingFolder(node) ? QColor(Qt::red) : QColor(Qt::white);
    case Qt::ToolTipRole:
        if (isMissingFolder(node))
            return QStringLiteral("this folder is missing.");
        return {};
    default:
        return {};
    }
}

Qt::ItemFlags SidebarTreeModel::flags(const QModelIndex &index) const
{
    if (!nodeForIndex(index))
        return Qt::NoItemFlags;
    const BaseNode *node = nodeForIndex(index);
    Qt::ItemFlags result = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemIsDropEnabled;
    if (node->isLeaf())
        result |= Qt::ItemNeverHasChildren;
    // A present, ordinary folder can be renamed in place.
    if (node->url() && node->url()->isLocalFile() && !isMissingFolder(node)
        && QFileInfo(lg::FileNames::pathOf(*node->url())).suffix().toLower() != QLatin1String("photoslibrary"))
        result |= Qt::ItemIsEditable;
    return result;
}

const QString SidebarTreeModel::myNodesPBoardType = QStringLiteral("application/x-lumengallery-sidebar-nodes");

QStringList SidebarTreeModel::mimeTypes() const
{
    return {myNodesPBoardType, QStringLiteral("text/x-moz-url"), QStringLiteral("text/uri-list")};
}

QMimeData *SidebarTreeModel::mimeData(const QModelIndexList &indexes) const
{
    if (!m_dropHandler)
        return nullptr;
    QList<IndexPath> rows;
    for (const QModelIndex &index : indexes) {
        if (nodeForIndex(index))
            rows.append(pathForIndex(index));
    }
    if (rows.isEmpty())
        return nullptr;
    return m_dropHandler->mimeDataForRows(rows);
}

bool SidebarTreeModel::canDropMimeData(const QMimeData *data, Qt::DropAction, int row, int,
                                       const QModelIndex &parent) const
{
    if (!m_dropHandler || !data)
        return false;
    const std::optional<IndexPath> item =
        parent.isValid() ? std::optional<IndexPath>(pathForIndex(parent)) : std::nullopt;
    return m_dropHandler->canDropOnRow(data, item, row);
}

bool SidebarTreeModel::dropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
                                    const QModelIndex &parent)
{
    if (!canDropMimeData(data, action, row, column, parent))
        return false;
    const std::optional<IndexPath> item =
        parent.isValid() ? std::optional<IndexPath>(pathForIndex(parent)) : std::nullopt;
    return m_dropHandler->acceptDropOnRow(data, item, row);
}

Qt::DropActions SidebarTreeModel::supportedDropActions() const
{
    return Qt::MoveAction | Qt::CopyAction;
}

Qt::DropActions SidebarTreeModel::supportedDragActions() const
{
    return Qt::MoveAction;
}

void SidebarTreeModel::nodeChanged(const BaseNode *node)
{
    const QModelIndex index = indexForNode(node);
    if (index.isValid())
        Q_EMIT dataChanged(index, index);
}

void SidebarTreeModel::reloadData()
{
    std::vector<QModelIndex> pending{QModelIndex()};
    while (!pending.empty()) {
        const QModelIndex parent = pending.back();
        pending.pop_back();
        const int rows = rowCount(parent);
        if (rows == 0)
            continue;
        Q_EMIT dataChanged(index(0, 0, parent), index(rows - 1, 0, parent));
        for (int row = 0; row < rows; ++row)
            pending.push_back(index(row, 0, parent));
    }
}

BaseNode *SidebarTreeModel::nodeAtPath(const IndexPath &path) const
{
    BaseNode *node = m_root.get();
    for (int row : path) {
        if (node->isLeaf() || row < 0 || row >= node->m_children.size())
            return nullptr;
        node = node->m_children.at(row).get();
    }
    return node;
}

QModelIndex SidebarTreeModel::indexForPath(const IndexPath &path) const
{
    if (path.isEmpty())
        return {};
    return indexForNode(nodeAtPath(path));
}

QModelIndex SidebarTreeModel::indexForNode(const BaseNode *node) const
{
    if (!node || node == m_root.get() || !node->m_parent)
        return {};
    return createIndex(node->m_row, 0, const_cast<BaseNode *>(node));
}

IndexPath SidebarTreeModel::pathForNode(const BaseNode *node) const
{
    IndexPath path;
    while (node && node != m_root.get() && node->m_parent) {
        path.prepend(node->m_row);
        node = node->m_parent;
    }
    return path;
}

IndexPath SidebarTreeModel::pathForIndex(const QModelIndex &index) const
{
    return pathForNode(nodeForIndex(index));
}

const QList<BaseNode::Ptr> &SidebarTreeModel::contents() const
{
    return m_root->m_children;
}

void SidebarTreeModel::adopt(BaseNode *parent, const QList<BaseNode::Ptr> &children, int firstRow)
{
    // Iterative: a deep folder tree must not exhaust the stack.
    struct Pending { BaseNode *parent; const QList<BaseNode::Ptr> *children; int first; };
    std::vector<Pending> pending{{parent, &children, firstRow}};
    while (!pending.empty()) {
        const Pending item = pending.back();
        pending.pop_back();
        for (int row = item.first; row < item.children->size(); ++row) {
            BaseNode *child = item.children->at(row).get();
            if (!child)
                continue;
            child->m_parent = item.parent;
            child->m_row = row;
            if (!child->m_children.isEmpty())
                pending.push_back({child, &child->m_children, 0});
        }
    }
}

void SidebarTreeModel::setContents(const QList<BaseNode::Ptr> &contents)
{
    beginResetModel();
    for (const BaseNode::Ptr &old : std::as_const(m_root->m_children)) {
        if (old)
            old->m_parent = nullptr;
    }
    QList<BaseNode::Ptr> kept;
    for (const BaseNode::Ptr &node : contents) {
        if (node)
            kept.append(node);
    }
    m_root->m_children = kept;
    adopt(m_root.get(), m_root->m_children, 0);
    endResetModel();
}

bool SidebarTreeModel::insertNode(const BaseNode::Ptr &node, const IndexPath &path)
{
    if (!node || path.isEmpty())
        return false;
    BaseNode *parent = nodeAtPath(path.first(path.size() - 1));
    if (!parent || parent->isLeaf())
        return false;
    const int row = path.last();
    if (row < 0 || row > parent->m_children.size())
        return false;
    beginInsertRows(indexForNode(parent), row, row);
    parent->m_children.insert(row, node);
    // The rows after it move down by one; the new node brings its sub-tree.
    for (int i = row + 1; i < parent->m_children.size(); ++i) {
        if (BaseNode *sibling = parent->m_children.at(i).get())
            sibling->m_row = i;
    }
    adopt(parent, parent->m_children.mid(row, 1), 0);
    node->m_row = row;
    endInsertRows();
    return true;
}

BaseNode::Ptr SidebarTreeModel::removeNode(const IndexPath &path)
{
    if (path.isEmpty())
        return {};
    BaseNode *parent = nodeAtPath(path.first(path.size() - 1));
    const int row = path.last();
    if (!parent || parent->isLeaf() || row < 0 || row >= parent->m_children.size())
        return {};
    beginRemoveRows(indexForNode(parent), row, row);
    BaseNode::Ptr node = parent->m_children.takeAt(row);
    for (int i = row; i < parent->m_children.size(); ++i) {
        if (BaseNode *sibling = parent->m_children.at(i).get())
            sibling->m_row = i;
    }
    endRemoveRows();
    if (node)
        node->m_parent = nullptr;
    return node;
}

// ---------------------------------------------------------------- SidebarTreeController

SidebarTreeController::SidebarTreeController(QObject *parent)
    : QObject(parent), m_model(new SidebarTreeModel(this)), m_selection(new QItemSelectionModel(m_model, this))
{
}

QList<IndexPath> SidebarTreeController::selectionIndexPaths() const
{
    QList<IndexPath> paths;
    for (const QModelIndex &index : m_selection->selectedIndexes()) {
        if (index.column() == 0 && m_model->nodeForIndex(index))
            paths.append(m_model->pathForIndex(index));
    }
    std::sort(paths.begin(), paths.end());
    paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
    return paths;
}

std::optional<IndexPath> SidebarTreeController::selectionIndexPath() const
{
    const QList<IndexPath> paths = selectionIndexPaths();
    if (paths.isEmpty())
        return std::nullopt;
    return paths.first();
}

QList<BaseNode::Ptr> SidebarTreeController::selectedObjects() const
{
    QList<BaseNode::Ptr> nodes;
    for (const IndexPath &path : selectionIndexPaths()) {
        if (BaseNode::Ptr node = descendantNodeAtIndexPath(path))
            nodes.append(node);
    }
    return nodes;
}

bool SidebarTreeController::setSelectionIndexPath(const IndexPath &path)
{
    if (path.isEmpty()) {
        removeSelectionIndexPaths();
        return true;
    }
    const QModelIndex index = m_model->indexForPath(path);
    if (!index.isValid())
        return false;
    m_selection->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    m_selection->select(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    return true;
}

void SidebarTreeController::removeSelectionIndexPaths()
{
    if (m_selection->hasSelection())
        m_selection->clearSelection();
    m_selection->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
}

bool SidebarTreeController::insertObject(const BaseNode::Ptr &node, const IndexPath &path)
{
    if (!m_model->insertNode(node, path))
        return false;
    setSelectionIndexPath(path);
    return true;
}

bool SidebarTreeController::removeObjectAtArrangedObjectIndexPath(const IndexPath &path)
{
    return m_model->removeNode(path) != nullptr;
}

void SidebarTreeController::remove()
{
    QList<IndexPath> paths = selectionIndexPaths();
    // From the last place backwards, so the earlier paths stay valid; a node
    // below one already removed went with it.
    std::sort(paths.begin(), paths.end(), [](const IndexPath &a, const IndexPath &b) { return b < a; });
    for (const IndexPath &path : std::as_const(paths))
        m_model->removeNode(path);
}

BaseNode::Ptr SidebarTreeController::descendantNodeAtIndexPath(const IndexPath &path) const
{
    return m_model->sharedNodeForIndex(m_model->indexForPath(path));
}
