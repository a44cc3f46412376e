#pragma once
// Reading a Photos library copied from a Mac. The library is a folder ending in
// ".photoslibrary"; its catalogue is an SQLite database in its "database" folder.
// The reader never opens that database in place: every load copies it (with its
// -wal, -shm and lock files) into the cache folder, reads the copy, turns the
// asset rows into media items for the files that really lie inside the package
// and hands them to the grid and list (itemList) or to the collage maker.
//
// The layout is read from the library itself:
//   database/Photos.sqlite with a ZASSET table       -> Asset layout (macOS 11 and later)
//   database/Photos.sqlite with a ZGENERICASSET table -> GenericAsset layout (macOS 10.15)
//   database/photos.db (RKVersion, RKMaster)          -> Legacy layout (before 10.15)
#include "model/MediaRecords.h"
#include "platform/desktop/Alert.h"

#include <QFuture>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVector>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>

struct sqlite3;
struct sqlite3_stmt;

// ---- Application-wide values (main thread) ----
// The files of the library's database that the next load copies. Each starts
// with its default (the default library in the Pictures folder) on first use and
// is overwritten whenever a load names a library; they keep the last library's
// paths for the rest of the run.
QString &photosDatabasePath();
QString &photosDatabaseWalPath();
QString &photosDatabaseShmPath();
QString &photosDatabaseLockPath();
// A path inside the default Photos library: tail is appended to it.
QString defaultLibraryFilePath(const QString &tail);
// The library chosen in the collage maker; none until it picks one.
extern std::optional<QUrl> collageLibraryURL;
// Puts the four paths back to their defaults and forgets collageLibraryURL.
void resetPhotosLibraryState();

// The whole matches of pattern in text, in order; empty when there is none or
// when the pattern is invalid (a line "invalid regex: " is then printed).
QStringList regexMatches(const QString &pattern, const QString &text);

// True when the URL is a folder whose extension is exactly "photoslibrary".
bool isPhotosLibraryURL(const std::optional<QUrl> &url);

enum class PhotosLibraryLayout : uint8_t {
    Legacy,        // photos.db, RKVersion/RKMaster, files under "Masters"
    GenericAsset,  // Photos.sqlite with ZGENERICASSET, files under "originals"
    Asset,         // Photos.sqlite with ZASSET, files under "originals"
};

// An application running in the user's session, as the workspace reports it.
struct RunningApplication
{
    QString bundleIdentifier;   // may be empty
    QString executableName;     // last component of the executable's path
    int activationPolicy = 0;   // 0 regular, 1 accessory, 2 prohibited
    std::function<void()> terminate;  // a polite quit request
};

class PhotosLibraryReader : public QObject
{
    Q_OBJECT
public:
    explicit PhotosLibraryReader(QObject *parent = nullptr);
    // Waits for a background read to end.
    ~PhotosLibraryReader() override;

    // ---- The load ----
    // Checks that Photos is not running (or asks), picks the library's database
    // files, copies them, reads the copy, makes the items and publishes them,
    // all before it returns (unless the "Photos App is running." alert is up:
    // its answer goes on with the load).
    void loadPhotosLibrary();
    // The same load with the copy, the read and the item making on a background
    // thread behind the hub's busy overlay; the items are published on the main
    // thread, then done is called (also when nothing could be read). Requests
    // made while one runs are joined into one more load after it.
    void loadPhotosLibraryInBackground(std::function<void()> done = {});
    // True while a background load copies or reads.
    bool isLoading() const;

    void showPhotosRunningAlert();
    // Answers of the alert: leave the library out, or quit Photos and read it.
    void skipPhotosLibrary();
    void removePhotoApp();
    // Sets the four path values for the library in question, then copies and reads.
    void selectPhotosDatabase();
    // Refreshes the private copy, opens it into db and reads it.
    void copyAndOpenPhotosDatabase();

    // ---- Reading the copy ----
    // Learns the numbers of the album-to-asset join table (Z_<n>ASSETS with the
    // column Z_<m>ASSETS) into firstMatched and secondMatched.
    void findAssetTableNumbers();
    // Reads the assets that are not in the trash into photosLibrary, makes the
    // items, then finalizes the statement and closes db.
    void readPhotoAssets();
    // The album key and album name of an asset (by its Z_PK) on the open db;
    // each empty when nothing is found.
    std::pair<QString, QString> lookupAlbumName(const QString &value);

    // ---- Items ----
    // Turns photosLibrary into photoLibraryItems (files that exist inside the
    // package with an image or video extension), then publishes them.
    void makePhotoLibraryItems();
    // Outside the collage maker the items replace itemList; in it the images are
    // added to the collage's photo list.
    void publishPhotoLibraryItems();

    // ---- Running applications (this system has no Photos application) ----
    using RunningApplicationsProvider = std::function<QList<RunningApplication>()>;
    // Tests hand in a list of running applications; empty restores the default (none).
    static void setRunningApplicationsProvider(RunningApplicationsProvider provider);
    static QList<RunningApplication> runningApplications();

    // The layout of the database files picked by the last selectPhotosDatabase.
    PhotosLibraryLayout layout() const { return m_layout; }

    // ---- State ----
    sqlite3 *db = nullptr;
    sqlite3_stmt *statement = nullptr;
    const QString pattern = QStringLiteral("Z_([0-9]{1,2})ASSETS");
    const QString pattern1 = QStringLiteral("[0-9]");
    QString firstMatched;
    QString secondMatched;
    // The asset rows of the last read, each with its eight fields as texts.
    QVector<PhotoLibraryProperties> photosLibrary;
    QVector<InitialDirectory> photoLibraryItems;
    // The last "Photos App is running." alert shown.
    std::optional<lg::AlertSpec> alertphotoLibrary;

private:
    // What one load reads: the library's files and the private copies, fixed on
    // the main thread before the copy starts.
    struct DatabaseFiles
    {
        QString database, wal, shm, lock;
        QString cacheDatabase, cacheWal, cacheShm, cacheLock;
        PhotosLibraryLayout layout = PhotosLibraryLayout::Legacy;
    };

    void beginLoad(bool background, std::function<void()> done);
    void finishLoad();
    void finishBackgroundLoad(quint64 generation);
    // The first regular application whose bundle identifier is Photos's.
    static std::optional<RunningApplication> findRunningPhotos();
    bool openCopy();

    DatabaseFiles m_files;
    PhotosLibraryLayout m_layout = PhotosLibraryLayout::Legacy;
    uint8_t m_targetMode = 0;
    bool m_background = false;
    bool m_deferPublish = false;
    bool m_readDone = false;
    bool m_alertOpen = false;
    bool m_rerun = false;
    bool m_overlayShown = false;
    quint64 m_generation = 0;
    QFuture<void> m_job;
    QList<std::function<void()>> m_waiting;
};
