#pragma once
// The sidebar's selection: which node is chosen, the row chosen before it
// (sideMenuvc::outlineVIewLastSelectedRow), what the browser is told when the
// choice changes (the current folder, the folder monitor, the files shown in
// the grid, the list or behind the viewer), and where the selection goes back
// to after the tree changed under it (a paste or move, a removed bookmark, a
// folder put in the Trash). A change made while the tree is being updated or
// a file command runs tells the browser nothing. Main thread; it lives as
// long as its sidebar.
#include "sidebar/BaseNode.h"
#include "sidebar/SidebarTreeModel.h"

#include <QObject>

#include <optional>

class sideMenuvc;

class SidebarSelection : public QObject
{
    Q_OBJECT
public:
    explicit SidebarSelection(sideMenuvc *sidebar);

    // The outline's selection changed (sideMenuvc::outlineViewSelectionDidChange).
    void changed();
    // Makes the selected node the current folder and reloads what shows it
    // (sideMenuvc::loadSelection); nothing unless exactly one node is selected.
    void load();
    // Selects the node at path, its ancestors opened and its row scrolled to;
    // an already selected node is loaded again.
    void selectOrReload(const IndexPath &path);
    // Selects the parent of the selected node; none at the top level.
    void selectParent();

    // The first selected node; none without a selection.
    BaseNode::Ptr selectedNode() const;
    // Selects node again where it is now; false when it has left the tree.
    bool reselect(const BaseNode::Ptr &node);
    // After a bookmark's node at path (its row removedRow) left the tree: an
    // empty tree resets the sidebar; else, with nothing selected, the row
    // above when it was the last, the row now in its place otherwise.
    void settleAfterRemoval(const std::optional<IndexPath> &path, int removedRow);
    // After a folder went to the Trash: an empty tree resets the sidebar; else,
    // with nothing selected, the last row is.
    void settleAfterTrash();

private:
    sideMenuvc *m_sidebar;
    int m_currentRow = -1;   // the row selected at the latest change
};
