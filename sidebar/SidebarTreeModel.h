#pragma once
// The sidebar tree as an item model, and the tree controller over it.
//
// SidebarTreeModel shows the top-level nodes (the sidebar's contents) and their
// children, one column. A leaf shows no children. Places in the tree are named
// by index paths: the row in the top level, then the row among that node's
// children, and so on; the empty path is the invisible root.
//
// SidebarTreeController holds the selection (shared with the outline view) and
// changes the tree the way the sidebar expects: an inserted node becomes the
// selection, so the next insertion can follow it. Main thread only.
#include "sidebar/BaseNode.h"

#include <QAbstractItemModel>
#include <QIcon>
#include <QList>
#include <optional>

class QItemSelectionModel;
class QMimeData;

using IndexPath = QList<int>;

// Decides on drags of sidebar rows and on drops on them (the sidebar
// controller). The model asks it; without one nothing is dragged or dropped.
// A drop names the row it lands on (none: the blank area or between the
// top-level rows) and the child index (-1: on the row itself).
class SidebarDropHandler
{
public:
    virtual ~SidebarDropHandler() = default;
    // The drag data for the rows; nullptr refuses the drag.
    virtual QMimeData *mimeDataForRows(const QList<IndexPath> &rows) = 0;
    virtual bool canDropOnRow(const QMimeData *data, const std::optional<IndexPath> &item, int childIndex) = 0;
    // True when the drop was taken (its work may go on after a question).
    virtual bool acceptDropOnRow(const QMimeData *data, const std::optional<IndexPath> &item, int childIndex) = 0;
};

class SidebarTreeModel : public QAbstractItemModel
{
    Q_OBJECT
public:
    explicit SidebarTreeModel(QObject *parent = nullptr);
    ~SidebarTreeModel() override;

    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    bool hasChildren(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    // ---- Drag and drop, decided by the drop handler ----
    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;
    bool canDropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
                         const QModelIndex &parent) const override;
    bool dropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
                      const QModelIndex &parent) override;
    Qt::DropActions supportedDropActions() const override;
    Qt::DropActions supportedDragActions() const override;
    void setDropHandler(SidebarDropHandler *handler) { m_dropHandler = handler; }
    // The drag types of sidebar rows, web links and files.
    static const QString myNodesPBoardType;

    // Tells the views that a node's title, URL or state changed.
    void nodeChanged(const BaseNode *node);
    // Tells the views that every row may look different (folders that went
    // missing or came back).
    void reloadData();

    // The node of an index; nullptr for an invalid index.
    BaseNode *nodeForIndex(const QModelIndex &index) const;
    BaseNode::Ptr sharedNodeForIndex(const QModelIndex &index) const;
    // The index of a node in the tree; invalid for the root or a node outside it.
    QModelIndex indexForNode(const BaseNode *node) const;
    // The index at an index path; invalid when no node is there.
    QModelIndex indexForPath(const IndexPath &path) const;
    IndexPath pathForIndex(const QModelIndex &index) const;
    IndexPath pathForNode(const BaseNode *node) const;

    // The top-level nodes.
    const QList<BaseNode::Ptr> &contents() const;
    // Replaces the whole tree.
    void setContents(const QList<BaseNode::Ptr> &contents);

    // Inserts node, with its whole sub-tree, at path (the parent's path and the
    // row among its children, which may be one past the last). False, changing
    // nothing, when path is empty, its parent is missing or a leaf, or the row
    // is out of range.
    bool insertNode(const BaseNode::Ptr &node, const IndexPath &path);
    // Takes the node at path out of the tree; none when there is no node there.
    BaseNode::Ptr removeNode(const IndexPath &path);

    // The icons of the rows.
    static QIcon folderIcon();
    static QIcon photosLibraryIcon();
    // True when the node stands for a local folder that no longer exists.
    static bool isMissingFolder(const BaseNode *node);

private:
    BaseNode *nodeAtPath(const IndexPath &path) const;
    static void adopt(BaseNode *parent, const QList<BaseNode::Ptr> &children, int firstRow);

    BaseNode::Ptr m_root;
    SidebarDropHandler *m_dropHandler = nullptr;
};

class SidebarTreeController : public QObject
{
    Q_OBJECT
public:
    explicit SidebarTreeController(QObject *parent = nullptr);

    SidebarTreeModel *model() const { return m_model; }
    QItemSelectionModel *selectionModel() const { return m_selection; }

    const QList<BaseNode::Ptr> &contents() const { return m_model->contents(); }
    void setContents(const QList<BaseNode::Ptr> &contents) { m_model->setContents(contents); }

    // The selected places, in tree order.
    QList<IndexPath> selectionIndexPaths() const;
    // The first selected place; none without a selection.
    std::optional<IndexPath> selectionIndexPath() const;
    // The selected nodes, in tree order.
    QList<BaseNode::Ptr> selectedObjects() const;
    // Selects the node at path alone; the empty path (the root) leaves nothing
    // selected. False, leaving the selection alone, when no node is there.
    bool setSelectionIndexPath(const IndexPath &path);
    void removeSelectionIndexPaths();

    // Inserts node at path (see SidebarTreeModel::insertNode) and selects it.
    bool insertObject(const BaseNode::Ptr &node, const IndexPath &path);
    // Removes the node at path; false when no node is there.
    bool removeObjectAtArrangedObjectIndexPath(const IndexPath &path);
    // Removes the selected nodes.
    void remove();
    // The node at path; none when no node is there.
    BaseNode::Ptr descendantNodeAtIndexPath(const IndexPath &path) const;

private:
    SidebarTreeModel *m_model = nullptr;
    QItemSelectionModel *m_selection = nullptr;
};
