#pragma once
// Drag and drop in the sidebar: what a drag of rows carries, where a drop may
// land, web links dropped as bookmark leaves, and the files or folders dropped
// on a folder with their questions, handed to the sidebar's file commands
// (SidebarFileCommands) as they were when the drag started. The tree model
// asks it through its drop handler. A drop that cannot be taken (an unknown
// kind, a folder into itself, a file outside the home folder, a folder gone)
// does nothing; one onto a Photos library says why in the window. Main
// thread (a drop's files are read and checked on a pool thread); it lives as
// long as its sidebar, whose state of the drag and its sheets it fills.
#include "model/ChosenFiles.h"
#include "sidebar/SidebarTreeModel.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

#include <optional>
#include <utility>

class QMimeData;
class sideMenuvc;

class SidebarDragDrop : public QObject, public SidebarDropHandler
{
    Q_OBJECT
public:
    explicit SidebarDragDrop(sideMenuvc *sidebar);

    // The drag of rows and the drop on a row.
    QMimeData *mimeDataForRows(const QList<IndexPath> &rows) override;
    bool canDropOnRow(const QMimeData *data, const std::optional<IndexPath> &item, int childIndex) override;
    bool acceptDropOnRow(const QMimeData *data, const std::optional<IndexPath> &item, int childIndex) override;

    // See the sideMenuvc methods of the same names.
    std::optional<QUrl> folderURLAtDropPath(const IndexPath &path) const;
    std::optional<QUrl> parentFolderURL(const IndexPath &path) const;
    void insertWebURLNodes(const QList<std::pair<QUrl, QString>> &links, const IndexPath &path);
    void prepareFolderMove(const IndexPath &dropPath);
    void alertMoveInternalFolders();
    void dropItemsOnFolder(const QList<QUrl> &items, const IndexPath &path);
    void alertMoveFile();
    void btnOk_alertMove_PasteFile();

private:
    // Files dropped on the folder at path, as chosen (those of this
    // program's drag as they were when it started).
    void dropChosenOnFolder(const QList<ChosenItem> &items, const IndexPath &path);

    sideMenuvc *m_sidebar;
    QList<ChosenItem> m_draggedFolders;   // the sidebar's dragNodesArray's folders when the drag started
    quint64 m_dropTicket = 0;             // the newest files dropped on a folder
};
