#pragma once
// Adding folders to the sidebar: the panels that choose folders or Photos
// libraries, the scan, its progress in the hub and the question that stops it. A worker thread counts the folders for the progress
// total, builds one folder record per accepted folder and hands the records
// back to the main thread, which turns them into tree nodes; a stopped add
// adds none of its folders, and folders outside the home folder or already in
// the tree are refused with a message. The public calls are made on the main
// thread; the sidebar hands them over and keeps its own names for them. It
// lives as long as its sidebar, whose destruction stops and waits for a scan.
#include "platform/desktop/Alert.h"
#include "sidebar/FolderScan.h"

#include <QFuture>
#include <QList>
#include <QObject>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class sideMenuvc;

class SidebarFolderAdd : public QObject
{
    Q_OBJECT
public:
    explicit SidebarFolderAdd(sideMenuvc *sidebar);
    // Stops a running scan (at its next check point) and waits for it.
    void stopAndWait();

    // Starts an add, or queues it behind the one running; see
    // sideMenuvc::addFoldersWithProgress.
    void add(const std::optional<QList<QUrl>> &folderURLs);
    bool isAdding() const { return m_job != nullptr; }

    // The panels of the add buttons; what is chosen is added.
    void chooseFolders();
    void choosePhotosLibraries();
    // Whether a panel lets the user choose url: a folder or a Photos library.
    static bool canChoose(const QUrl &url);

    // The stop question and its two answers.
    void askToStop();
    void stopConfirmed();
    void stopDeclined();
    // The message about folders that were already in the sidebar.
    void sayAlreadyAdded();

    // The ends of an add (main thread).
    void finish(const std::vector<FolderRecord> &records, bool alreadyAdded, bool outsideHome);
    void endEarly();
    void endWithoutFolders();

private:
    struct AddJob;

    void startAdd(const std::optional<QList<QUrl>> &folderURLs);
    void jobEnded();
    static void scanAddedFolders(const std::shared_ptr<AddJob> &job);
    // Runs fn on the main thread with the add's owner, unless the owner has
    // gone or has moved on to another add.
    static void postToOwner(const std::shared_ptr<AddJob> &job, std::function<void(SidebarFolderAdd *)> fn);

    sideMenuvc *m_sidebar;
    std::shared_ptr<AddJob> m_job;
    QFuture<void> m_worker;   // the scan of m_job, on lg::pools::folderScans
    QList<std::optional<QList<QUrl>>> m_pendingAdds;
};
