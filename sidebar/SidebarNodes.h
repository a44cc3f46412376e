#pragma once
// The sidebar's tree as folders: the nodes a folder record becomes, where a
// new node goes (following the selection), which node stands for a folder
// (paths compared exactly, by their bytes), a leaf made able to hold children,
// and a folder read again on a pool thread with its rows brought up to date
// (Refresh, a folder another program renamed or removed, what a transfer
// left). A node that left the tree while its folder was read is not touched.
// Main thread (nodeTreeForRecord: any thread); it lives as long as its
// sidebar.
#include "sidebar/BaseNode.h"
#include "sidebar/FolderScan.h"
#include "sidebar/SidebarTreeModel.h"

#include <QList>
#include <QObject>
#include <QUrl>

#include <optional>

class sideMenuvc;

class SidebarNodes : public QObject
{
    Q_OBJECT
public:
    explicit SidebarNodes(sideMenuvc *sidebar);

    // The node of a record with its whole sub-tree: a record with
    // sub-folders becomes a group, one without a leaf.
    static BaseNode::Ptr nodeTreeForRecord(const FolderRecord &record);

    // See the sideMenuvc methods of the same names.
    void insertGroupNode(const TreeAdditionObj &request);
    void insertLeafNode(const TreeAdditionObj &request);
    void insertFolderRecord(const FolderRecord &record);
    bool isTopLevelFolder(const QUrl &url) const;
    std::optional<IndexPath> findTreeNode(const QUrl &folder, const QList<BaseNode::Ptr> &nodes) const;
    std::optional<IndexPath> indexPathOfFolderNode(const QUrl &folder) const;
    void folderLeftItsPlace(const QUrl &url);

    // Replaces a leaf at path by a node of the same title and URL that can
    // hold children; the node at path otherwise.
    BaseNode::Ptr makeNodeExpandable(const IndexPath &path);
    // Reads node's folder again in the background and brings its rows up to
    // date; the sidebar's refreshFinished follows.
    void rescanFolderNode(const BaseNode::Ptr &node);

private:
    // The index path where a group node goes, following the selection.
    IndexPath groupInsertionPath();
    // Adds to node the sub-folders of a fresh scan of its folder that it does
    // not show yet; those gone from the disk leave it.
    void addNewSubfolders(const BaseNode::Ptr &node, const FolderRecord &scanned);
    SidebarTreeController *tree() const;

    sideMenuvc *m_sidebar;
};
