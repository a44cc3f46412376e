// Loading a Photos library: a generated library of 50,000 assets in the newest
// layout, or the library given on the command line.
//   bench_photos            load time, items, background load time, longest stall
//   bench_photos LIBRARY    the same for LIBRARY, with the first items' paths
// The private copy goes to a temporary cache folder, never the user's.
#include "app/Essentials.h"
#include "model/PhotosLibrary.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

bool exec(sqlite3 *db, const char *sql)
{
    char *error = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &error) == SQLITE_OK)
        return true;
    std::fprintf(stderr, "statement failed: %s\n", error);
    sqlite3_free(error);
    return false;
}

// A library of count assets spread over 16 folders, one in ten a video, each in
// one of 100 albums, with an empty file for every asset.
bool generateLibrary(const QString &lib, int count)
{
    const QString database = lib + QStringLiteral("/database/Photos.sqlite");
    QDir().mkpath(QFileInfo(database).absolutePath());
    sqlite3 *db = nullptr;
    if (sqlite3_open(QFile::encodeName(database).constData(), &db) != SQLITE_OK)
        return false;
    bool ok = exec(db,
                   "BEGIN;"
                   "CREATE TABLE ZASSET (Z_PK INTEGER PRIMARY KEY, ZUUID VARCHAR, ZDIRECTORY VARCHAR,"
                   " ZFILENAME VARCHAR, ZKIND INTEGER, ZTRASHEDSTATE INTEGER);"
                   "CREATE TABLE ZADDITIONALASSETATTRIBUTES (Z_PK INTEGER PRIMARY KEY, ZASSET INTEGER,"
                   " ZORIGINALFILENAME VARCHAR, ZORIGINALFILESIZE INTEGER);"
                   "CREATE INDEX ZADDITIONALASSETATTRIBUTES_ZASSET ON ZADDITIONALASSETATTRIBUTES (ZASSET);"
                   "CREATE TABLE ZGENERICALBUM (Z_PK INTEGER PRIMARY KEY, ZTITLE VARCHAR, ZKIND INTEGER);"
                   "CREATE TABLE Z_26ASSETS (Z_26ALBUMS INTEGER, Z_3ASSETS INTEGER, Z_FOK_3ASSETS INTEGER);"
                   "CREATE INDEX Z_26ASSETS_Z_3ASSETS ON Z_26ASSETS (Z_3ASSETS);");
    sqlite3_stmt *asset = nullptr;
    sqlite3_stmt *attributes = nullptr;
    sqlite3_stmt *album = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO ZASSET VALUES (?, ?, ?, ?, ?, 0)", -1, &asset, nullptr);
    sqlite3_prepare_v2(db, "INSERT INTO ZADDITIONALASSETATTRIBUTES VALUES (?, ?, ?, ?)", -1, &attributes, nullptr);
    sqlite3_prepare_v2(db, "INSERT INTO Z_26ASSETS VALUES (?, ?, 1)", -1, &album, nullptr);
    for (int folder = 0; folder < 16; ++folder)
        QDir().mkpath(lib + QStringLiteral("/originals/") + QString::number(folder, 16).toUpper());
    for (int i = 1; ok && i <= count; ++i) {
        const QByteArray folder = QByteArray::number(i % 16, 16).toUpper();
        const QByteArray name = "IMG_" + QByteArray::number(i).rightJustified(5, '0') + (i % 10 ? ".JPG" : ".MOV");
        const QByteArray uuid = "UUID-" + QByteArray::number(i);
        sqlite3_bind_int(asset, 1, i);
        sqlite3_bind_text(asset, 2, uuid.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(asset, 3, folder.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(asset, 4, name.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(asset, 5, i % 10 ? 0 : 1);
        sqlite3_bind_int(attributes, 1, i);
        sqlite3_bind_int(attributes, 2, i);
        sqlite3_bind_text(attributes, 3, name.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(attributes, 4, 1000 + i);
        sqlite3_bind_int(album, 1, 1 + i % 100);
        sqlite3_bind_int(album, 2, i);
        for (sqlite3_stmt *s : {asset, attributes, album}) {
            ok = ok && sqlite3_step(s) == SQLITE_DONE;
            sqlite3_reset(s);
        }
        const QByteArray file = QFile::encodeName(lib + QStringLiteral("/originals/")) + folder + '/' + name;
        const int fd = ::open(file.constData(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        ok = ok && fd >= 0;
        if (fd >= 0)
            ::close(fd);
    }
    for (int i = 1; ok && i <= 100; ++i) {
        const QByteArray sql = "INSERT INTO ZGENERICALBUM VALUES (" + QByteArray::number(i) + ", 'Album "
            + QByteArray::number(i) + "', 2)";
        ok = exec(db, sql.constData());
    }
    sqlite3_finalize(asset);
    sqlite3_finalize(attributes);
    sqlite3_finalize(album);
    ok = ok && exec(db, "COMMIT;");
    sqlite3_close(db);
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir scratch;
    if (!scratch.isValid())
        return 2;
    setenv("XDG_CACHE_HOME", QFile::encodeName(scratch.path() + QStringLiteral("/cache")).constData(), 1);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("lumengallery"));

    const bool given = argc > 1;
    QString library;
    if (given) {
        library = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();
    } else {
        library = scratch.path() + QStringLiteral("/Bench.photoslibrary");
        QElapsedTimer made;
        made.start();
        if (!generateLibrary(library, 50000)) {
            std::fprintf(stderr, "could not generate the library\n");
            return 1;
        }
        std::printf("generate time: %lld ms\n", made.elapsed());
    }
    currentFolderURL = QUrl::fromLocalFile(library);

    PhotosLibraryReader reader;
    QElapsedTimer timer;
    timer.start();
    reader.loadPhotosLibrary();
    std::printf("load time: %lld ms\n", timer.elapsed());
    std::printf("items: %lld\n", static_cast<long long>(itemList.size()));
    if (given) {
        for (qsizetype i = 0; i < std::min<qsizetype>(itemList.size(), 10); ++i)
            std::printf("item %lld: %s\n", static_cast<long long>(i + 1), qPrintable(itemList.at(i).path()));
    }

    // The same load in the background, with the main thread's longest wait
    // between two turns of its event loop.
    itemList.clear();
    QEventLoop loop;
    QElapsedTimer lag;
    qint64 longestStall = 0;
    QTimer tick;
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longestStall = std::max(longestStall, lag.restart());
    });
    lag.start();
    tick.start();
    timer.restart();
    reader.loadPhotosLibraryInBackground([&] { loop.quit(); });
    loop.exec();
    tick.stop();
    longestStall = std::max(longestStall, lag.elapsed());
    std::printf("background load time: %lld ms\n", timer.elapsed());
    std::printf("longest stall: %lld ms\n", longestStall);
    std::printf("background items: %lld\n", static_cast<long long>(itemList.size()));
    return 0;
}
