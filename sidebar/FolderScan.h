#pragma once
// Folder records and the walks of the disk behind adding folders to the
// sidebar. Everything here may run on a background thread: it touches no
// widget and no model, only the records it is given and the scan flags.
#include <QHash>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <atomic>
#include <functional>
#include <optional>
#include <vector>

// ---- Scan flags of the sidebar (read off the main thread, hence atomic) ----
// The user confirmed stopping the running add: the scans end at their next
// check point.
extern std::atomic<bool> addingFoldersCancelled;
// The program itself is changing the sidebar tree: selection changes load nothing.
extern std::atomic<bool> isSidebarTreeUpdating;

// A folder and, once scanned, its sub-folders in the order the folder lists
// them. Lives only while one add or rebuild runs.
struct FolderRecord
{
    QString name;                      // the folder's last path component, as shown (FileNames::shown)
    QUrl url1;                         // the folder
    std::vector<FolderRecord> arrpath; // its sub-folders' records

    static FolderRecord make(const QUrl &folder);
    // The number of records below this one.
    int descendantCount() const;
};

// The sub-folders that a counting walk has listed, kept so that building the
// records needs no second walk of the disk.
class FolderListings
{
public:
    void store(const QString &folderPath, const QStringList &subfolderNames);
    // The visible, real (not linked) sub-folder names of a listed folder, in
    // listing order; nullptr when the walk did not list it.
    const QStringList *find(const QString &folderPath) const;

private:
    QHash<QString, QStringList> m_listings;
};

// The check points of a scan: wait while stopAddingFolders is set (the stop
// question is open), then go on unless the add was cancelled, the owner of
// the scan is going away or the program is quitting (lg::isShuttingDown); a
// scan stopped so keeps what it recorded so far.
class ScanControl
{
public:
    explicit ScanControl(const std::atomic<bool> *abort = nullptr) : m_abort(abort) {}
    // Waits while the add is paused; true when the scan may go on.
    bool checkPoint() const;
    // Waits while the add is paused; false only when the owner is going away.
    bool waitWhilePaused() const;
    bool aborted() const;

    static constexpr int pollIntervalMs = 10;

private:
    const std::atomic<bool> *m_abort;
};

// What a record scan works with.
struct ScanContext
{
    ScanControl control;
    // When set, the sub-folders come from this walk instead of the disk; a
    // folder it has not listed has none.
    const FolderListings *listings = nullptr;
    // Called for every accepted sub-folder, in order; ringMoves is true for
    // every sixth sub-folder of one parent folder.
    std::function<void(const QUrl &folder, bool ringMoves)> progress;
};

// The number of folders anywhere below folderPath, hidden ones left out,
// symbolic links to folders counted but not entered; 0 when the add was
// cancelled during the count; none when the folder cannot be listed. Records
// the listed sub-folders in listings when given.
std::optional<int> countSubfolders(const QString &folderPath, const ScanControl &control,
                                   FolderListings *listings = nullptr);

// True for a path whose extension, lower-cased, is "photoslibrary".
bool isPhotosLibraryPath(const QString &path);
