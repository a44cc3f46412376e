// Reading Photos libraries of the three layouts from generated fixtures: the
// listed items, the private copy, bad databases and paths, the running-Photos
// alert, the collage and the background load.
#include "app/Essentials.h"
#include "model/FileServices.h"
#include "model/PhotosLibrary.h"
#include "platform/desktop/Paths.h"
#include "tests/support/CaptureStdout.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QVariant>

#include <algorithm>
#include <memory>

#include <sqlite3.h>

namespace {

// A database file written through the sqlite3 API.
class FixtureDb
{
public:
    explicit FixtureDb(const QString &path)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        if (sqlite3_open(QFile::encodeName(path).constData(), &m_db) != SQLITE_OK)
            qFatal("cannot create %s", qPrintable(path));
        exec("PRAGMA synchronous=OFF;");
    }
    ~FixtureDb() { sqlite3_close(m_db); }

    void exec(const char *sql)
    {
        char *error = nullptr;
        if (sqlite3_exec(m_db, sql, nullptr, nullptr, &error) != SQLITE_OK)
            qFatal("fixture statement failed: %s", error);
    }
    // One statement with its values bound (a null QVariant binds NULL).
    void run(const char *sql, const QVariantList &values)
    {
        sqlite3_stmt *s = nullptr;
        if (sqlite3_prepare_v2(m_db, sql, -1, &s, nullptr) != SQLITE_OK)
            qFatal("fixture statement failed: %s", sqlite3_errmsg(m_db));
        for (int i = 0; i < values.size(); ++i) {
            const QVariant &v = values.at(i);
            if (v.isNull())
                sqlite3_bind_null(s, i + 1);
            else if (v.typeId() == QMetaType::Int)
                sqlite3_bind_int(s, i + 1, v.toInt());
            else
                sqlite3_bind_text(s, i + 1, v.toString().toUtf8().constData(), -1, SQLITE_TRANSIENT);
        }
        sqlite3_step(s);
        sqlite3_finalize(s);
    }

private:
    sqlite3 *m_db = nullptr;
};

const QVariant null;

// A library of the newest (ZASSET) or the 10.15 (ZGENERICASSET) layout inside a
// fresh folder, with files for the rows that should list and traps for the rest.
// With keepOpen the database stays open in WAL mode, every row still in its -wal,
// as in a library that Photos is using.
QString makeModernLibrary(const QString &assetTable = QStringLiteral("ZASSET"),
                          std::unique_ptr<FixtureDb> *keepOpen = nullptr)
{
    const QString folder = lg::test::freshFolder(QStringLiteral("modern"));
    const QString lib = folder + QStringLiteral("/Trip.photoslibrary");
    auto db = std::make_unique<FixtureDb>(lib + QStringLiteral("/database/Photos.sqlite"));
    if (keepOpen)
        db->exec("PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;");
    const QByteArray table = assetTable.toLatin1();
    db->exec(("CREATE TABLE " + table + " (Z_PK INTEGER PRIMARY KEY, ZUUID VARCHAR, ZDIRECTORY VARCHAR,"
              " ZFILENAME VARCHAR, ZKIND INTEGER, ZTRASHEDSTATE INTEGER);"
              "CREATE TABLE ZADDITIONALASSETATTRIBUTES (Z_PK INTEGER PRIMARY KEY, ZASSET INTEGER,"
              " ZORIGINALFILENAME VARCHAR, ZORIGINALFILESIZE INTEGER);"
              "CREATE TABLE ZGENERICALBUM (Z_PK INTEGER PRIMARY KEY, ZTITLE VARCHAR, ZKIND INTEGER);"
              "CREATE TABLE Z_26ASSETS (Z_26ALBUMS INTEGER, Z_3ASSETS INTEGER, Z_FOK_3ASSETS INTEGER);"
              "INSERT INTO ZGENERICALBUM VALUES (5, 'Summer', 2), (6, NULL, 2);"
              "INSERT INTO Z_26ASSETS VALUES (5, 1, 1), (5, 3, 2), (6, 2, 1);"
              "INSERT INTO ZADDITIONALASSETATTRIBUTES VALUES (1, 1, 'Beach.JPG', 1234), (2, 2, 'Clip.MOV', 99);")
                 .constData());
    const QByteArray insert = "INSERT INTO " + table + " VALUES (?, ?, ?, ?, ?, ?)";
    const QList<QVariantList> rows = {
        {1, "U1", "A", "IMG_0001.JPG", 0, 0},   // listed, upper-case extension
        {2, "U2", "A", "clip.mov", 1, 0},       // listed video
        {3, "U3", "B", "photo.heic", 0, null},  // listed: no trashed state is not trashed
        {4, "U4", "A", "gone.jpg", 0, 1},       // trashed
        {5, "U5", "../../x", "escape.jpg", 0, 0},
        {6, null, null, null, null, null},
        {7, "U7", "B", "missing.jpg", 0, 0},
        {8, "U8", "B", "notes.txt", 0, 0},
        {9, "U9", "B", "logo.ai", 0, 0},        // the list holds only "AI"
        {10, "U10", "B", "frame.qtif", 0, 0},   // in both lists: an image
        {11, "U11", "/abs", "file.jpg", 0, 0},
        {12, "U12", "C", "link.jpg", 0, 0},     // link out of the package
        {13, "U13", "C", "inner.jpg", 0, 0},    // link inside the package
        {14, "U14", "D", "deep.png", 0, 0},     // folder that is a link out
    };
    for (const QVariantList &row : rows)
        db->run(insert.constData(), row);

    for (const char *file : {"A/IMG_0001.JPG", "A/clip.mov", "B/photo.heic", "A/gone.jpg", "B/notes.txt",
                             "B/logo.ai", "B/frame.qtif", "abs/file.jpg"})
        lg::test::writeFile(lib + QStringLiteral("/originals/") + QLatin1String(file));
    lg::test::writeFile(folder + QStringLiteral("/x/escape.jpg"));
    lg::test::writeFile(folder + QStringLiteral("/x/deep.png"));
    QDir().mkpath(lib + QStringLiteral("/originals/C"));
    QFile::link(folder + QStringLiteral("/x/escape.jpg"), lib + QStringLiteral("/originals/C/link.jpg"));
    QFile::link(QStringLiteral("../A/IMG_0001.JPG"), lib + QStringLiteral("/originals/C/inner.jpg"));
    QFile::link(folder + QStringLiteral("/x"), lib + QStringLiteral("/originals/D"));
    lg::test::writeFile(lib + QStringLiteral("/database/Photos.sqlite.lock"), "lock");
    if (keepOpen)
        *keepOpen = std::move(db);
    return lib;
}

// A library of the layout before 10.15 (photos.db, files under "Masters").
QString makeLegacyLibrary()
{
    const QString folder = lg::test::freshFolder(QStringLiteral("legacy"));
    const QString lib = folder + QStringLiteral("/Old.photoslibrary");
    FixtureDb db(lib + QStringLiteral("/database/photos.db"));
    db.exec("CREATE TABLE RKVersion (modelId INTEGER PRIMARY KEY, uuid VARCHAR, masterUuid VARCHAR,"
            " fileName VARCHAR, isInTrash INTEGER);"
            "CREATE TABLE RKMaster (modelId INTEGER PRIMARY KEY, uuid VARCHAR, imagePath VARCHAR,"
            " fileSize INTEGER, originalFileName VARCHAR);"
            "CREATE TABLE RKAlbumVersion (modelId INTEGER PRIMARY KEY, versionId INTEGER, albumId INTEGER);"
            "INSERT INTO RKMaster VALUES (1, 'M1', '2019/01/02/a.jpg', 100, 'a.jpg'),"
            " (2, 'M2', '2019/01/02/b.MOV', 200, 'b.MOV'), (3, 'M3', '2019/t.jpg', 5, 't.jpg'),"
            " (4, 'M4', '../../x/escape.jpg', 5, 'escape.jpg'), (5, 'M5', NULL, NULL, NULL);"
            "INSERT INTO RKVersion VALUES (10, 'V1', 'M1', 'a.jpg', 0), (11, 'V2', 'M2', 'b.MOV', 0),"
            " (12, 'V3', 'M3', 't.jpg', 1), (13, 'V4', 'M4', 'escape.jpg', 0), (14, NULL, 'M5', NULL, NULL);"
            "INSERT INTO RKAlbumVersion VALUES (1, 10, 7), (2, 10, 8);");
    for (const char *file : {"2019/01/02/a.jpg", "2019/01/02/b.MOV", "2019/t.jpg"})
        lg::test::writeFile(lib + QStringLiteral("/Masters/") + QLatin1String(file));
    lg::test::writeFile(folder + QStringLiteral("/x/escape.jpg"));
    return lib;
}

QStringList listedNames()
{
    QStringList names;
    for (const InitialDirectory &item : std::as_const(itemList))
        names.append(QFileInfo(item.path()).fileName());
    return names;
}

// Every entry under folder with its size, to show that nothing changed there.
QStringList snapshot(const QString &folder)
{
    QStringList entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        entries.append(it.filePath() + QLatin1Char(' ') + QString::number(it.fileInfo().size()));
    }
    entries.sort();
    return entries;
}

InitialDirectory sentinel()
{
    InitialDirectory item;
    item.url = QUrl::fromLocalFile(QStringLiteral("/sentinel.jpg"));
    return item;
}

} // namespace

class TestPhotosLibrary : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        resetSharedState();
        resetPhotosLibraryState();
        for (const QString &path : {cacheDatabasePath(), cacheDatabaseWalPath(), cacheDatabaseShmPath(),
                                    cacheDatabaseLockPath()})
            QFile::remove(path);
    }
    void cleanup()
    {
        PhotosLibraryReader::setRunningApplicationsProvider({});
        lg::Alert::setResponder({});
    }
    void cleanupTestCase() { resetSharedState(); }

    void listsTheAssetsOfTheModernLayouts_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<int>("layout");
        QTest::newRow("newest") << QStringLiteral("ZASSET") << int(PhotosLibraryLayout::Asset);
        QTest::newRow("10.15") << QStringLiteral("ZGENERICASSET") << int(PhotosLibraryLayout::GenericAsset);
    }
    void listsTheAssetsOfTheModernLayouts()
    {
        QFETCH(QString, table);
        QFETCH(int, layout);
        const QString lib = makeModernLibrary(table);
        currentFolderURL = QUrl::fromLocalFile(lib);
        itemList = {sentinel()};
        PhotosLibraryReader reader;
        lg::test::CaptureStdout out;
        reader.loadPhotosLibrary();
        const QByteArray printed = out.finish();

        QCOMPARE(int(reader.layout()), layout);
        QCOMPARE(printed.contains("#available(OSX 11.0, *)"), layout == int(PhotosLibraryLayout::Asset));
        QVERIFY(printed.contains("Matches: firstNumber: 26 secondNumber: 3"));
        // Thirteen rows are not trashed; five of them name media files in the package.
        QCOMPARE(reader.photosLibrary.size(), 13);
        QCOMPARE(listedNames(), QStringList({"IMG_0001.JPG", "clip.mov", "photo.heic", "frame.qtif", "inner.jpg"}));
        QCOMPARE(itemList.at(0).path(), lib + QStringLiteral("/originals/A/IMG_0001.JPG"));
        QCOMPARE(itemList.at(4).path(), lib + QStringLiteral("/originals/C/inner.jpg"));
        const QList<bool> images = {itemList[0].isImage, itemList[1].isImage, itemList[2].isImage, itemList[3].isImage};
        QCOMPARE(images, QList<bool>({true, false, true, true}));
        QVERIFY(itemList.at(0).file.has_value());

        const PhotoLibraryProperties first = *itemList.at(0).photoLibraryProperties;
        QCOMPARE(first.RKVfilename, QStringLiteral("IMG_0001.JPG"));
        QCOMPARE(first.RKMimagePath, QStringLiteral("A"));
        QCOMPARE(first.RKVuuid, QStringLiteral("U1"));
        QCOMPARE(first.OriginalFileName, QStringLiteral("Beach.JPG"));
        QCOMPARE(first.RKMFilSize, QStringLiteral("1234"));
        QVERIFY(first.RKMuuid.isEmpty() && first.RKVmodelId.isEmpty() && first.RKAVMId.isEmpty());
        QVERIFY(itemList.at(2).photoLibraryProperties->OriginalFileName.isEmpty());
        // The row of NULLs is kept as empty texts and lists nothing.
        QVERIFY(std::any_of(reader.photosLibrary.cbegin(), reader.photosLibrary.cend(),
                            [](const PhotoLibraryProperties &p) { return p == PhotoLibraryProperties(); }));
        QVERIFY(!reader.db && !reader.statement);
        QCOMPARE(photosDatabasePath(), lib + QStringLiteral("/database/Photos.sqlite"));
    }

    void listsTheAssetsOfTheLegacyLayout()
    {
        const QString lib = makeLegacyLibrary();
        currentFolderURL = QUrl::fromLocalFile(lib);
        PhotosLibraryReader reader;
        reader.loadPhotosLibrary();

        QCOMPARE(reader.layout(), PhotosLibraryLayout::Legacy);
        QCOMPARE(reader.photosLibrary.size(), 4);
        QCOMPARE(listedNames(), QStringList({"a.jpg", "b.MOV"}));
        QCOMPARE(itemList.at(0).path(), lib + QStringLiteral("/Masters/2019/01/02/a.jpg"));
        QVERIFY(itemList.at(0).isImage && !itemList.at(1).isImage);
        const PhotoLibraryProperties first = *itemList.at(0).photoLibraryProperties;
        QCOMPARE(first.RKMuuid, QStringLiteral("10"));
        QCOMPARE(first.RKVmodelId, first.RKMuuid);
        QCOMPARE(first.RKVfilename, QStringLiteral("a.jpg"));
        QCOMPARE(first.OriginalFileName, first.RKVfilename);
        QCOMPARE(first.RKMimagePath, QStringLiteral("2019/01/02/a.jpg"));
        QCOMPARE(first.RKMFilSize, QStringLiteral("100"));
        QCOMPARE(first.RKVuuid, QStringLiteral("V1"));
        QCOMPARE(first.RKAVMId, QStringLiteral("7"));  // one row although in two albums
        QVERIFY(!QFile::exists(cacheDatabaseLockPath()));
    }

    void readsAPrivateCopyAndLeavesTheLibraryAlone()
    {
        std::unique_ptr<FixtureDb> live;
        const QString lib = makeModernLibrary(QStringLiteral("ZASSET"), &live);
        QVERIFY(QFileInfo(lib + QStringLiteral("/database/Photos.sqlite-wal")).size() > 0);
        const QStringList before = snapshot(lib);
        currentFolderURL = QUrl::fromLocalFile(lib);
        PhotosLibraryReader reader;
        reader.loadPhotosLibrary();

        // Every row is still in the -wal: they are read through its copy.
        QCOMPARE(itemList.size(), 5);
        QCOMPARE(snapshot(lib), before);
        for (const QString &copy : {cacheDatabasePath(), cacheDatabaseWalPath(), cacheDatabaseShmPath()})
            QVERIFY2(QFile::exists(copy), qPrintable(copy));
        QVERIFY(QFile::exists(cacheDatabaseLockPath()));
        live.reset();

        // A library without -wal: the copy of the last one's -wal must not be
        // replayed into this one.
        const QString other = lg::test::freshFolder(QStringLiteral("plain")) + QStringLiteral("/Plain.photoslibrary");
        {
            FixtureDb db(other + QStringLiteral("/database/Photos.sqlite"));
            db.exec("CREATE TABLE ZASSET (Z_PK INTEGER PRIMARY KEY, ZUUID, ZDIRECTORY, ZFILENAME, ZKIND, ZTRASHEDSTATE);"
                    "CREATE TABLE ZADDITIONALASSETATTRIBUTES (Z_PK INTEGER PRIMARY KEY, ZASSET, ZORIGINALFILENAME,"
                    " ZORIGINALFILESIZE);"
                    "INSERT INTO ZASSET VALUES (1, 'P1', '0', 'one.png', 0, 0);");
        }
        lg::test::writeFile(other + QStringLiteral("/originals/0/one.png"));
        currentFolderURL = QUrl::fromLocalFile(other);
        reader.loadPhotosLibrary();
        QCOMPARE(listedNames(), QStringList({"one.png"}));
        QVERIFY(!QFile::exists(cacheDatabaseWalPath()));
        QVERIFY(!QFile::exists(cacheDatabaseLockPath()));
    }

    void badLibrariesListNothingAndStayUntouched_data()
    {
        QTest::addColumn<QByteArray>("database");  // "" means none, "link" a link out of the package
        QTest::newRow("missing") << QByteArray();
        QTest::newRow("not sqlite") << QByteArray("these are not the bytes of a database\n");
        QTest::newRow("zero bytes") << QByteArray("");
        QTest::newRow("truncated") << QByteArray("truncated");
        QTest::newRow("other tables") << QByteArray("other");
        QTest::newRow("link out") << QByteArray("link");
    }
    void badLibrariesListNothingAndStayUntouched()
    {
        QFETCH(QByteArray, database);
        const QString good = makeModernLibrary();
        const QString goodDb = good + QStringLiteral("/database/Photos.sqlite");
        const QString lib = lg::test::freshFolder(QStringLiteral("bad")) + QStringLiteral("/Bad.photoslibrary");
        const QString dbPath = lib + QStringLiteral("/database/Photos.sqlite");
        QDir().mkpath(lib + QStringLiteral("/database"));
        lg::test::writeFile(lib + QStringLiteral("/originals/A/IMG_0001.JPG"));
        const QString tag = QString::fromLatin1(QTest::currentDataTag());
        if (tag == QLatin1String("truncated")) {
            QFile source(goodDb);
            QVERIFY(source.open(QIODevice::ReadOnly));
            lg::test::writeFile(dbPath, source.read(source.size() / 2 + 100));
        } else if (tag == QLatin1String("other tables")) {
            FixtureDb(dbPath).exec("CREATE TABLE notes (body TEXT); INSERT INTO notes VALUES ('hi');");
        } else if (tag == QLatin1String("link out")) {
            QFile::link(goodDb, dbPath);
        } else if (tag != QLatin1String("missing")) {
            lg::test::writeFile(dbPath, database);
        }

        const QStringList before = snapshot(lib);
        currentFolderURL = QUrl::fromLocalFile(lib);
        itemList = {sentinel()};
        PhotosLibraryReader reader;
        reader.loadPhotosLibrary();

        // A damaged file may give the rows before the damage; the others give none.
        QVERIFY(tag == QLatin1String("truncated") ? itemList.size() <= 1 : itemList.isEmpty());
        QVERIFY(!listedNames().contains(QStringLiteral("sentinel.jpg")));
        QVERIFY(!reader.db && !reader.statement);
        QCOMPARE(snapshot(lib), before);
        if (tag == QLatin1String("missing") || tag == QLatin1String("link out"))
            QVERIFY(!QFile::exists(cacheDatabasePath()));  // no empty database made
    }

    void findsTheAlbumTableAndLooksUpAlbums()
    {
        const QString lib = makeModernLibrary();
        PhotosLibraryReader reader;
        QCOMPARE(sqlite3_open_v2(QFile::encodeName(lib + QStringLiteral("/database/Photos.sqlite")).constData(),
                                 &reader.db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
        reader.findAssetTableNumbers();
        QCOMPARE(reader.firstMatched, QStringLiteral("26"));
        QCOMPARE(reader.secondMatched, QStringLiteral("3"));
        QCOMPARE(reader.lookupAlbumName(QStringLiteral("1")), std::make_pair(QStringLiteral("5"), QStringLiteral("Summer")));
        {
            lg::test::CaptureStdout out;
            QCOMPARE(reader.lookupAlbumName(QStringLiteral("2")), std::make_pair(QStringLiteral("6"), QString()));
            QVERIFY(out.finish().contains("albumName not found"));
        }
        QCOMPARE(reader.lookupAlbumName(QStringLiteral("999")), std::make_pair(QString(), QString()));
        // The value is bound, never part of the statement.
        QCOMPARE(reader.lookupAlbumName(QStringLiteral("0 OR 1=1")), std::make_pair(QString(), QString()));
        sqlite3_close(reader.db);

        // A three-digit table number does not match: the last numbers stay.
        const QString path = lg::test::freshFolder(QStringLiteral("numbers")) + QStringLiteral("/n.sqlite");
        FixtureDb(path).exec("CREATE TABLE Z_123ASSETS (Z_123ALBUMS INTEGER, Z_4ASSETS INTEGER);");
        QCOMPARE(sqlite3_open_v2(QFile::encodeName(path).constData(), &reader.db, SQLITE_OPEN_READONLY, nullptr),
                 SQLITE_OK);
        reader.findAssetTableNumbers();
        QCOMPARE(reader.firstMatched, QStringLiteral("26"));
        QCOMPARE(reader.secondMatched, QStringLiteral("3"));

        QCOMPARE(regexMatches(reader.pattern1, QStringLiteral("Z_26ASSETS")), QStringList({"2", "6"}));
        lg::test::CaptureStdout out;
        QVERIFY(regexMatches(QStringLiteral("(["), QStringLiteral("x")).isEmpty());
        QVERIFY(out.finish().startsWith("invalid regex: "));
    }

    void theCollageGetsTheImagesOfItsLibrary()
    {
        QCOMPARE(photosDatabasePath(),
                 lg::Paths::pictures() + QStringLiteral("/Photos Library.photoslibrary/database/photos.db"));
        const QString lib = makeModernLibrary();
        currentFolderURL = QUrl::fromLocalFile(makeLegacyLibrary());
        collageLibraryURL = QUrl::fromLocalFile(lib);
        currentScreenMode = ScreenCollage;
        itemList = {sentinel()};
        isCollageSaved = true;
        PhotosLibraryReader reader;
        reader.loadPhotosLibrary();
        QCOMPARE(collagePhotoList.size(), 4);  // the video is left out
        QCOMPARE(collagePhotoList.first().url->toLocalFile(), lib + QStringLiteral("/originals/A/IMG_0001.JPG"));
        QCOMPARE(itemList.size(), 1);
        QVERIFY(!isCollageSaved);
        reader.loadPhotosLibrary();
        QCOMPARE(collagePhotoList.size(), 8);

        // An extension in capitals is not a library: the last library's files
        // are read again, and nothing is added.
        collageLibraryURL = QUrl::fromLocalFile(lib.chopped(13) + QStringLiteral("PHOTOSLIBRARY"));
        reader.loadPhotosLibrary();
        QCOMPARE(collagePhotoList.size(), 8);
        QCOMPARE(photosDatabasePath(), lib + QStringLiteral("/database/Photos.sqlite"));
    }

    void asksFirstWhilePhotosRuns()
    {
        int terminated = 0;
        int policy = 0;
        PhotosLibraryReader::setRunningApplicationsProvider([&] {
            return QList<RunningApplication>{{QStringLiteral("org.example.viewer"), QStringLiteral("viewer"), 0, {}},
                                             {QStringLiteral("com.apple.Photos"), QStringLiteral("Photos"), policy,
                                              [&] { ++terminated; }}};
        });
        currentFolderURL = QUrl::fromLocalFile(makeModernLibrary());
        itemList = {sentinel()};
        int answer = 1;
        lg::Alert::setResponder([&](const lg::AlertSpec &) { return answer; });
        PhotosLibraryReader reader;

        reader.loadPhotosLibrary();  // Skip Photos Library
        QCOMPARE(lg::Alert::shownAlerts().size(), 1);
        const lg::AlertSpec spec = lg::Alert::shownAlerts().first();
        QCOMPARE(spec.title, QStringLiteral("Photos App is running."));
        QCOMPARE(spec.text, QStringLiteral("Please quit Photos App to continue adding Photos Library."));
        QCOMPARE(spec.buttons, QStringList({"Quit & Retry", "Skip Photos Library"}));
        QTRY_VERIFY(itemList.isEmpty());
        QCOMPARE(terminated, 0);

        answer = 0;  // Quit & Retry
        reader.loadPhotosLibrary();
        QTRY_COMPARE(itemList.size(), 5);
        QCOMPARE(terminated, 1);

        // Photos in the background only is not asked about.
        policy = 1;
        itemList.clear();
        reader.loadPhotosLibrary();
        QCOMPARE(itemList.size(), 5);
        QCOMPARE(lg::Alert::shownAlerts().size(), 2);
    }

    void loadsInTheBackgroundAndKeepsTheNewestResult()
    {
        const QString first = makeModernLibrary();
        currentFolderURL = QUrl::fromLocalFile(first);
        PhotosLibraryReader reader;
        int done = 0;
        reader.loadPhotosLibraryInBackground([&] { ++done; });
        reader.loadPhotosLibraryInBackground([&] { ++done; });
        QVERIFY(isBusy);  // behind the busy overlay
        QTRY_COMPARE(done, 2);
        QCOMPARE(itemList.size(), 5);
        QVERIFY(!reader.isLoading());
        QVERIFY(!isBusy);

        // A synchronous load while one runs wins over it.
        reader.loadPhotosLibraryInBackground([&] { ++done; });
        currentFolderURL = QUrl::fromLocalFile(makeLegacyLibrary());
        reader.loadPhotosLibrary();
        QCOMPARE(listedNames(), QStringList({"a.jpg", "b.MOV"}));
        QTRY_COMPARE(done, 3);
        QCoreApplication::processEvents();  // the dropped load's answer arrives
        QCOMPARE(listedNames(), QStringList({"a.jpg", "b.MOV"}));
    }
};

LG_TEST(TestPhotosLibrary)
#include "test_photoslibrary.moc"
