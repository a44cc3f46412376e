// What a thumbnail decode holds at its most, measured on the heap: never more
// than the picture's estimate, which the thumbnail work's bound in bytes
// relies on to keep a visit's memory within the bound.
#include "platform/image/ImageSource.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TestSupport.h"

#include <QPainter>
#include <QRandomGenerator>
#include <QtTest>

#include <atomic>
#include <cerrno>
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

namespace {

// A photo-like picture: smooth colours under fine noise, which costs an
// encoder about what a camera's picture does.
[[maybe_unused]] QImage photoLike(QSize size)   // unused where the heap is not counted
{
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, size.width(), size.height());
    gradient.setColorAt(0, QColor(30, 110, 200));
    gradient.setColorAt(1, QColor(230, 170, 60));
    painter.fillRect(image.rect(), gradient);
    painter.end();
    QRandomGenerator random(7);
    for (int y = 0; y < size.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            const int n = int(random.bounded(24)) - 12;
            const QRgb c = line[x];
            line[x] = qRgb(std::clamp(qRed(c) + n, 0, 255), std::clamp(qGreen(c) + n, 0, 255), std::clamp(qBlue(c) + n, 0, 255));
        }
    }
    return image;
}

} // namespace

class DecodeMemoryTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void aThumbnailDecodeHoldsNoMoreThanItsEstimate_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QSize>("size");
        QTest::newRow("HEIC") << QStringLiteral("heic") << QSize(1600, 1200);
        QTest::newRow("HEIC, portrait") << QStringLiteral("heic") << QSize(1200, 1600);
        QTest::newRow("PNG") << QStringLiteral("png") << QSize(1600, 1200);
        QTest::newRow("JPEG") << QStringLiteral("jpg") << QSize(3200, 2400);
    }
    void aThumbnailDecodeHoldsNoMoreThanItsEstimate()
    {
#ifndef LG_COUNTS_HEAP
        QSKIP("the heap is not counted under AddressSanitizer");
#else
        QFETCH(QString, kind);
        QFETCH(QSize, size);
        const QString folder = freshFolder(QStringLiteral("decode-memory"));
        const QString path = QDir(folder).filePath(QStringLiteral("photo.") + kind);
        const QImage picture = photoLike(size);
        if (kind == QLatin1String("heic")) {
            if (!hasTool(QStringLiteral("heif-enc")))
                QSKIP("heif-enc is not installed");
            QVERIFY(!writeHeic(path, picture).isEmpty());
        } else {
            QVERIFY(!writeQtImage(path, picture, nullptr, 90).isEmpty());
        }
        constexpr int side = 256;
        // Once first, so that what is made once (a library, its tables) is not counted.
        QVERIFY(lg::ImageSource(path).thumbnail(side));

        const lg::ImageSource source(path);
        QVERIFY(source.isValid());
        const qint64 estimate = source.thumbnailDecodeBytes(side);
        const qint64 before = heldBytes.load();
        peakBytes.store(before);
        const std::optional<QImage> thumbnail = source.thumbnail(side);
        const qint64 held = peakBytes.load() - before;
        QVERIFY(thumbnail);
        QCOMPARE(std::max(thumbnail->width(), thumbnail->height()), side);
        QVERIFY2(held <= estimate, qPrintable(QStringLiteral("%1 held at most, %2 estimated").arg(held).arg(estimate)));
#endif
    }
};

LG_TEST(DecodeMemoryTest)
#include "test_decodememory.moc"
