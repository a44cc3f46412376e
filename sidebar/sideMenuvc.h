#pragma once
// The sidebar: the tree of bookmarked folders and Photos library entries, the
// buttons that add and remove them, and the preview of the current item.
// sideMenuvc builds the view and keeps the names the other screens and the
// tests call; each concern stands in a class of its own, to which it hands
// the work: adding folders (SidebarFolderAdd: a worker thread scans, the main
// thread turns its records into tree nodes), the tree as folders
// (SidebarNodes), the selection and what the browser is told of it
// (SidebarSelection), the preview (SidebarPreview), files shown from outside
// the tree (SidebarOpenedFiles), the folder list kept for the next start
// (SidebarSavedRoots), the file commands through the one flow
// (SidebarFileCommands) and the hover hints (SidebarHoverHints). The context
// menu's commands and drag and drop are in SidebarMenuCommands.cpp and
// SidebarDragDrop.cpp. The tree, the outline and the shared lists are touched
// on the main thread only.
#include "model/PhotosLibrary.h"
#include "platform/desktop/Alert.h"
#include "model/ChosenFiles.h"
#include "platform/files/operations/FileBatch.h"
#include "platform/files/operations/FileOperations.h"
#include "sidebar/BaseNode.h"
#include "sidebar/FolderScan.h"
#include "sidebar/SidebarTreeModel.h"

#include <QList>
#include <QPointer>
#include <QStringList>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <optional>

class SidebarFileCommands;
class SidebarFolderAdd;
class SidebarHoverHints;
class SidebarNodes;
class SidebarOpenedFiles;
class SidebarPreview;
class SidebarSavedRoots;
class SidebarSelection;
class PopoverMaxTypeVC;
class SidebarDragDrop;
class QLabel;
class QMenu;
class QMimeData;
class QModelIndex;
class buttoncursor;
class mainvc;
class outlineView;

class sideMenuvc : public QWidget
{
    Q_OBJECT
public:
    explicit sideMenuvc(QWidget *parent = nullptr);
    // Stops a running add (the worker ends at its next check point) and waits for it.
    ~sideMenuvc() override;

    // ---- Outlets ----
    SidebarTreeController *treeController = nullptr;
    QLabel *video_icon = nullptr;          // the video badge over the preview
    buttoncursor *btnAddBookmark = nullptr;
    QLabel *imgviewThumbnail = nullptr;    // the preview of the current item
    outlineView *myOutlineView = nullptr;
    buttoncursor *btnAddPhotoLibrary = nullptr;
    buttoncursor *btnRemoveBookmark = nullptr;
    buttoncursor *btnShowFiles = nullptr;  // opens the media-files panel (btnfocus)
    QMenu *outlineViewMenu = nullptr;

    // ---- State ----
    std::optional<QList<BaseNode::Ptr>> dragNodesArray;  // rows dragged inside the sidebar
    const QMimeData *pastboardFromOutside = nullptr;     // items pasted or dropped onto a folder
    bool callRemoveFolder_fromMenu = false;
    int outlineView_CLickedRow = 0;
    // The hover hint; a small popup of its own, so it is also the popover.
    PopoverMaxTypeVC *tooltipVc = nullptr;
    PopoverMaxTypeVC *popoverDetails = nullptr;
    // The hover areas: the four buttons, set by the set-up.
    QWidget *areaBtnAdd = nullptr;
    QWidget *areabtnRemove = nullptr;
    QWidget *areabtnAddLibrary = nullptr;
    QWidget *areabtnShowFiles = nullptr;
    // The row selected before the latest selection change; -1 when none was.
    int outlineVIewLastSelectedRow = 0;
    std::optional<IndexPath> internalDroppedIndexpath;
    std::optional<IndexPath> indexpathForFolderDrop;
    bool isItemFromPaste = false;
    std::optional<QUrl> dropdestiUrl;
    // The sheets, as last shown (empty until then).
    lg::AlertSpec alertsameFolder, alertforInternalMoveFolders, alert, alertforMoveFile;
    lg::AlertSpec alertCannotremoveBookmark, alertremoveBookmark, alertDeleteFolder;
    lg::AlertSpec alerStopAddingFolder, alertAlreadyAdded;

    // The top-level nodes of the tree.
    const QList<BaseNode::Ptr> &contents() const;
    void setContents(const QList<BaseNode::Ptr> &contents);

    // ---- Adding folders ----
    // Adds folders (or Photos library packages) with their sub-folder trees.
    // Returns at once; the work continues in the background and ends on the
    // main thread. With no list there is nothing to scan: the pending add is
    // only finished. An add asked for while one runs starts after it.
    void addFoldersWithProgress(const std::optional<QList<QUrl>> &folderURLs);
    // The folder shown under url was renamed, moved or removed by another
    // program: the folder that holds its row is read again, so that a renamed
    // folder shows under its new name and a removed one goes. A top-level
    // folder stays (shown as missing until it comes back).
    void folderLeftItsPlace(const QUrl &url);
    // True from the start of an add to its end.
    bool isAdding() const;
    // Asks whether to stop the running add (the hub's Stop button, after it has
    // set stopAddingFolders, so that the scan waits meanwhile).
    void alertforStopAddingFolder();
    void btnYes_StopAddingFolder();
    void btnCancel_StopAddingFolder();
    // The message about folders that were already in the sidebar.
    void alertFolderAlreadyAdded();
    // The completion of the already-added message.
    void restoreOverlayAfterSheet();
    // Performed after an add that refused nothing; has no effect.
    void ShowGetPermissionvc() {}
    // Ends a sidebar sheet: hides the hub's overlay and clears its alert form.
    void endAlertSheet();

    // The buttons and panels.
    void btnadmorefolders();
    void btnAddPhotosLibrary();
    void btnfocus();
    void chooseFoldersToAdd();
    void choosePhotosLibrary();
    void chooseFilesToShow();
    void showChosenFiles(const QList<QUrl> &urls);
    // Which items the Photos library panel lets the user choose or enter.
    static bool panel_shouldEnableURL(const QUrl &url);

    // Shows files handed over from outside: selects their folder when the
    // sidebar has it, else lists them under the "Opened with" entry. Folders
    // among them are added to the sidebar (or selected when already there).
    void revealFolderOfFile(const QStringList &paths);
    // The paths of the top-level folders (by their bytes, FileNames), in tree order.
    QStringList rootFolderPaths() const;
    // The hub comes up for handed-over files in place of the home screen, so
    // the folders saved before are not loaded: they stay in the saved list
    // (rootsToSave) though the tree does not show them.
    void keepSavedRoots();
    // The folder list kept for the next start ("arrPaths"): the saved folders
    // this run has not shown (keepSavedRoots), then the top-level folders. The
    // entry of opened files is never one of them.
    QStringList rootsToSave() const;
    // Stores rootsToSave() under "arrPaths" (nothing is written when it holds
    // that already). Runs by itself, once the event loop is reached, whenever
    // the top-level nodes change; the delegate also calls it at quit.
    void saveRoots();

    // ---- The tree (SidebarNodes) ----
    SidebarNodes &nodes() const { return *m_nodes; }
    // Fills record.arrpath with the folder's sub-folders, recursively (any thread).
    static void scanFolderTree(const QString &folderPath, FolderRecord &record, ScanContext &context);
    // Inserts a record's node with its whole sub-tree at the selection, then
    // selects the node's parent again.
    void insertFolderRecord(const FolderRecord &record);
    void insertGroupNode(const TreeAdditionObj &request);
    void insertLeafNode(const TreeAdditionObj &request);
    void selectParentOfSelection();
    void addFolder();
    void removeFolder();
    // True when a top-level node stands for the URL's folder.
    bool isTopLevelFolder(const QUrl &url) const;
    // The node for a folder: among nodes, and below each node whose folder
    // contains it; none when absent.
    std::optional<IndexPath> findTreeNode(const QUrl &folder, const QList<BaseNode::Ptr> &nodes) const;
    // The node of a folder in the whole tree (paths compared exactly); none when absent.
    std::optional<IndexPath> indexPathOfFolderNode(const QUrl &folder) const;
    // The top-level entry of files opened from outside; none when absent.
    std::optional<IndexPath> findOpenedWithNode() const;

    // ---- The ends of an add (main thread) ----
    void finishAddingFolders(const std::vector<FolderRecord> &records, bool alreadyAdded, bool outsideHome);
    void endAddingFoldersEarly();
    void endAddingWithoutFolders();
    // The sidebar lost its last node: empty lists, no saved roots, home screen.
    void resetForEmptySidebar();

    // ---- Selection and preview ----
    // The selection's own part (SidebarSelection).
    SidebarSelection &selection() const { return *m_selection; }
    // Makes the selected node the current folder and reloads the content.
    void loadSelection();
    void outlineViewSelectionDidChange();
    // Shows the current item in the preview and refreshes the information pane.
    void updatePreviewThumbnail();
    // Empties the preview and drops any picture still on its way to it.
    void clearPreview();
    void outlineViewItemDidExpand();
    void outlineViewItemDidCollapse();
    void outlineViewItemWillCollapse();
    // Widens the outline's column for the deepest visible level.
    void updateColumnMinWidth();
    // The minimum column width for rows down to level.
    static int columnMinWidthForLevel(int level) { return 20 * level + 271; }

    // ---- Hover hints ----
    void mouseEntered(QWidget *area);
    void mouseExited(QWidget *area);

    // ---- Context menu and folder commands (SidebarMenu.cpp, SidebarMenuCommands.cpp) ----
    // Rebuilds outlineViewMenu for a row of the outline (-1: no row); false
    // when the menu stays empty (busy, or no row).
    bool menuWillOpen(int clickedRow);
    // Opens the menu for the row under pos (viewport coordinates).
    void showOutlineMenu(const QPoint &pos, const QPoint &globalPos);
    // The row the menu was opened on; -1 when none.
    int clickedRow() const { return m_clickedRow; }
    void menuShowinFinder();
    // Reloads the outline and reads the clicked row's folder again in the
    // background; sub-folders made meanwhile are added to its node.
    void menurefreshAllitem();
    void addBookmark();
    void menuremoveitem();
    void createNewFolder();
    void outlineView_StartLabelEditing();
    void DeleteFolder();
    void menuCopyFolder();
    void menuPasteItem();
    void menuGetInfo();
    // Remove bookmark and move to Trash, with their sheets.
    void btnremove();
    void alertCannotRemoveBookmark();
    void alertRemoveBookmark();
    void btnremovebookmark_alert();
    void btnremovebookmark_cancelalert();
    void alertforDeleteFolder();
    // The end of an in-place edit of the title of the row at path: renames the folder.
    void didEditTextField(const IndexPath &path, const QString &newName);

    // ---- Drag and drop (SidebarDragDrop) ----
    // The URL of the node at path (a final -1: of the node at the path without it).
    std::optional<QUrl> folderURLAtDropPath(const IndexPath &path) const;
    // The URL of the parent node of the node at path.
    std::optional<QUrl> parentFolderURL(const IndexPath &path) const;
    // Inserts web links as leaves at path, in list order.
    void insertWebURLNodes(const QList<std::pair<QUrl, QString>> &links, const IndexPath &path);
    // The drag of rows and the drop on a row (the tree model asks through its drop handler).
    QMimeData *mimeDataForRows(const QList<IndexPath> &rows);
    bool canDropOnRow(const QMimeData *data, const std::optional<IndexPath> &item, int childIndex);
    bool acceptDropOnRow(const QMimeData *data, const std::optional<IndexPath> &item, int childIndex);
    // A folder move inside the tree: the dragged folders, as they were when
    // the drag started, go through the flow of file commands with its
    // question and the folder-exists sheet as its same-name question.
    void prepareFolderMove(const IndexPath &dropPath);
    void alertMoveInternalFolders();
    // Files from outside dropped on the folder at path, taken as they are
    // now: asks, then moves them there.
    void dropItemsOnFolder(const QList<QUrl> &items, const IndexPath &path);
    // Asks about moving m_transferSources into dropdestiUrl, then moves them.
    void alertMoveFile();
    // Copies (after a paste, isItemFromPaste) or moves m_transferSources into
    // dropdestiUrl, unasked. Paste Item itself hands its items to the sidebar's
    // file commands (SidebarFileCommands::paste).
    void btnOk_alertMove_PasteFile();

    // Reads the Photos library of the current folder (or of the collage maker)
    // and publishes its items.
    void loadPhotosLibrary() { photosReader.loadPhotosLibrary(); }
    PhotosLibraryReader photosReader;

    // Called on the scanning thread after each sub-folder record is made (tests
    // use it to stop an add at a known place).
    static std::function<void(const QUrl &folder)> folderRecordedHook;

Q_SIGNALS:
    // The folder read again by the menu's Refresh has been merged into the tree.
    void refreshFinished();
    // An add has come to its end (any of its ends).
    void addingFinished();
    // A copy, move or trash of the sidebar's file commands has ended.
    void fileWorkFinished();

private:
    void viewDidLoad();
    void buildLayout();

    // The context menu's commands and renaming (SidebarMenuCommands.cpp).
    void setUpCommands();
    BaseNode::Ptr nodeAtRow(int row, IndexPath *path = nullptr) const;
    void showRefusal(const QString &message);
    // Says in the window that path's name is not valid UTF-8 and gives true;
    // false for a path that is text.
    bool refuseNameThatIsNotText(const QString &path);
    int m_clickedRow = -1;
    QList<ChosenItem> m_transferSources;   // the items of the pending paste or drop
    SidebarDragDrop *m_dragDrop = nullptr;   // the drag of rows, drops on a row, and their questions
    friend class SidebarDragDrop;
    SidebarFileCommands *m_fileCommands = nullptr;   // Trash, paste, drops and folder moves through the flow
    friend class SidebarFileCommands;

    SidebarFolderAdd *m_folderAdd = nullptr;   // the scan, its progress and its stop question
    friend class SidebarFolderAdd;
    SidebarHoverHints *m_hoverHints = nullptr;   // the buttons' names while the pointer is over them
    SidebarNodes *m_nodes = nullptr;             // the tree as folders: insertions, look-ups, folders read again
    SidebarPreview *m_preview = nullptr;         // the picture of the chosen item under the outline
    SidebarSelection *m_selection = nullptr;     // the chosen node and what the browser is told of it
    SidebarOpenedFiles *m_openedFiles = nullptr; // files shown from outside the tree, the "Opened with" entry
    SidebarSavedRoots *m_savedRoots = nullptr;   // the folder list kept for the next start
};
