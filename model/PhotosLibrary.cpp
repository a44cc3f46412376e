#include "model/PhotosLibrary.h"

#include "model/ScreenHooks.h"
#include "model/SharedState.h"
#include "model/FileServices.h"
#include "platform/runtime/Background.h"
#include "platform/runtime/Console.h"
#include "platform/desktop/Paths.h"
#include "platform/files/names/FileNames.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QPointer>
#include <QRegularExpression>
#include <QSet>

#include <sqlite3.h>

#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

using lg::printLine;

namespace {

// ---- Statements ----
// The join table between albums and assets is Z_<n>ASSETS with the columns
// Z_<n>ALBUMS and Z_<m>ASSETS; the numbers differ between libraries. Each row
// gives the table's name and its asset column's name.
const char *const discoveryStatement =
    "SELECT m.name, c.name FROM sqlite_master AS m, pragma_table_info(m.name) AS c"
    " WHERE m.type = 'table' AND m.name GLOB 'Z_[0-9]*ASSETS' AND c.name GLOB 'Z_[0-9]*ASSETS'"
    " AND EXISTS (SELECT 1 FROM pragma_table_info(m.name) AS k"
    " WHERE k.name = 'Z_' || substr(m.name, 3, length(m.name) - 8) || 'ALBUMS')"
    " ORDER BY m.name, c.cid";

// Columns: 0 file name, 1 folder under "originals", 2 kind, 3 original size,
// 4 original file name, 5 Z_PK, 6 uuid. Trashed assets are left out.
const char *const assetStatement =
    "SELECT a.ZFILENAME, a.ZDIRECTORY, a.ZKIND, x.ZORIGINALFILESIZE, x.ZORIGINALFILENAME, a.Z_PK, a.ZUUID"
    " FROM ZASSET AS a LEFT JOIN ZADDITIONALASSETATTRIBUTES AS x ON x.ZASSET = a.Z_PK"
    " WHERE a.ZTRASHEDSTATE IS NULL OR a.ZTRASHEDSTATE = 0"
    " ORDER BY a.Z_PK";

// The same over the asset table of macOS 10.15.
const char *const genericAssetStatement =
    "SELECT a.ZFILENAME, a.ZDIRECTORY, a.ZKIND, x.ZORIGINALFILESIZE, x.ZORIGINALFILENAME, a.Z_PK, a.ZUUID"
    " FROM ZGENERICASSET AS a LEFT JOIN ZADDITIONALASSETATTRIBUTES AS x ON x.ZASSET = a.Z_PK"
    " WHERE a.ZTRASHEDSTATE IS NULL OR a.ZTRASHEDSTATE = 0"
    " ORDER BY a.Z_PK";

// Columns: 0 master uuid, 1 path under "Masters", 2 file size, 3 version uuid,
// 4 version id, 5 file name, 6 an album of the version, 7 original file name.
const char *const legacyStatement =
    "SELECT m.uuid, m.imagePath, m.fileSize, v.uuid, v.modelId, v.fileName,"
    " (SELECT MIN(av.albumId) FROM RKAlbumVersion AS av WHERE av.versionId = v.modelId),"
    " m.originalFileName"
    " FROM RKVersion AS v JOIN RKMaster AS m ON m.uuid = v.masterUuid"
    " WHERE v.isInTrash IS NULL OR v.isInTrash = 0"
    " ORDER BY v.modelId";

// The album lookup: Z_<n> + tableSuffix names the join table, Z_<m> + tableSuffix
// its asset column, Z_<n> + albumColumnSuffix its album column.
const QString tableSuffix = QStringLiteral("ASSETS");
const QString albumColumnSuffix = QStringLiteral("ALBUMS");
const char *const albumTitleStatement = "SELECT ZTITLE FROM ZGENERICALBUM WHERE Z_PK = ?";

QString columnText(sqlite3_stmt *statement, int column)
{
    const unsigned char *text = sqlite3_column_text(statement, column);
    if (!text)
        return QString();
    return QString::fromUtf8(reinterpret_cast<const char *>(text), sqlite3_column_bytes(statement, column));
}

QString errorMessage(sqlite3 *db)
{
    return QString::fromUtf8(db ? sqlite3_errmsg(db) : "no database");
}

QString quotedIdentifier(QString name)
{
    name.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + name + QLatin1Char('"');
}

// True when something (even a dangling link) is at path.
bool pathPresent(const QString &path)
{
    struct stat st {};
    return !path.isEmpty() && lstat(lg::FileNames::toNative(path).constData(), &st) == 0;
}

// The library package of a database file: its path without the file name and
// the "database" folder.
QString packageRootOf(const QString &databasePath)
{
    QString root = QDir::cleanPath(databasePath);
    for (int i = 0; i < 2; ++i) {
        const int slash = root.lastIndexOf(QLatin1Char('/'));
        root = slash > 0 ? root.left(slash) : QStringLiteral("/");
    }
    return root;
}

// A regular file at path whose real location (links followed) is inside the
// package whose real path is canonicalRoot.
bool isFileInsidePackage(const QString &path, const QString &canonicalRoot)
{
    if (canonicalRoot.isEmpty())
        return false;
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return !canonical.isEmpty() && QFileInfo(canonical).isFile()
        && lg::LexicalPaths::isInside(canonical, canonicalRoot);
}

// One folder of the package: whether it really lies inside the package, and
// the type of each of its entries (DT_REG, DT_LNK, ...) from one listing, so
// that the files of a large library need no call each to be found.
struct FolderListing
{
    bool insidePackage = false;
    QHash<QString, unsigned char> entries;
};

FolderListing listFolder(const QString &folder, const QString &canonicalRoot)
{
    FolderListing listing;
    const QString real = QFileInfo(folder).canonicalFilePath();
    listing.insidePackage = !real.isEmpty() && lg::LexicalPaths::isInside(real, canonicalRoot);
    if (!listing.insidePackage)
        return listing;
    DIR *dir = opendir(lg::FileNames::toNative(folder).constData());
    if (!dir)
        return listing;
    while (const dirent *entry = readdir(dir)) {
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            struct stat st {};
            if (fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            type = S_ISREG(st.st_mode) ? DT_REG : S_ISLNK(st.st_mode) ? DT_LNK : DT_DIR;
        }
        listing.entries.insert(lg::FileNames::fromNative(entry->d_name), type);
    }
    closedir(dir);
    return listing;
}

// The media file of an asset row inside the package, or an empty text when the
// row names nothing there: a path with "..", an absolute piece, a missing file,
// or a folder or link that leads out of the package. folders caches the
// listing of each folder met.
QString mediaFilePath(PhotosLibraryLayout layout, const PhotoLibraryProperties &row, const QString &root,
                      const QString &canonicalRoot, QHash<QString, FolderListing> &folders)
{
    const bool legacy = layout == PhotosLibraryLayout::Legacy;
    const QString relative = legacy ? row.RKMimagePath : row.RKMimagePath + QLatin1Char('/') + row.RKVfilename;
    if (row.RKMimagePath.startsWith(QLatin1Char('/')) || relative.contains(QChar(0)))
        return QString();
    if (legacy ? row.RKMimagePath.isEmpty() : (row.RKVfilename.isEmpty() || row.RKVfilename.startsWith(QLatin1Char('/'))))
        return QString();
    const QStringList parts = relative.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (parts.isEmpty() || parts.contains(QStringLiteral("..")))
        return QString();

    const QString mediaFolder = root + (legacy ? QStringLiteral("/Masters") : QStringLiteral("/originals"));
    const QString path = QDir::cleanPath(mediaFolder + QLatin1Char('/') + parts.join(QLatin1Char('/')));
    if (!lg::LexicalPaths::isInside(path, mediaFolder) || path == mediaFolder)
        return QString();

    const int slash = path.lastIndexOf(QLatin1Char('/'));
    const QString folder = path.left(slash);
    auto listing = folders.constFind(folder);
    if (listing == folders.constEnd())
        listing = folders.insert(folder, listFolder(folder, canonicalRoot));
    if (!listing->insidePackage)
        return QString();
    switch (listing->entries.value(path.mid(slash + 1), DT_UNKNOWN)) {
    case DT_REG:
        return path;
    case DT_LNK:
        return isFileInsidePackage(path, canonicalRoot) ? path : QString();
    default:
        return QString();  // missing, or not a file
    }
}

// The extension lists as sets of their exact entries.
const QSet<QString> &imageExtensionSet()
{
    static const QSet<QString> set(imageExtensions.cbegin(), imageExtensions.cend());
    return set;
}

const QSet<QString> &videoExtensionSet()
{
    static const QSet<QString> set(videoExtensions.cbegin(), videoExtensions.cend());
    return set;
}

// ---- Application-wide values ----
struct LibraryPaths
{
    QString database, wal, shm, lock;
    bool made = false;
};

LibraryPaths &libraryPaths()
{
    static LibraryPaths paths;
    if (!paths.made) {
        paths.database = defaultLibraryFilePath(QStringLiteral("/database/photos.db"));
        paths.wal = defaultLibraryFilePath(QStringLiteral("/database/photos.db-wal"));
        paths.shm = defaultLibraryFilePath(QStringLiteral("/database/photos.db-shm"));
        paths.lock = defaultLibraryFilePath(QStringLiteral("/database/Photos.sqlite.lock"));
        paths.made = true;
    }
    return paths;
}

// The hub's busy overlay covers a background load; there is none without a
// widget application (the benchmark runs without one).
bool showBusyOverlay()
{
    const QCoreApplication *application = QCoreApplication::instance();
    if (!application || !application->inherits("QApplication"))
        return false;
    if (screenHooks().showBusyOverlay)
        screenHooks().showBusyOverlay();
    return true;
}

void hideBusyOverlay()
{
    if (screenHooks().hideBusyOverlay)
        screenHooks().hideBusyOverlay();
}

PhotosLibraryReader::RunningApplicationsProvider &runningApplicationsProvider()
{
    static PhotosLibraryReader::RunningApplicationsProvider provider;
    return provider;
}

} // namespace

std::optional<QUrl> collageLibraryURL;

QString &photosDatabasePath() { return libraryPaths().database; }
QString &photosDatabaseWalPath() { return libraryPaths().wal; }
QString &photosDatabaseShmPath() { return libraryPaths().shm; }
QString &photosDatabaseLockPath() { return libraryPaths().lock; }

QString defaultLibraryFilePath(const QString &tail)
{
    return lg::Paths::defaultPhotosLibrary() + tail;
}

void resetPhotosLibraryState()
{
    libraryPaths().made = false;
    collageLibraryURL.reset();
}

QStringList regexMatches(const QString &pattern, const QString &text)
{
    const QRegularExpression expression(pattern);
    if (!expression.isValid()) {
        printLine(QStringLiteral("invalid regex: ") + expression.errorString());
        return {};
    }
    QStringList matches;
    QRegularExpressionMatchIterator it = expression.globalMatch(text);
    while (it.hasNext())
        matches.append(it.next().captured(0));
    return matches;
}

bool isPhotosLibraryURL(const std::optional<QUrl> &url)
{
    if (!url || !url->isLocalFile())
        return false;
    const QString name = QFileInfo(QDir::cleanPath(lg::FileNames::pathOf(*url))).fileName();
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 && QStringView(name).mid(dot + 1) == QLatin1String("photoslibrary");
}

// ---- PhotosLibraryReader ----

PhotosLibraryReader::PhotosLibraryReader(QObject *parent) : QObject(parent) {}

PhotosLibraryReader::~PhotosLibraryReader()
{
    m_job.waitForFinished();
    if (m_overlayShown)
        hideBusyOverlay();
    if (statement)
        sqlite3_finalize(statement);
    if (db)
        sqlite3_close(db);
}

void PhotosLibraryReader::setRunningApplicationsProvider(RunningApplicationsProvider provider)
{
    runningApplicationsProvider() = std::move(provider);
}

QList<RunningApplication> PhotosLibraryReader::runningApplications()
{
    // No Photos application exists on this system: by default nothing runs.
    const RunningApplicationsProvider &provider = runningApplicationsProvider();
    return provider ? provider() : QList<RunningApplication>();
}

std::optional<RunningApplication> PhotosLibraryReader::findRunningPhotos()
{
    for (const RunningApplication &application : runningApplications()) {
        if (application.activationPolicy != 0 || application.bundleIdentifier.isEmpty())
            continue;
        if (application.bundleIdentifier.toLower() == QLatin1String("com.apple.photos"))
            return application;
    }
    return std::nullopt;
}

void PhotosLibraryReader::loadPhotosLibrary()
{
    beginLoad(false, {});
}

void PhotosLibraryReader::loadPhotosLibraryInBackground(std::function<void()> done)
{
    beginLoad(true, std::move(done));
}

bool PhotosLibraryReader::isLoading() const
{
    return m_job.isRunning();
}

void PhotosLibraryReader::beginLoad(bool background, std::function<void()> done)
{
    if (done)
        m_waiting.append(std::move(done));
    // The open alert's answer goes on with the load.
    if (m_alertOpen)
        return;
    if (background && m_job.isRunning()) {
        // One more load after the running one: it reads the newest state.
        m_rerun = true;
        return;
    }
    if (!background) {
        // A load that must finish now: a background one still running (or whose
        // result is on its way) is dropped.
        m_job.waitForFinished();
        ++m_generation;
        m_rerun = false;
    }
    m_background = background;
    if (findRunningPhotos()) {
        // Photos writes its database while it runs: ask first. No sleep follows
        // here; the answer arrives through the alert's callback.
        showPhotosRunningAlert();
        return;
    }
    selectPhotosDatabase();
}

void PhotosLibraryReader::showPhotosRunningAlert()
{
    lg::AlertSpec spec;
    spec.style = lg::AlertSpec::Style::Warning;
    spec.title = QStringLiteral("Photos App is running.");
    spec.text = QStringLiteral("Please quit Photos App to continue adding Photos Library.");
    spec.buttons = {QStringLiteral("Quit & Retry"), QStringLiteral("Skip Photos Library")};
    alertphotoLibrary = spec;
    m_alertOpen = true;
    QPointer<PhotosLibraryReader> self(this);
    lg::Alert::show(lg::Alert::activeWindow(), spec, [self](int button) {
        if (!self)
            return;
        self->m_alertOpen = false;
        if (button == 0)
            self->removePhotoApp();
        else
            self->skipPhotosLibrary();
    });
}

void PhotosLibraryReader::skipPhotosLibrary()
{
    m_alertOpen = false;
    photoLibraryItems.clear();
    m_targetMode = currentScreenMode;
    publishPhotoLibraryItems();
    finishLoad();
}

void PhotosLibraryReader::removePhotoApp()
{
    m_alertOpen = false;
    // A polite quit request; nothing waits for Photos to end.
    if (const std::optional<RunningApplication> photos = findRunningPhotos(); photos && photos->terminate)
        photos->terminate();
    selectPhotosDatabase();
}

void PhotosLibraryReader::selectPhotosDatabase()
{
    const std::optional<QUrl> library = currentScreenMode == ScreenCollage ? collageLibraryURL : currentFolderURL;
    m_targetMode = currentScreenMode;
    if (isPhotosLibraryURL(library)) {
        const QString lib = QDir::cleanPath(lg::FileNames::pathOf(*library));
        // The library's own files say which layout it has.
        if (QFileInfo::exists(lib + QStringLiteral("/database/Photos.sqlite"))) {
            photosDatabasePath() = lib + QStringLiteral("/database/Photos.sqlite");
            photosDatabaseWalPath() = lib + QStringLiteral("/database/Photos.sqlite-wal");
            photosDatabaseShmPath() = lib + QStringLiteral("/database/Photos.sqlite-shm");
            photosDatabaseLockPath() = lib + QStringLiteral("/database/Photos.sqlite.lock");
        } else {
            photosDatabasePath() = lib + QStringLiteral("/database/photos.db");
            photosDatabaseWalPath() = lib + QStringLiteral("/database/photos.db-wal");
            photosDatabaseShmPath() = lib + QStringLiteral("/database/photos.db-shm");
        }
    }

    m_files.database = photosDatabasePath();
    m_files.wal = photosDatabaseWalPath();
    m_files.shm = photosDatabaseShmPath();
    m_files.lock = photosDatabaseLockPath();
    m_files.cacheDatabase = cacheDatabasePath();
    m_files.cacheWal = cacheDatabaseWalPath();
    m_files.cacheShm = cacheDatabaseShmPath();
    m_files.cacheLock = cacheDatabaseLockPath();
    m_files.layout = QFileInfo(m_files.database).fileName() == QLatin1String("Photos.sqlite")
        ? PhotosLibraryLayout::Asset : PhotosLibraryLayout::Legacy;
    m_layout = m_files.layout;

    if (!m_background) {
        m_deferPublish = false;
        copyAndOpenPhotosDatabase();
        finishLoad();
        return;
    }
    m_deferPublish = true;
    m_readDone = false;
    if (!m_overlayShown)
        m_overlayShown = showBusyOverlay();
    const quint64 generation = ++m_generation;
    m_job = lg::runOnPool([this, generation] {
        copyAndOpenPhotosDatabase();
        QMetaObject::invokeMethod(this, [this, generation] { finishBackgroundLoad(generation); },
                                  Qt::QueuedConnection);
    });
}

void PhotosLibraryReader::finishBackgroundLoad(quint64 generation)
{
    m_job.waitForFinished();  // the work item is returning; this only joins it
    if (generation != m_generation)
        return;  // a later load took its place
    if (m_rerun) {
        m_rerun = false;
        beginLoad(true, {});
        return;
    }
    if (m_readDone)
        publishPhotoLibraryItems();
    finishLoad();
}

void PhotosLibraryReader::finishLoad()
{
    if (m_overlayShown) {
        m_overlayShown = false;
        hideBusyOverlay();
    }
    const QList<std::function<void()>> waiting = std::exchange(m_waiting, {});
    for (const std::function<void()> &done : waiting)
        done();
}

void PhotosLibraryReader::copyAndOpenPhotosDatabase()
{
    m_readDone = false;
    const DatabaseFiles files = m_files;

    // A copy left from an earlier load must go: a stale -wal beside a new copy
    // would be replayed into it.
    bool cleared = true;
    for (const QString &old : {files.cacheDatabase, files.cacheWal, files.cacheShm}) {
        if (pathPresent(old) && !QFile::remove(old))
            cleared = false;
    }

    // Only files that really lie inside the package are copied.
    const QString canonicalRoot = QFileInfo(packageRootOf(files.database)).canonicalFilePath();
    const auto copyFromPackage = [&canonicalRoot](const QString &from, const QString &to) {
        if (!pathPresent(from) || !isFileInsidePackage(from, canonicalRoot))
            return false;
        if (!QFile::copy(from, to))
            return false;
        // The copy is ours: readable and writable whatever the library's modes.
        QFile::setPermissions(to, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        return true;
    };
    const bool copied = cleared && copyFromPackage(files.database, files.cacheDatabase);
    if (copied) {
        copyFromPackage(files.wal, files.cacheWal);
        copyFromPackage(files.shm, files.cacheShm);
    }
    if (files.layout != PhotosLibraryLayout::Legacy) {
        if (pathPresent(files.cacheLock))
            QFile::remove(files.cacheLock);
        copyFromPackage(files.lock, files.cacheLock);
    }

    if (!copied) {
        // Nothing to read (no database, or one that cannot be copied): the
        // library shows empty. No database is made anywhere in its place.
        photosLibrary.clear();
        makePhotoLibraryItems();
        return;
    }
    if (!openCopy())
        return;

    if (files.layout != PhotosLibraryLayout::Legacy) {
        // The asset table's name tells the newest layout from the 10.15 one.
        sqlite3_stmt *probe = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?", -1, &probe,
                               nullptr) == SQLITE_OK) {
            sqlite3_bind_text(probe, 1, "ZASSET", -1, SQLITE_STATIC);
            const bool hasAsset = sqlite3_step(probe) == SQLITE_ROW;
            sqlite3_reset(probe);
            sqlite3_bind_text(probe, 1, "ZGENERICASSET", -1, SQLITE_STATIC);
            const bool hasGenericAsset = sqlite3_step(probe) == SQLITE_ROW;
            m_layout = !hasAsset && hasGenericAsset ? PhotosLibraryLayout::GenericAsset : PhotosLibraryLayout::Asset;
        }
        sqlite3_finalize(probe);
    }
    findAssetTableNumbers();
    readPhotoAssets();
}

bool PhotosLibraryReader::openCopy()
{
    const QByteArray path = lg::FileNames::toNative(m_files.cacheDatabase);
    // Read-only first. A copied WAL database may need to rebuild its -shm index,
    // which a read-only connection cannot always do; the copy is private, so a
    // read-write connection (never one that creates a file) is the fallback.
    for (const int flags : {SQLITE_OPEN_READONLY, SQLITE_OPEN_READWRITE}) {
        sqlite3 *connection = nullptr;
        if (sqlite3_open_v2(path.constData(), &connection, flags, nullptr) != SQLITE_OK) {
            sqlite3_close(connection);
            continue;
        }
        sqlite3_stmt *probe = nullptr;
        int rc = sqlite3_prepare_v2(connection, "SELECT count(*) FROM sqlite_master", -1, &probe, nullptr);
        if (rc == SQLITE_OK)
            rc = sqlite3_step(probe);
        sqlite3_finalize(probe);
        const int primary = rc & 0xff;
        if (flags == SQLITE_OPEN_READONLY && (primary == SQLITE_READONLY || primary == SQLITE_CANTOPEN)) {
            sqlite3_close(connection);
            continue;
        }
        // Any other failure (not a database, damaged) is the readers' concern:
        // they find no rows.
        db = connection;
        return true;
    }
    return false;
}

void PhotosLibraryReader::findAssetTableNumbers()
{
    sqlite3_stmt *discovery = nullptr;
    if (!db || sqlite3_prepare_v2(db, discoveryStatement, -1, &discovery, nullptr) != SQLITE_OK) {
        printLine(QStringLiteral("error preparing select: ") + errorMessage(db));
        sqlite3_finalize(discovery);
        return;
    }
    while (sqlite3_step(discovery) == SQLITE_ROW) {
        QString table;
        QString column;
        if (sqlite3_column_type(discovery, 0) == SQLITE_NULL) {
            printLine(QStringLiteral("Table not found"));
        } else {
            const QString text = columnText(discovery, 0);
            if (!regexMatches(pattern, text).isEmpty())
                table = text;
        }
        if (sqlite3_column_type(discovery, 1) == SQLITE_NULL) {
            printLine(QStringLiteral("Column not found"));
        } else {
            const QString text = columnText(discovery, 1);
            if (!regexMatches(pattern, text).isEmpty())
                column = text;
        }
        if (table.isEmpty() || column.isEmpty())
            continue;
        firstMatched = regexMatches(pattern1, table).join(QString());
        secondMatched = regexMatches(pattern1, column).join(QString());
        printLine(QStringLiteral("Matches: firstNumber: ") + firstMatched + QStringLiteral(" secondNumber: ")
                  + secondMatched);
    }
    sqlite3_finalize(discovery);
}

void PhotosLibraryReader::readPhotoAssets()
{
    const char *text = legacyStatement;
    switch (m_layout) {
    case PhotosLibraryLayout::Asset:
        printLine(QStringLiteral("#available(OSX 11.0, *)"));
        text = assetStatement;
        break;
    case PhotosLibraryLayout::GenericAsset:
        text = genericAssetStatement;
        break;
    case PhotosLibraryLayout::Legacy:
        break;
    }

    photosLibrary.clear();
    if (db && sqlite3_prepare_v2(db, text, -1, &statement, nullptr) == SQLITE_OK) {
        const bool legacy = m_layout == PhotosLibraryLayout::Legacy;
        // A damaged file ends the loop early: the rows read so far stay.
        while (sqlite3_step(statement) == SQLITE_ROW) {
            PhotoLibraryProperties row;
            if (legacy) {
                row.RKMuuid = columnText(statement, 4);
                row.RKMimagePath = columnText(statement, 1);
                row.RKMFilSize = columnText(statement, 2);
                row.RKVuuid = columnText(statement, 3);
                row.RKVmodelId = columnText(statement, 4);
                row.RKVfilename = columnText(statement, 5);
                row.RKAVMId = columnText(statement, 6);
                row.OriginalFileName = columnText(statement, 5);
            } else {
                row.RKMimagePath = columnText(statement, 1);
                row.RKMFilSize = columnText(statement, 3);
                row.RKVuuid = columnText(statement, 6);
                row.RKVfilename = columnText(statement, 0);
                row.OriginalFileName = columnText(statement, 4);
            }
            photosLibrary.append(row);
        }
    } else {
        printLine(QStringLiteral("error preparing select: ") + errorMessage(db));
    }

    makePhotoLibraryItems();

    sqlite3_finalize(statement);
    statement = nullptr;
    sqlite3_close(db);
    db = nullptr;
}

std::pair<QString, QString> PhotosLibraryReader::lookupAlbumName(const QString &value)
{
    QString keyName;
    QString albumName;
    if (!db)
        return {keyName, albumName};

    const QString table = QStringLiteral("Z_") + firstMatched + tableSuffix;
    const QString assetColumn = QStringLiteral("Z_") + secondMatched + tableSuffix;
    const QString albumColumn = QStringLiteral("Z_") + firstMatched + albumColumnSuffix;
    const QByteArray select = (QStringLiteral("SELECT ") + quotedIdentifier(albumColumn) + QStringLiteral(" FROM ")
                               + quotedIdentifier(table) + QStringLiteral(" WHERE ") + quotedIdentifier(assetColumn)
                               + QStringLiteral(" = ?"))
                                  .toUtf8();
    const QByteArray boundValue = value.toUtf8();

    sqlite3_stmt *lookup = nullptr;
    if (sqlite3_prepare_v2(db, select.constData(), -1, &lookup, nullptr) != SQLITE_OK) {
        printLine(QStringLiteral("error preparing select: ") + errorMessage(db));
    } else {
        sqlite3_bind_text(lookup, 1, boundValue.constData(), int(boundValue.size()), SQLITE_TRANSIENT);
        while (sqlite3_step(lookup) == SQLITE_ROW) {
            if (sqlite3_column_type(lookup, 0) == SQLITE_NULL)
                printLine(QStringLiteral("keyName not found"));
            else
                keyName = columnText(lookup, 0);
        }
    }
    sqlite3_finalize(lookup);
    if (keyName.isEmpty())
        return {keyName, albumName};

    const QByteArray key = keyName.toUtf8();
    sqlite3_stmt *title = nullptr;
    if (sqlite3_prepare_v2(db, albumTitleStatement, -1, &title, nullptr) != SQLITE_OK) {
        printLine(QStringLiteral("error preparing select: ") + errorMessage(db));
    } else {
        sqlite3_bind_text(title, 1, key.constData(), int(key.size()), SQLITE_TRANSIENT);
        while (sqlite3_step(title) == SQLITE_ROW) {
            if (sqlite3_column_type(title, 0) == SQLITE_NULL)
                printLine(QStringLiteral("albumName not found"));
            else
                albumName = columnText(title, 0);
        }
    }
    sqlite3_finalize(title);
    return {keyName, albumName};
}

void PhotosLibraryReader::makePhotoLibraryItems()
{
    photoLibraryItems.clear();
    const QString root = packageRootOf(m_files.database);
    const QString canonicalRoot = QFileInfo(root).canonicalFilePath();
    if (!canonicalRoot.isEmpty()) {
        photoLibraryItems.reserve(photosLibrary.size());
        QHash<QString, FolderListing> folders;
        for (const PhotoLibraryProperties &row : std::as_const(photosLibrary)) {
            const QString path = mediaFilePath(m_layout, row, root, canonicalRoot, folders);
            if (path.isEmpty())
                continue;
            const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
            const int dot = name.lastIndexOf(QLatin1Char('.'));
            const QString extension = dot >= 0 ? name.mid(dot + 1).toLower() : QString();
            const bool image = imageExtensionSet().contains(extension);
            if (!image && !videoExtensionSet().contains(extension))
                continue;
            InitialDirectory item = Metadata::init(lg::FileNames::urlOf(path));
            item.photoLibraryProperties = row;
            item.isImage = image;
            photoLibraryItems.append(std::move(item));
        }
    }
    if (m_deferPublish)
        m_readDone = true;  // published on the main thread when the work item ends
    else
        publishPhotoLibraryItems();
}

void PhotosLibraryReader::publishPhotoLibraryItems()
{
    if (m_targetMode != ScreenCollage) {
        itemList = photoLibraryItems;
        return;
    }
    if (!isPhotosLibraryURL(collageLibraryURL))
        return;
    for (const InitialDirectory &item : std::as_const(photoLibraryItems)) {
        if (item.isImage)
            collagePhotoList.append(arrayStruct{item.url, false});
    }
    if (screenHooks().collagePhotosAdded)
        screenHooks().collagePhotosAdded();
}
