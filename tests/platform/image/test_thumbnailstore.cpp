// The desktop's shared thumbnail cache: names, what is trusted, how it is written.
#include "platform/image/ThumbnailStore.h"
#include "tests/support/TestSupport.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QTemporaryDir>

#include <cerrno>
#include <sys/stat.h>

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
        QVERIFY(blocked.writesStopped());
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
};

LG_TEST(ThumbnailStoreTest)
#include "test_thumbnailstore.moc"
