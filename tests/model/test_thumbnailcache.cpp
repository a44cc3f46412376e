// The thumbnail cache over the desktop's shared thumbnails on disk: what is
// found there is shown without decoding, what is missing or stale is made and
// written, and what cannot be made is not tried again until it changes.
#include <glib.h>  // before Qt: GLib names a member "signals"

#include "model/ThumbnailCache.h"
#include "model/DecodeBudget.h"
#include "browser/ItemEditing.h"
#include "browser/Listing.h"
#include "model/MediaRecords.h"
#include "platform/files/names/FileNames.h"
#include "platform/image/DecodeWorkers.h"
#include "platform/image/ImageSource.h"
#include "platform/image/PropertyProbe.h"
#include "platform/image/ThumbnailStore.h"
#include "platform/image/VideoInfo.h"
#include "platform/runtime/Timer.h"
#include "tests/support/CaptureStdout.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TestSupport.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QScopeGuard>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cerrno>
#include <sys/stat.h>
#include <memory>

namespace {

// As the listing keys a file: its size is what it takes on disk (blocks), which
// is not its length in bytes, the size the thumbnail cache's entries carry.
ThumbnailKey keyOf(const QString &path)
{
    const QFileInfo info(path);
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return ThumbnailKey{path, info.lastModified().toMSecsSinceEpoch(), qint64(st.st_blocks) * 512};
}

// The stamp the cache's entries carry: modification time and length in bytes.
lg::FileStamp stampOf(const QString &path)
{
    return lg::FileStamp::of(path).value_or(lg::FileStamp{});
}

bool isReddish(const QImage &image)
{
    const QColor c = image.pixelColor(image.width() / 2, image.height() / 2);
    return c.red() > 200 && c.green() < 60 && c.blue() < 60;
}

} // namespace

class ThumbnailCacheTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_photos;
    QString m_root;

    std::unique_ptr<ThumbnailCache> newCache()
    {
        auto cache = std::make_unique<ThumbnailCache>();
        cache->setStore(std::make_shared<lg::ThumbnailStore>(m_root));
        return cache;
    }

    QString photo(const QString &name, int width, int height, Qt::GlobalColor colour = Qt::red)
    {
        QImage image(width, height, QImage::Format_RGB32);
        image.fill(colour);
        const QString path = m_photos + QLatin1Char('/') + name;
        image.save(path, "JPEG", 90);
        return path;
    }

    // Asks cache for the grid's thumbnails of keys and waits until they are
    // made and written.
    static bool makeAll(ThumbnailCache &cache, const QList<ThumbnailKey> &keys, int side = 200)
    {
        QObject client;
        QVector<ThumbnailRequest> requests;
        for (const ThumbnailKey &key : keys)
            requests.append(ThumbnailRequest{key, true, side, true});
        cache.request(&client, requests);
        return QTest::qWaitFor([&] { return !cache.isWorking() && !cache.isWriting(); }, 20000);
    }

private Q_SLOTS:
    void init()
    {
        m_photos = m_dir.path() + QStringLiteral("/photos");
        m_root = m_dir.path() + QStringLiteral("/cache/thumbnails");
        QDir(m_photos).removeRecursively();
        QDir(m_dir.path() + QStringLiteral("/cache")).removeRecursively();
        QDir().mkpath(m_photos);
        lg::ThumbnailStore::setWriteFaultForTesting({});
    }
    void cleanup() { lg::ThumbnailStore::setWriteFaultForTesting({}); }

    void theDesktopsCacheIsUsedByDefault()
    {
        ThumbnailCache cache;
        QVERIFY(cache.store());
        QCOMPARE(cache.store()->root(), qEnvironmentVariable("XDG_CACHE_HOME") + QStringLiteral("/thumbnails"));
    }

    void aFolderSeenBeforeIsShownWithoutDecoding()
    {
        const QList<ThumbnailKey> keys = {keyOf(photo(QStringLiteral("wide photo.jpg"), 800, 600)),
                                          keyOf(photo(QStringLiteral("tall.jpg"), 600, 800))};
        auto first = newCache();
        QVERIFY(makeAll(*first, keys));
        QCOMPARE(first->decodeCount(), 2);
        QCOMPARE(first->thumbnail(keys[0])->size(), QSize(200, 150));
        QCOMPARE(first->thumbnail(keys[1])->size(), QSize(150, 200));
        // Kept at the size of the folder, for every program.
        const lg::ThumbnailStore store(m_root);
        QCOMPARE(QImage(store.entryPath(keys[0].path, 256)).size(), QSize(256, 192));

        auto second = newCache();
        QVERIFY(makeAll(*second, keys));
        QCOMPARE(second->decodeCount(), 0);
        QCOMPARE(second->diskHitCount(), 2);
        for (const ThumbnailKey &key : keys) {
            const std::optional<QImage> shown = second->thumbnail(key);
            QVERIFY(shown);
            QCOMPARE(shown->size(), first->thumbnail(key)->size());
            QVERIFY(isReddish(*shown));
        }
        // The list's smaller ones come from the same files.
        auto third = newCache();
        QVERIFY(makeAll(*third, keys, 150));
        QCOMPARE(third->decodeCount(), 0);
        QCOMPARE(third->thumbnail(keys[0])->size(), QSize(150, 112));
    }

    void largerCopiesAreReadFromDiskButMadeAsBefore()
    {
        // The collage's slots ask for more than the grid: made at the size
        // asked for (no larger decode) and kept in memory only, while a
        // larger thumbnail another program made is used.
        const ThumbnailKey key = keyOf(photo(QStringLiteral("slot.jpg"), 2000, 1500));
        auto first = newCache();
        QVERIFY(makeAll(*first, {key}, 600));
        QCOMPARE(first->decodeCount(), 1);
        QCOMPARE(first->thumbnail(key)->size(), QSize(600, 450));
        QVERIFY(!QFileInfo::exists(m_root + QStringLiteral("/x-large")));

        lg::ThumbnailStore store(m_root);
        QImage theirs(1024, 768, QImage::Format_RGB32);
        theirs.fill(Qt::red);
        QVERIFY(store.save(key.path, stampOf(key.path), 1024, theirs));
        auto second = newCache();
        QVERIFY(makeAll(*second, {key}, 600));
        QCOMPARE(second->decodeCount(), 0);
        QCOMPARE(second->thumbnail(key)->size(), QSize(600, 450));
    }

    void anotherProgramsThumbnailIsShownAsItIs()
    {
        const ThumbnailKey key = keyOf(photo(QStringLiteral("red.jpg"), 800, 600));
        // Written the way a file manager writes it.
        QImage theirs(256, 128, QImage::Format_RGB32);
        theirs.fill(Qt::blue);
        const QByteArray uri = "file://" + QFile::encodeName(key.path);
        theirs.setText(QStringLiteral("Thumb::URI"), QString::fromLatin1(uri));
        theirs.setText(QStringLiteral("Thumb::MTime"), QString::number(key.modified / 1000));
        const QString entry = m_root + QStringLiteral("/large/")
            + QString::fromLatin1(QCryptographicHash::hash(uri, QCryptographicHash::Md5).toHex()) + QStringLiteral(".png");
        QDir().mkpath(QFileInfo(entry).path());
        QVERIFY(theirs.save(entry, "PNG"));
        const QByteArray before = [&] { QFile f(entry); f.open(QIODevice::ReadOnly); return f.readAll(); }();

        auto cache = newCache();
        QVERIFY(makeAll(*cache, {key}));
        QCOMPARE(cache->decodeCount(), 0);
        const std::optional<QImage> shown = cache->thumbnail(key);
        QVERIFY(shown);
        QCOMPARE(shown->size(), QSize(200, 100));
        QCOMPARE(shown->pixelColor(100, 50), QColor(Qt::blue));
        // Left as it was.
        QFile after(entry);
        QVERIFY(after.open(QIODevice::ReadOnly));
        QCOMPARE(after.readAll(), before);
    }

    void aStaleOrDamagedThumbnailIsMadeAgain_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("older modification time") << "stale";
        QTest::newRow("other size") << "size";
        QTest::newRow("damaged") << "damaged";
    }
    void aStaleOrDamagedThumbnailIsMadeAgain()
    {
        QFETCH(QString, fault);
        const ThumbnailKey key = keyOf(photo(QStringLiteral("red.jpg"), 800, 600));
        lg::ThumbnailStore store(m_root);
        QImage old(256, 192, QImage::Format_RGB32);
        old.fill(Qt::green);
        const QString entry = store.entryPath(key.path, 256);
        if (fault == QLatin1String("damaged")) {
            QVERIFY(store.save(key.path, stampOf(key.path), 256, old));
            QFile file(entry);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QByteArray bytes = file.readAll();
            bytes.truncate(bytes.size() - 40);
            file.resize(0);
            file.write(bytes);
        } else {
            lg::FileStamp stamp = stampOf(key.path);
            stamp.modified -= fault == QLatin1String("stale") ? 10 : 0;
            stamp.size += fault == QLatin1String("size") ? 1 : 0;
            QVERIFY(store.save(key.path, stamp, 256, old));
        }

        auto cache = newCache();
        QVERIFY(makeAll(*cache, {key}));
        QCOMPARE(cache->decodeCount(), 1);
        QVERIFY(isReddish(*cache->thumbnail(key)));
        // Written anew, for the file as it is.
        const std::optional<QImage> written = store.find(key.path, stampOf(key.path), 200);
        QVERIFY(written);
        QVERIFY(isReddish(*written));
    }

    void aFileThatCannotBeDecodedIsNotTriedAgainUntilItChanges()
    {
        const QString path = m_photos + QStringLiteral("/broken.jpg");
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("\xff\xd8\xff this is no picture");
        }
        const ThumbnailKey broken = keyOf(path);
        auto first = newCache();
        QVERIFY(makeAll(*first, {broken}));
        QCOMPARE(first->decodeCount(), 1);
        QVERIFY(first->contains(broken) || first->hasFailed(broken));
        const QImage icon = first->thumbnail(broken).value_or(QImage());
        QVERIFY(QFileInfo::exists(lg::ThumbnailStore(m_root).failurePath(path)));

        auto second = newCache();
        QVERIFY(makeAll(*second, {broken}));
        QCOMPARE(second->decodeCount(), 0);
        QCOMPARE(second->thumbnail(broken).value_or(QImage()).size(), icon.size());  // the same stand-in

        // Mended: tried again.
        QVERIFY(QFile::remove(path));
        photo(QStringLiteral("broken.jpg"), 400, 300);
        QFile mended(path);
        QVERIFY(mended.open(QIODevice::ReadWrite));
        QVERIFY(mended.setFileTime(QDateTime::fromMSecsSinceEpoch(broken.modified + 5000), QFileDevice::FileModificationTime));
        mended.close();
        const ThumbnailKey fixed = keyOf(path);
        auto third = newCache();
        QVERIFY(makeAll(*third, {fixed}));
        QCOMPARE(third->decodeCount(), 1);
        QCOMPARE(third->thumbnail(fixed)->size(), QSize(200, 150));
    }

    // Decoded in a worker (a stand-in's decodes of marked files): one that
    // needs more than its prediction is tried once more, alone, with what is
    // left of the whole the program and its workers may hold; past that, or
    // when the decoder crashes or runs past its time, the file gets a failure
    // record, which says why, as the log does. A decode ended by nothing of the file's
    // own (the quit) records nothing.
    void aDecodeInAWorkerThatPassesItsGrantIsTriedOnceMore_data()
    {
        QTest::addColumn<QString>("mark");
        QTest::addColumn<bool>("shown");
        QTest::addColumn<QString>("words");
        QTest::newRow("within its prediction") << QStringLiteral("allocate 1") << true << QString();
        QTest::newRow("past its prediction, within the whole") << QStringLiteral("allocate 160") << true << QString();
        QTest::newRow("past the whole") << QStringLiteral("allocate 700") << false << QStringLiteral("its decode needs more than");
        QTest::newRow("crashing") << QStringLiteral("crash") << false << QStringLiteral("the decoder ended abnormally");
        QTest::newRow("never returning") << QStringLiteral("hang") << false << QStringLiteral("its decode ran past 20 seconds");
    }
    void aDecodeInAWorkerThatPassesItsGrantIsTriedOnceMore()
    {
        QFETCH(QString, mark);
        QFETCH(bool, shown);
        QFETCH(QString, words);
        lg::image::setDecodesInThisProcess(false);
        lg::image::setDecodeWorkerProgramForTesting(QStringLiteral(LG_STANDIN_DECODER));
        // Time passes a thousand times faster for the watchdog of the decode that never returns.
        QElapsedTimer real;
        real.start();
        const qint64 pace = mark == QLatin1String("hang") ? 1000 : 1;
        lg::image::setDecodeClockForTesting([&real, pace] { return real.elapsed() * pace; });
        const auto restore = qScopeGuard([] {
            lg::image::setDecodeClockForTesting({});
            lg::image::setDecodeWorkerProgramForTesting({});
            lg::image::setDecodesInThisProcess(true);
        });
        QImage image(64, 64, QImage::Format_RGB32);
        image.fill(Qt::red);
        image.setText(QStringLiteral("Comment"), QStringLiteral("standin:") + mark + QLatin1Char('.'));
        const QString path = m_photos + QStringLiteral("/marked.png");
        QVERIFY(image.save(path, "png"));
        const ThumbnailKey key = keyOf(path);
        auto cache = newCache();
        lg::test::CaptureStdout output;
        QVERIFY(makeAll(*cache, {key}));
        const QString printed = QString::fromLocal8Bit(output.finish());
        QCOMPARE(QFileInfo::exists(lg::ThumbnailStore(m_root).failurePath(path)), !shown);
        // The record says why, as the log does.
        if (!shown) {
            const std::optional<QString> why = lg::ThumbnailStore(m_root).failure(path, *lg::FileStamp::of(path));
            QVERIFY2(why && why->startsWith(words), qPrintable(why.value_or(QStringLiteral("no record"))));
        }
        // The stand-in's picture, or the file type's icon.
        QCOMPARE(cache->thumbnail(key)->size() == QSize(1, 1), shown);
        QVERIFY2(words.isEmpty() ? !printed.contains(QStringLiteral("No thumbnail")) : printed.contains(words),
                 qPrintable(printed));
        QCOMPARE(cache->decodeBudget().held(), 0);
    }

    void aCacheThatCannotBeWrittenChangesNothingShown()
    {
        const QList<ThumbnailKey> keys = {keyOf(photo(QStringLiteral("a.jpg"), 800, 600)),
                                          keyOf(photo(QStringLiteral("b.jpg"), 800, 600))};
        int writes = 0;
        lg::ThumbnailStore::setWriteFaultForTesting([&](const QString &) {
            ++writes;
            return EROFS;
        });
        auto cache = newCache();
        QVERIFY(makeAll(*cache, keys));
        QCOMPARE(cache->decodeCount(), 2);
        for (const ThumbnailKey &key : keys)
            QCOMPARE(cache->thumbnail(key)->size(), QSize(200, 150));
        QVERIFY(cache->store()->writesStopped());
        QCOMPARE(writes, 1);  // one try, then no more
        QVERIFY(QDir(m_root + QStringLiteral("/large")).entryList(QDir::Files | QDir::Hidden).isEmpty());

        // Memory only: the same thumbnails, nothing on disk.
        lg::ThumbnailStore::setWriteFaultForTesting({});
        ThumbnailCache memoryOnly;
        memoryOnly.setStore(nullptr);
        QVERIFY(makeAll(memoryOnly, keys));
        QCOMPARE(memoryOnly.thumbnail(keys[0])->size(), QSize(200, 150));
        QVERIFY(!QFileInfo::exists(m_root + QStringLiteral("/large")));
    }

    // Thumbnails made while writes are stopped (a full cache) are written
    // once they resume, also those of a folder seen meanwhile and shown
    // again from memory.
    void thumbnailsMadeWhileWritesStoppedAreWrittenWhenTheyResume()
    {
        lg::FakeClock clock;
        const QList<ThumbnailKey> keys = {keyOf(photo(QStringLiteral("a.jpg"), 800, 600)),
                                          keyOf(photo(QStringLiteral("b.jpg"), 600, 800)),
                                          keyOf(photo(QStringLiteral("c.jpg"), 640, 480))};
        auto cache = newCache();
        cache->store()->setClockForTesting([&clock] { return clock.now(); });
        lg::ThumbnailStore::setWriteFaultForTesting([](const QString &) { return ENOSPC; });
        QVERIFY(makeAll(*cache, keys.mid(0, 2)));
        QVERIFY(cache->store()->writesStopped());
        lg::ThumbnailStore::setWriteFaultForTesting({});
        // Space is back, but writes are still stopped.
        QVERIFY(makeAll(*cache, keys));
        QVERIFY(makeAll(*cache, keys.mid(0, 2)));
        const QString large = m_root + QStringLiteral("/large");
        QVERIFY(QDir(large).entryList(QDir::Files).isEmpty());
        // The try once writes resume is arranged through the main thread.
        (void)QTest::qWaitFor([&] { return clock.pendingCount() > 0; }, 2000);

        clock.advance(int(lg::ThumbnailStore::writeRetryMs));
        QVERIFY(!cache->store()->writesStopped());
        QTRY_VERIFY(!cache->isWriting());
        for (const ThumbnailKey &key : keys)
            QVERIFY2(cache->store()->find(key.path, stampOf(key.path), 200), qPrintable(key.path));
        QCOMPARE(cache->decodeCount(), 3);
    }

    // What the decodes running at once hold (told by each picture's header
    // before it is decoded) stays within the cache's budget, however many
    // threads it has; a picture larger than the whole budget is still made,
    // alone.
    void decodesRunningAtOnceHoldNoMoreThanTheBudget()
    {
        QList<ThumbnailKey> keys;
        for (int i = 0; i < 10; ++i) {
            QImage image(1600, 1200, QImage::Format_RGB32);
            image.fill(QColor(200, 20 * i, 10));
            const QString path = m_photos + QStringLiteral("/picture %1.png").arg(i);
            QVERIFY(image.save(path, "PNG"));
            keys.append(keyOf(path));
        }
        QImage large(3200, 2400, QImage::Format_RGB32);
        large.fill(Qt::red);
        const QString largePath = m_photos + QStringLiteral("/large.png");
        QVERIFY(large.save(largePath, "PNG"));
        keys.insert(3, keyOf(largePath));
        constexpr qint64 limit = 20LL << 20;
        const qint64 largest = lg::ImageSource(largePath).thumbnailDecodeBytes(256);
        QVERIFY(largest > limit);
        QVERIFY(lg::ImageSource(keys.first().path).thumbnailDecodeBytes(256) < limit / 2);

        auto cache = newCache();
        cache->setDecodeLimitForTesting(limit);
        QVERIFY(makeAll(*cache, keys));
        QCOMPARE(cache->decodeCount(), keys.size());
        for (const ThumbnailKey &key : std::as_const(keys))
            QVERIFY2(cache->thumbnail(key), qPrintable(key.path));
        QCOMPARE(cache->decodeBudget().peakHeld(), largest);
        QCOMPARE(cache->decodeBudget().held(), 0);
    }

    // A picture whose size is known only by decoding it (ImageMagick's
    // formats) is decoded for its pixel size within the budget too.
    void aPixelSizeFoundByDecodingWaitsForTheBudget()
    {
        QImage image(800, 600, QImage::Format_RGB32);
        image.fill(QColor(30, 120, 200));
        const QString png = m_photos + QStringLiteral("/layer.png");
        QVERIFY(image.save(png, "PNG"));
        const QString psd = lg::test::fixtures::convert(png, m_photos + QStringLiteral("/picture.psd"));
        if (psd.isEmpty())
            QSKIP("ImageMagick's convert is not installed");
        const qint64 bytes = lg::ImageSource(psd).pixelSizeDecodeBytes();
        QVERIFY(bytes > 800 * 600 * 4);
        QCOMPARE(lg::ImageSource(png).pixelSizeDecodeBytes(), 0);

        auto cache = newCache();
        QObject client;
        ThumbnailRequest request {keyOf(psd), true, 200, true};
        cache->request(&client, {}, {request});
        QVERIFY(QTest::qWaitFor([&] { return !cache->isWorking(); }, 20000));
        QCOMPARE(cache->pixelInfo(request.key)->imageSize, std::optional<QSize>(QSize(800, 600)));
        QCOMPARE(cache->decodeBudget().peakHeld(), bytes);
        QCOMPARE(cache->decodeBudget().held(), 0);
    }

    // A video's size is read by a probe in a worker, held within the budget.
    void aVideosProbeWaitsForTheBudget()
    {
        const QString video = lg::test::fixtures::writeVideo(m_photos + QStringLiteral("/clip.mp4"),
                                                             QStringLiteral("color=c=red:s=64x48:r=10:d=1"));
        if (video.isEmpty())
            QSKIP("ffmpeg is not installed");
        auto cache = newCache();
        QObject client;
        ThumbnailRequest request {keyOf(video), false, 200, true};
        cache->request(&client, {}, {request});
        QVERIFY(QTest::qWaitFor([&] { return !cache->isWorking(); }, 20000));
        QCOMPARE(cache->pixelInfo(request.key)->videoSize, std::optional<QSizeF>(QSizeF(64, 48)));
        QVERIFY2(cache->decodeBudget().peakHeld() >= lg::VideoInfo::probeDecodeBytes,
                 qPrintable(QString::number(cache->decodeBudget().peakHeld())));
        QCOMPARE(cache->decodeBudget().held(), 0);
    }

    // What libheif or LibRaw read of a header is held within the budget,
    // both by a thumbnail's job and by a size's; a file whose header this
    // program reads itself holds nothing for it.
    void aPicturesHeaderReadByALibraryIsHeldInTheBudget_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<bool>("sizeOnly");
        QTest::addColumn<bool>("probed");
        QTest::newRow("heic thumbnail") << QStringLiteral("heic") << false << true;
        QTest::newRow("heic size") << QStringLiteral("heic") << true << true;
        QTest::newRow("raw thumbnail") << QStringLiteral("dng") << false << true;
        QTest::newRow("raw size") << QStringLiteral("dng") << true << true;
        QTest::newRow("jpeg thumbnail") << QStringLiteral("jpg") << false << false;
        QTest::newRow("jpeg size") << QStringLiteral("jpg") << true << false;
    }
    void aPicturesHeaderReadByALibraryIsHeldInTheBudget()
    {
        QFETCH(QString, format);
        QFETCH(bool, sizeOnly);
        QFETCH(bool, probed);
        const QString path = m_photos + QStringLiteral("/picture.") + format;
        const QImage picture = lg::test::fixtures::quadrants(QSize(64, 48));
        if (format == QLatin1String("heic")) {
            if (lg::test::fixtures::writeHeic(path, picture).isEmpty())
                QSKIP("heif-enc is not installed");
        } else if (format == QLatin1String("dng")) {
            lg::test::fixtures::DngSpec spec;
            spec.picture = picture;
            QVERIFY(!lg::test::fixtures::writeDng(path, spec).isEmpty());
        } else {
            QVERIFY(picture.save(path, "JPEG"));
        }
        auto cache = newCache();
        QObject client;
        const ThumbnailRequest request {keyOf(path), true, 200, true};
        if (sizeOnly)
            cache->request(&client, {}, {request});
        else
            cache->request(&client, {request});
        QVERIFY(QTest::qWaitFor([&] { return !cache->isWorking() && !cache->isWriting(); }, 20000));
        if (sizeOnly)
            QCOMPARE(cache->pixelInfo(request.key)->imageSize, std::optional<QSize>(QSize(64, 48)));
        else
            QCOMPARE(cache->thumbnail(request.key)->size(), QSize(64, 48));
        const qint64 peak = cache->decodeBudget().peakHeld();
        QVERIFY2((peak >= lg::image::probeGrantBytes) == probed, qPrintable(QString::number(peak)));
        QCOMPARE(cache->decodeBudget().held(), 0);
    }

    void aFileRenamedByTheProgramKeepsItsThumbnail()
    {
        const QString before = photo(QStringLiteral("before.jpg"), 800, 600);
        auto first = newCache();
        QVERIFY(makeAll(*first, {keyOf(before)}));
        const QString after = m_photos + QStringLiteral("/after name.jpg");
        QVERIFY(QFile::rename(before, after));
        first->fileMoved(before, after);
        QVERIFY(QTest::qWaitFor([&] { return !first->isWriting(); }, 5000));

        auto second = newCache();
        QVERIFY(makeAll(*second, {keyOf(after)}));
        QCOMPARE(second->decodeCount(), 0);
        QVERIFY(isReddish(*second->thumbnail(keyOf(after))));
        QVERIFY(!QFileInfo::exists(lg::ThumbnailStore(m_root).entryPath(before, 256)));
    }

    void theRenameCommandCarriesTheThumbnailAlong()
    {
        ThumbnailCache &shared = ThumbnailCache::shared();
        const QString before = photo(QStringLiteral("trip.jpg"), 800, 600);
        QVERIFY(makeAll(shared, {keyOf(before)}));
        const lg::ThumbnailStore &store = *shared.store();
        QVERIFY(QFileInfo::exists(store.entryPath(before, 256)));
        QVERIFY(renameInPlace(before, QStringLiteral("trip 2.jpg"), nullptr));
        const QString after = m_photos + QStringLiteral("/trip 2.jpg");
        QVERIFY(QTest::qWaitFor([&] { return !shared.isWriting(); }, 5000));
        QVERIFY(!QFileInfo::exists(store.entryPath(before, 256)));
        QVERIFY(store.find(after, stampOf(after), 200));
    }

    void theCacheSeenThroughALinkIsNeverThumbnailed()
    {
        auto cache = newCache();
        QVERIFY(makeAll(*cache, {keyOf(photo(QStringLiteral("a.jpg"), 800, 600))}));
        const QString large = m_root + QStringLiteral("/large");
        QCOMPARE(QDir(large).entryList(QDir::Files | QDir::Hidden).size(), 1);
        // Browsing a folder that links to the cache's own: its entries are
        // shown, and nothing new appears in it.
        QVERIFY(QFile::link(large, m_photos + QStringLiteral("/thumbs")));
        for (int visit = 0; visit < 2; ++visit) {
            QList<ThumbnailKey> seen;
            for (const QString &name : QDir(m_photos + QStringLiteral("/thumbs")).entryList(QDir::Files))
                seen.append(keyOf(m_photos + QStringLiteral("/thumbs/") + name));
            QVERIFY(makeAll(*cache, seen, 100));
            QVERIFY(cache->thumbnail(seen.first()));
            QCOMPARE(QDir(large).entryList(QDir::Files | QDir::Hidden).size(), 1);
            QVERIFY(!QFileInfo::exists(m_root + QStringLiteral("/normal")));
        }
    }

    // A folder browsed before that later leads into the cache (a link put
    // in its place, or in place of a folder above it): its files are the
    // cache's own, and nothing new is written for them.
    void aFolderThatLaterLeadsIntoTheCacheIsNeverThumbnailed_data()
    {
        QTest::addColumn<bool>("above");
        QTest::newRow("the folder replaced by a link") << false;
        QTest::newRow("a folder above it replaced by a link") << true;
    }
    void aFolderThatLaterLeadsIntoTheCacheIsNeverThumbnailed()
    {
        QFETCH(bool, above);
        auto cache = newCache();
        QVERIFY(makeAll(*cache, {keyOf(photo(QStringLiteral("a.jpg"), 800, 600))}));
        const QString large = m_root + QStringLiteral("/large");
        QCOMPARE(QDir(large).entryList(QDir::Files | QDir::Hidden).size(), 1);
        // First a plain folder of photos, browsed.
        const QString outer = m_photos + QStringLiteral("/later");
        const QString browsed = above ? outer + QStringLiteral("/large") : outer;
        QVERIFY(QDir().mkpath(browsed));
        const QString there = browsed + QStringLiteral("/b.jpg");
        QVERIFY(QFile::copy(m_photos + QStringLiteral("/a.jpg"), there));
        QVERIFY(makeAll(*cache, {keyOf(there)}));
        QCOMPARE(QDir(large).entryList(QDir::Files | QDir::Hidden).size(), 2);
        // Then a link into the cache in its place, and the folder listed again.
        QVERIFY(QDir(outer).removeRecursively());
        QVERIFY(QFile::link(above ? m_root : large, outer));
        for (int visit = 0; visit < 2; ++visit) {
            QList<ThumbnailKey> seen;
            for (const QString &name : QDir(browsed).entryList(QDir::Files))
                seen.append(keyOf(browsed + QLatin1Char('/') + name));
            QCOMPARE(seen.size(), 2);
            QVERIFY(makeAll(*cache, seen, 100));
            QCOMPARE(QDir(large).entryList(QDir::Files | QDir::Hidden).size(), 2);
            QVERIFY(!QFileInfo::exists(m_root + QStringLiteral("/normal")));
        }
    }

    // A folder renamed by the program takes the entries of all its files
    // along, names that are not valid UTF-8 (beside their look-alikes) too.
    void aRenamedFolderTakesTheThumbnailsOfEveryNameAlong()
    {
        const QString trip = m_photos + QStringLiteral("/Trip");
        QVERIFY(QDir().mkpath(trip + QStringLiteral("/day 1")));
        const QByteArray bytes = QFile::encodeName(trip);
        const QList<QByteArray> names = {"/bad\xff.jpg", "/bad\xef\xbf\xbd.jpg", "/day 1/caf\xe9.jpg", "/plain.jpg"};
        for (const QByteArray &name : names) {
            const QString plain = photo(QStringLiteral("plain.jpg"), 400, 300);
            QCOMPARE(::rename(QFile::encodeName(plain).constData(), QByteArray(bytes + name).constData()), 0);
        }
        QList<ThumbnailKey> keys;
        for (const QString &folder : {trip, trip + QStringLiteral("/day 1")})
            for (const InitialDirectory &item : mediaItemsInFolder(folder))
                keys.append(thumbnailKeyFor(item));
        QCOMPARE(keys.size(), names.size());
        auto cache = newCache();
        QVERIFY(makeAll(*cache, keys));
        const QString renamed = m_photos + QStringLiteral("/Trip 2");
        QVERIFY(QDir().rename(trip, renamed));
        const auto cleanup = qScopeGuard([&] {
            for (const QByteArray &name : names)
                ::unlink(QByteArray(QFile::encodeName(renamed) + name).constData());
        });
        cache->fileMoved(trip, renamed);
        QVERIFY(QTest::qWaitFor([&] { return !cache->isWriting(); }, 5000));
        const lg::ThumbnailStore &store = *cache->store();
        for (const QByteArray &name : names) {
            const QString before = lg::FileNames::fromNative(bytes + name);
            const QString after = lg::FileNames::fromNative(QFile::encodeName(renamed) + name);
            QVERIFY2(store.find(after, stampOf(after), 200), name.constData());
            QVERIFY2(!QFileInfo::exists(store.entryPath(before, 256)), name.constData());
        }
    }

    void aVideoEntryIsWrittenAtItsFoldersSize()
    {
        const QString clip = lg::test::fixtures::writeVideo(m_photos + QStringLiteral("/clip.mp4"),
                                                  QStringLiteral("color=c=red:s=1280x720:d=1"));
        QVERIFY(!clip.isEmpty());
        auto cache = newCache();
        QObject client;
        const ThumbnailKey key = keyOf(clip);
        cache->request(&client, {ThumbnailRequest{key, false, 200, true}});
        QVERIFY(QTest::qWaitFor([&] { return !cache->isWorking() && !cache->isWriting(); }, 20000));
        QCOMPARE(cache->thumbnail(key)->size(), QSize(150, 84));
        const QImage entry(cache->store()->entryPath(clip, 256));
        QCOMPARE(entry.size(), QSize(256, 144));
        QVERIFY(isReddish(entry));

        // Read back by the next run as it is, shown at the grid's size.
        auto next = newCache();
        next->request(&client, {ThumbnailRequest{key, false, 200, true}});
        QVERIFY(QTest::qWaitFor([&] { return !next->isWorking() && !next->isWriting(); }, 20000));
        QCOMPARE(next->decodeCount(), 0);
        QCOMPARE(next->thumbnail(key)->size(), QSize(150, 84));
    }

    void aNameThatIsNotUtf8IsShownAsItself()
    {
        // Names from a card written by another system, beside a look-alike
        // whose name is what Qt makes of the first one.
        const QHash<QByteArray, Qt::GlobalColor> files = {{"bad\xff.jpg", Qt::red},
                                                         {"bad\xef\xbf\xbd.jpg", Qt::blue},
                                                         {"caf\xe9.jpg", Qt::green},
                                                         {"\x80.jpg", Qt::yellow}};
        const QByteArray folder = QFile::encodeName(m_photos) + '/';
        for (auto file = files.cbegin(); file != files.cend(); ++file) {
            const QString plain = photo(QStringLiteral("plain.jpg"), 400, 300, file.value());
            QCOMPARE(::rename(QFile::encodeName(plain).constData(), QByteArray(folder + file.key()).constData()), 0);
        }
        const QVector<InitialDirectory> items = mediaItemsInFolder(m_photos);
        QList<ThumbnailKey> keys;
        for (const InitialDirectory &item : items) {
            QVERIFY(item.file);  // its attributes were read
            QVERIFY(item.url->fileName().contains(QChar::ReplacementCharacter));  // as shown
            keys.append(thumbnailKeyFor(item));
        }
        QCOMPARE(QSet<ThumbnailKey>(keys.cbegin(), keys.cend()).size(), files.size());

        auto cache = newCache();
        QVERIFY(makeAll(*cache, keys));
        QCOMPARE(cache->decodeCount(), files.size());
        for (const ThumbnailKey &key : std::as_const(keys)) {
            const QByteArray bytes = lg::FileNames::toNative(key.path);
            const QImage shown = *cache->thumbnail(key);
            QCOMPARE(shown.pixelColor(shown.width() / 2, shown.height() / 2).rgb() & 0xC0C0C0,
                     QColor(files.value(bytes.mid(folder.size()))).rgb() & 0xC0C0C0);
            // Its entry names its exact bytes, as GLib escapes them.
            char *uri = g_filename_to_uri(bytes.constData(), nullptr, nullptr);
            QCOMPARE(QImage(cache->store()->entryPath(key.path, 256)).text(QStringLiteral("Thumb::URI")),
                     QString::fromLatin1(uri));
            g_free(uri);
        }
        // A command never acts on the look-alike in its place; a name without
        // one goes to the file operations as text, which refuse it as unreadable.
        for (const InitialDirectory &item : items) {
            const QByteArray url = item.url->toEncoded();
            if (url.endsWith("/bad%FF.jpg"))
                QCOMPARE(item.commandPath(), QString());
            else if (url.endsWith("/caf%E9.jpg"))
                QCOMPARE(item.commandPath(), m_photos + QStringLiteral("/caf\uFFFD.jpg"));
        }
    }
};

LG_TEST(ThumbnailCacheTest)
#include "test_thumbnailcache.moc"
