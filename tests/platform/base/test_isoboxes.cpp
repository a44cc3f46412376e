// The boxes of ISO base media files, as the HEIF readers walk them.
#include "platform/base/IsoBoxes.h"
#include "tests/support/TestSupport.h"

#include <QtEndian>

namespace {

// A box of that type around body, its size written in 32 bits, or in the 64
// bits that follow a size of 1.
QByteArray box(const QByteArray &type, const QByteArray &body, bool largeSize = false)
{
    QByteArray out(largeSize ? 16 : 8, '\0');
    if (largeSize) {
        qToBigEndian<quint32>(1, out.data());
        qToBigEndian<quint64>(quint64(16 + body.size()), out.data() + 8);
    } else {
        qToBigEndian<quint32>(quint32(8 + body.size()), out.data());
    }
    out.replace(4, 4, type);
    return out + body;
}

QByteArray withSize(QByteArray bytes, quint32 size)
{
    qToBigEndian<quint32>(size, bytes.data());
    return bytes;
}

} // namespace

using lg::image::IsoBox;

class IsoBoxesTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Each row: the bytes, and the boxes read from them as "type body end".
    void boxesAreReadUntilOneDoesNotFit_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("boxes");
        const QByteArray ftyp = box("ftyp", QByteArray("heic\0\0\0\0mif1heic", 16));
        const QByteArray meta = box("meta", QByteArray(12, 'm'));
        QTest::newRow("two boxes") << ftyp + meta << QStringList{"ftyp 8 24", "meta 32 44"};
        QTest::newRow("a 64-bit size") << box("mdat", "abcd", true) + meta << QStringList{"mdat 16 20", "meta 28 40"};
        QTest::newRow("size 0 runs to the end") << meta + withSize(box("mdat", "12345"), 0)
                                                << QStringList{"meta 8 20", "mdat 28 33"};
        QTest::newRow("one reaching past the end stops the walk")
            << ftyp + withSize(meta, 100) + meta << QStringList{"ftyp 8 24"};
        QTest::newRow("one smaller than its header stops the walk") << withSize(meta, 7) + ftyp << QStringList{};
        QTest::newRow("a 64-bit size smaller than its header") << [] {
            QByteArray large = box("mdat", "abcd", true);
            qToBigEndian<quint64>(12, large.data() + 8);
            return large;
        }() << QStringList{};
        QTest::newRow("a header cut short") << ftyp + meta.left(6) << QStringList{"ftyp 8 24"};
        QTest::newRow("nothing") << QByteArray() << QStringList{};
    }
    void boxesAreReadUntilOneDoesNotFit()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, boxes);
        QStringList read;
        for (const IsoBox &found : lg::image::isoBoxesIn(bytes, 0, bytes.size()))
            read.append(QStringLiteral("%1 %2 %3").arg(QString::fromLatin1(found.type)).arg(found.body).arg(found.end));
        QCOMPARE(read, boxes);
    }

    // A header read alone from a file: the box is judged against the file's
    // size, its header against the bytes read.
    void aHeaderReadAloneIsJudgedAgainstTheStream()
    {
        const QByteArray header = withSize(box("meta", QByteArray(8, 'x')), 500).left(16);
        const std::optional<IsoBox> inFile = lg::image::isoBoxAt(header, 0, 1000);
        QVERIFY(inFile);
        QCOMPARE(inFile->type, QByteArray("meta"));
        QCOMPARE(inFile->body, qint64(8));
        QCOMPARE(inFile->end, qint64(500));
        QVERIFY(!lg::image::isoBoxAt(header, 0, 499));
        QVERIFY(!lg::image::isoBoxAt(header.left(7), 0, 1000));
    }

    // The numbers inside a box never come from past its end.
    void numbersStopAtTheEnd()
    {
        const QByteArray bytes = QByteArray::fromHex("0102030405060708090a");
        lg::image::IsoReader read{bytes, 0, 6};
        QCOMPARE(read.number(2), quint64(0x0102));
        QCOMPARE(read.number(4), quint64(0x03040506));
        QVERIFY(read.ok);
        QCOMPARE(read.number(1), quint64(0));
        QVERIFY(!read.ok);
        lg::image::IsoReader wide{bytes, 0, bytes.size()};
        QCOMPARE(wide.number(8), quint64(0x0102030405060708));
        wide.skip(3);
        QVERIFY(!wide.ok);
        QCOMPARE(wide.at, qsizetype(8));
    }
};

LG_TEST(IsoBoxesTest)
#include "test_isoboxes.moc"
