// The HEIC module's bounds, through the image source: each HEVC stream is
// held to its own item's ispe wherever its first picture unit stands, a
// picture derived from derived pictures is refused, and a cut stream shows
// nothing of the picture decoded before it.
#include "platform/image/ImageSource.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QScopeGuard>
#include <QtTest>

#include <malloc.h>

using namespace lg::test;
using namespace lg::test::fixtures;

namespace {

constexpr QSize pictureSize(256, 256);
constexpr QSize smallIspe(64, 64);

// The streams the files are made of, each encoded once for the run.
const HevcStream &stream(const QString &name, QSize size = pictureSize)
{
    static QHash<QString, HevcStream> made;
    const QString key = QStringLiteral("%1-%2x%3").arg(name).arg(size.width()).arg(size.height());
    if (!made.contains(key)) {
        QImage picture(size, QImage::Format_RGB32);
        if (name == QLatin1String("white") || name == QLatin1String("black"))
            picture.fill(name == QLatin1String("white") ? Qt::white : Qt::black);
        else if (name == QLatin1String("other"))
            picture = quadrants(size);
        else
            picture = scene(size, 12);
        made.insert(key, encodeHevc(freshFolder(QStringLiteral("streams-") + key), picture));
    }
    return made[key];
}

HeicItem coded(quint32 id, const HevcStream &from, QSize ispe = pictureSize)
{
    HeicItem item;
    item.id = id;
    item.ispe = ispe;
    item.hvcC = from.hvcC;
    item.extents = {from.data};
    return item;
}

HeicItem derived(quint32 id, const QByteArray &type, quint32 from)
{
    HeicItem item;
    item.id = id;
    item.type = type;
    item.ispe = pictureSize;
    item.sources = {from};
    if (type == "grid")
        item.extents = {heicGridData(QSize(1, 1), pictureSize)};
    return item;
}

// The file a row of the bounds test names.
QByteArray heicOf(const QString &kind)
{
    const HevcStream &picture = stream(QStringLiteral("scene"));
    const bool lying = kind.contains(QLatin1String("lying"));
    const QSize ispe = lying ? smallIspe : pictureSize;
    if (kind.startsWith(QLatin1String("plain")))
        return buildHeic(1, {coded(1, picture, ispe)});
    if (kind.startsWith(QLatin1String("filler"))) {
        // A unit of filler larger than a look at the first bytes stands before the slice.
        HeicItem item = coded(1, picture, ispe);
        item.extents = {hevcUnit(38, QByteArray(70000, '\xff') + '\x80') + picture.data};
        return buildHeic(1, {item});
    }
    if (kind.startsWith(QLatin1String("extents"))) {
        HeicItem item = coded(1, picture, ispe);
        item.extents = {picture.data.left(6), picture.data.mid(6)};
        return buildHeic(1, {item});
    }
    if (kind.startsWith(QLatin1String("depth"))) {
        HeicItem depth = coded(2, stream(QStringLiteral("other")));
        depth.depthOf = 1;
        return buildHeic(1, {coded(1, picture, ispe), depth});
    }
    if (kind.startsWith(QLatin1String("alpha"))) {
        // libheif takes an alpha plane of its picture's size alone: a lying
        // one claims the size of a small picture, beside a large depth map.
        HeicItem alpha = coded(2, stream(QStringLiteral("other")), ispe);
        alpha.alphaOf = 1;
        if (!lying)
            return buildHeic(1, {coded(1, picture), alpha});
        HeicItem depth = coded(3, stream(QStringLiteral("other")));
        depth.depthOf = 1;
        return buildHeic(1, {coded(1, stream(QStringLiteral("scene"), smallIspe), smallIspe), alpha, depth});
    }
    if (kind == QLatin1String("grid"))
        return buildHeic(1, {derived(1, "grid", 2), coded(2, picture)});
    if (kind == QLatin1String("grid of grids"))
        return buildHeic(1, {derived(1, "grid", 2), derived(2, "grid", 3), coded(3, picture)});
    if (kind == QLatin1String("grid of identities"))
        return buildHeic(1, {derived(1, "grid", 2), derived(2, "iden", 3), coded(3, picture)});
    return {};
}

// The first picture unit of a stream cut to an eighth of its length, and
// what followed it left out.
HevcStream cutShort(HevcStream stream)
{
    for (qsizetype at = 0; at + 6 <= stream.data.size();) {
        const qsizetype length = qsizetype(qFromBigEndian<quint32>(stream.data.constData() + at));
        if (((uchar(stream.data[at + 4]) >> 1) & 0x3f) < 32) {
            const qsizetype kept = length / 8;
            qToBigEndian<quint32>(quint32(kept), stream.data.data() + at);
            stream.data.truncate(at + 4 + kept);
            break;
        }
        at += 4 + length;
    }
    return stream;
}

} // namespace

class HeifModuleTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (!hasTool(QStringLiteral("heif-enc")))
            QSKIP("heif-enc is not installed");
        QVERIFY(!stream(QStringLiteral("scene")).isEmpty());
    }

    // Each stream is bounded by its own item's ispe, also where its first
    // picture unit stands behind other units or its data in two extents, and
    // where another stream of the same picture is larger; a picture derived
    // from derived pictures is no picture, and is not decoded.
    void eachStreamIsHeldToItsOwnItem_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("decodes");
        QTest::newRow("one stream") << QStringLiteral("plain") << true;
        QTest::newRow("one stream, larger than its ispe") << QStringLiteral("plain, lying") << false;
        QTest::newRow("filler before the slice") << QStringLiteral("filler") << true;
        QTest::newRow("filler before the slice, larger than its ispe") << QStringLiteral("filler, lying") << false;
        QTest::newRow("data in two extents") << QStringLiteral("extents") << true;
        QTest::newRow("data in two extents, larger than its ispe") << QStringLiteral("extents, lying") << false;
        QTest::newRow("a large depth map") << QStringLiteral("depth") << true;
        QTest::newRow("a picture larger than its ispe beside a large depth map") << QStringLiteral("depth, lying") << false;
        QTest::newRow("an alpha plane") << QStringLiteral("alpha") << true;
        QTest::newRow("an alpha plane larger than its ispe beside a large depth map") << QStringLiteral("alpha, lying") << false;
        QTest::newRow("a grid") << QStringLiteral("grid") << true;
        QTest::newRow("a grid of grids") << QStringLiteral("grid of grids") << false;
        QTest::newRow("a grid of identities") << QStringLiteral("grid of identities") << false;
    }
    void eachStreamIsHeldToItsOwnItem()
    {
        QFETCH(QString, kind);
        QFETCH(bool, decodes);
        const QString path =
            writeFile(QDir(freshFolder(QStringLiteral("bounds"))).filePath(QStringLiteral("p.heic")), heicOf(kind));
        const lg::ImageSource source(path);
        const std::optional<QImage> thumbnail = source.thumbnail(64);
        QCOMPARE(thumbnail.has_value(), decodes);
        QCOMPARE(source.image().has_value(), decodes);
        if (decodes)
            QCOMPARE(thumbnail->size(), QSize(64, 64));
        if (kind == QLatin1String("alpha"))
            QVERIFY(source.properties().hasAlpha);
        // Nested pictures are refused by their boxes alone.
        if (kind.contains(QLatin1String(" of ")))
            QVERIFY(!source.isValid());
    }

    // A picture coded larger than it shows (its size no multiple of the
    // coding blocks, as an encoder makes of 1200 x 900) is decoded into
    // libde265's own planes, which libde265 gives back itself: whole and as a
    // thumbnail, again and again in one process.
    void aPictureCodedLargerThanItShowsDecodesAgainAndAgain()
    {
        const QSize size(1200, 900);
        QImage picture(size, QImage::Format_RGB32);
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x)
                picture.setPixel(x, y, qRgb(255 - y * 255 / size.height(), 255, 0));
        const QString path =
            writeHeic(QDir(freshFolder(QStringLiteral("cropped"))).filePath(QStringLiteral("p.heic")), picture);
        for (int round = 0; round < 3; ++round) {
            const lg::ImageSource source(path);
            const std::optional<QImage> thumbnail = source.thumbnail(256);
            QVERIFY(thumbnail);
            QCOMPARE(thumbnail->size(), QSize(256, 192));
            const std::optional<QImage> whole = source.image();
            QVERIFY(whole);
            QCOMPARE(whole->size(), size);
        }
    }

    // What a cut stream leaves undecoded is the same whichever picture was
    // decoded before it: the planes it is decoded into start cleared, those
    // handed to libde265 and those it makes itself (for a picture coded
    // larger than it shows). Seen in the cache's thumbnails, which leave the
    // filters out that would work on the undecoded rows.
    void aCutStreamShowsNoEarlierPicture_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("decoded into the planes handed over") << pictureSize;
        QTest::newRow("decoded into libde265's planes") << QSize(260, 260);
    }
    void aCutStreamShowsNoEarlierPicture()
    {
        QFETCH(QSize, size);
        // Memory handed out is never zero here (glibc's allocator fills it;
        // AddressSanitizer's leaves what was there).
        mallopt(M_PERTURB, 0x55);
        const auto restore = qScopeGuard([] { mallopt(M_PERTURB, 0); });
        const QDir folder(freshFolder(QStringLiteral("cut")));
        const QString cut = writeFile(folder.filePath(QStringLiteral("cut.heic")),
                                      buildHeic(1, {coded(1, cutShort(stream(QStringLiteral("scene"), size)), size)}));
        const auto shownAfter = [&](const QString &name) {
            const QString earlier = writeFile(folder.filePath(name + QStringLiteral(".heic")),
                                              buildHeic(1, {coded(1, stream(name, size), size)}));
            [&] { QVERIFY(lg::ImageSource(earlier).thumbnail(64, lg::ThumbnailUse::Cached)); }();
            return lg::ImageSource(cut).thumbnail(64, lg::ThumbnailUse::Cached);
        };
        const std::optional<QImage> afterWhite = shownAfter(QStringLiteral("white"));
        const std::optional<QImage> afterBlack = shownAfter(QStringLiteral("black"));
        QVERIFY(afterWhite && afterBlack);
        QCOMPARE(afterWhite->convertToFormat(QImage::Format_RGB32), afterBlack->convertToFormat(QImage::Format_RGB32));
        // The bottom rows, never reached by the cut slice, are what cleared
        // planes show: no light, no colour difference (a dark green).
        const QColor bottom = afterWhite->pixelColor(32, 60);
        QVERIFY2(bottom.green() > bottom.red() + 40 && bottom.green() > bottom.blue() + 40, qPrintable(bottom.name()));
    }
};

LG_TEST(HeifModuleTest)
#include "test_heifmodule.moc"
