// A lossless turn of a JPEG whose Huffman tables were made for its picture
// keeps the file about as small as it was: every turn against jpegtran's
// (`-optimize`, and `-progressive` or `-restart` as the source has them),
// with the same pixels, for each kind of file an encoder writes. Files with
// the standard tables keep the standard path.
#include "platform/jpeg/JpegEntropy.h"
#include "platform/jpeg/JpegSegments.h"
#include "platform/jpeg/JpegTurn.h"
#include "platform/base/TiffStructure.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <turbojpeg.h>

using namespace lg::test;
using namespace lg::test::fixtures;
using lg::PictureTurn;
using lg::jpeg::EntropyCoding;

Q_DECLARE_METATYPE(lg::PictureTurn)
Q_DECLARE_METATYPE(lg::jpeg::EntropyCoding)

namespace QTest {
template <>
inline char *toString(const lg::jpeg::EntropyCoding &coding)
{
    static const char *const names[] = {"Standard", "Optimised", "Progressive"};
    return qstrdup(names[int(coding)]);
}
} // namespace QTest

namespace {

// A picture with detail, whose coefficients are far from what the standard tables assume.
QImage texture(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    quint32 seed = 12345;
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int noise = int(seed >> 27);
            image.setPixel(x, y, qRgb((x * 255 / size.width() + noise) & 255, (y * 200 / size.height() + 3 * noise) & 255,
                                      ((x ^ y) * 4 + noise) & 255));
        }
    return image;
}

// The pixels as stored, decoded by TurboJPEG; null when they cannot be.
QImage storedPixels(const QByteArray &jpeg)
{
    tjhandle handle = tjInitDecompress();
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    QImage image;
    if (tjDecompressHeader3(handle, reinterpret_cast<const uchar *>(jpeg.constData()), ulong(jpeg.size()), &width, &height,
                            &subsampling, &colorspace) == 0) {
        const bool grey = colorspace == TJCS_GRAY, cmyk = colorspace == TJCS_CMYK || colorspace == TJCS_YCCK;
        image = QImage(width, height, grey ? QImage::Format_Grayscale8 : cmyk ? QImage::Format_RGBA8888 : QImage::Format_RGBX8888);
        const int format = grey ? TJPF_GRAY : cmyk ? TJPF_CMYK : TJPF_RGBX;
        if (tjDecompress2(handle, reinterpret_cast<const uchar *>(jpeg.constData()), ulong(jpeg.size()), image.bits(), width,
                          int(image.bytesPerLine()), height, format, TJFLAG_ACCURATEDCT) != 0)
            image = QImage();
    }
    tjDestroy(handle);
    return image;
}

QStringList jpegtranOperation(PictureTurn turn)
{
    switch (turn) {
    case PictureTurn::MirrorLeftRight: return {"-flip", "horizontal"};
    case PictureTurn::Rotate180: return {"-rotate", "180"};
    case PictureTurn::MirrorTopBottom: return {"-flip", "vertical"};
    case PictureTurn::Transpose: return {"-transpose"};
    case PictureTurn::RotateRight: return {"-rotate", "90"};
    case PictureTurn::Transverse: return {"-transverse"};
    case PictureTurn::RotateLeft: return {"-rotate", "270"};
    case PictureTurn::None: break;
    }
    return {};
}

// The restart interval of the DRI segment before the first scan; 0 when there is none.
int restartInterval(const QByteArray &jpeg)
{
    qsizetype p = 2;
    while (p + 4 <= jpeg.size() && uchar(jpeg[p]) == 0xff && uchar(jpeg[p + 1]) != 0xda) {
        if (uchar(jpeg[p + 1]) == 0xdd)
            return (uchar(jpeg[p + 4]) << 8) | uchar(jpeg[p + 5]);
        p += 2 + ((uchar(jpeg[p + 2]) << 8) | uchar(jpeg[p + 3]));
    }
    return 0;
}

// The marker of the frame header (SOF0 to SOF15), read here without the code under test.
int frameMarker(const QByteArray &jpeg)
{
    qsizetype p = 2;
    while (p + 4 <= jpeg.size() && uchar(jpeg[p]) == 0xff) {
        const int marker = uchar(jpeg[p + 1]);
        if (marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc)
            return marker;
        p += 2 + ((uchar(jpeg[p + 2]) << 8) | uchar(jpeg[p + 3]));
    }
    return 0;
}

// A grey picture with a narrow column of strong colours at its right edge,
// red over blue over green in bands, each colour changing halfway across the
// column: what a chroma block of a 4:2:0 picture holds there is far from its mean.
QImage colourAtTheRightEdge(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    const QRgb colours[] = {qRgb(255, 0, 0), qRgb(0, 0, 255), qRgb(0, 200, 0), qRgb(255, 0, 255)};
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x) {
            const int band = (y / 8) % 4;
            image.setPixel(x, y, x < size.width() - 8 ? qRgb(128, 128, 128)
                                 : x < size.width() - 4 ? colours[band] : colours[(band + 1) % 4]);
        }
    return image;
}

struct Source
{
    QString name;
    QSize size;
    QStringList cjpegArguments;  // empty: ImageMagick at quality 90 with convertArguments instead
    EntropyCoding coding;
    int restart = 0;             // in MCUs
    QStringList convertArguments = {};
    QImage (*picture)(QSize) = texture;
};

const QList<Source> &sources()
{
    static const QList<Source> list = {
        {"ImageMagick quality 90, 4:4:4", {320, 240}, {}, EntropyCoding::Optimised},
        {"cjpeg -optimize, 4:2:0", {320, 240}, {"-optimize", "-sample", "2x2"}, EntropyCoding::Optimised},
        {"cjpeg -optimize, 4:2:2, edges not whole MCUs", {96, 75}, {"-optimize", "-sample", "2x1"}, EntropyCoding::Optimised},
        {"progressive", {160, 120}, {"-progressive", "-sample", "2x2"}, EntropyCoding::Progressive},
        {"restart every 3 MCUs", {160, 112}, {"-optimize", "-restart", "3B"}, EntropyCoding::Optimised, 3},
        {"progressive with restarts", {128, 96}, {"-progressive", "-restart", "2B"}, EntropyCoding::Progressive, 2},
        {"grey, height not whole blocks", {72, 50}, {"-optimize", "-grayscale"}, EntropyCoding::Optimised},
        {"grey, small", {64, 48}, {"-optimize", "-grayscale"}, EntropyCoding::Optimised},
        {"arithmetic coding", {64, 48}, {"-arithmetic"}, EntropyCoding::Optimised},
        {"arithmetic coding, 4:2:0", {320, 240}, {"-arithmetic", "-sample", "2x2"}, EntropyCoding::Optimised},
        {"arithmetic coding, progressive", {128, 96}, {"-arithmetic", "-progressive"}, EntropyCoding::Progressive},
        {"CMYK (ImageMagick)", {128, 96}, {}, EntropyCoding::Optimised, 0, {"-colorspace", "CMYK"}},
        {"standard tables", {320, 240}, {"-sample", "2x2"}, EntropyCoding::Standard},
        {"standard tables, grey", {64, 48}, {"-grayscale"}, EntropyCoding::Standard},
        {"standard tables, restart every 3 MCUs", {160, 112}, {"-sample", "2x2", "-restart", "3B"}, EntropyCoding::Standard, 3},
        // Grey pictures whose frame states factors a colour one would have:
        // their lone component is still read a block at a time.
        {"grey, 2x2 factors, height not whole blocks", {72, 50}, {"-optimize", "-grayscale", "-sample", "2x2"}, EntropyCoding::Optimised},
        {"grey, 2x1 factors, width not whole 2x1 MCUs", {88, 64}, {"-optimize", "-grayscale", "-sample", "2x1"}, EntropyCoding::Optimised},
        {"grey, 1x2 factors, height not whole 1x2 MCUs", {64, 56}, {"-optimize", "-grayscale", "-sample", "1x2"}, EntropyCoding::Optimised},
        {"grey, 4x1 factors, width not whole 4x1 MCUs", {72, 48}, {"-optimize", "-grayscale", "-sample", "4x1"}, EntropyCoding::Optimised},
        {"grey, 2x2 factors, progressive", {80, 64}, {"-progressive", "-grayscale", "-sample", "2x2"}, EntropyCoding::Progressive},
        {"grey, 2x1 factors, standard tables", {64, 48}, {"-grayscale", "-sample", "2x1"}, EntropyCoding::Standard},
        {"grey, 2x2 factors (ImageMagick)", {96, 72}, {}, EntropyCoding::Optimised, 0, {"-colorspace", "Gray", "-sampling-factor", "4:2:0"}},
        // A picture of fewer MCUs than the check after the turn compares by,
        // its last MCU column partial and holding strong colours.
        {"tiny 4:2:0, colours in its partial last MCU column", {24, 64}, {"-optimize", "-sample", "2x2"}, EntropyCoding::Optimised, 0, {}, colourAtTheRightEdge},
        {"tiny 4:2:0, colours in its partial last MCU column, progressive", {24, 64}, {"-progressive", "-sample", "2x2"}, EntropyCoding::Progressive, 0, {}, colourAtTheRightEdge},
    };
    return list;
}

} // namespace

class JpegEntropyTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QHash<QString, QByteArray> m_files;  // by source name

    // jpegtran's turn of path (with -perfect), as the file's own kind asks; none when it refuses.
    std::optional<QByteArray> jpegtran(const QString &path, PictureTurn turn, const Source &source, const QString &copy)
    {
        QStringList arguments = jpegtranOperation(turn) + QStringList {"-perfect", "-copy", copy};
        // Arithmetic coding has no tables to optimise (jpegtran refuses both).
        if (source.cjpegArguments.contains("-arithmetic"))
            arguments << "-arithmetic";
        else if (source.coding != EntropyCoding::Standard)
            arguments << "-optimize";
        if (source.coding == EntropyCoding::Progressive)
            arguments << "-progressive";
        if (source.restart)
            arguments << "-restart" << QStringLiteral("%1B").arg(source.restart);
        const QString out = m_dir.filePath(QStringLiteral("jpegtran-out.jpg"));
        QFile::remove(out);
        if (!run("jpegtran", arguments + QStringList {"-outfile", out, path}))
            return std::nullopt;
        return readAll(out);
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!hasTool("cjpeg") || !hasTool("jpegtran") || !hasTool("convert"))
            QSKIP("cjpeg, jpegtran and convert are needed to make and check the files");
        QVERIFY(m_dir.isValid());
        for (const Source &source : sources()) {
            const QString ppm = m_dir.filePath(source.name + ".ppm");
            const QString path = m_dir.filePath(source.name + ".jpg");
            QVERIFY(source.picture(source.size).save(ppm, "PPM"));
            if (source.cjpegArguments.isEmpty())
                QVERIFY(!convert(ppm, path, source.convertArguments + QStringList {"-quality", "90"}).isEmpty());
            else
                QVERIFY2(run("cjpeg", source.cjpegArguments + QStringList {"-quality", "90", "-outfile", path, ppm}),
                         qPrintable(source.name));
            m_files.insert(source.name, readAll(path));
        }
    }

    // The kind of coding is told from the file as each encoder wrote it.
    void codingIsToldFromTheTables_data()
    {
        QTest::addColumn<QString>("name");
        for (const Source &source : sources())
            QTest::addRow("%s", qPrintable(source.name)) << source.name;
    }
    void codingIsToldFromTheTables()
    {
        QFETCH(QString, name);
        const auto source = std::find_if(sources().cbegin(), sources().cend(), [&](const Source &s) { return s.name == name; });
        QCOMPARE(lg::jpeg::entropyCoding(m_files.value(name)), source->coding);
    }

    // Every turn of every kind of file: the pixels jpegtran makes, a size
    // within 1 % of jpegtran's optimised one (the plain one for standard
    // tables, whose path stays), the progression and restart interval kept,
    // and no turn where jpegtran finds the picture not whole blocks.
    void turnsMatchJpegtranOptimised_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<PictureTurn>("turn");
        static const std::pair<PictureTurn, const char *> turns[] = {
            {PictureTurn::MirrorLeftRight, "mirror left-right"}, {PictureTurn::Rotate180, "180"},
            {PictureTurn::MirrorTopBottom, "mirror top-bottom"}, {PictureTurn::Transpose, "transpose"},
            {PictureTurn::RotateRight, "right"}, {PictureTurn::Transverse, "transverse"},
            {PictureTurn::RotateLeft, "left"}};
        for (const Source &source : sources())
            for (const auto &[turn, label] : turns)
                QTest::addRow("%s, %s", qPrintable(source.name), label) << source.name << turn;
    }
    void turnsMatchJpegtranOptimised()
    {
        QFETCH(QString, name);
        QFETCH(PictureTurn, turn);
        const Source &source = *std::find_if(sources().cbegin(), sources().cend(), [&](const Source &s) { return s.name == name; });
        const QString path = m_dir.filePath(name + ".jpg");
        const QByteArray original = m_files.value(name);
        const std::optional<QByteArray> reference = jpegtran(path, turn, source, "none");
        QString error;
        const std::optional<lg::TurnedJpeg> turned = lg::turnJpegLosslessly(original, turn, &error);
        if (!reference) {
            QVERIFY2(!turned, "turned although the picture is not whole blocks along a mirrored edge");
            QVERIFY(!error.isEmpty());
            return;
        }
        QVERIFY2(turned, qPrintable(error));
        QVERIFY(!turned->byTag);
        QCOMPARE(turned->pixelSize, lg::turnedSize(source.size, turn));
        const QImage pixels = storedPixels(turned->bytes);
        QVERIFY(!pixels.isNull());
        QVERIFY2(pixels == storedPixels(*reference), "the pixels differ from jpegtran's");
        QVERIFY2(turned->bytes.size() <= reference->size() * 101 / 100,
                 qPrintable(QStringLiteral("%1 bytes, jpegtran %2, the original %3")
                                .arg(turned->bytes.size()).arg(reference->size()).arg(original.size())));
        QCOMPARE(lg::jpeg::entropyCoding(turned->bytes), source.coding);
        QCOMPARE(restartInterval(turned->bytes), source.restart);
        // The same kind of frame: arithmetic coding stays arithmetic, progressive stays progressive.
        QCOMPARE(QByteArray::number(frameMarker(turned->bytes), 16), QByteArray::number(frameMarker(original), 16));

        // The original's side of the check after the turn, made from its
        // blocks, is the picture libjpeg decodes at an eighth of its size,
        // pixel by pixel, the partial MCUs at its edges too (where libjpeg
        // draws 4:2:0 chroma in detail and shows only part of it).
        QImage fromBlocks;
        QVERIFY(lg::jpeg::turnedBlocks(original, turn, nullptr, &fromBlocks));
        const QImage decoded = lg::jpeg::eighthScale(original);
        QCOMPARE(fromBlocks.size(), decoded.size());
        QCOMPARE(fromBlocks.format(), decoded.format());
        const int channels = decoded.format() == QImage::Format_RGB888 ? 3 : 4;
        qint64 difference = 0;
        int largest = 0;
        for (int y = 0; y < decoded.height(); ++y)
            for (int x = 0; x < decoded.width() * channels; ++x) {
                const int d = std::abs(fromBlocks.constScanLine(y)[x] - decoded.constScanLine(y)[x]);
                difference += d;
                largest = std::max(largest, d);
            }
        const double mean = double(difference) / double(decoded.width() * channels * decoded.height());
        QVERIFY2(mean < 0.5 && largest <= 2, qPrintable(QStringLiteral("%1 levels on average, %2 at most").arg(mean).arg(largest)));
    }

    // The metadata segments and what follows the picture's end are carried
    // around the optimised picture as around any other; the Exif orientation
    // is taken into account and set upright.
    void metadataAndTrailingBytesAreCarried()
    {
        const QString path = m_dir.filePath("exif.jpg");
        QVERIFY(run("cjpeg", {"-optimize", "-quality", "85", "-outfile", path, m_dir.filePath("ImageMagick quality 90, 4:4:4.ppm")}));
        QVERIFY(setExifOrientation(path, 6));
        QByteArray original = readAll(path);
        // A comment and an application segment after the Exif block, and a video after the end.
        const QByteArray comment = QByteArray::fromHex("fffe000c") + "kept as is";
        const QByteArray application = QByteArray::fromHex("ffe9000b") + "APP9 data";
        const std::optional<lg::jpeg::Layout> layout = lg::jpeg::parse(original);
        QVERIFY(layout);
        original.insert(layout->bodyStart, comment + application);
        const QByteArray trailing = QByteArray("....ftypmp42") + QByteArray(300, 'v');
        original += trailing;

        QString error;
        const std::optional<lg::TurnedJpeg> turned = lg::turnJpegLosslessly(original, PictureTurn::RotateRight, &error);
        QVERIFY2(turned, qPrintable(error));
        QVERIFY(turned->bytes.endsWith(trailing));
        QVERIFY(turned->bytes.contains(comment + application));
        const std::optional<lg::jpeg::Layout> after = lg::jpeg::parse(turned->bytes);
        QVERIFY(after);
        QCOMPARE(after->metadata.size(), layout->metadata.size() + 2);
        for (const lg::jpeg::Segment &segment : after->metadata)
            if (lg::jpeg::isExif(segment))
                QCOMPARE(lg::image::exifOrientation(segment.payload.mid(6)), 1);
        // Stored turned right, shown turned right once more: half a turn of the stored blocks.
        const Source optimised {"exif", {320, 240}, {}, EntropyCoding::Optimised};
        QCOMPARE(writeFile(path, original), path);
        const std::optional<QByteArray> reference = jpegtran(path, PictureTurn::Rotate180, optimised, "all");
        QVERIFY(reference);
        QVERIFY(storedPixels(turned->bytes) == storedPixels(*reference));
        QVERIFY2(turned->bytes.size() - trailing.size() <= reference->size() * 101 / 100,
                 qPrintable(QStringLiteral("%1 bytes, jpegtran %2").arg(turned->bytes.size() - trailing.size()).arg(reference->size())));
    }

    // A file whose only defect is a wrong restart interval (its scan data
    // whole) makes the decoder guess: whatever the path its turn would take
    // (standard or optimised tables, or the orientation tag where the blocks
    // cannot move), it is refused, so that the caller makes a copy instead.
    void aWarningOfDamagedDataRefusesTheTurn_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QStringList>("cjpeg");
        QTest::newRow("optimised tables") << QSize(160, 112) << QStringList {"-optimize", "-sample", "2x2"};
        QTest::newRow("standard tables") << QSize(160, 112) << QStringList {"-sample", "2x2"};
        QTest::newRow("not whole blocks: by the tag") << QSize(150, 100) << QStringList {"-optimize", "-sample", "2x2"};
    }
    void aWarningOfDamagedDataRefusesTheTurn()
    {
        QFETCH(QSize, size);
        QFETCH(QStringList, cjpeg);
        const QString ppm = m_dir.filePath("restarts.ppm"), path = m_dir.filePath("restarts.jpg");
        QVERIFY(texture(size).save(ppm, "PPM"));
        QVERIFY(run("cjpeg", cjpeg + QStringList {"-restart", "3B", "-quality", "90", "-outfile", path, ppm}));
        const QByteArray whole = readAll(path);
        QVERIFY(lg::turnJpeg(whole, PictureTurn::RotateRight));
        QByteArray damaged = whole;
        const qsizetype dri = damaged.indexOf(QByteArray::fromHex("ffdd0004"));
        QVERIFY(dri > 0);
        QCOMPARE(restartInterval(damaged), 3);
        damaged[dri + 5] = 7;  // restarts every 7 MCUs, as the DRI segment now claims, are not where the data has them
        QVERIFY(!lg::jpeg::damageOf(damaged).isEmpty());
        QVERIFY(lg::jpeg::damageOf(whole).isEmpty());
        QString error;
        QVERIFY(!lg::turnJpeg(damaged, PictureTurn::RotateRight, &error));
        QVERIFY2(error.contains(QLatin1String("Corrupt")) || error.contains(QLatin1String("damaged")), qPrintable(error));
        QVERIFY(!lg::turnJpegLosslessly(damaged, PictureTurn::MirrorLeftRight));
    }

    // Whatever the damage to the scan data (bytes cut out or changed, the
    // coding arithmetic or Huffman, sequential or progressive), a turn is
    // refused or writes a file that libjpeg reads whole without a warning.
    void aTurnWritesOnlyWhatDecodesWhole_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("cut");    // bytes cut out of the scan data; else bytes changed
        QTest::newRow("arithmetic, bytes cut out") << "arithmetic coding, 4:2:0" << true;
        QTest::newRow("arithmetic, bytes changed") << "arithmetic coding, 4:2:0" << false;
        QTest::newRow("arithmetic progressive, bytes cut out") << "arithmetic coding, progressive" << true;
        QTest::newRow("Huffman optimised, bytes cut out") << "cjpeg -optimize, 4:2:0" << true;
        QTest::newRow("Huffman optimised, bytes changed") << "cjpeg -optimize, 4:2:0" << false;
        QTest::newRow("Huffman standard, bytes changed") << "standard tables" << false;
        QTest::newRow("Huffman progressive, bytes cut out") << "progressive" << true;
    }
    void aTurnWritesOnlyWhatDecodesWhole()
    {
        QFETCH(QString, name);
        QFETCH(bool, cut);
        const QByteArray original = m_files.value(name);
        const qsizetype scan = original.indexOf(QByteArray::fromHex("ffda"));
        const qsizetype data = scan + 2 + ((uchar(original[scan + 2]) << 8) | uchar(original[scan + 3]));
        const qsizetype end = original.lastIndexOf(QByteArray::fromHex("ffd9"));
        QVERIFY(scan > 0 && end > data + 100);
        quint32 seed = 2024;
        const auto next = [&seed](qsizetype below) {
            seed = seed * 1664525u + 1013904223u;
            return qsizetype((seed >> 8) % quint32(below));
        };
        for (int trial = 0; trial < 80; ++trial) {
            QByteArray damaged = original;
            if (cut) {
                const qsizetype from = data + next(end - data);
                damaged.remove(from, 1 + next(std::max<qsizetype>(1, end - from - 1)));
            } else {
                for (int n = 0; n < 3; ++n)
                    damaged[data + next(end - data)] = char(next(0xff));
            }
            QString why;
            // A mirror keeps the rows in order: what went wrong at the bottom stays there.
            const PictureTurn turn = trial % 2 ? PictureTurn::MirrorLeftRight : PictureTurn::RotateRight;
            const std::optional<lg::TurnedJpeg> out = lg::turnJpeg(damaged, turn, &why);
            if (!out)
                continue;
            QVERIFY2(!storedPixels(out->bytes).isNull(), qPrintable(QStringLiteral("damage %1: the turned file does not decode").arg(trial)));
            QVERIFY(lg::jpeg::damageOf(out->bytes).isEmpty());
        }
    }

    // Arithmetic data cut short reads without a warning (a marker amid the
    // data is its end; zeros follow), and the running DC value may wrap
    // round: jpegtran then writes a file that does not decode from there on.
    // Such a file is found among cuts of a large picture (jpegtran's turn of
    // it decodes no further than the cut would let it) and is not turned.
    void anArithmeticScanThatWrapsRoundIsNotTurned()
    {
        const QString ppm = m_dir.filePath(QStringLiteral("swirl.ppm")), path = m_dir.filePath(QStringLiteral("swirl.jpg"));
        const QString cut = m_dir.filePath(QStringLiteral("swirl-cut.jpg")), flipped = m_dir.filePath(QStringLiteral("swirl-flipped.jpg"));
        QVERIFY(run("convert", {"-size", "2048x1536", "gradient:red-blue", "-swirl", "200", ppm}));
        QVERIFY(run("cjpeg", {"-arithmetic", "-quality", "90", "-outfile", path, ppm}));
        const QByteArray whole = readAll(path);
        const qsizetype scan = whole.indexOf(QByteArray::fromHex("ffda"));
        const qsizetype data = scan + 2 + ((uchar(whole[scan + 2]) << 8) | uchar(whole[scan + 3]));
        const qsizetype end = whole.lastIndexOf(QByteArray::fromHex("ffd9"));
        int found = 0;
        for (int permille = 5; permille <= 300 && found < 2; permille += 5) {
            const QByteArray damaged = whole.left(data + (end - data) * permille / 1000) + QByteArray::fromHex("ffd9");
            if (storedPixels(damaged).isNull())
                continue;   // libjpeg warns of this one
            writeFile(cut, damaged);
            QFile::remove(flipped);
            QVERIFY(run("jpegtran", {"-arithmetic", "-flip", "horizontal", "-outfile", flipped, cut}));
            if (!storedPixels(readAll(flipped)).isNull())
                continue;   // written again, it decodes
            ++found;
            QString why;
            const std::optional<lg::TurnedJpeg> turned = lg::turnJpeg(damaged, PictureTurn::MirrorLeftRight, &why);
            QVERIFY2(!turned || !storedPixels(turned->bytes).isNull(), qPrintable(QStringLiteral("cut at %1 \u2030").arg(permille)));
            QVERIFY2(!turned, qPrintable(QStringLiteral("cut at %1 \u2030").arg(permille)));
            QVERIFY2(why.contains(QLatin1String("damaged")), qPrintable(why));
        }
        QVERIFY2(found > 0, "no cut of the picture made jpegtran write what does not decode");
    }

    // Bytes between segments that belong to none are passed over as libjpeg
    // passes them over, by every reader of the file alike: the format check
    // takes the file for the picture it is (a thumbnail, not an icon), the
    // coding is told from the tables after them, a size claim after them is
    // judged, the scan data is counted all the same, and no rewrite takes the
    // file apart (it would lose them) nor turns it (libjpeg warns of them).
    void strayBytesBetweenSegmentsAreReadOneWay_data()
    {
        QTest::addColumn<int>("before");  // the marker the stray bytes go in front of
        QTest::addColumn<QByteArray>("stray");
        QTest::newRow("a byte after the JFIF segment") << 0xdb << QByteArray("\x01", 1);
        QTest::newRow("text before the frame") << 0xc0 << QByteArray("stray");
        QTest::newRow("a stuffed zero before the frame") << 0xc0 << QByteArray::fromHex("ff00");
        QTest::newRow("text before the Huffman tables") << 0xc4 << QByteArray("stray");
        QTest::newRow("text before the scan") << 0xda << QByteArray("x");
    }
    void strayBytesBetweenSegmentsAreReadOneWay()
    {
        QFETCH(int, before);
        QFETCH(QByteArray, stray);
        const QByteArray original = m_files.value("cjpeg -optimize, 4:2:0");
        QByteArray bytes = original;
        const qsizetype at = bytes.indexOf(QByteArray(1, char(0xff)) + char(before));
        QVERIFY(at > 0);
        bytes.insert(at, stray);

        const lg::jpeg::Reading reading = lg::jpeg::read(bytes);
        QCOMPARE(reading.strayBytes, stray.size());
        QVERIFY(reading.frame);
        QCOMPARE(reading.frame->size, QSize(320, 240));
        QCOMPARE(lg::jpeg::entropyCoding(bytes), EntropyCoding::Optimised);
        QCOMPARE(lg::jpeg::entropyCodedBytes(bytes), lg::jpeg::entropyCodedBytes(original));
        // The decoders read past them too (tests/platform/image/test_imagesource.cpp).
        QVERIFY(!lg::jpeg::parse(bytes));
        QVERIFY(!lg::turnJpeg(bytes, PictureTurn::RotateRight));

        // The same picture claiming 8192 x 8192 is refused with or without them.
        QByteArray claiming = bytes;
        const qsizetype frame = claiming.indexOf(QByteArray::fromHex("ffc0"));
        QVERIFY(frame > 0);
        claiming.replace(frame + 5, 4, QByteArray::fromHex("20002000"));
        QVERIFY2(lg::jpegSizeRefusal(claiming).contains(QLatin1String("8192")), qPrintable(lg::jpegSizeRefusal(claiming)));
        QString claimRefusal;
        QVERIFY(!lg::turnJpeg(claiming, PictureTurn::RotateRight, nullptr, &claimRefusal));
        QCOMPARE(claimRefusal, lg::jpegSizeRefusal(claiming));
    }

    // What libjpeg cannot read gives none and its reason, never a crash.
    void damagedDataGivesNoneWithAReason_data()
    {
        QTest::addColumn<QByteArray>("damage");  // replaces the frame segment's first bytes
        QTest::newRow("no width") << QByteArray::fromHex("ffc0000b0800300000");
        QTest::newRow("twelve bits") << QByteArray::fromHex("ffc0000b0c");
        QTest::newRow("no JPEG at all") << QByteArray();
    }
    void damagedDataGivesNoneWithAReason()
    {
        QFETCH(QByteArray, damage);
        QByteArray bytes = m_files.value("grey, small");
        if (damage.isEmpty()) {
            bytes = "not a JPEG, only text";
        } else {
            const qsizetype frame = bytes.indexOf(QByteArray::fromHex("ffc0"));
            QVERIFY(frame > 0);
            bytes.replace(frame, damage.size(), damage);
        }
        QString error;
        QVERIFY(!lg::jpeg::turnedBlocks(bytes, PictureTurn::RotateRight, &error));
        QVERIFY(!error.isEmpty());
    }
};

LG_TEST(JpegEntropyTest)
#include "test_jpegentropy.moc"
