// Reading pictures: every format made by the fixtures, orientation, embedded
// previews, content over extension, damaged files and many threads at once.
#include "platform/image/ImageSource.h"
#include "platform/base/Orientation.h"
#include "platform/jpeg/JpegTurn.h"
#include "platform/runtime/Background.h"
#include "platform/runtime/Dispatch.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TestSupport.h"

#include <QBuffer>
#include <QPainter>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QRandomGenerator>
#include <QtEndian>
#include <QtTest>

#include <libheif/heif.h>

#include <sys/stat.h>

using namespace lg::test;
using namespace lg::test::fixtures;

namespace {

QSize expectedSize(const QString &name)
{
    if (name == QLatin1String("icns"))
        return QSize(32, 32);
    if (name == QLatin1String("pntg"))
        return QSize(576, 720);
    if (name == QLatin1String("heic"))
        return QSize(64, 48);
    return QSize(48, 32);
}

bool isBlackAndWhite(const QString &name)
{
    return name == QLatin1String("xbm") || name == QLatin1String("pbm") || name == QLatin1String("pntg")
        || name == QLatin1String("fax");
}
using lg::test::readAll;

QByteArray jpegBytes(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, "jpeg").write(image);
    return bytes;
}

void checkUpright(const QImage &image, const QImage &upright)
{
    for (Corner corner : {TopLeft, TopRight, BottomLeft, BottomRight}) {
        const QColor got = quarterColor(image, corner);
        const QColor want = quarterColor(upright, corner);
        QVERIFY2(near(got, want), qPrintable(QStringLiteral("corner %1: %2 instead of %3").arg(int(corner)).arg(got.name(), want.name())));
    }
}

// The JPEG with its frame claiming size, behind comments of about
// metadataBytes in all, and zerosAfter zero bytes after its end.
QByteArray jpegPadded(const QByteArray &jpeg, QSize size, qsizetype metadataBytes, qsizetype zerosAfter)
{
    QByteArray out = jpeg;
    for (qsizetype at = 2; size.isValid() && at + 9 < out.size();) {
        const uchar marker = uchar(out[at + 1]);
        if (marker == 0xc0 || marker == 0xc2) {
            qToBigEndian<quint16>(quint16(size.height()), out.data() + at + 5);
            qToBigEndian<quint16>(quint16(size.width()), out.data() + at + 7);
            break;
        }
        at += 2 + qFromBigEndian<quint16>(out.constData() + at + 2);
    }
    QByteArray comments;
    for (qsizetype left = metadataBytes; left > 0; left -= 60000) {
        comments += QByteArray("\xff\xfe\xea\x62", 4);
        comments += QByteArray(60000, 'm');
    }
    return out.left(2) + comments + out.mid(2) + QByteArray(zerosAfter, '\0');
}

} // namespace

// A HEIC written by libheif itself, saying which matrix and range its
// samples use (heif-enc leaves that out).
QString writeHeicWithMatrix(const QString &path, const QImage &picture, int matrix, bool fullRange)
{
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    heif_context *context = heif_context_alloc();
    heif_encoder *encoder = nullptr;
    heif_image *image = nullptr;
    bool ok = heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder).code == heif_error_Ok
        && heif_image_create(rgb.width(), rgb.height(), heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image).code
            == heif_error_Ok
        && heif_image_add_plane(image, heif_channel_interleaved, rgb.width(), rgb.height(), 8).code == heif_error_Ok;
    if (ok) {
        int stride = 0;
        uint8_t *plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
        for (int y = 0; y < rgb.height(); ++y)
            std::memcpy(plane + y * stride, rgb.constScanLine(y), size_t(rgb.width()) * 3);
        heif_encoder_set_lossy_quality(encoder, 95);
        heif_color_profile_nclx *nclx = heif_nclx_color_profile_alloc();
        nclx->matrix_coefficients = heif_matrix_coefficients(matrix);
        nclx->full_range_flag = fullRange;
        heif_encoding_options *options = heif_encoding_options_alloc();
        heif_image_set_nclx_color_profile(image, nclx);
        options->output_nclx_profile = nclx;
        options->macOS_compatibility_workaround_no_nclx_profile = 0;
        ok = heif_context_encode_image(context, image, encoder, options, nullptr).code == heif_error_Ok
            && heif_context_write_to_file(context, QFile::encodeName(path).constData()).code == heif_error_Ok;
        heif_encoding_options_free(options);
        heif_nclx_color_profile_free(nclx);
    }
    if (image)
        heif_image_release(image);
    if (encoder)
        heif_encoder_release(encoder);
    heif_context_free(context);
    return ok ? path : QString();
}

class ImageSourceTest : public QObject
{
    Q_OBJECT

    QString m_folder;
    QList<Fixture> m_set;

    QString fixture(const QString &name) const
    {
        for (const Fixture &f : m_set)
            if (f.name == name)
                return f.path;
        return {};
    }

private Q_SLOTS:
    // A full decode is refused on what the header claims, before it starts:
    // a side longer than the decoders take, or, for Qt's readers, more than
    // they allocate for one picture. A header with an honest size passes.
    void aClaimedSizeIsJudgedBeforeTheDecode_data()
    {
        QTest::addColumn<QSize>("claim");
        QTest::addColumn<QString>("refusal");  // a part of the message; empty: none
        QTest::newRow("as stored") << QSize() << QString();
        QTest::newRow("30000 x 30000") << QSize(30000, 30000) << QStringLiteral("MB a decoded picture may take");
        QTest::newRow("40000 x 2") << QSize(40000, 2) << QStringLiteral("32768 a side");
    }

    void aClaimedSizeIsJudgedBeforeTheDecode()
    {
        QFETCH(QSize, claim);
        QFETCH(QString, refusal);
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(quadrants(QSize(16, 8)).save(&buffer, "png"));
        if (claim.isValid()) {
            qToBigEndian<quint32>(quint32(claim.width()), png.data() + 16);
            qToBigEndian<quint32>(quint32(claim.height()), png.data() + 20);
        }
        const lg::ImageSource source = lg::ImageSource::fromData(png, QStringLiteral("png"));
        QCOMPARE(source.pixelSize(), std::optional<QSize>(claim.isValid() ? claim : QSize(16, 8)));
        const QString said = source.decodeRefusal();
        QVERIFY2(refusal.isEmpty() ? said.isEmpty() : said.contains(refusal), qPrintable(said));
        if (!refusal.isEmpty())
            QVERIFY(said.contains(QString::number(claim.width())));
    }

    // A JPEG's claim is judged as a turn judges it, against the bytes of its
    // scans, wherever in the file they are; a refused claim gives no picture
    // at all, not even a reduced one.
    void aJpegClaimIsJudgedAsTheTurnJudgesIt_data()
    {
        QTest::addColumn<QSize>("claim");
        QTest::addColumn<int>("metadataBytes");
        QTest::addColumn<int>("zerosAfter");
        QTest::addColumn<bool>("refused");
        QTest::newRow("as stored") << QSize() << 0 << 0 << false;
        QTest::newRow("as stored, behind 300 KB of metadata") << QSize() << 300000 << 0 << false;
        QTest::newRow("2048 x 2048 from 64 x 48") << QSize(2048, 2048) << 0 << 0 << true;
        QTest::newRow("2048 x 2048, 20 KB of zeros after the end") << QSize(2048, 2048) << 0 << 20000 << true;
        QTest::newRow("2048 x 2048, behind 300 KB of metadata") << QSize(2048, 2048) << 300000 << 0 << true;
    }
    void aJpegClaimIsJudgedAsTheTurnJudgesIt()
    {
        QFETCH(QSize, claim);
        QFETCH(int, metadataBytes);
        QFETCH(int, zerosAfter);
        QFETCH(bool, refused);
        const QByteArray bytes = jpegPadded(jpegBytes(quadrants(QSize(64, 48))), claim, metadataBytes, zerosAfter);
        const QString expected = lg::jpegSizeRefusal(bytes);
        QCOMPARE(!expected.isEmpty(), refused);
        const QString path = writeFile(freshFolder(QStringLiteral("claims")) + QStringLiteral("/claim.jpg"), bytes);
        for (const lg::ImageSource &source : {lg::ImageSource(path), lg::ImageSource::fromData(bytes)}) {
            QCOMPARE(source.pixelSize(), std::optional<QSize>(claim.isValid() ? claim : QSize(64, 48)));
            QCOMPARE(source.claimRefusal(), expected);
            QCOMPARE(source.thumbnail(32).has_value(), !refused);
            QCOMPARE(source.image().has_value(), !refused);
            if (refused)
                QCOMPARE(source.decodeRefusal(), expected);
        }
    }

    void initTestCase()
    {
        m_folder = freshFolder(QStringLiteral("formats"));
        m_set = imageFormatSet(m_folder);
        QVERIFY(m_set.size() >= 12);  // the Qt formats alone give that many
    }

    void everyFormatReads_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("path");
        for (const Fixture &f : m_set)
            QTest::newRow(qPrintable(f.name)) << f.name << f.path;
    }

    void everyFormatReads()
    {
        QFETCH(QString, name);
        QFETCH(QString, path);
        const lg::ImageSource source(path);
        QVERIFY(source.isValid());
        QVERIFY(!source.type().isEmpty());
        const QSize size = expectedSize(name);
        QCOMPARE(source.pixelSize(), std::optional<QSize>(size));
        QCOMPARE(source.frameCount(), 1);

        const std::optional<QImage> thumbnail = source.thumbnail(16);
        QVERIFY(thumbnail);
        QCOMPARE(std::max(thumbnail->width(), thumbnail->height()), 16);
        QVERIFY(std::abs(thumbnail->width() * size.height() - thumbnail->height() * size.width()) <= std::max(size.width(), size.height()));
        // Never enlarged.
        QCOMPARE(source.thumbnail(4000)->size(), size);

        const std::optional<QImage> full = source.image();
        QVERIFY(full);
        QCOMPARE(full->size(), size);
        if (name == QLatin1String("svg")) {
            QVERIFY(near(quarterColor(*full, BottomRight), Qt::red));
        } else if (isBlackAndWhite(name)) {
            QVERIFY(near(quarterColor(*full, TopLeft), Qt::black));
            QVERIFY(near(quarterColor(*full, BottomRight), Qt::white));
        } else {
            checkUpright(*full, quadrants(size));
        }

        const lg::ImageProperties properties = source.properties();
        QCOMPARE(properties.pixelSize, size);
        QVERIFY(properties.depth > 0);
        QVERIFY(!properties.colorModel.isEmpty());
        QCOMPARE(properties.orientation, 1);
    }

    void orientationIsApplied_data()
    {
        QTest::addColumn<int>("orientation");
        for (int o = 1; o <= 8; ++o)
            QTest::newRow(qPrintable(QString::number(o))) << o;
    }

    void orientationIsApplied()
    {
        QFETCH(int, orientation);
        const QImage upright = quadrants(QSize(60, 40));
        const QString path = writeJpeg(QDir(freshFolder(QStringLiteral("orient"))).filePath(QStringLiteral("o.jpg")),
                                       storedForOrientation(upright, orientation), orientation);
        const lg::ImageSource source(path);
        QCOMPARE(source.pixelSize(), std::optional<QSize>(QSize(60, 40)));
        QCOMPARE(source.properties().orientation, orientation);
        const std::optional<QImage> thumbnail = source.thumbnail(30);
        QVERIFY(thumbnail);
        QCOMPARE(thumbnail->size(), QSize(30, 20));
        checkUpright(*thumbnail, upright);
        checkUpright(*source.image(), upright);
    }

    void sidewaysPhotoGivesPortraitThumbnail()
    {
        const QImage portrait = quadrants(QSize(300, 400));
        const QString path = writeJpeg(QDir(freshFolder(QStringLiteral("portrait"))).filePath(QStringLiteral("p.jpg")),
                                       storedForOrientation(portrait, 6), 6);
        QImageReader check(path);
        check.setAutoTransform(true);
        QCOMPARE(check.read().size(), QSize(300, 400));  // Qt turns it too: the fixture is right
        const lg::ImageSource source(path);
        const std::optional<QImage> thumbnail = source.thumbnail(256);
        QVERIFY(thumbnail);
        QCOMPARE(thumbnail->size(), QSize(192, 256));
        checkUpright(*thumbnail, portrait);
    }

    void tiffAndRawOrientation()
    {
        const QString folder = freshFolder(QStringLiteral("orient-more"));
        const QImage upright = quadrants(QSize(60, 40));
        const QString tiff = writeQtImage(QDir(folder).filePath(QStringLiteral("t.tiff")), storedForOrientation(upright, 6), "tiff");
        QVERIFY(setExifOrientation(tiff, 6));
        checkUpright(*lg::ImageSource(tiff).thumbnail(30), upright);
        QCOMPARE(lg::ImageSource(tiff).pixelSize(), std::optional<QSize>(QSize(60, 40)));

        // A DNG stored sideways: upright both from its preview and from its raw data.
        const QImage stored = storedForOrientation(upright, 6);
        DngSpec spec;
        spec.picture = stored;
        spec.previewJpeg = jpegBytes(stored.scaled(stored.size() / 2));
        spec.previewSize = stored.size() / 2;
        spec.orientation = 6;
        const QString dng = writeDng(QDir(folder).filePath(QStringLiteral("r.dng")), spec);
        const lg::ImageSource raw(dng);
        QCOMPARE(raw.pixelSize(), std::optional<QSize>(QSize(60, 40)));
        checkUpright(*raw.thumbnail(20), upright);  // from the 20 × 30 preview
        checkUpright(*raw.thumbnail(60), upright);  // developed

        // Some cameras store the preview upright already: it is not turned twice.
        spec.previewJpeg = jpegBytes(upright.scaled(upright.size() / 2));
        spec.previewSize = upright.size() / 2;
        const lg::ImageSource uprightPreview(writeDng(QDir(folder).filePath(QStringLiteral("u.dng")), spec));
        checkUpright(*uprightPreview.thumbnail(30), upright);
    }

    // The embedded preview stands in for the picture whenever it is large
    // enough; otherwise the raw data is developed.
    void embeddedPreviewsWhenLargeEnough()
    {
        const QString folder = freshFolder(QStringLiteral("previews"));
        QImage green(24, 16, QImage::Format_RGB32);
        green.fill(Qt::green);
        DngSpec spec;
        spec.picture = quadrants(QSize(48, 32));
        spec.previewJpeg = jpegBytes(green);
        spec.previewSize = green.size();
        const lg::ImageSource raw(writeDng(QDir(folder).filePath(QStringLiteral("p.dng")), spec));
        const QImage small = *raw.thumbnail(24);
        QCOMPARE(small.size(), QSize(24, 16));
        QVERIFY(near(quarterColor(small, TopLeft), Qt::green));
        const QImage large = *raw.thumbnail(40);
        QCOMPARE(large.size(), QSize(40, 27));
        checkUpright(large, quadrants(QSize(48, 32)));
        checkUpright(*raw.image(), quadrants(QSize(48, 32)));

        if (!hasTool(QStringLiteral("heif-enc")))
            QSKIP("heif-enc is not installed");
        const lg::ImageSource heic(writeHeic(QDir(folder).filePath(QStringLiteral("p.heic")), quadrants(QSize(640, 480)), 160));
        QCOMPARE(heic.thumbnail(100)->size(), QSize(100, 75));
        QCOMPARE(heic.thumbnail(400)->size(), QSize(400, 300));
        checkUpright(*heic.thumbnail(100), quadrants(QSize(64, 48)));
    }

    // A HEIC without an embedded thumbnail is reduced from its decoded
    // planes on the way (never turned into four bytes a pixel whole): the
    // thumbnail is the full picture reduced, colour for colour, upright,
    // whatever the picture's samples, matrix and range.
    void aHeicThumbnailIsItsFullPictureReduced_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("side");
        QTest::addColumn<QString>("samples");  // colour, grey or deep (16 bits)
        QTest::addColumn<QStringList>("options");  // for heif-enc
        QTest::addColumn<int>("matrix");  // written by libheif with this matrix and range instead
        QTest::addColumn<bool>("fullRange");
        const QString colour = QStringLiteral("colour");
        const QStringList none;
        QTest::newRow("landscape, reduced by 3 first") << QSize(640, 480) << 100 << colour << none << -1 << true;
        QTest::newRow("portrait, odd size") << QSize(333, 517) << 64 << colour << none << -1 << true;
        QTest::newRow("4:4:4") << QSize(320, 240) << 64 << colour << QStringList {QStringLiteral("-p"), QStringLiteral("chroma=444")}
                               << -1 << true;
        QTest::newRow("4:2:2") << QSize(320, 240) << 64 << colour << QStringList {QStringLiteral("-p"), QStringLiteral("chroma=422")}
                               << -1 << true;
        QTest::newRow("grey") << QSize(320, 240) << 64 << QStringLiteral("grey") << none << -1 << true;
        QTest::newRow("10 bits, odd size") << QSize(321, 241) << 64 << QStringLiteral("deep") << none << -1 << true;
        QTest::newRow("BT.709, video range") << QSize(320, 240) << 64 << colour << none << 1 << false;
        QTest::newRow("BT.601, video range") << QSize(320, 240) << 64 << colour << none << 6 << false;
        QTest::newRow("BT.2020") << QSize(320, 240) << 64 << colour << none << 9 << true;
        QTest::newRow("RGB stored as such") << QSize(320, 240) << 64 << colour << none << 0 << true;
    }
    void aHeicThumbnailIsItsFullPictureReduced()
    {
        QFETCH(QSize, size);
        QFETCH(int, side);
        QFETCH(QString, samples);
        QFETCH(QStringList, options);
        QFETCH(int, matrix);
        QFETCH(bool, fullRange);
        if (!hasTool(QStringLiteral("heif-enc")))
            QSKIP("heif-enc is not installed");
        QImage picture = quadrants(size);
        {
            // A gradient across the middle, for colours between the quarters'.
            QPainter painter(&picture);
            QLinearGradient gradient(0, 0, size.width(), 0);
            gradient.setColorAt(0, QColor(250, 200, 30));
            gradient.setColorAt(1, QColor(20, 90, 220));
            painter.fillRect(QRect(0, size.height() / 3, size.width(), size.height() / 3), gradient);
        }
        if (samples == QLatin1String("grey"))
            picture = picture.convertToFormat(QImage::Format_Grayscale8);
        else if (samples == QLatin1String("deep"))
            picture = picture.convertToFormat(QImage::Format_RGBX64);
        const QString folder = freshFolder(QStringLiteral("heic-reduced"));
        const QString path = QDir(folder).filePath(QStringLiteral("p.heic"));
        const lg::ImageSource heic(matrix < 0 ? writeHeic(path, picture, 0, options)
                                              : writeHeicWithMatrix(path, picture, matrix, fullRange));
        QVERIFY(heic.isValid());
        const std::optional<QImage> thumbnail = heic.thumbnail(side);
        QVERIFY(thumbnail);
        const QImage whole = heic.image()->convertToFormat(QImage::Format_RGB32);
        QCOMPARE(whole.size(), size);
        const QImage reduced = whole.scaled(thumbnail->size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        QCOMPARE(thumbnail->size(), lg::image::fitWithin(size, side));
        const QImage shown = thumbnail->convertToFormat(QImage::Format_RGB32);
        qint64 difference = 0;
        for (int y = 0; y < shown.height(); ++y) {
            for (int x = 0; x < shown.width(); ++x) {
                const QRgb a = shown.pixel(x, y), b = reduced.pixel(x, y);
                difference += std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b));
            }
        }
        const double mean = double(difference) / (3.0 * shown.width() * shown.height());
        QVERIFY2(mean < 4, qPrintable(QString::number(mean)));
        if (samples != QLatin1String("grey"))
            checkUpright(shown, quadrants(QSize(64, 48)));
        // And the whole picture is the one that was written.
        const QImage written = picture.convertToFormat(QImage::Format_RGB32);
        qint64 off = 0;
        for (int y = 0; y < size.height(); y += 7) {
            for (int x = 0; x < size.width(); x += 7) {
                const QRgb a = whole.pixel(x, y), b = written.pixel(x, y);
                off += std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b));
            }
        }
        const double wholeMean = double(off) / (3.0 * ((size.width() + 6) / 7) * ((size.height() + 6) / 7));
        QVERIFY2(wholeMean < 6, qPrintable(QString::number(wholeMean)));
    }

    // Thumbnails kept in the cache and reduced from a much larger picture
    // leave out the filters that smooth block edges and restore sample
    // offsets; the same thumbnail shown (the viewer, an editor, a preview, a
    // collage) keeps them, and a grid's tiles, decoded on libheif's threads,
    // are decoded as their picture was asked for.
    void filterlessDecodesAreForCacheThumbnailsAlone_data()
    {
        QTest::addColumn<bool>("grid");
        QTest::newRow("one picture") << false;
        QTest::newRow("a grid of tiles") << true;
    }
    void filterlessDecodesAreForCacheThumbnailsAlone()
    {
        QFETCH(bool, grid);
        if (!hasTool(QStringLiteral("heif-enc")))
            QSKIP("heif-enc is not installed");
        const QString folder = freshFolder(QStringLiteral("heic-filters"));
        const QString path = QDir(folder).filePath(QStringLiteral("p.heic"));
        // Coarsely coded, so that the filters' work shows.
        const QImage picture = scene(QSize(1024, 512), 30);
        const QStringList coarse {QStringLiteral("-q"), QStringLiteral("15")};
        QVERIFY(!(grid ? writeHeicGrid(path, picture, QSize(512, 512)) : writeHeic(path, picture, 0, coarse)).isEmpty());
        const lg::ImageSource heic(path);
        QVERIFY(heic.isValid());
        constexpr int side = 256;
        const QImage shown = heic.thumbnail(side, lg::ThumbnailUse::Shown)->convertToFormat(QImage::Format_RGB32);
        const QImage cached = heic.thumbnail(side, lg::ThumbnailUse::Cached)->convertToFormat(QImage::Format_RGB32);
        QCOMPARE(shown.size(), cached.size());
        // The whole picture is decoded with every filter, whatever it is for.
        const QImage reference = heic.image()->convertToFormat(QImage::Format_RGB32)
                                     .scaled(shown.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const auto distance = [&reference](const QImage &image) {
            qint64 sum = 0;
            for (int y = 0; y < image.height(); ++y) {
                for (int x = 0; x < image.width(); ++x) {
                    const QRgb a = image.pixel(x, y), b = reference.pixel(x, y);
                    sum += std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b));
                }
            }
            return sum;
        };
        QVERIFY(shown != cached);
        QVERIFY2(distance(shown) < distance(cached),
                 qPrintable(QStringLiteral("shown %1 off, cached %2 off").arg(distance(shown)).arg(distance(cached))));
    }

    // A HEIC's picture is never larger than its header says: a stream whose
    // size differs from its item's, or a grid that names one tile over and
    // over to claim a size its data cannot have, gives no picture (and is
    // not decoded); a true grid of tiles is read whole.
    void aHeicThatClaimsAnotherSizeThanItsDataIsNoPicture()
    {
        if (!hasTool(QStringLiteral("heif-enc")))
            QSKIP("heif-enc is not installed");
        const QString folder = freshFolder(QStringLiteral("heic-claims"));
        const QString honest = writeHeic(QDir(folder).filePath(QStringLiteral("honest.heic")), scene(QSize(512, 256)));
        QVERIFY(!honest.isEmpty());
        QVERIFY(lg::ImageSource(honest).thumbnail(64));
        const QString lying = writeFile(QDir(folder).filePath(QStringLiteral("lying.heic")), withIspe(readAll(honest), QSize(128, 64)));
        const lg::ImageSource small(lying);
        QVERIFY(!small.thumbnail(64));
        QVERIFY(!small.thumbnail(64, lg::ThumbnailUse::Cached));
        QVERIFY(!small.image());

        const QString grid = writeHeicGrid(QDir(folder).filePath(QStringLiteral("grid.heic")), quadrants(QSize(512, 256)), QSize(256, 256));
        QVERIFY(!grid.isEmpty());
        const lg::ImageSource tiles(grid);
        QCOMPARE(tiles.pixelSize(), std::optional<QSize>(QSize(512, 256)));
        checkUpright(tiles.image()->convertToFormat(QImage::Format_RGB32), quadrants(QSize(512, 256)));

        const QString repeated = writeHeicGrid(QDir(folder).filePath(QStringLiteral("repeated.heic")), quadrants(QSize(64, 64)),
                                               QSize(64, 64), QSize(40, 40));
        QVERIFY(!repeated.isEmpty());
        const lg::ImageSource claimed(repeated);
        QVERIFY(!claimed.isValid());
        QVERIFY(!claimed.thumbnail(64));
        QCOMPARE(claimed.thumbnailDecodeBytes(64), 0);
    }

    // A decode of libheif's or ImageMagick's asked for once the quit has
    // begun gives none at once (one under way ends at its next step).
    void aDecodeEndsAtTheQuit_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("HEIC") << QStringLiteral("heic");
        QTest::newRow("PSD") << QStringLiteral("psd");
    }
    void aDecodeEndsAtTheQuit()
    {
        QFETCH(QString, kind);
        const QString folder = freshFolder(QStringLiteral("decode-quit"));
        const QImage picture = scene(QSize(512, 256));
        QString path;
        if (kind == QLatin1String("heic")) {
            path = writeHeic(QDir(folder).filePath(QStringLiteral("p.heic")), picture);
        } else {
            const QString png = writeQtImage(QDir(folder).filePath(QStringLiteral("p.png")), picture, "png");
            path = convert(png, QDir(folder).filePath(QStringLiteral("p.psd")));
        }
        if (path.isEmpty())
            QSKIP("the tool that writes this kind is not installed");
        QVERIFY(lg::ImageSource(path).thumbnail(64));
        lg::beginShutdown();
        const std::optional<QImage> during = lg::ImageSource(path).thumbnail(64);
        lg::resetShutdownForTesting();
        QVERIFY(!during);
        QVERIFY(lg::ImageSource(path).thumbnail(64));
    }

    // PNG and TIFF pictures larger than Qt's readers decode whole still get
    // a thumbnail: read a band of rows at a time, colour for colour, upright.
    void aPictureTooLargeForQtsReadersHasAThumbnail_data()
    {
        QTest::addColumn<QByteArray>("format");
        QTest::addColumn<bool>("alpha");
        QTest::newRow("PNG") << QByteArray("png") << false;
        QTest::newRow("PNG with alpha") << QByteArray("png") << true;
        QTest::newRow("TIFF") << QByteArray("tiff") << false;
    }
    void aPictureTooLargeForQtsReadersHasAThumbnail()
    {
        QFETCH(QByteArray, format);
        QFETCH(bool, alpha);
        // Just past what Qt's readers allocate for one picture (128 MB).
        const QSize size(5800, 5800);
        QImage picture = quadrants(size, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
        if (alpha) {
            QPainter painter(&picture);
            painter.setCompositionMode(QPainter::CompositionMode_Source);
            painter.fillRect(QRect(0, 0, size.width(), size.height() / 8), Qt::transparent);
        }
        const QString folder = freshFolder(QStringLiteral("too-large"));
        const QString path = writeQtImage(QDir(folder).filePath(QStringLiteral("large.") + QString::fromLatin1(format)), picture,
                                          format.constData(), 90);
        picture = QImage();
        QVERIFY(!path.isEmpty());
        const lg::ImageSource source(path);
        QVERIFY(source.isValid());
        QVERIFY(!source.decodeRefusal().isEmpty());  // not decoded whole
        const std::optional<QImage> thumbnail = source.thumbnail(256);
        QVERIFY(thumbnail);
        QCOMPARE(thumbnail->size(), QSize(256, 256));
        QCOMPARE(thumbnail->hasAlphaChannel(), alpha);
        const QImage shown = thumbnail->convertToFormat(QImage::Format_RGB32);
        checkUpright(shown, quadrants(QSize(64, 64)));
        if (alpha)
            QCOMPARE(qAlpha(thumbnail->convertToFormat(QImage::Format_ARGB32).pixel(128, 2)), 0);
        // The quit ends such a read.
        lg::beginShutdown();
        const std::optional<QImage> during = source.thumbnail(256);
        lg::resetShutdownForTesting();
        QVERIFY(!during);
    }

    void contentDecidesNotTheExtension()
    {
        const QString folder = freshFolder(QStringLiteral("content"));
        const auto nothing = [](const QString &path) {
            const lg::ImageSource source(path);
            QVERIFY2(!source.isValid(), qPrintable(path));
            QVERIFY(source.type().isEmpty());
            QVERIFY(!source.pixelSize());
            QVERIFY(!source.thumbnail(64));
            QVERIFY(!source.image());
            QVERIFY(!source.properties().pixelSize.isValid());
            QCOMPARE(source.frameCount(), 0);
        };
        nothing(writeFile(QDir(folder).filePath(QStringLiteral("text.jpg")), "This is not a picture at all.\n"));
        nothing(writeFile(QDir(folder).filePath(QStringLiteral("empty.png")), QByteArray()));
        nothing(QDir(folder).filePath(QStringLiteral("vanished.jpg")));
        QDir(folder).mkpath(QStringLiteral("folder.jpg"));
        nothing(QDir(folder).filePath(QStringLiteral("folder.jpg")));
        nothing(writeFile(QDir(folder).filePath(QStringLiteral("raw.nef")), QByteArray(4096, 'x')));
        nothing(writeFile(QDir(folder).filePath(QStringLiteral("mac.pntg")), QByteArray(4096, '\x7f')));

        // A FIFO named like a picture does not block the reader.
        const QString fifo = QDir(folder).filePath(QStringLiteral("pipe.jpg"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QElapsedTimer timer;
        timer.start();
        nothing(fifo);
        QVERIFY(timer.elapsed() < 2000);

        const QString png = QDir(folder).filePath(QStringLiteral("really-png.jpg"));
        QVERIFY(QFile::copy(fixture(QStringLiteral("png")), png));
        QCOMPARE(lg::ImageSource(png).type(), QStringLiteral("png"));
        const QString jpeg = QDir(folder).filePath(QStringLiteral("really-jpeg.png"));
        QVERIFY(QFile::copy(fixture(QStringLiteral("jpeg")), jpeg));
        QCOMPARE(lg::ImageSource(jpeg).type(), QStringLiteral("jpeg"));
    }

    // Cut-off copies of every format give no size, no thumbnail and no
    // properties; damaged headers never bring the process down.
    void damagedFilesGiveNothing_data() { everyFormatReads_data(); }

    void damagedFilesGiveNothing()
    {
        QFETCH(QString, name);
        QFETCH(QString, path);
        const QByteArray whole = readAll(path);
        const qint64 n = whole.size();
        const QString folder = freshFolder(QStringLiteral("cut-") + name);
        // An MPO whose second picture is cut still holds a whole first one.
        // A TGA cut in its footer alone still holds every pixel.
        const qint64 last = name == QLatin1String("tga2") ? n - 26 - 16 : n - 16;
        const QList<qint64> cuts = name == QLatin1String("mpo") ? QList<qint64> {0, 1, 16, n / 4}
                                                               : QList<qint64> {0, 1, 16, n / 4, n / 2, n * 3 / 4, last};
        for (const qint64 cut : cuts) {
            const QString copy = writeFile(QDir(folder).filePath(QStringLiteral("%1-%2").arg(cut).arg(QFileInfo(path).fileName())),
                                           whole.left(cut));
            const lg::ImageSource source(copy);
            const QString what = QStringLiteral("%1 cut at %2 of %3").arg(name).arg(cut).arg(n);
            QVERIFY2(!source.pixelSize(), qPrintable(what));
            QVERIFY2(!source.thumbnail(16), qPrintable(what));
            QVERIFY2(!source.image(), qPrintable(what));
            QVERIFY2(!source.properties().pixelSize.isValid(), qPrintable(what));
        }
        // Scrambled bytes in the header region: whatever the result, no crash or hang.
        QRandomGenerator random(quint32(qHash(name)));
        for (int round = 0; round < 12; ++round) {
            QByteArray mangled = whole;
            for (int i = 0; i < 4; ++i)
                mangled[random.bounded(int(std::min<qint64>(n, 600)))] = char(random.bounded(256));
            const QString copy = writeFile(QDir(folder).filePath(QStringLiteral("m%1-%2").arg(round).arg(QFileInfo(path).fileName())),
                                           mangled);
            const lg::ImageSource source(copy);
            (void)source.pixelSize();
            (void)source.thumbnail(16);
            (void)source.properties();
        }
    }

    void fromDataWithAndWithoutHints()
    {
        const lg::ImageSource jpeg = lg::ImageSource::fromData(readAll(fixture(QStringLiteral("jpeg"))));
        QCOMPARE(jpeg.type(), QStringLiteral("jpeg"));
        QCOMPARE(jpeg.thumbnail(24)->size(), QSize(24, 16));
        QCOMPARE(jpeg.properties().groups.size(), 4);
        QVERIFY(!lg::ImageSource::fromData(QByteArray("GIF89a but not really")).isValid());
        QVERIFY(!lg::ImageSource::fromData(QByteArray()).isValid());

        // TGA has no signature: the hint says what to try.
        const QString tgaPath = fixture(QStringLiteral("tga"));
        if (tgaPath.isEmpty())
            QSKIP("convert is not installed");
        QByteArray tga = readAll(tgaPath);
        if (tga.endsWith(QByteArray("TRUEVISION-XFILE.\0", 18)))
            tga.chop(26);
        QVERIFY(lg::ImageSource::fromData(tga, QStringLiteral("tga")).thumbnail(16));
        QVERIFY(!lg::ImageSource::fromData(tga).isValid());
    }

    void propertiesInGroups()
    {
        const QImage upright = quadrants(QSize(60, 40));
        const QString path = writeJpeg(QDir(freshFolder(QStringLiteral("props"))).filePath(QStringLiteral("p.jpg")),
                                       storedForOrientation(upright, 6), 6);
        const lg::ImageProperties properties = lg::ImageSource(path).properties();
        QCOMPARE(properties.pixelSize, QSize(60, 40));
        QCOMPARE(properties.orientation, 6);
        QCOMPARE(properties.depth, 8);
        QCOMPARE(properties.colorModel, QStringLiteral("RGB"));
        QVERIFY(!properties.hasAlpha);
        QStringList names;
        for (const auto &group : properties.groups)
            names << group.first;
        QCOMPARE(names, (QStringList {"Exif", "TIFF", "GPS", "IPTC"}));
        const auto value = [&](const QString &group, const QString &key) {
            for (const auto &g : properties.groups)
                if (g.first == group)
                    for (const auto &entry : g.second)
                        if (entry.first == key)
                            return entry.second;
            return QString();
        };
        QCOMPARE(value("TIFF", "Make"), QStringLiteral("Lumen"));
        QCOMPARE(value("Exif", "DateTimeOriginal"), QStringLiteral("2021:06:05 14:30:00"));
        QVERIFY(value("GPS", "GPSLatitude").startsWith(QStringLiteral("52")));
        QCOMPARE(value("IPTC", "Caption"), QStringLiteral("A test picture"));
        QVERIFY(!properties.exif.isEmpty());
        QVERIFY(!properties.iptc.isEmpty());

        QImage gray(20, 10, QImage::Format_Grayscale8);
        gray.fill(128);
        const QString grayPath = writeQtImage(QDir(freshFolder(QStringLiteral("gray"))).filePath(QStringLiteral("g.jpg")), gray, "jpeg");
        QCOMPARE(lg::ImageSource(grayPath).properties().colorModel, QStringLiteral("Gray"));
        QImage clear(20, 10, QImage::Format_ARGB32);
        clear.fill(Qt::transparent);
        const QString clearPath = writeQtImage(QDir(freshFolder(QStringLiteral("alpha"))).filePath(QStringLiteral("a.png")), clear, "png");
        QVERIFY(lg::ImageSource(clearPath).properties().hasAlpha);
    }

    void animatedGifFrames()
    {
        if (!hasTool(QStringLiteral("convert")))
            QSKIP("convert is not installed");
        const QString path = QDir(freshFolder(QStringLiteral("gif"))).filePath(QStringLiteral("a.gif"));
        QVERIFY(run(QStringLiteral("convert"), {"-delay", "20", "-size", "8x6", "xc:red", "xc:lime", "xc:blue", path}));
        const lg::ImageSource source(path);
        QCOMPARE(source.frameCount(), 3);
        QVERIFY(near(source.frame(1)->pixelColor(2, 2), Qt::green));
        QVERIFY(near(source.frame(2)->pixelColor(2, 2), Qt::blue));
        QVERIFY(!source.frame(3));
        QCOMPARE(source.frameDelay(0), 200);
        QVERIFY(near(source.thumbnail(4)->pixelColor(1, 1), Qt::red));
    }

    // Many threads on many formats at once (the grid's background work) give
    // what one thread gives.
    void manyThreadsAtOnce()
    {
        QList<Fixture> work;
        for (int i = 0; i < 6; ++i)
            work += m_set;
        const auto thumbnailSize = [](const Fixture &f) {
            const std::optional<QImage> t = lg::ImageSource(f.path).thumbnail(20);
            const lg::ImageProperties p = lg::ImageSource(f.path).properties();
            return t ? QSize(t->size().width(), p.pixelSize.height()) : QSize();
        };
        QList<QSize> alone;
        for (const Fixture &f : work)
            alone << thumbnailSize(f);
        QThreadPool pool;
        pool.setMaxThreadCount(8);
        const QList<QSize> together = lg::mapped(work, thumbnailSize, &pool);
        QCOMPARE(together, alone);
    }
    // Stray bytes between a JPEG's segments, which the turn refuses
    // (tests/platform/jpeg/test_jpegentropy.cpp), are read past, from a file
    // and from memory alike.
    void strayBytesBetweenJpegSegmentsAreReadPast_data()
    {
        QTest::addColumn<int>("before");  // the marker the stray bytes go in front of
        QTest::addColumn<QByteArray>("stray");
        QTest::newRow("a byte after the JFIF segment") << 0xdb << QByteArray("\x01", 1);
        QTest::newRow("text before the frame") << 0xc0 << QByteArray("stray");
        QTest::newRow("a stuffed zero before the frame") << 0xc0 << QByteArray::fromHex("ff00");
        QTest::newRow("text before the Huffman tables") << 0xc4 << QByteArray("stray");
        QTest::newRow("text before the scan") << 0xda << QByteArray("x");
    }
    void strayBytesBetweenJpegSegmentsAreReadPast()
    {
        QFETCH(int, before);
        QFETCH(QByteArray, stray);
        QImage picture(320, 240, QImage::Format_RGB32);
        picture.fill(QColor(40, 120, 200));
        QByteArray bytes;
        QBuffer buffer(&bytes);
        QVERIFY(buffer.open(QIODevice::WriteOnly));
        QVERIFY(QImageWriter(&buffer, "jpeg").write(picture));
        const qsizetype at = bytes.indexOf(QByteArray(1, char(0xff)) + char(before));
        QVERIFY(at > 0);
        bytes.insert(at, stray);
        const QString path = lg::test::writeFile(lg::test::freshFolder(QStringLiteral("stray")) + "/stray.jpg", bytes);
        for (const lg::ImageSource &source : {lg::ImageSource(path), lg::ImageSource::fromData(bytes)}) {
            QVERIFY(source.isValid());
            QCOMPARE(source.type(), QStringLiteral("jpeg"));
            QCOMPARE(source.pixelSize(), std::optional<QSize>(QSize(320, 240)));
            const std::optional<QImage> thumbnail = source.thumbnail(64);
            QVERIFY(thumbnail);
            QCOMPARE(thumbnail->size(), QSize(64, 48));
        }
    }
};

LG_TEST(ImageSourceTest)
#include "test_imagesource.moc"
