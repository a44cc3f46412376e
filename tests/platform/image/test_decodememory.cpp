// What a thumbnail decode holds at its most, measured on the heap: never more
// than the picture's estimate, which the thumbnail work's bound in bytes
// relies on to keep a visit's memory within the bound.
#include "platform/image/ImageSource.h"
#include "platform/runtime/Dispatch.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TestSupport.h"

#include <QtTest>

#include <atomic>
#include <cerrno>
#include <dlfcn.h>
#include <malloc.h>

using namespace lg::test;
using namespace lg::test::fixtures;

// Every allocation of the process is counted here (the libraries' too), by
// the size the allocator gave it. Not with AddressSanitizer, which has
// allocation functions of its own.
#if !defined(__SANITIZE_ADDRESS__)
#define LG_COUNTS_HEAP 1
extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void *__libc_memalign(size_t, size_t);
void __libc_free(void *);
}

namespace {

std::atomic<qint64> heldBytes {0};
std::atomic<qint64> peakBytes {0};

void added(void *p)
{
    if (!p)
        return;
    const qint64 now = heldBytes += qint64(malloc_usable_size(p));
    qint64 peak = peakBytes.load();
    while (now > peak && !peakBytes.compare_exchange_weak(peak, now)) {
    }
}

void removed(void *p)
{
    if (p)
        heldBytes -= qint64(malloc_usable_size(p));
}

void *aligned(size_t alignment, size_t size)
{
    void *p = __libc_memalign(alignment, size);
    added(p);
    return p;
}

} // namespace

extern "C" {
void *malloc(size_t size)
{
    void *p = __libc_malloc(size);
    added(p);
    return p;
}
void *calloc(size_t count, size_t size)
{
    void *p = __libc_calloc(count, size);
    added(p);
    return p;
}
void *realloc(void *old, size_t size)
{
    const qint64 before = old ? qint64(malloc_usable_size(old)) : 0;
    void *p = __libc_realloc(old, size);
    if (p || size == 0) {
        heldBytes -= before;
        added(p);
    }
    return p;
}
void free(void *p)
{
    removed(p);
    __libc_free(p);
}
void *memalign(size_t alignment, size_t size) { return aligned(alignment, size); }
void *aligned_alloc(size_t alignment, size_t size) { return aligned(alignment, size); }
void *valloc(size_t size) { return aligned(4096, size); }
void *pvalloc(size_t size) { return aligned(4096, (size + 4095) & ~size_t(4095)); }
int posix_memalign(void **out, size_t alignment, size_t size)
{
    if (alignment < sizeof(void *) || (alignment & (alignment - 1)) != 0)
        return EINVAL;
    void *p = aligned(alignment, size);
    if (!p)
        return ENOMEM;
    *out = p;
    return 0;
}
}
#endif

#ifdef LG_COUNTS_HEAP
// Every HEVC decoder the libheif module makes, and every worker thread they
// start, is counted here.
std::atomic<int> decodersMade {0};
std::atomic<int> workersStarted {0};
// The count of decoders made at which the quit begins; 0: none.
std::atomic<int> quitAtDecoder {0};

template <typename F>
F libde265(const char *name)
{
    void *library = dlopen("libde265.so.0", RTLD_NOW | RTLD_NOLOAD);
    return library ? reinterpret_cast<F>(dlsym(library, name)) : nullptr;
}

extern "C" void *de265_new_decoder()
{
    using Make = void *(*)();
    static const Make real = libde265<Make>("de265_new_decoder");
    if (++decodersMade == quitAtDecoder.load())
        lg::beginShutdown();
    return real ? real() : nullptr;
}

extern "C" int de265_start_worker_threads(void *context, int threads)
{
    using Start = int (*)(void *, int);
    static const Start real = libde265<Start>("de265_start_worker_threads");
    workersStarted += threads;
    return real ? real(context, threads) : 1;
}
#endif

class DecodeMemoryTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void aThumbnailDecodeHoldsNoMoreThanItsEstimate_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("cached");
        QTest::newRow("HEIC") << QStringLiteral("heic") << QSize(960, 720) << false;
        QTest::newRow("HEIC, portrait") << QStringLiteral("heic") << QSize(720, 960) << false;
        QTest::newRow("HEIC, for the cache") << QStringLiteral("heic") << QSize(1280, 960) << true;
        QTest::newRow("HEIC with a thumbnail") << QStringLiteral("heic-thumbnail") << QSize(960, 720) << true;
        QTest::newRow("HEIC grid") << QStringLiteral("heic-grid") << QSize(1024, 512) << false;
        QTest::newRow("HEIC grid, for the cache") << QStringLiteral("heic-grid") << QSize(1024, 512) << true;
        QTest::newRow("HEIC cropped to 16 x 16") << QStringLiteral("heic-cropped") << QSize(1024, 768) << false;
        QTest::newRow("PNG") << QStringLiteral("png") << QSize(1600, 1200) << false;
        QTest::newRow("PNG, larger than Qt decodes") << QStringLiteral("png") << QSize(6000, 6000) << false;
        QTest::newRow("TIFF") << QStringLiteral("tiff") << QSize(1600, 1200) << false;
        QTest::newRow("TIFF, larger than Qt decodes") << QStringLiteral("tiff") << QSize(6000, 6000) << false;
        QTest::newRow("JPEG") << QStringLiteral("jpg") << QSize(3200, 2400) << false;
        QTest::newRow("JPEG, progressive") << QStringLiteral("progressive") << QSize(2400, 1800) << false;
        QTest::newRow("PSD") << QStringLiteral("psd") << QSize(1600, 1200) << false;
        QTest::newRow("GIF, animated") << QStringLiteral("gif") << QSize(800, 600) << false;
        QTest::newRow("GIF, many frames") << QStringLiteral("gif-long") << QSize(320, 240) << false;
    }
    void aThumbnailDecodeHoldsNoMoreThanItsEstimate()
    {
#ifndef LG_COUNTS_HEAP
        QSKIP("the heap is not counted under AddressSanitizer");
#else
        QFETCH(QString, kind);
        QFETCH(QSize, size);
        QFETCH(bool, cached);
        // Rows of one kind and size share their picture: made once.
        static QHash<QString, QString> made;
        const QString key = QStringLiteral("%1-%2x%3").arg(kind).arg(size.width()).arg(size.height());
        if (!made.contains(key))
            made.insert(key, makePicture(freshFolder(QStringLiteral("decode-memory-") + key), kind, size));
        const QString path = made.value(key);
        if (path.isEmpty())
            QSKIP("the tool that writes this kind is not installed");
        constexpr int side = 256;
        const lg::ThumbnailUse use = cached ? lg::ThumbnailUse::Cached : lg::ThumbnailUse::Shown;
        // Once first, so that what is made once (a library, its tables) is not counted.
        QVERIFY(lg::ImageSource(path).thumbnail(side, use));

        const qint64 estimate = lg::ImageSource(path).thumbnailDecodeBytes(side, use);
        // From the file's opening on: what its probe reads counts too.
        const qint64 before = heldBytes.load();
        peakBytes.store(before);
        std::optional<QImage> thumbnail = lg::ImageSource(path).thumbnail(side, use);
        const qint64 held = peakBytes.load() - before;
        QVERIFY(thumbnail);
        const QSize shown = lg::ImageSource(path).pixelSize().value_or(QSize());
        QCOMPARE(std::max(thumbnail->width(), thumbnail->height()), std::min(side, std::max(shown.width(), shown.height())));
        qInfo("%s: %lld KB held at most, %lld KB estimated", qPrintable(kind), held >> 10, estimate >> 10);
        QVERIFY2(held <= estimate, qPrintable(QStringLiteral("%1 held at most, %2 estimated").arg(held).arg(estimate)));
#endif
    }

    // A HEIC with an embedded thumbnail large enough is predicted by the
    // thumbnail it decodes, not by its picture.
    void aHeicWithAnEmbeddedThumbnailIsPredictedByIt()
    {
        if (!hasTool(QStringLiteral("heif-enc")))
            QSKIP("heif-enc is not installed");
        const QString folder = freshFolder(QStringLiteral("decode-embedded"));
        const QImage picture = scene(QSize(960, 720), 12);
        const lg::ImageSource with(writeHeic(QDir(folder).filePath(QStringLiteral("with.heic")), picture, 320));
        const lg::ImageSource without(writeHeic(QDir(folder).filePath(QStringLiteral("without.heic")), picture));
        QVERIFY(with.isValid() && without.isValid());
        QVERIFY2(with.thumbnailDecodeBytes(256) < without.thumbnailDecodeBytes(256) / 2,
                 qPrintable(QStringLiteral("%1 against %2").arg(with.thumbnailDecodeBytes(256)).arg(without.thumbnailDecodeBytes(256))));
        // Larger than the thumbnail: the picture itself.
        QVERIFY(with.thumbnailDecodeBytes(640) >= without.thumbnailDecodeBytes(640));
    }

    // A damaged picture is tried once: a reduced decode that fails is not
    // done again in full.
    void aFailedReducedDecodeIsNotRedone()
    {
#ifndef LG_COUNTS_HEAP
        QSKIP("the decoders are not counted under AddressSanitizer");
#else
        if (!hasTool(QStringLiteral("heif-enc")))
            QSKIP("heif-enc is not installed");
        const QString folder = freshFolder(QStringLiteral("decode-once"));
        const QString path = writeHeic(QDir(folder).filePath(QStringLiteral("whole.heic")), scene(QSize(640, 480), 12));
        QVERIFY(!path.isEmpty());
        const int first = decodersMade.load();
        QVERIFY(lg::ImageSource(path).thumbnail(128));
        QCOMPARE(decodersMade.load() - first, 1);
        QByteArray bytes = readAll(path);
        // The picture's one unit of data is a picture unit of a reserved
        // kind no decoder knows: the decoder is made, and finds no picture.
        const qsizetype data = bytes.indexOf("mdat") + 4;
        QVERIFY(data > 4);
        bytes[data + 4] = char(22 << 1);
        const lg::ImageSource damaged(writeFile(QDir(folder).filePath(QStringLiteral("damaged.heic")), bytes));
        QVERIFY(damaged.isValid());
        const int before = decodersMade.load();
        QVERIFY(!damaged.thumbnail(128));
        QCOMPARE(decodersMade.load() - before, 1);
#endif
    }

    // A grid's tiles decode several at once on libheif's threads, each on
    // the thread it is given: no tile starts threads of its own.
    void aGridStartsNoThreadsForItsTiles()
    {
#ifndef LG_COUNTS_HEAP
        QSKIP("the decoders are not counted under AddressSanitizer");
#else
        if (!hasTool(QStringLiteral("heif-enc")))
            QSKIP("heif-enc is not installed");
        const QString folder = freshFolder(QStringLiteral("decode-threads"));
        const QString path = writeHeicGrid(QDir(folder).filePath(QStringLiteral("grid.heic")), scene(QSize(512, 512), 12),
                                           QSize(256, 256));
        QVERIFY(!path.isEmpty());
        const int decoders = decodersMade.load(), workers = workersStarted.load();
        QVERIFY(lg::ImageSource(path).thumbnail(128, lg::ThumbnailUse::Cached));
        QCOMPARE(decodersMade.load() - decoders, 4);
        QCOMPARE(workersStarted.load() - workers, 0);
#endif
    }

    // A long grid ends at the quit between its tiles: of a grid of 16 tiles
    // whose third tile's decoder begins the quit, no more tiles are begun
    // than libheif decodes at once.
    void aLongGridEndsAtTheQuitBetweenTiles()
    {
#ifndef LG_COUNTS_HEAP
        QSKIP("the decoders are not counted under AddressSanitizer");
#else
        if (!hasTool(QStringLiteral("heif-enc")))
            QSKIP("heif-enc is not installed");
        const QString folder = freshFolder(QStringLiteral("decode-grid-quit"));
        const QString path = writeHeicGrid(QDir(folder).filePath(QStringLiteral("grid.heic")), scene(QSize(256, 256), 12),
                                           QSize(64, 64));
        QVERIFY(!path.isEmpty());
        const int before = decodersMade.load();
        quitAtDecoder = before + 3;
        const std::optional<QImage> thumbnail = lg::ImageSource(path).thumbnail(128);
        quitAtDecoder = 0;
        lg::resetShutdownForTesting();
        QVERIFY(!thumbnail);
        const int made = decodersMade.load() - before;
        QVERIFY2(made <= 3 + 4, qPrintable(QStringLiteral("%1 of 16 tiles begun").arg(made)));
        QVERIFY(lg::ImageSource(path).thumbnail(128));
#endif
    }

private:
    // A picture of kind at size in folder; empty when its tool is missing.
    static QString makePicture(const QString &folder, const QString &kind, QSize size)
    {
        // Large ones plain, to be written and read in a moment.
        const QImage picture = scene(size, qint64(size.width()) * size.height() > 20'000'000 ? 0 : 12);
        const QDir dir(folder);
        if (kind == QLatin1String("heic"))
            return writeHeic(dir.filePath(QStringLiteral("photo.heic")), picture);
        if (kind == QLatin1String("heic-thumbnail"))
            return writeHeic(dir.filePath(QStringLiteral("photo.heic")), picture, 320);
        if (kind == QLatin1String("heic-grid"))
            return writeHeicGrid(dir.filePath(QStringLiteral("grid.heic")), picture, QSize(512, 512));
        if (kind == QLatin1String("heic-cropped")) {
            // All of it coded, a few pixels of it shown.
            const HevcStream stream = encodeHevc(folder, picture);
            if (stream.isEmpty())
                return {};
            HeicItem item;
            item.id = 1;
            item.ispe = size;
            item.hvcC = stream.hvcC;
            item.extents = {stream.data};
            item.clap = QSize(16, 16);
            return writeFile(dir.filePath(QStringLiteral("cropped.heic")), buildHeic(1, {item}));
        }
        const QString png = dir.filePath(QStringLiteral("source.png"));
        if (kind == QLatin1String("progressive") || kind == QLatin1String("psd") || kind.startsWith(QLatin1String("gif"))) {
            if (writeQtImage(png, picture, "png").isEmpty())
                return {};
        }
        if (kind == QLatin1String("progressive"))
            return convert(png, dir.filePath(QStringLiteral("photo.jpg")), {QStringLiteral("-interlace"), QStringLiteral("Plane")});
        if (kind == QLatin1String("psd"))
            return convert(png, dir.filePath(QStringLiteral("photo.psd")));
        if (kind.startsWith(QLatin1String("gif"))) {
            // Frames drawn over the first: a small one and one as large.
            const QString second = dir.filePath(QStringLiteral("second.png"));
            if (writeQtImage(second, picture.mirrored(true, false), "png").isEmpty())
                return {};
            const QString gif = dir.filePath(QStringLiteral("moving.gif"));
            if (kind == QLatin1String("gif-long")) {
                // Noise codes to about a byte a pixel: a file many times its frame.
                const QString noisy = dir.filePath(QStringLiteral("noisy.png"));
                if (writeQtImage(noisy, scene(size, 120), "png").isEmpty() || !hasTool(QStringLiteral("convert")))
                    return {};
                QStringList arguments {QStringLiteral("-delay"), QStringLiteral("10")};
                for (int i = 0; i < 64; ++i)
                    arguments += i % 2 ? noisy : png;
                return run(QStringLiteral("convert"), arguments + QStringList {gif}) ? gif : QString();
            }
            if (!hasTool(QStringLiteral("convert"))
                || !run(QStringLiteral("convert"), {QStringLiteral("-delay"), QStringLiteral("10"), png, second, png, gif}))
                return {};
            return gif;
        }
        return writeQtImage(dir.filePath(QStringLiteral("photo.") + kind), picture, nullptr, 90);
    }
};

LG_TEST(DecodeMemoryTest)
#include "test_decodememory.moc"
