// A picture's buffer, once freed, leaves nothing resident: on the main thread
// and on a worker, also after a larger picture was freed first (from which
// glibc would otherwise keep later ones in its arenas).
#include "platform/runtime/Heap.h"
#include "tests/support/TestSupport.h"

#include <QFile>

#include <cstdlib>
#include <thread>
#include <vector>

namespace {

constexpr std::size_t megabyte = 1024 * 1024;

// The resident set of this process, in bytes; -1 when it cannot be read.
qint64 residentBytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong() * 1024;
    }
    return -1;
}

// A block of bytes with every page written, as a decoder fills its picture.
void *filled(std::size_t bytes)
{
    auto *block = static_cast<volatile char *>(std::malloc(bytes));
    if (!block)
        return nullptr;
    for (std::size_t i = 0; i < bytes; i += 4096)
        block[i] = 1;
    return const_cast<char *>(block);
}

} // namespace

class HeapTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { lg::tuneHeapForPictures(); }

    void freedPicturesLeaveNothingResident_data()
    {
        QTest::addColumn<bool>("onWorker");
        QTest::newRow("main thread") << false;
        QTest::newRow("worker thread") << true;
    }
    void freedPicturesLeaveNothingResident()
    {
        QFETCH(bool, onWorker);
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("the address sanitizer's allocator keeps freed blocks in its quarantine");
#endif
        qint64 before = -1, after = -1;
        const auto decode = [&] {
            std::free(filled(24 * megabyte));   // a 6 MP picture
            before = residentBytes();
            std::vector<void *> pictures;   // thumbnails of 1 MP
            for (int i = 0; i < 8; ++i)
                pictures.push_back(filled(4 * megabyte));
            for (void *picture : pictures)
                std::free(picture);
            after = residentBytes();
        };
        if (onWorker)
            std::thread(decode).join();
        else
            decode();
        QVERIFY(before > 0 && after > 0);
        QVERIFY2(after - before < qint64(2 * megabyte),
                 qPrintable(QStringLiteral("%1 MB kept").arg((after - before) / double(megabyte))));
    }
};

LG_TEST(HeapTest)
#include "test_heap.moc"
