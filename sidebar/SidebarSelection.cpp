// The sidebar's selection and what the browser is told of it.
#include "sidebar/SidebarSelection.h"

#include "app/Essentials.h"
#include "app/mainvc.h"
#include "browser/ItemMenus.h"
#include "browser/ViewController.h"
#include "browser/listVc.h"
#include "browser/thumbnailvc.h"
#include "sidebar/SidebarSheets.h"
#include "sidebar/outlineView.h"
#include "sidebar/sideMenuvc.h"
#include "viewer/VideoPlayer.h"
#include "viewer/viewimagevc.h"

using sidebarsheets::hub;

SidebarSelection::SidebarSelection(sideMenuvc *sidebar) : QObject(sidebar), m_sidebar(sidebar)
{
    setObjectName(QStringLiteral("sidebarSelection"));
}

void SidebarSelection::changed()
{
    if (isSidebarTreeUpdating || isFileOperationRunning)
        return;
    m_sidebar->outlineVIewLastSelectedRow = m_currentRow;
    m_currentRow = m_sidebar->myOutlineView->selectedRow();
    load();
}

void SidebarSelection::load()
{
    const QList<BaseNode::Ptr> selected = m_sidebar->treeController->selectedObjects();
    if (selected.size() != 1)
        return;
    const BaseNode::Ptr &node = selected.first();
    currentFolderURL.reset();
    selectedItemIndex = 0;
    if (node->url() && node->url()->isLocalFile())  // a web link is never a folder
        currentFolderURL = node->url();
    if (mainvc *h = hub())
        h->startMonitorWithSender(m_sidebar);

    auto stopVideo = [] {
        viewimagevc *viewer = imageViewer();
        if (viewer->videoPlayer) {
            viewer->videoPlayer->pause();
            viewer->videoPlayer = nullptr;
        }
    };
    switch (currentScreenMode) {
    case ScreenGrid:
    case ScreenList:
        reloadShownBrowseView();
        break;
    case ScreenViewer:
        stopVideo();
        if (styleBeforeViewer == listStyle) {
            contentController()->showListView();
            listController()->refreshData();
        } else if (styleBeforeViewer == gridStyle) {
            contentController()->showThumbnailView();
            thumbnailGrid()->refreshData();
        }
        break;
    case ScreenFullImage:
        stopVideo();
        if (styleBeforeViewer == listStyle)
            listController()->refreshData();
        else if (styleBeforeViewer == gridStyle)
            thumbnailGrid()->refreshData();
        break;
    default:
        break;
    }
}

void SidebarSelection::selectOrReload(const IndexPath &path)
{
    SidebarTreeController *tree = m_sidebar->treeController;
    if (tree->selectionIndexPath() == path) {
        load();
        return;
    }
    // Open the node's ancestors so that the selected row shows.
    const QModelIndex index = tree->model()->indexForPath(path);
    for (QModelIndex parent = index.parent(); parent.isValid(); parent = parent.parent())
        m_sidebar->myOutlineView->expand(parent);
    tree->setSelectionIndexPath(path);
    m_sidebar->myOutlineView->scrollTo(index);
}

void SidebarSelection::selectParent()
{
    SidebarTreeController *tree = m_sidebar->treeController;
    const QList<BaseNode::Ptr> selected = tree->selectedObjects();
    if (selected.isEmpty())
        return;
    BaseNode *parent = selected.first()->parentNode();
    const QModelIndex parentIndex = tree->model()->indexForNode(parent);
    if (parentIndex.isValid())
        tree->setSelectionIndexPath(tree->model()->pathForIndex(parentIndex));
    else
        tree->removeSelectionIndexPaths();
}

BaseNode::Ptr SidebarSelection::selectedNode() const
{
    const QList<BaseNode::Ptr> selected = m_sidebar->treeController->selectedObjects();
    return selected.isEmpty() ? nullptr : selected.first();
}

bool SidebarSelection::reselect(const BaseNode::Ptr &node)
{
    SidebarTreeController *tree = m_sidebar->treeController;
    if (!node || !tree->model()->indexForNode(node.get()).isValid())
        return false;
    tree->setSelectionIndexPath(tree->model()->pathForNode(node.get()));
    return true;
}

void SidebarSelection::settleAfterRemoval(const std::optional<IndexPath> &path, int removedRow)
{
    const int rows = m_sidebar->myOutlineView->numberOfRows();
    if (rows == 0) {
        m_sidebar->resetForEmptySidebar();
        return;
    }
    if (path && m_sidebar->treeController->selectionIndexPaths().isEmpty()) {
        if (rows == removedRow)
            m_sidebar->myOutlineView->selectRow(removedRow - 1);
        else
            m_sidebar->treeController->setSelectionIndexPath(*path);
    }
}

void SidebarSelection::settleAfterTrash()
{
    const int rows = m_sidebar->myOutlineView->numberOfRows();
    if (rows == 0)
        m_sidebar->resetForEmptySidebar();
    else if (m_sidebar->myOutlineView->selectedRow() == -1)
        m_sidebar->myOutlineView->selectRow(rows - 1);
}
