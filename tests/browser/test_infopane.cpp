// The information pane: the property tree of a JPEG with Exif, TIFF and GPS,
// of a PNG with text chunks, nothing for a video or a broken file, and fills
// that finish out of order.
#include "tests/browser/BrowserFixtures.h"
#include "browser/InfoPane.h"
#include "browser/Listing.h"
#include "browser/ViewController.h"
#include "platform/image/PropertyTree.h"
#include "tests/support/Fixtures.h"

#include <QDateTime>
#include <QHeaderView>
#include <QProcess>
#include <QScopeGuard>
#include <QSemaphore>
#include <QStandardItemModel>
#include <QTreeView>

#include <exiv2/exiv2.hpp>
#include <cmath>
#include <unistd.h>

using namespace browsertest;

namespace {

const lg::PropertyNode *find(const QList<lg::PropertyNode> &nodes, const QString &key)
{
    for (const lg::PropertyNode &node : nodes)
        if (node.key == key)
            return &node;
    return nullptr;
}

QString photoWithGps(const QString &path)
{
    writeJpeg(path, 64, 48);
    Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(std::string(QFile::encodeName(path).constData()));
    image->readMetadata();
    Exiv2::ExifData &exif = image->exifData();
    exif["Exif.Image.Make"] = "Lumen";
    exif["Exif.Image.Model"] = "Test Camera";
    exif["Exif.Photo.ExposureTime"] = Exiv2::URational(1, 125);
    exif["Exif.Photo.FNumber"] = Exiv2::URational(28, 10);
    Exiv2::UShortValue area;
    area.read("10 20 30 40");
    exif.add(Exiv2::ExifKey("Exif.Photo.SubjectArea"), &area);
    exif["Exif.GPSInfo.GPSLatitudeRef"] = "N";
    Exiv2::URationalValue latitude;
    latitude.read("52/1 30/1 0/1");
    exif.add(Exiv2::ExifKey("Exif.GPSInfo.GPSLatitude"), &latitude);
    image->writeMetadata();
    return path;
}

} // namespace

class TestInfoPane : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { resetSharedState(); }
    void cleanup() { InfoPane::setReaderForTesting({}); }
    void cleanupTestCase() { resetSharedState(); }

    void aPhotoShowsItsHeaderFactsAndCollapsedGroups()
    {
        const QString path = photoWithGps(lg::test::freshFolder(QStringLiteral("exif")) + QStringLiteral("/photo.jpg"));
        const std::optional<QList<lg::PropertyNode>> tree = lg::readPropertyTree(path);
        QVERIFY(tree);
        QCOMPARE(tree->first().key, QStringLiteral("FileSize"));
        QCOMPARE(find(*tree, QStringLiteral("PixelWidth"))->value, QStringLiteral("64"));
        QCOMPARE(find(*tree, QStringLiteral("PixelHeight"))->value, QStringLiteral("48"));
        QStringList groups;
        for (const lg::PropertyNode &node : *tree)
            if (node.isGroup())
                groups.append(node.label);
        QCOMPARE(groups, (QStringList{"Exif", "TIFF", "GPS", "JFIF"}));
        const lg::PropertyNode *exif = find(*tree, QStringLiteral("{Exif}"));
        QVERIFY(exif->value.isEmpty());
        QCOMPARE(find(exif->children, QStringLiteral("ExposureTime"))->value, QStringLiteral("0.008"));
        QCOMPARE(find(exif->children, QStringLiteral("FNumber"))->value, QStringLiteral("2.8"));
        QCOMPARE(find(exif->children, QStringLiteral("SubjectArea"))->value, QStringLiteral("10,20,30,40"));
        QCOMPARE(find(find(*tree, QStringLiteral("{TIFF}"))->children, QStringLiteral("Model"))->value,
                 QStringLiteral("Test Camera"));
        QCOMPARE(find(find(*tree, QStringLiteral("{GPS}"))->children, QStringLiteral("Latitude"))->value,
                 QStringLiteral("52.5"));

        // In the pane: labels without braces, groups collapsed.
        itemList = {*mediaItemForPath(path)};
        selectedItemIndex = 0;
        InfoPane *pane = InfoPane::instance();
        QSignalSpy filled(pane, &InfoPane::fillFinished);
        contentController()->fillInfoPane();
        QVERIFY(filled.wait(10000));
        QStandardItemModel *model = pane->model();
        QModelIndex gps;
        for (int row = 0; row < model->rowCount(); ++row)
            if (model->index(row, 0).data().toString() == QLatin1String("GPS"))
                gps = model->index(row, 0);
        QVERIFY(gps.isValid());
        QVERIFY(model->rowCount(gps) >= 2);
        QVERIFY(!contentController()->outlineview->isExpanded(gps));
    }

    void aPngShowsItsTextChunks()
    {
        QImage image(20, 10, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        image.setText(QStringLiteral("Title"), QStringLiteral("Harbour"));
        image.setText(QStringLiteral("Author"), QStringLiteral("Ann"));
        const QString path = lg::test::freshFolder(QStringLiteral("png")) + QStringLiteral("/text.png");
        QVERIFY(image.save(path));
        const std::optional<QList<lg::PropertyNode>> tree = lg::readPropertyTree(path);
        QVERIFY(tree);
        QCOMPARE(find(*tree, QStringLiteral("HasAlpha"))->value, QStringLiteral("1"));
        const lg::PropertyNode *png = find(*tree, QStringLiteral("{PNG}"));
        QVERIFY(png);
        QCOMPARE(find(png->children, QStringLiteral("Title"))->value, QStringLiteral("Harbour"));
        QCOMPARE(find(png->children, QStringLiteral("Author"))->value, QStringLiteral("Ann"));
    }

    // A video shows what the file holds: its size, its picture's size,
    // duration, codec and the creation date its container records.
    void aVideoShowsWhatItHolds()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("video"));
        const QString video = lg::test::fixtures::writeVideo(
            folder + QStringLiteral("/clip.mp4"), QStringLiteral("color=c=red:s=64x48:d=2"),
            {QStringLiteral("-c:v"), QStringLiteral("mpeg4"), QStringLiteral("-metadata"),
             QStringLiteral("creation_time=2024-05-01T10:20:30.000000Z")});
        if (video.isEmpty())
            QSKIP("ffmpeg is not installed");
        const std::optional<QList<lg::PropertyNode>> tree = lg::readPropertyTree(video);
        QVERIFY(tree);
        QStringList keys;
        for (const lg::PropertyNode &node : *tree)
            keys << node.key;
        QCOMPARE(keys, (QStringList{"FileSize", "PixelWidth", "PixelHeight", "Duration", "Codec", "CreationDate"}));
        QCOMPARE(find(*tree, QStringLiteral("FileSize"))->value, QString::number(QFileInfo(video).size()));
        QCOMPARE(find(*tree, QStringLiteral("PixelWidth"))->value, QStringLiteral("64"));
        QCOMPARE(find(*tree, QStringLiteral("PixelHeight"))->value, QStringLiteral("48"));
        QCOMPARE(find(*tree, QStringLiteral("Duration"))->value, QStringLiteral("2"));
        QCOMPARE(find(*tree, QStringLiteral("Codec"))->value, QStringLiteral("mpeg4"));
        QCOMPARE(find(*tree, QStringLiteral("CreationDate"))->value,
                 QDateTime(QDate(2024, 5, 1), QTime(10, 20, 30), Qt::UTC).toLocalTime().toString(
                     QStringLiteral("yyyy-MM-dd HH:mm:ss")));

        // In the pane, as for a picture.
        itemList = {*mediaItemForPath(video)};
        selectedItemIndex = 0;
        InfoPane *pane = InfoPane::instance();
        QSignalSpy filled(pane, &InfoPane::fillFinished);
        pane->fill();
        QVERIFY(filled.wait(10000));
        QCOMPARE(pane->model()->rowCount(), 6);
        QCOMPARE(pane->model()->index(4, 1).data().toString(), QStringLiteral("mpeg4"));
    }

    // A HEIC's Exif (an item of its own in the file) shows as its group.
    void aHeicShowsItsExif()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("heic"));
        const QString jpeg = photoWithGps(folder + QStringLiteral("/source.jpg"));
        const QString heic = folder + QStringLiteral("/phone.heic");
        // heif-enc carries the JPEG's Exif into the HEIC's Exif item.
        if (QProcess::execute(QStringLiteral("heif-enc"), {QStringLiteral("-o"), heic, jpeg}) != 0)
            QSKIP("heif-enc is not installed");
        const std::optional<QList<lg::PropertyNode>> tree = lg::readPropertyTree(heic);
        QVERIFY(tree);
        const lg::PropertyNode *exif = find(*tree, QStringLiteral("{Exif}"));
        QVERIFY(exif);
        QCOMPARE(find(exif->children, QStringLiteral("FNumber"))->value, QStringLiteral("2.8"));
        QCOMPARE(find(find(*tree, QStringLiteral("{TIFF}"))->children, QStringLiteral("Model"))->value,
                 QStringLiteral("Test Camera"));
        QCOMPARE(find(find(*tree, QStringLiteral("{GPS}"))->children, QStringLiteral("Latitude"))->value,
                 QStringLiteral("52.5"));
    }

    // A HEIC whose boxes are cut short or damaged is read without harm: its
    // Exif shows right or not at all.
    void aDamagedHeicIsReadWithoutHarm()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("heicDamaged"));
        const QString jpeg = photoWithGps(folder + QStringLiteral("/source.jpg"));
        const QString heic = folder + QStringLiteral("/phone.heic");
        if (QProcess::execute(QStringLiteral("heif-enc"), {QStringLiteral("-o"), heic, jpeg}) != 0)
            QSKIP("heif-enc is not installed");
        const QByteArray whole = lg::test::readAll(heic);
        const qsizetype meta = whole.indexOf("meta");
        QVERIFY(meta > 0);
        const QString damaged = folder + QStringLiteral("/damaged.heic");
        const auto exifIsRightOrAbsent = [&](const QByteArray &bytes, const QString &what) {
            lg::test::writeFile(damaged, bytes);
            const std::optional<QList<lg::PropertyNode>> tree = lg::readPropertyTree(damaged);
            if (!tree)
                return;
            if (const lg::PropertyNode *exif = find(*tree, QStringLiteral("{Exif}"))) {
                const lg::PropertyNode *fnumber = find(exif->children, QStringLiteral("FNumber"));
                QVERIFY2(!fnumber || fnumber->value == QLatin1String("2.8"), qPrintable(what));
            }
        };
        for (qsizetype cut = meta; cut < whole.size(); cut += 7)
            exifIsRightOrAbsent(whole.left(cut), QStringLiteral("cut at %1").arg(cut));
        // Each byte of the meta box's first 600 set to 0xff in turn: sizes,
        // counts, offsets and lengths that point anywhere.
        for (qsizetype at = meta; at < std::min(whole.size(), meta + 600); ++at) {
            QByteArray bytes = whole;
            bytes[at] = char(0xff);
            exifIsRightOrAbsent(bytes, QStringLiteral("0xff at %1").arg(at));
        }
    }

    void aBrokenFileEmptiesThePane()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("empty"));
        const QString broken = lg::test::writeFile(folder + QStringLiteral("/broken.jpg"), "not a picture");
        QVERIFY(!lg::readPropertyTree(broken));

        const QString photo = writeJpeg(folder + QStringLiteral("/photo.jpg"), 10, 10);
        itemList = {*mediaItemForPath(photo), *mediaItemForPath(broken)};
        selectedItemIndex = 0;
        InfoPane *pane = InfoPane::instance();
        QSignalSpy filled(pane, &InfoPane::fillFinished);
        pane->fill();
        QVERIFY(filled.wait(10000));
        QVERIFY(pane->model()->rowCount() > 0);
        selectedItemIndex = 1;
        pane->fill();
        QVERIFY(filled.wait(10000));
        QCOMPARE(pane->model()->rowCount(), 0);
        // No current item: the pane keeps what it shows.
        selectedItemIndex = 5;
        pane->fill();
        QCOMPARE(filled.count(), 2);
    }

    // A name that is not valid UTF-8 beside its look-alike (U+FFFD where the
    // other has its stray byte): the pane never shows the look-alike's facts
    // for it, but says why it shows none, and shows the look-alike's own as usual.
    void aNameThatIsNotUtf8NeverShowsItsLookAlikesFacts()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("lookAlike"));
        const QByteArray bytes = QFile::encodeName(folder) + '/';
        const QString plain = photoWithGps(folder + QStringLiteral("/plain.jpg"));
        QCOMPARE(::rename(QFile::encodeName(plain).constData(), QByteArray(bytes + "bad\xef\xbf\xbd.jpg").constData()), 0);
        writeJpeg(plain, 10, 10);
        const QByteArray stray = bytes + "bad\xff.jpg";
        // Qt's own removal of the temporary home cannot name it.
        const auto removeStray = qScopeGuard([&stray] { ::unlink(stray.constData()); });
        QCOMPARE(::rename(QFile::encodeName(plain).constData(), stray.constData()), 0);
        itemList = mediaItemsInFolder(folder);
        QCOMPARE(itemList.size(), 2);
        InfoPane *pane = InfoPane::instance();
        QSignalSpy filled(pane, &InfoPane::fillFinished);
        for (selectedItemIndex = 0; selectedItemIndex < 2; ++selectedItemIndex) {
            const bool stray = itemList.at(selectedItemIndex).url->toEncoded().endsWith("/bad%FF.jpg");
            const qsizetype before = filled.count();
            pane->fill();
            QTRY_COMPARE_WITH_TIMEOUT(filled.count(), before + 1, 10000);
            bool gps = false;
            for (int row = 0; row < pane->model()->rowCount(); ++row)
                gps = gps || pane->model()->index(row, 0).data().toString().contains(QStringLiteral("GPS"));
            QCOMPARE(gps, !stray);
            if (stray) {
                // The pane says why it shows nothing, and what to do.
                QCOMPARE(pane->model()->rowCount(), 1);
                const QString said = pane->model()->index(0, 0).data().toString();
                QVERIFY2(said.contains(QStringLiteral("/bad\uFFFD.jpg\u201D")) && said.contains(QStringLiteral("not valid UTF-8"))
                             && said.contains(QStringLiteral("Rename it in a file manager")),
                         qPrintable(said));
            }
        }
    }

    // The notice of a name that is not valid UTF-8 shows whole in a narrow
    // pane, over as many lines as it needs; the properties of the next item
    // go back to one line a row.
    void theNoticeOfANameThatIsNotUtf8ShowsWhole()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("noticeWraps"));
        const QByteArray stray = QFile::encodeName(folder) + "/bad\xff.jpg";
        const auto removeStray = qScopeGuard([&stray] { ::unlink(stray.constData()); });
        const QString plain = writeJpeg(folder + QStringLiteral("/plain.jpg"), 10, 10);
        QCOMPARE(::link(QFile::encodeName(plain).constData(), stray.constData()), 0);
        itemList = mediaItemsInFolder(folder);
        QCOMPARE(itemList.size(), 2);
        QTreeView outline;
        outline.header()->hide();
        outline.resize(240, 400);
        outline.show();
        QVERIFY(QTest::qWaitForWindowExposed(&outline));
        InfoPane pane(&outline);
        QSignalSpy filled(&pane, &InfoPane::fillFinished);
        const auto rowOf = [&](const char *ending) {
            for (int row = 0; row < itemList.size(); ++row)
                if (itemList.at(row).url->toEncoded().endsWith(ending))
                    return row;
            return -1;
        };
        selectedItemIndex = rowOf("/bad%FF.jpg");
        pane.fill();
        QTRY_COMPARE(filled.count(), 1);
        const QModelIndex notice = pane.model()->index(0, 0);
        const QString said = notice.data().toString();
        QVERIFY(said.contains(QStringLiteral("Rename it in a file manager")));
        const QRect shown = outline.visualRect(notice);
        const QFontMetrics metrics(outline.font());
        const int lines = int(std::ceil(double(metrics.horizontalAdvance(said)) / shown.width()));
        QVERIFY2(lines >= 3, qPrintable(QString::number(lines)));
        QVERIFY2(shown.height() >= lines * metrics.height(),
                 qPrintable(QStringLiteral("%1 px high for %2 lines").arg(shown.height()).arg(lines)));
        QVERIFY(outline.wordWrap());

        // Narrower, the row grows with the lines it needs.
        outline.resize(160, 400);
        QTRY_VERIFY(outline.visualRect(notice).height() > shown.height());

        selectedItemIndex = rowOf("/plain.jpg");
        pane.fill();
        QTRY_COMPARE(filled.count(), 2);
        QVERIFY(pane.model()->rowCount() > 1);
        QVERIFY(!outline.wordWrap());
        QCOMPARE(outline.visualRect(pane.model()->index(1, 0)).height(),
                 outline.visualRect(pane.model()->index(0, 0)).height());
    }

    void aFillThatFinishesLateIsDropped()
    {
        QSemaphore firstMayFinish;
        InfoPane::setReaderForTesting([&firstMayFinish](const QString &path) {
            if (path.endsWith(QLatin1String("first.jpg")))
                firstMayFinish.acquire();
            lg::PropertyNode node;
            node.key = node.label = QStringLiteral("Name");
            node.value = QFileInfo(path).fileName();
            return std::optional<QList<lg::PropertyNode>>(QList<lg::PropertyNode>{node});
        });
        InfoPane *pane = InfoPane::instance();
        QSignalSpy filled(pane, &InfoPane::fillFinished);
        pane->fillForPath(QStringLiteral("/x/first.jpg"));
        pane->fillForPath(QStringLiteral("/x/second.jpg"));
        QVERIFY(filled.wait(10000));
        QCOMPARE(pane->model()->index(0, 1).data().toString(), QStringLiteral("second.jpg"));
        firstMayFinish.release();
        QTRY_COMPARE(filled.count(), 2);
        QCOMPARE(filled.at(1).at(1).toBool(), false);
        QCOMPARE(pane->model()->index(0, 1).data().toString(), QStringLiteral("second.jpg"));
    }

    // The keys show whole at the pane's usual width, whatever the item: the
    // label column holds the vocabulary's longest key and the values give way.
    void theKeysShowWholeAndTheValuesGiveWay()
    {
        auto leaf = [](const char *key, const QString &value) {
            lg::PropertyNode node;
            node.key = node.label = QString::fromLatin1(key);
            node.value = value;
            return node;
        };
        auto group = [](const char *key, QList<lg::PropertyNode> children) {
            lg::PropertyNode node;
            node.key = QString::fromLatin1(key);
            node.label = QString(node.key).remove(QLatin1Char('{')).remove(QLatin1Char('}'));
            node.children = std::move(children);
            return node;
        };
        const QString longValue = QStringLiteral("A value far longer than any pane is wide, as camera makers write them");
        const QList<lg::PropertyNode> tree{
            leaf("FileSize", QStringLiteral("1 MB")),
            group("{Exif}", {leaf("ExposureTime", longValue), leaf("ComponentsConfiguration", QStringLiteral("1,2,3,0"))}),
            group("{GPS}", {leaf("Longitude", longValue)}),
            group("{IPTC}", {leaf("Country/PrimaryLocationName", longValue)})};
        InfoPane::setReaderForTesting([tree](const QString &) { return std::optional<QList<lg::PropertyNode>>(tree); });
        QTreeView outline;
        outline.header()->hide();
        outline.resize(320, 400);
        outline.show();
        QVERIFY(QTest::qWaitForWindowExposed(&outline));
        InfoPane pane(&outline);
        QSignalSpy filled(&pane, &InfoPane::fillFinished);
        pane.fillForPath(QStringLiteral("/x/photo.jpg"));
        QVERIFY(filled.wait(10000));
        outline.expandAll();
        // Narrowed and widened again, the keys get their room back.
        outline.resize(200, 400);
        QTRY_COMPARE(outline.viewport()->width() <= 200, true);
        outline.resize(320, 400);
        QTRY_COMPARE(outline.viewport()->width() > 300, true);
        const int keyColumn = outline.columnWidth(0);
        std::function<void(const QModelIndex &, int)> check = [&](const QModelIndex &parent, int depth) {
            for (int row = 0; row < pane.model()->rowCount(parent); ++row) {
                const QModelIndex label = pane.model()->index(row, 0, parent);
                const int needed = outline.indentation() * (depth + 1) + outline.sizeHintForIndex(label).width();
                QVERIFY2(keyColumn >= needed, qPrintable(QStringLiteral("%1: %2 of %3 px")
                                                             .arg(label.data().toString()).arg(keyColumn).arg(needed)));
                check(label, depth + 1);
            }
        };
        check(QModelIndex(), 0);
        // The long values are cut; their tooltips hold them whole.
        const QModelIndex value = pane.model()->index(0, 1, pane.model()->index(1, 0));
        QVERIFY(outline.columnWidth(1) < outline.sizeHintForIndex(value).width());
        QCOMPARE(value.data(Qt::ToolTipRole).toString(), longValue);
    }
};

LG_TEST(TestInfoPane)
#include "test_infopane.moc"
