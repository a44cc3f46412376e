#pragma once
// The sidebar's file commands: Move to Trash of a folder, Paste Item into a
// folder, files dropped on a folder, and the sidebar's own folders dragged
// onto another. Each hands its items, as chosen (a drag's as they were when
// it started), to the one flow of file commands (model/FileCommandFlow.h),
// which asks, checks, runs, settles and says what failed in the window; this
// part pauses the folder monitor while a copy or move runs and brings the
// tree in line with the disk after each run. Main thread; it lives as long
// as its sidebar.
#include "model/ChosenFiles.h"
#include "platform/desktop/Alert.h"
#include "platform/files/operations/FileOperations.h"
#include "sidebar/BaseNode.h"
#include "sidebar/FolderScan.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

#include <optional>
#include <vector>

struct FileCommandRequest;
struct FileCommandScreen;
class sideMenuvc;

class SidebarFileCommands : public QObject
{
    Q_OBJECT
public:
    explicit SidebarFileCommands(sideMenuvc *sidebar);

    // The folder of node to the Trash after question, with what it holds
    // when the question is put; its node leaves the tree when it went.
    void trashFolder(const BaseNode::Ptr &node, const QString &folder, const lg::AlertSpec &question);
    // Paste Item: the files on the clipboard, as chosen, copied into
    // destination, unasked.
    void paste(const QList<ChosenItem> &copied, const QUrl &destination);
    // Files dropped on a folder moved into destination, after question where
    // there is one; those already there, or holding the destination, are
    // passed over.
    void moveDropped(const QList<ChosenItem> &dropped, const QUrl &destination,
                     const std::optional<lg::AlertSpec> &question);
    // The dragged folders (nodes, and their folders as the drag started) into
    // destination, after question; clashQuestion is the same-name question.
    void moveFolders(const QList<ChosenItem> &folders, const QList<BaseNode::Ptr> &nodes, const QString &destination,
                     const lg::AlertSpec &question, const lg::AlertSpec &clashQuestion);

private:
    // sources copied (paste) or moved into destination, after question where
    // there is one; sources already there, or holding the destination, are
    // passed over for a move.
    void transfer(const QList<ChosenItem> &sources, const QUrl &destination, bool paste,
                  const std::optional<lg::AlertSpec> &question);
    // Runs a copy or move into destination through the flow. folderDrag: the
    // sidebar's own folders (nodes) dragged, the destination selected after,
    // and fileWorkFinished once, at the end.
    void runTransfer(FileCommandRequest request, const QUrl &destination, const QList<BaseNode::Ptr> &nodes,
                     bool folderDrag);
    // The sidebar's part in a file command: its window, the folder monitor
    // paused while it runs (stopMonitor), fileWorkFinished after each run.
    FileCommandScreen screen(bool stopMonitor);
    // Folders that arrived (arrived: scanned) join the destination's node;
    // a moved folder leaves its old node.
    void finishTransfer(lg::FileOpKind kind, const QList<lg::FileOpResult> &results,
                        const std::vector<FolderRecord> &arrived, const QUrl &destination, bool selectDestination);
    // The end of Move to Trash: the node leaves the tree when its folder went.
    void finishTrashFolder(const BaseNode::Ptr &node, const QList<lg::FileOpResult> &results);

    sideMenuvc *m_sidebar;
};
