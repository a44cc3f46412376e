// The desktop's shared thumbnail cache: names, what is trusted, how it is written.
#include <glib.h>  // before Qt: GLib names a member "signals"

#include "platform/image/ThumbnailStore.h"
#include "platform/files/names/FileNames.h"
#include "tests/support/TestSupport.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <QDateTime>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString md5Name(const QByteArray &uri)
{
    return QString::fromLatin1(QCryptographicHash::hash(uri, QCryptographicHash::Md5).toHex()) + QStringLiteral(".png");
}

// A thumbnail as another program writes it: Qt's own PNG writer, the keys as
// text (Qt compresses long ones), no size key unless given.
QByteArray foreignPng(const QImage &picture, const QByteArray &uri, qint64 mtime, qint64 size = -1)
{
    QImage image = picture;
    image.setText(QStringLiteral("Thumb::URI"), QString::fromLatin1(uri));
    image.setText(QStringLiteral("Thumb::MTime"), QString::number(mtime));
    if (size >= 0)
        image.setText(QStringLiteral("Thumb::Size"), QString::number(size));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, "png").write(image);
    return bytes;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

int modeOf(const QString &path)
{
    struct stat st{};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

QImage filled(int width, int height, Qt::GlobalColor colour)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

} // namespace

class ThumbnailStoreTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_root;

private Q_SLOTS:
    void init()
    {
        m_root = m_dir.path() + QStringLiteral("/cache/thumbnails");
        QDir(m_dir.path() + QStringLiteral("/cache")).removeRecursively();
        lg::ThumbnailStore::setWriteFaultForTesting({});
    }
    void cleanupTestCase() { lg::ThumbnailStore::setWriteFaultForTesting({}); }

    void theRootFollowsTheCacheVariable()
    {
        QCOMPARE(lg::ThumbnailStore::defaultRoot(), qEnvironmentVariable("XDG_CACHE_HOME") + QStringLiteral("/thumbnails"));
    }

    void urisAreEscapedAsTheDesktopEscapesThem_data()
    {
        // What GLib's g_filename_to_uri gives for the same paths.
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("uri");
        QTest::newRow("spaces") << QStringLiteral("/home/a/My Pics/x 1.jpg")
                                << QByteArray("file:///home/a/My%20Pics/x%201.jpg");
        QTest::newRow("non-ASCII, hash, question mark")
            << QStringLiteral("/tmp/\u00e9 #1?.jpg") << QByteArray("file:///tmp/%C3%A9%20%231%3F.jpg");
        QTest::newRow("what Qt leaves, escaped") << QStringLiteral("/tmp/a;[b]{c}%\"<>|^`\\.jpg")
                                                 << QByteArray("file:///tmp/a%3B%5Bb%5D%7Bc%7D%25%22%3C%3E%7C%5E%60%5C.jpg");
        QTest::newRow("kept as they are") << QStringLiteral("/x/!$&'()*+,:=@~-_.jpg")
                                          << QByteArray("file:///x/!$&'()*+,:=@~-_.jpg");
        QTest::newRow("cleaned") << QStringLiteral("/x//y/./z.jpg") << QByteArray("file:///x/y/z.jpg");
    }
    void urisAreEscapedAsTheDesktopEscapesThem()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, uri);
        QCOMPARE(lg::ThumbnailStore::uriOf(path), uri);
        const lg::ThumbnailStore store(m_root);
        QCOMPARE(store.entryPath(path, 256), m_root + QStringLiteral("/large/") + md5Name(uri));
    }

    void theFolderIsTheSmallestThatNeedsNoEnlarging_data()
    {
        QTest::addColumn<int>("side");
        QTest::addColumn<int>("folder");
        QTest::addColumn<QString>("name");
        QTest::newRow("list") << 100 << 128 << "normal";
        QTest::newRow("128") << 128 << 128 << "normal";
        QTest::newRow("grid") << 200 << 256 << "large";
        QTest::newRow("256") << 256 << 256 << "large";
        QTest::newRow("257") << 257 << 512 << "x-large";
        QTest::newRow("1000") << 1000 << 1024 << "xx-large";
        QTest::newRow("larger than any") << 1025 << 0 << "";
    }
    void theFolderIsTheSmallestThatNeedsNoEnlarging()
    {
        QFETCH(int, side);
        QFETCH(int, folder);
        QFETCH(QString, name);
        QCOMPARE(lg::ThumbnailStore::folderSideFor(side), folder);
        if (folder > 0)
            QVERIFY(lg::ThumbnailStore(m_root).entryPath(QStringLiteral("/p.jpg"), folder)
                        .startsWith(m_root + QLatin1Char('/') + name + QLatin1Char('/')));
    }

    void anotherProgramsThumbnailIsFoundInTheFolderNeededOrALargerOne()
    {
        const lg::ThumbnailStore store(m_root);
        const QString photo = QStringLiteral("/photos/trip/a b.jpg");
        const QByteArray uri("file:///photos/trip/a%20b.jpg");
        QVERIFY(writeFile(m_root + QStringLiteral("/large/") + md5Name(uri), foreignPng(filled(256, 128, Qt::blue), uri, 1700000000)));
        const std::optional<QImage> found = store.find(photo, lg::FileStamp{1700000000, 4321}, 200);
        QVERIFY(found);
        QCOMPARE(found->size(), QSize(256, 128));
        QCOMPARE(found->pixelColor(10, 10), QColor(Qt::blue));
        // A smaller need takes the larger one too; a larger need does not.
        QVERIFY(store.find(photo, lg::FileStamp{1700000000, 4321}, 100));
        QVERIFY(!store.find(photo, lg::FileStamp{1700000000, 4321}, 300));

        // One in normal/ only is too small for the grid.
        const QString other = QStringLiteral("/photos/other.jpg");
        const QByteArray otherUri("file:///photos/other.jpg");
        QVERIFY(writeFile(m_root + QStringLiteral("/normal/") + md5Name(otherUri), foreignPng(filled(128, 96, Qt::red), otherUri, 5)));
        QVERIFY(!store.find(other, lg::FileStamp{5, 10}, 200));
        QCOMPARE(store.find(other, lg::FileStamp{5, 10}, 128)->size(), QSize(128, 96));
    }

    void unsoundOrStaleEntriesAreIgnored_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray uri("file:///p/x.jpg");
        const QImage picture = filled(200, 150, Qt::green);
        const QByteArray good = foreignPng(picture, uri, 100, 2000);
        QTest::newRow("modification time differs") << foreignPng(picture, uri, 101, 2000);
        QTest::newRow("size differs") << foreignPng(picture, uri, 100, 2001);
        QTest::newRow("another file's") << foreignPng(picture, QByteArray("file:///p/y.jpg"), 100, 2000);
        QTest::newRow("URI with a trailing space") << foreignPng(picture, QByteArray("file:///p/x.jpg "), 100, 2000);
        QTest::newRow("no modification time") << [&] {
            QImage image = picture;
            image.setText(QStringLiteral("Thumb::URI"), QString::fromLatin1(uri));
            QByteArray bytes;
            QBuffer buffer(&bytes);
            buffer.open(QIODevice::WriteOnly);
            image.save(&buffer, "png");
            return bytes;
        }();
        QTest::newRow("modification time not a number") << [&] {
            QByteArray bytes = good;
            bytes.replace("100", "1e2");
            return bytes;
        }();
        QTest::newRow("cut off") << good.left(good.size() - 30);
        QTest::newRow("damaged pixels") << [&] {
            QByteArray bytes = good;
            const qsizetype idat = bytes.indexOf("IDAT");
            for (qsizetype i = idat + 8; i < idat + 40 && i < bytes.size(); ++i)
                bytes[i] = char(~bytes[i]);
            return bytes;
        }();
        QTest::newRow("a JPEG") << [&] {
            QByteArray bytes;
            QBuffer buffer(&bytes);
            buffer.open(QIODevice::WriteOnly);
            picture.save(&buffer, "jpeg");
            return bytes;
        }();
        QTest::newRow("larger than its folder") << foreignPng(filled(257, 20, Qt::green), uri, 100, 2000);
        // Bytes after the end of the picture still count.
        QTest::newRow("more bytes than its folder allows")
            << good + QByteArray(int(lg::ThumbnailStore::readLimit(256)), '\0');
        QTest::newRow("empty") << QByteArray();
    }
    void unsoundOrStaleEntriesAreIgnored()
    {
        QFETCH(QByteArray, bytes);
        const lg::ThumbnailStore store(m_root);
        const QString entry = store.entryPath(QStringLiteral("/p/x.jpg"), 256);
        QVERIFY(writeFile(entry, bytes));
        QVERIFY(!store.find(QStringLiteral("/p/x.jpg"), lg::FileStamp{100, 2000}, 200));
    }

    void entriesAreReadThroughNoLink()
    {
        const lg::ThumbnailStore store(m_root);
        const QString elsewhere = m_dir.path() + QStringLiteral("/elsewhere.png");
        QVERIFY(writeFile(elsewhere, foreignPng(filled(20, 20, Qt::red), "file:///p/x.jpg", 100)));
        const QString entry = store.entryPath(QStringLiteral("/p/x.jpg"), 256);
        QDir().mkpath(QFileInfo(entry).path());
        QVERIFY(QFile::link(elsewhere, entry));
        QVERIFY(!store.find(QStringLiteral("/p/x.jpg"), lg::FileStamp{100, 2000}, 200));
    }

    void writtenEntriesAreWholePrivateAndNameTheFile()
    {
        lg::ThumbnailStore store(m_root);
        const QString photo = QStringLiteral("/photos/a b.jpg");
        const lg::FileStamp stamp{1700000123, 98765};
        QVERIFY(store.save(photo, stamp, 256, filled(256, 171, Qt::cyan), {QStringLiteral("image/jpeg"), QSize(4000, 2672)}));
        const QString entry = store.entryPath(photo, 256);
        QCOMPARE(modeOf(entry), 0600);
        QCOMPARE(modeOf(m_root), 0700);
        QCOMPARE(modeOf(m_root + QStringLiteral("/large")), 0700);
        QCOMPARE(QDir(m_root + QStringLiteral("/large")).entryList(QDir::Files | QDir::Hidden), QStringList{QFileInfo(entry).fileName()});

        QFile file(entry);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        // Uncompressed text chunks, which every reader of the cache reads.
        QVERIFY(bytes.contains(QByteArray("tEXtThumb::URI\0file:///photos/a%20b.jpg", 39)));
        QVERIFY(bytes.contains(QByteArray("tEXtThumb::MTime\0" "1700000123", 27)));
        QVERIFY(bytes.contains(QByteArray("tEXtThumb::Size\0" "98765", 21)));
        const QImage read(entry);
        QCOMPARE(read.size(), QSize(256, 171));
        QCOMPARE(read.text(QStringLiteral("Thumb::Mimetype")), QStringLiteral("image/jpeg"));
        QCOMPARE(read.text(QStringLiteral("Thumb::Image::Width")), QStringLiteral("4000"));
        QCOMPARE(read.text(QStringLiteral("Thumb::Image::Height")), QStringLiteral("2672"));

        const std::optional<QImage> found = store.find(photo, stamp, 200);
        QVERIFY(found);
        QCOMPARE(found->pixelColor(5, 5), QColor(Qt::cyan));
        // Not for the file once changed.
        QVERIFY(!store.find(photo, lg::FileStamp{stamp.modified + 1, stamp.size}, 200));
        QVERIFY(!store.find(photo, lg::FileStamp{stamp.modified, stamp.size + 1}, 200));
        // Nothing larger than the folder is written.
        QVERIFY(!store.save(photo, stamp, 128, filled(129, 10, Qt::cyan)));
    }

    void aFailureIsRecordedUntilTheFileChanges()
    {
        lg::ThumbnailStore store(m_root);
        const QString broken = QStringLiteral("/photos/broken.jpg");
        const lg::FileStamp stamp{1000, 77};
        QVERIFY(!store.hasFailed(broken, stamp));
        QVERIFY(store.saveFailure(broken, stamp));
        QVERIFY(store.failurePath(broken).startsWith(m_root + QStringLiteral("/fail/lumengallery-")));
        QCOMPARE(modeOf(store.failurePath(broken)), 0600);
        QCOMPARE(modeOf(m_root + QStringLiteral("/fail")), 0700);
        QVERIFY(store.hasFailed(broken, stamp));
        QVERIFY(!store.hasFailed(broken, lg::FileStamp{1001, 77}));
        QVERIFY(!store.hasFailed(broken, lg::FileStamp{1000, 78}));
        QVERIFY(!store.hasFailed(QStringLiteral("/photos/other.jpg"), stamp));
        // A failure is no thumbnail.
        QVERIFY(!store.find(broken, stamp, 100));
    }

    // A failure record says why the thumbnail could not be made; what a
    // record holds there is read as any program may have written it: one
    // line of printable text, bounded.
    void aFailureRecordSaysWhy_data()
    {
        QTest::addColumn<bool>("ours");         // written by saveFailure, else by another program
        QTest::addColumn<QString>("written");
        QTest::addColumn<QString>("read");
        const QString overGrant = QStringLiteral("its decode needs more than the 49 MB it may hold");
        QTest::newRow("over its grant") << true << overGrant << overGrant;
        QTest::newRow("no words") << true << QString() << QString();
        QTest::newRow("long words are cut") << true << QString(500, QLatin1Char('w'))
                                            << QString(lg::ThumbnailStore::failureWordsLimit, QLatin1Char('w'));
        QTest::newRow("another program's, with control characters")
            << false << QStringLiteral("crashed\x1b[2J\nagain\r\n\x07") << QStringLiteral("crashed[2J again");
        QTest::newRow("another program's, past the bound and beyond Latin-1")
            << false << QStringLiteral("\u2603") + QString(100000, QLatin1Char('x'))
            << QString(lg::ThumbnailStore::failureWordsLimit, QLatin1Char('x'));
    }
    void aFailureRecordSaysWhy()
    {
        QFETCH(bool, ours);
        QFETCH(QString, written);
        QFETCH(QString, read);
        lg::ThumbnailStore store(m_root);
        const QString broken = QStringLiteral("/photos/broken.jpg");
        const lg::FileStamp stamp {1000, 77};
        if (ours) {
            QVERIFY(store.saveFailure(broken, stamp, written));
        } else {
            QImage mark = filled(1, 1, Qt::black);
            mark.setText(QStringLiteral("X-LumenGallery::Failure"), written);
            QVERIFY(writeFile(store.failurePath(broken), foreignPng(mark, "file:///photos/broken.jpg", 1000, 77)));
        }
        QCOMPARE(store.failure(broken, stamp), std::optional<QString>(read));
        QVERIFY(store.hasFailed(broken, stamp));
        QCOMPARE(store.failure(broken, lg::FileStamp {1001, 77}), std::nullopt);
    }

    void aFailedWriteLeavesNothingAndStopsTheWriting()
    {
        lg::ThumbnailStore store(m_root);
        int asked = 0;
        lg::ThumbnailStore::setWriteFaultForTesting([&](const QString &) {
            ++asked;
            return ENOSPC;
        });
        QVERIFY(!store.save(QStringLiteral("/p/a.jpg"), {1, 1}, 256, filled(10, 10, Qt::red)));
        QVERIFY(store.writesStopped());
        lg::ThumbnailStore::setWriteFaultForTesting({});
        QVERIFY(!store.save(QStringLiteral("/p/b.jpg"), {1, 1}, 256, filled(10, 10, Qt::red)));
        QVERIFY(!store.saveFailure(QStringLiteral("/p/c.jpg"), {1, 1}));
        QCOMPARE(asked, 1);
        QVERIFY(QDir(m_root + QStringLiteral("/large")).entryList(QDir::Files | QDir::Hidden).isEmpty());
        // Another run writes again.
        lg::ThumbnailStore next(m_root);
        QVERIFY(next.save(QStringLiteral("/p/b.jpg"), {1, 1}, 256, filled(10, 10, Qt::red)));

        // A cache folder that cannot be made (a file stands there) fails the same way.
        QVERIFY(writeFile(m_dir.path() + QStringLiteral("/blocked"), "x"));
        lg::ThumbnailStore blocked(m_dir.path() + QStringLiteral("/blocked/thumbnails"));
        QVERIFY(!blocked.save(QStringLiteral("/p/b.jpg"), {1, 1}, 256, filled(10, 10, Qt::red)));
        QVERIFY(!blocked.writesStopped());  // not full, not read-only: each write is tried
    }

    void onlyAFullOrReadOnlyCacheStopsTheWriting_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<bool>("stops");
        QTest::newRow("no space") << ENOSPC << true;
        QTest::newRow("over quota") << EDQUOT << true;
        QTest::newRow("read-only") << EROFS << true;
        QTest::newRow("a folder at the name") << EISDIR << false;
        QTest::newRow("refused") << EACCES << false;
        QTest::newRow("input/output") << EIO << false;
    }
    void onlyAFullOrReadOnlyCacheStopsTheWriting()
    {
        QFETCH(int, error);
        QFETCH(bool, stops);
        lg::ThumbnailStore store(m_root);
        const QString failing = store.entryPath(QStringLiteral("/p/a.jpg"), 256);
        lg::ThumbnailStore::setWriteFaultForTesting([&](const QString &entry) { return entry == failing ? error : 0; });
        QVERIFY(!store.save(QStringLiteral("/p/a.jpg"), {1, 1}, 256, filled(10, 10, Qt::red)));
        QCOMPARE(store.writesStopped(), stops);
        QCOMPARE(store.save(QStringLiteral("/p/b.jpg"), {1, 1}, 256, filled(10, 10, Qt::red)), !stops);
        QCOMPARE(store.saveFailure(QStringLiteral("/p/c.jpg"), {1, 1}), !stops);
    }

    // A full or read-only cache stops the writes for a while only: once
    // that while has passed they are tried again, and go on once one works.
    void writesAreTriedAgainAWhileAfterTheCacheWasFull_data()
    {
        QTest::addColumn<int>("error");
        QTest::newRow("no space") << ENOSPC;
        QTest::newRow("over quota") << EDQUOT;
        QTest::newRow("read-only") << EROFS;
    }
    void writesAreTriedAgainAWhileAfterTheCacheWasFull()
    {
        QFETCH(int, error);
        lg::ThumbnailStore store(m_root);
        qint64 now = 5000;
        store.setClockForTesting([&now] { return now; });
        int full = 1;   // failed writes still to come
        int asked = 0;
        lg::ThumbnailStore::setWriteFaultForTesting([&](const QString &) {
            ++asked;
            return full-- > 0 ? error : 0;
        });
        QVERIFY(!store.save(QStringLiteral("/p/a.jpg"), {1, 1}, 256, filled(10, 10, Qt::red)));
        now += lg::ThumbnailStore::writeRetryMs - 1;
        QVERIFY(store.writesStopped());
        QVERIFY(!store.save(QStringLiteral("/p/b.jpg"), {1, 1}, 256, filled(10, 10, Qt::red)));
        QCOMPARE(asked, 1);
        // Space is back; the while has passed.
        now += 1;
        QVERIFY(!store.writesStopped());
        QVERIFY(store.save(QStringLiteral("/p/b.jpg"), {1, 1}, 256, filled(10, 10, Qt::red)));
        QVERIFY(store.saveFailure(QStringLiteral("/p/c.jpg"), {1, 1}));
        QVERIFY(store.find(QStringLiteral("/p/b.jpg"), {1, 1}, 200));
        QCOMPARE(asked, 3);
    }

    // The names of a folder's files are given by their bytes, so that a name
    // that is not valid UTF-8 names its own file; links are not followed.
    void everyFileUnderAFolderIsGivenByItsExactName()
    {
        const QString folder = m_dir.path() + QStringLiteral("/walked");
        QDir(folder).removeRecursively();
        QVERIFY(QDir().mkpath(folder + QStringLiteral("/sub")));
        const QByteArray base = QFile::encodeName(folder);
        const QList<QByteArray> names = {"/bad\xff.jpg", "/bad\xef\xbf\xbd.jpg", "/sub/caf\xe9.png", "/sub/plain.jpg"};
        for (const QByteArray &name : names) {
            const int fd = ::open(QByteArray(base + name).constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
            QVERIFY(fd >= 0);
            ::close(fd);
        }
        QVERIFY(QFile::link(m_root, folder + QStringLiteral("/sub/linked")));
        const auto cleanup = qScopeGuard([&] {
            for (const QByteArray &name : names)
                ::unlink(QByteArray(base + name).constData());
        });
        QList<QByteArray> seen;
        lg::ThumbnailStore::forEachFileUnder(folder, [&](const QString &relative) {
            seen.append('/' + lg::FileNames::toNative(relative));
        });
        std::sort(seen.begin(), seen.end());
        QList<QByteArray> wanted = names;
        std::sort(wanted.begin(), wanted.end());
        QCOMPARE(seen, wanted);
    }

    void aFolderPlantedAtAnEntrysNameCostsThatEntryAlone()
    {
        lg::ThumbnailStore store(m_root);
        const QString planted = store.entryPath(QStringLiteral("/p/a.jpg"), 256);
        QVERIFY(QDir().mkpath(planted));
        QVERIFY(!store.save(QStringLiteral("/p/a.jpg"), {1, 1}, 256, filled(10, 10, Qt::red)));
        QVERIFY(QFileInfo(planted).isDir());
        QVERIFY(!store.writesStopped());
        QVERIFY(store.save(QStringLiteral("/p/b.jpg"), {1, 1}, 256, filled(10, 10, Qt::red)));
        QVERIFY(store.find(QStringLiteral("/p/b.jpg"), {1, 1}, 200));
        // No temporary of the failed write is left.
        QCOMPARE(QDir(m_root + QStringLiteral("/large")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(), 2);
    }

    void strayTemporariesAreRemovedAtTheNextWrite()
    {
        lg::ThumbnailStore store(m_root);
        const QString md5 = QStringLiteral("0123456789abcdef0123456789abcdef");
        const QDateTime hourAgo = QDateTime::currentDateTime().addSecs(-3600);
        auto plant = [&](const QString &folder, const QString &name, const QDateTime &when = {}) {
            const QString path = folder + QLatin1Char('/') + name;
            QFile file(path);
            QDir().mkpath(folder);
            file.open(QIODevice::WriteOnly);
            file.write("half a png");
            file.flush();
            file.setFileTime(when.isValid() ? when : hourAgo, QFileDevice::FileModificationTime);
            return path;
        };
        const QString large = m_root + QStringLiteral("/large");
        const QString stray = plant(large, md5 + QStringLiteral(".png.lumengallery-aB3xY9"));
        // Kept: made since this run began (another window of ours may be
        // writing it), held by a live writer, names not quite ours, a link.
        const QStringList kept = {
            plant(large, md5 + QStringLiteral(".png.lumengallery-fresh1"), QDateTime::currentDateTime().addSecs(5)),
            plant(large, md5 + QStringLiteral(".png.lumengallery-held00")),
            plant(large, md5.toUpper() + QStringLiteral(".png.lumengallery-aB3xY9")),
            plant(large, md5 + QStringLiteral(".png.lumengallery-aB3xY")),
            plant(large, md5 + QStringLiteral(".png.lumengallery-aB3xY9~")),
            plant(large, md5 + QStringLiteral(".png.gnome-thumbnail-aB3xY9")),
            plant(large, md5.left(31) + QStringLiteral(".png.lumengallery-aB3xY9")),
        };
        const int heldFd = ::open(QFile::encodeName(kept.at(1)).constData(), O_RDONLY);
        QVERIFY(heldFd >= 0 && ::flock(heldFd, LOCK_EX) == 0);
        const QString link = large + QLatin1Char('/') + md5 + QStringLiteral(".png.lumengallery-linkk0");
        QVERIFY(QFile::link(stray, link));
        const QString failFolder = QFileInfo(store.failurePath(QStringLiteral("/p/x.jpg"))).path();
        const QString failStray = plant(failFolder, md5 + QStringLiteral(".png.lumengallery-000000"));

        QVERIFY(store.save(QStringLiteral("/p/a.jpg"), {1, 1}, 256, filled(10, 10, Qt::red)));
        QVERIFY(!QFileInfo::exists(stray));
        for (const QString &path : kept)
            QVERIFY2(QFileInfo::exists(path), qPrintable(path));
        QVERIFY(QFileInfo(link).isSymLink());
        QVERIFY(QFileInfo::exists(failStray));  // its folder is swept at its own first write
        QVERIFY(store.saveFailure(QStringLiteral("/p/x.jpg"), {1, 1}));
        QVERIFY(!QFileInfo::exists(failStray));
        ::close(heldFd);

        // A new run removes them at its start, before any write.
        lg::ThumbnailStore next(m_root);
        next.removeStrayTemporaries();
        QVERIFY(!QFileInfo::exists(kept.at(1)));
    }

    void theCacheIsKnownThroughALink()
    {
        lg::ThumbnailStore store(m_root);
        QVERIFY(store.save(QStringLiteral("/p/a.jpg"), {1, 1}, 256, filled(10, 10, Qt::red)));
        const QString entry = store.entryPath(QStringLiteral("/p/a.jpg"), 256);
        // A link to large/ inside a browsed folder.
        const QString photos = m_dir.path() + QStringLiteral("/browsed");
        QDir(photos).removeRecursively();
        QDir().mkpath(photos);
        QVERIFY(QFile::link(m_root + QStringLiteral("/large"), photos + QStringLiteral("/thumbs")));
        const QString seen = photos + QStringLiteral("/thumbs/") + QFileInfo(entry).fileName();
        QVERIFY(store.holds(seen));
        QVERIFY(!store.save(seen, {1, 1}, 256, filled(10, 10, Qt::red)));
        QVERIFY(!store.saveFailure(seen, {1, 1}));
        QCOMPARE(QDir(m_root + QStringLiteral("/large")).entryList(QDir::Files | QDir::Hidden).size(), 1);
        // The cache reached through a link (a linked cache folder), seen by
        // its real path; a folder beside it is not the cache.
        const QString linked = m_dir.path() + QStringLiteral("/linked-cache");
        QFile::remove(linked);
        QVERIFY(QFile::link(m_dir.path() + QStringLiteral("/cache"), linked));
        lg::ThumbnailStore throughLink(linked + QStringLiteral("/thumbnails"));
        QVERIFY(throughLink.holds(entry));
        QVERIFY(throughLink.holds(m_root + QStringLiteral("/x.png")));
        QVERIFY(!throughLink.holds(photos + QStringLiteral("/a.png")));
        QVERIFY(!throughLink.holds(m_dir.path() + QStringLiteral("/cache/a.png")));
    }

    // The cache's folders are known as they are now: a folder that takes
    // the device and inode of one looked at before (a photo folder moved
    // into the cache as large/, or large/ moved out among the photos, as
    // when a freed inode is handed out again) is what it is now.
    void aFolderOnAnIdentitySeenBeforeIsWhatItIsNow_data()
    {
        QTest::addColumn<bool>("intoTheCache");
        QTest::newRow("a photo folder's identity becomes large/") << true;
        QTest::newRow("large/'s identity becomes a photo folder") << false;
    }
    void aFolderOnAnIdentitySeenBeforeIsWhatItIsNow()
    {
        QFETCH(bool, intoTheCache);
        lg::ThumbnailStore store(m_root);
        QVERIFY(store.save(QStringLiteral("/p/a.jpg"), {1, 1}, 256, filled(10, 10, Qt::red)));
        const QString large = m_root + QStringLiteral("/large");
        const QString browsed = m_dir.path() + QStringLiteral("/browsed");
        QDir(browsed).removeRecursively();
        QVERIFY(QDir().mkpath(browsed));
        const QString photos = m_dir.path() + QStringLiteral("/photos");
        QDir(photos).removeRecursively();
        const QString link = browsed + QStringLiteral("/thumbs");
        QVERIFY(QFile::link(large, link));
        if (intoTheCache) {
            QVERIFY(QDir().mkpath(photos));
            QVERIFY(writeFile(photos + QStringLiteral("/b.jpg"), "b"));
            QVERIFY(!store.holds(photos + QStringLiteral("/b.jpg")));
            // large/ goes; the photo folder takes its place, inode and all.
            QVERIFY(QDir(large).removeRecursively());
            QVERIFY(QFile::rename(photos, large));
            QVERIFY(store.holds(link + QStringLiteral("/b.jpg")));
            QVERIFY(!store.save(link + QStringLiteral("/b.jpg"), {1, 1}, 256, filled(10, 10, Qt::red)));
            QCOMPARE(QDir(large).entryList(QDir::Files | QDir::Hidden).size(), 1);
        } else {
            QVERIFY(store.holds(link + QStringLiteral("/x.png")));
            // large/ leaves the cache and is a photo folder now.
            QVERIFY(QFile::rename(large, photos));
            const QString photo = photos + QStringLiteral("/b.jpg");
            QVERIFY(writeFile(photo, "b"));
            QVERIFY(!store.holds(photo));
            QVERIFY(store.save(photo, {1, 1}, 256, filled(10, 10, Qt::red)));
            QVERIFY(store.find(photo, {1, 1}, 200));
        }
    }

    // A link in the place of one of the cache's own folders leads out of
    // the cache: nothing is written, read or removed through it, and it
    // stays as it is.
    void aLinkInPlaceOfACacheFolderIsNeverGoneThrough_data()
    {
        QTest::addColumn<QString>("linked");
        QTest::newRow("large/") << QStringLiteral("large");
        QTest::newRow("fail/") << QStringLiteral("fail");
        QTest::newRow("fail/lumengallery-<version>/")
            << QStringLiteral("fail/") + QFileInfo(QFileInfo(lg::ThumbnailStore(QStringLiteral("/c")).failurePath(QStringLiteral("/x"))).path()).fileName();
    }
    void aLinkInPlaceOfACacheFolderIsNeverGoneThrough()
    {
        QFETCH(QString, linked);
        lg::ThumbnailStore store(m_root);
        const QString outside = m_dir.path() + QStringLiteral("/outside");
        QDir(outside).removeRecursively();
        QVERIFY(QDir().mkpath(outside));
        const QString link = m_root + QLatin1Char('/') + linked;
        QVERIFY(QDir().mkpath(QFileInfo(link).path()));
        QVERIFY(QFile::link(outside, link));
        // What another program left there, naming a file: it stays unread.
        const QString photo = QStringLiteral("/p/a.jpg");
        const QString planted = outside + store.entryPath(photo, 256).mid(link.size());
        const QString plantedFailure = outside + store.failurePath(photo).mid(link.size());
        const QString target = store.entryPath(photo, 256).startsWith(link + QLatin1Char('/')) ? planted : plantedFailure;
        QVERIFY(writeFile(target, foreignPng(filled(8, 8, Qt::red), lg::ThumbnailStore::uriOf(photo), 1, 1)));
        QCOMPARE(store.find(photo, {1, 1}, 200).has_value(), false);
        QCOMPARE(store.hasFailed(photo, {1, 1}), false);
        QVERIFY(!store.remove(photo));
        QVERIFY(QFileInfo::exists(target));

        const QString other = QStringLiteral("/p/b.jpg");
        const bool entriesThere = store.entryPath(other, 256).startsWith(link + QLatin1Char('/'));
        QCOMPARE(store.save(other, {1, 1}, 256, filled(10, 10, Qt::red)), !entriesThere);
        QCOMPARE(store.saveFailure(other, {1, 1}), entriesThere);
        QVERIFY(!store.writesStopped());
        QVERIFY(QFileInfo(link).isSymLink());
        QStringList found;
        lg::ThumbnailStore::forEachFileUnder(outside, [&](const QString &relative) { found.append(relative); });
        QCOMPARE(found.size(), 1);
        QVERIFY(!store.holds(outside + QStringLiteral("/c.jpg")));
    }

    // What is saved while writes are stopped (and the write that found the
    // cache full) waits, and is written once they resume, each entry only
    // while its file is as it was.
    void whatWasSavedWhileWritesStoppedIsWrittenWhenTheyResume()
    {
        lg::ThumbnailStore store(m_root);
        qint64 now = 1000;
        store.setClockForTesting([&now] { return now; });
        const QString photos = m_dir.path() + QStringLiteral("/paused");
        QDir(photos).removeRecursively();
        QStringList files;
        for (const char *name : {"a.jpg", "b.jpg", "c.jpg", "changed.jpg"}) {
            files.append(photos + QLatin1Char('/') + QLatin1String(name));
            QVERIFY(writeFile(files.last(), name));
        }
        auto stampOf = [](const QString &path) { return *lg::FileStamp::of(path); };
        lg::ThumbnailStore::setWriteFaultForTesting([](const QString &) { return ENOSPC; });
        QVERIFY(!store.save(files[0], stampOf(files[0]), 256, filled(10, 10, Qt::red)));
        lg::ThumbnailStore::setWriteFaultForTesting({});
        QVERIFY(store.writesStopped());
        QVERIFY(!store.save(files[1], stampOf(files[1]), 128, filled(10, 10, Qt::green)));
        QVERIFY(!store.saveFailure(files[2], stampOf(files[2])));
        QVERIFY(!store.save(files[3], stampOf(files[3]), 256, filled(10, 10, Qt::red)));
        QVERIFY(store.hasWaiting());
        QCOMPARE(store.writeWaiting(), 0);
        QVERIFY(writeFile(files[3], "changed, and longer"));

        now += lg::ThumbnailStore::writeRetryMs;
        QVERIFY(!store.writesStopped());
        QCOMPARE(store.writeWaiting(), 3);
        QVERIFY(!store.hasWaiting());
        QVERIFY(store.find(files[0], stampOf(files[0]), 200));
        QCOMPARE(store.find(files[1], stampOf(files[1]), 100)->pixelColor(1, 1), QColor(Qt::green));
        QVERIFY(store.hasFailed(files[2], stampOf(files[2])));
        QVERIFY(!QFileInfo::exists(store.entryPath(files[3], 256)));
    }

    // Past waitingLimitBytes what is saved is dropped (made again by a
    // later run); the first saved wait.
    void whatWaitsForWritesIsBounded()
    {
        lg::ThumbnailStore store(m_root);
        qint64 now = 1000;
        store.setClockForTesting([&now] { return now; });
        lg::ThumbnailStore::setWriteFaultForTesting([](const QString &) { return EDQUOT; });
        // Noise compresses badly: some 190 KB an entry.
        QImage noise(220, 220, QImage::Format_RGB32);
        quint32 seed = 1;
        for (int y = 0; y < noise.height(); ++y) {
            for (int x = 0; x < noise.width(); ++x)
                noise.setPixel(x, y, seed = seed * 1664525u + 1013904223u);
        }
        const int count = int(lg::ThumbnailStore::waitingLimitBytes / (220 * 220 * 3)) + 20;
        const QString photos = m_dir.path() + QStringLiteral("/bounded");
        QDir(photos).removeRecursively();
        QStringList files;
        for (int i = 0; i < count; ++i) {
            files.append(photos + QStringLiteral("/%1.jpg").arg(i));
            QVERIFY(writeFile(files.last(), "x"));
            QVERIFY(!store.save(files.last(), *lg::FileStamp::of(files.last()), 256, noise));
        }
        lg::ThumbnailStore::setWriteFaultForTesting({});
        now += lg::ThumbnailStore::writeRetryMs;
        const int written = store.writeWaiting();
        QVERIFY2(written > count / 2 && written < count, qPrintable(QString::number(written)));
        QVERIFY(store.find(files.first(), *lg::FileStamp::of(files.first()), 200));
        QVERIFY(!store.find(files.last(), *lg::FileStamp::of(files.last()), 200));
    }

    void aRemovedFileTakesItsEntriesFromEverySize()
    {
        lg::ThumbnailStore store(m_root);
        const QString gone = QStringLiteral("/photos/gone.jpg");
        const QString kept = QStringLiteral("/photos/kept.jpg");
        for (int side : {128, 256, 512, 1024}) {
            QVERIFY(store.save(gone, {5, 6}, side, filled(side / 2, side / 4, Qt::red)));
            QVERIFY(store.save(kept, {5, 6}, side, filled(side / 2, side / 4, Qt::red)));
        }
        QVERIFY(store.saveFailure(gone, {7, 8}));
        QVERIFY(store.remove(gone));
        for (int side : {128, 256, 512, 1024}) {
            QVERIFY(!QFileInfo::exists(store.entryPath(gone, side)));
            QVERIFY(QFileInfo::exists(store.entryPath(kept, side)));
        }
        QVERIFY(!QFileInfo::exists(store.failurePath(gone)));
        QVERIFY(!store.remove(gone));
        // What stands at the name but does not name the file stays.
        const QString foreign = store.entryPath(gone, 512);
        QVERIFY(writeFile(foreign, foreignPng(filled(8, 8, Qt::red), "file:///photos/other.jpg", 5)));
        QVERIFY(!store.remove(gone));
        QVERIFY(QFileInfo::exists(foreign));
    }

    void theThumbnailFolderItselfIsNeverThumbnailed()
    {
        lg::ThumbnailStore store(m_root);
        const QString inside = m_root + QStringLiteral("/large/0123.png");
        QVERIFY(store.holds(inside));
        QVERIFY(!store.holds(m_root + QStringLiteral("s/x.png")));
        QVERIFY(!store.save(inside, {1, 1}, 256, filled(10, 10, Qt::red)));
        QVERIFY(!store.saveFailure(inside, {1, 1}));
        QVERIFY(!store.writesStopped());
        QVERIFY(!QFileInfo::exists(store.entryPath(inside, 256)));
    }

    void aMovedFileTakesItsThumbnailsAlong()
    {
        lg::ThumbnailStore store(m_root);
        const QString before = QStringLiteral("/photos/a.jpg");
        const QString after = QStringLiteral("/photos/new name.jpg");
        const lg::FileStamp stamp{50, 60};
        QVERIFY(store.save(before, stamp, 256, filled(200, 100, Qt::magenta), {QStringLiteral("image/jpeg"), QSize(2000, 1000)}));
        QVERIFY(store.save(before, stamp, 128, filled(128, 64, Qt::magenta)));
        QVERIFY(store.carryOver(before, after, stamp));
        QVERIFY(!QFileInfo::exists(store.entryPath(before, 256)));
        QVERIFY(!QFileInfo::exists(store.entryPath(before, 128)));
        QCOMPARE(store.find(after, stamp, 200)->pixelColor(1, 1), QColor(Qt::magenta));
        QVERIFY(store.find(after, stamp, 128));
        QCOMPARE(QImage(store.entryPath(after, 256)).text(QStringLiteral("Thumb::Image::Width")), QStringLiteral("2000"));
        // A stale one stays behind.
        QVERIFY(store.save(before, stamp, 256, filled(20, 10, Qt::magenta)));
        QVERIFY(!store.carryOver(before, QStringLiteral("/photos/c.jpg"), lg::FileStamp{51, 60}));
        QVERIFY(!store.find(QStringLiteral("/photos/c.jpg"), lg::FileStamp{51, 60}, 200));
    }

    // The cache names a file as GLib does, byte for byte, also one whose name
    // is not UTF-8, and never as the look-alike Qt would make of that name.
    void aFileIsNamedAsGlibNamesIt_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("raw");
        QTest::newRow("ASCII") << QByteArray("/p/a b.jpg") << false;
        QTest::newRow("UTF-8 letters") << QByteArray("/p/caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xb7.jpg") << false;
        QTest::newRow("U+FFFD itself") << QByteArray("/p/bad\xef\xbf\xbd.jpg") << false;
        QTest::newRow("a lone 0xFF") << QByteArray("/p/bad\xff.jpg") << true;
        QTest::newRow("Latin-1") << QByteArray("/p/caf\xe9 \xe0 la cr\xe8me.jpg") << true;
        QTest::newRow("an encoded surrogate") << QByteArray("/p/\xed\xb3\xbf.jpg") << true;
        QTest::newRow("cut short at the end") << QByteArray("/p/a.jp\xe2\x82") << true;
    }
    void aFileIsNamedAsGlibNamesIt()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, raw);
        const QString path = lg::FileNames::fromNative(bytes);
        char *glibUri = g_filename_to_uri(bytes.constData(), nullptr, nullptr);
        QVERIFY(glibUri);
        const QByteArray expected(glibUri);
        g_free(glibUri);
        QCOMPARE(lg::ThumbnailStore::uriOf(path), expected);
        if (raw)
            QVERIFY(lg::ThumbnailStore::uriOf(path) != lg::ThumbnailStore::uriOf(QFile::decodeName(bytes)));
    }
};

LG_TEST(ThumbnailStoreTest)
#include "test_thumbnailstore.moc"
