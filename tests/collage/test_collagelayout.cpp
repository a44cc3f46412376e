// The collage's geometry, without widgets: slot frames of each style, the
// canvas fit, and how a photo fills, zooms and pans inside its slot.
#include "collage/CollageLayout.h"
#include "tests/support/TestSupport.h"

#include <QLineF>

namespace {

double coveredArea(const QList<QRectF> &frames)
{
    double sum = 0;
    for (const QRectF &f : frames)
        sum += f.width() * f.height();
    return sum;
}

} // namespace

class TestCollageLayout : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void centerBandsShareOutExtraPhotos_data()
    {
        QTest::addColumn<int>("photos");
        QTest::addColumn<QList<int>>("counts");
        QTest::newRow("5 or fewer") << 3 << QList<int>{1, 1, 1, 1};
        QTest::newRow("6") << 6 << QList<int>{2, 1, 1, 1};
        QTest::newRow("7") << 7 << QList<int>{2, 2, 1, 1};
        QTest::newRow("11") << 11 << QList<int>{3, 3, 2, 2};
        QTest::newRow("14") << 14 << QList<int>{5, 4, 2, 2};
        QTest::newRow("negative") << -4 << QList<int>{1, 1, 1, 1};
    }
    void centerBandsShareOutExtraPhotos()
    {
        QFETCH(int, photos);
        QFETCH(QList<int>, counts);
        QCOMPARE(centerBandCounts(photos), counts);
    }

    // Grid and Center tile the slot area: every frame inside it, no two
    // overlapping, together covering all of it, as many as asked for.
    void gridAndCenterTileTheArea_data()
    {
        QTest::addColumn<int>("style");
        QTest::addColumn<QSizeF>("area");
        QTest::addColumn<int>("photos");
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("columns");
        QTest::addColumn<int>("slotCount");
        for (const QSizeF area : {QSizeF(510, 680), QSizeF(906.5, 580), QSizeF(33, 21)}) {
            QTest::addRow("grid 3x3 in %gx%g", area.width(), area.height()) << 1 << area << 0 << 3 << 3 << 9;
            QTest::addRow("grid 1x5 in %gx%g", area.width(), area.height()) << 1 << area << 0 << 1 << 5 << 5;
            QTest::addRow("grid 7x2 in %gx%g", area.width(), area.height()) << 1 << area << 0 << 7 << 2 << 14;
            for (int photos : {1, 5, 6, 7, 9, 11, 14, 17, 30})
                QTest::addRow("center %d in %gx%g", photos, area.width(), area.height())
                    << 2 << area << photos << 0 << 0 << std::max(5, photos);
        }
    }
    void gridAndCenterTileTheArea()
    {
        QFETCH(int, style);
        QFETCH(QSizeF, area);
        QFETCH(int, photos);
        QFETCH(int, rows);
        QFETCH(int, columns);
        QFETCH(int, slotCount);
        const QList<QRectF> frames = collageFrames(CollageStyle(style), area, photos, rows, columns);
        QCOMPARE(frames.size(), slotCount);
        const QRectF bounds(QPointF(0, 0), area);
        const QRectF tolerant = bounds.adjusted(-1e-6, -1e-6, 1e-6, 1e-6);
        for (int i = 0; i < frames.size(); ++i) {
            QVERIFY2(tolerant.contains(frames.at(i)), qPrintable(QStringLiteral("frame %1 outside").arg(i)));
            for (int j = i + 1; j < frames.size(); ++j) {
                const QRectF overlap = frames.at(i).intersected(frames.at(j));
                QVERIFY2(overlap.width() * overlap.height() < 1e-6,
                         qPrintable(QStringLiteral("frames %1 and %2 overlap").arg(i).arg(j)));
            }
        }
        QVERIFY(qAbs(coveredArea(frames) - area.width() * area.height()) < 1e-6 * area.width() * area.height());
    }

    void framesStartAtTheBottomLeft()
    {
        const QList<QRectF> grid = collageFrames(CollageStyle::Grid, QSizeF(300, 600), 0, 3, 3);
        QCOMPARE(grid.first(), QRectF(0, 0, 100, 200));
        QCOMPARE(grid.at(3), QRectF(0, 200, 100, 200));   // the second row is above the first
        QCOMPARE(topDownRect(grid.first(), QSizeF(300, 600)), QRectF(0, 400, 100, 200));

        // 14 photos: the bottom band is 2 rows of 3 with a double-height last
        // slot; the top band one row of 4.
        const QList<QRectF> center = collageFrames(CollageStyle::Center, QSizeF(600, 800), 14, 0, 0);
        QCOMPARE(center.at(2), QRectF(400, 0, 200, 200));
        QCOMPARE(center.at(4), QRectF(200, 100, 200, 100));
        QCOMPARE(center.last(), QRectF(450, 600, 150, 200));
        // Five photos: centre slot in the middle half, one band each.
        const QList<QRectF> five = collageFrames(CollageStyle::Center, QSizeF(600, 800), 5, 0, 0);
        QCOMPARE(five, (QList<QRectF>{QRectF(0, 0, 600, 200), QRectF(0, 200, 200, 400), QRectF(200, 200, 200, 400),
                                      QRectF(400, 200, 200, 400), QRectF(0, 600, 600, 200)}));
    }

    void pileOverlapsAndWraps()
    {
        const QList<QRectF> pile = collageFrames(CollageStyle::Pile, QSizeF(500, 700), 9, 0, 0);
        QCOMPARE(pile.size(), 9);
        QVERIFY(qAbs(pile.first().width() - 162.667) < 0.01 && qAbs(pile.first().height() - 266.667) < 0.01);
        QCOMPARE(pile.at(4).y(), pile.at(0).y() + pileCellHeight);   // four to a row
        QCOMPARE(pile.at(8).x(), pile.at(0).x());
        QVERIFY(pile.at(0).intersects(pile.at(1)));
        // Too narrow for one pitch: every slot starts a row.
        const QList<QRectF> narrow = collageFrames(CollageStyle::Pile, QSizeF(100, 700), 3, 0, 0);
        QCOMPARE(narrow.at(2).x(), narrow.at(0).x());
        QCOMPARE(narrow.at(2).y(), narrow.at(0).y() + 2 * pileCellHeight);
    }

    // The Pile slot fits its photo inside the border, takes the photo's shape
    // and grows by twice the border, standing where it stood.
    void pileSlotGrowsAroundThePhotoShape_data()
    {
        QTest::addColumn<QSizeF>("photo");
        QTest::addColumn<double>("border");
        QTest::addColumn<QSizeF>("size");
        const QSizeF pitch(pileCellWidth * 4 / 3, pileCellHeight * 4 / 3);
        QTest::newRow("4:3, border 7") << QSizeF(4000, 3000) << 7.0 << QSizeF(369.56, 280.67);
        QTest::newRow("3:4, border 7") << QSizeF(3000, 4000) << 7.0 << QSizeF(214.0, 280.67);
        QTest::newRow("small 4:3 is shaped, not enlarged first") << QSizeF(40, 30) << 7.0 << QSizeF(369.56, 280.67);
        QTest::newRow("tall photo filling the height, no border") << QSizeF(1000, 3000) << 0.0 << QSizeF(pitch.width(), 3 * pitch.width());
        QTest::newRow("square, border 0") << QSizeF(500, 500) << 0.0 << QSizeF(pitch.height(), pitch.height());
    }
    void pileSlotGrowsAroundThePhotoShape()
    {
        QFETCH(QSizeF, photo);
        QFETCH(double, border);
        QFETCH(QSizeF, size);
        const QRectF frame(10, 20, pileCellWidth * 4 / 3, pileCellHeight * 4 / 3);
        const QRectF grown = pileFrameForPhoto(frame, photo, border);
        QVERIFY2(qAbs(grown.width() - size.width()) < 0.01 && qAbs(grown.height() - size.height()) < 0.01,
                 qPrintable(QStringLiteral("%1 x %2").arg(grown.width()).arg(grown.height())));
        QCOMPARE(grown.bottomLeft(), frame.bottomLeft());
        const QSizeF inner = grown.size() - QSizeF(2 * border, 2 * border);
        QVERIFY(qAbs(inner.width() / inner.height() - photo.width() / photo.height()) < 1e-9);
    }

    void stripRowsAndSpace_data()
    {
        QTest::addColumn<double>("width");
        QTest::addColumn<double>("item");
        QTest::addColumn<double>("perRow");
        QTest::addColumn<double>("space");
        QTest::newRow("600 / 150") << 600.0 << 150.0 << 3.0 << 50.0;
        QTest::newRow("600 / 400") << 600.0 << 400.0 << 0.5 << 200.0;
        QTest::newRow("450 / 150") << 450.0 << 150.0 << 2.0 << 75.0;
        QTest::newRow("no item size") << 600.0 << 0.0 << 0.0 << 0.0;
    }
    void stripRowsAndSpace()
    {
        QFETCH(double, width);
        QFETCH(double, item);
        QFETCH(double, perRow);
        QFETCH(double, space);
        const StripLayout layout = stripLayout(width, item);
        QCOMPARE(layout.itemsPerRow, perRow);
        QCOMPARE(layout.space, space);
    }

    void degenerateInputGivesNothing()
    {
        QVERIFY(collageFrames(CollageStyle::Grid, QSizeF(0, 100), 5, 3, 3).isEmpty());
        QVERIFY(collageFrames(CollageStyle::Grid, QSizeF(100, 100), 5, 0, 3).isEmpty());
        QVERIFY(collageFrames(CollageStyle::Center, QSizeF(-5, 100), 5, 3, 3).isEmpty());
        QCOMPARE(collageFrames(CollageStyle::Pile, QSizeF(100, 100), 1 << 30, 0, 0).size(), 1000);
        QVERIFY(fittedCanvasSize(QSizeF(0, 0), true, QSizeF(500, 500)).isEmpty());
        QVERIFY(visibleImageRect(QSizeF(0, 10), QSizeF(10, 10), {}).isEmpty());
        QCOMPARE(displayedImageSize(QSizeF(10, 0), QSizeF(10, 10)), QSizeF());
        QCOMPARE(pileFrameForPhoto(QRectF(1, 2, 3, 4), QSizeF(), 7), QRectF(1, 2, 3, 4));
    }

    void canvasFitsItsSpace_data()
    {
        QTest::addColumn<QSizeF>("output");
        QTest::addColumn<bool>("landscape");
        QTest::addColumn<QSizeF>("space");
        QTest::addColumn<QSizeF>("canvas");
        QTest::newRow("portrait 800x600 in 1000x700") << QSizeF(800, 600) << false << QSizeF(1000, 700) << QSizeF(510, 680);
        QTest::newRow("landscape 1920x1440 in 600x700")
            << QSizeF(1920, 1440) << true << QSizeF(600, 700) << QSizeF(580, 435);
        QTest::newRow("no room") << QSizeF(800, 600) << true << QSizeF(10, 10) << QSizeF(0, 0);
    }
    void canvasFitsItsSpace()
    {
        QFETCH(QSizeF, output);
        QFETCH(bool, landscape);
        QFETCH(QSizeF, space);
        QFETCH(QSizeF, canvas);
        QCOMPARE(fittedCanvasSize(output, landscape, space), canvas);
        QCOMPARE(outputPixelSize(QSizeF(1920, 1440), landscape), landscape ? QSizeF(1920, 1440) : QSizeF(1440, 1920));
    }

    void photoCoversItsSlotAndPansWithinIt()
    {
        const QSizeF photo(4000, 3000);
        const QSizeF slot(300, 300);
        QCOMPARE(displayedImageSize(photo, slot), QSizeF(300, 225));
        // Zoom 1 covers: the slot shows a centred 3000x3000 square.
        QCOMPARE(visibleImageRect(photo, slot, {}), QRectF(500, 0, 3000, 3000));

        SlotFraming f;
        for (int i = 0; i < 3; ++i)
            f = zoomedFraming(f, 1, photo, slot);
        QVERIFY(qAbs(f.zoom - 1.6) < 1e-9);
        f = zoomedFraming(f, 0, photo, slot);   // a zero delta zooms out, by 1.0
        QCOMPARE(f.zoom, slotMinZoom);
        for (int i = 0; i < 40; ++i)
            f = zoomedFraming(f, 1, photo, slot);
        QCOMPARE(f.zoom, slotMaxZoom);

        // Dragging right shows more of the left; the edge stops it, and the
        // other axis still follows the pointer.
        SlotFraming pan = zoomedFraming({}, 1, photo, slot);
        const QRectF before = visibleImageRect(photo, slot, pan);
        pan = pannedFraming(pan, QPointF(30, 0), photo, slot);
        QVERIFY(visibleImageRect(photo, slot, pan).x() < before.x());
        pan = pannedFraming(pan, QPointF(5000, 10), photo, slot);
        const QRectF edge = visibleImageRect(photo, slot, pan);
        QCOMPARE(edge.x(), 0.0);
        QVERIFY(edge.y() < before.y());
        // Zooming at a point keeps the photo point under it.
        const QPointF at(250, 150);
        const QRectF wide = visibleImageRect(photo, slot, {});
        const QPointF pointed = wide.topLeft() + QPointF(at.x() / slot.width() * wide.width(), at.y() / slot.height() * wide.height());
        const SlotFraming in = zoomedFraming({}, 1, photo, slot, at);
        const QRectF close = visibleImageRect(photo, slot, in);
        const QPointF still = close.topLeft() + QPointF(at.x() / slot.width() * close.width(), at.y() / slot.height() * close.height());
        QVERIFY(QLineF(pointed, still).length() < 1e-6);
        // At zoom 1 the covered axis cannot move at all.
        QCOMPARE(pannedFraming({}, QPointF(0, 50), photo, slot), SlotFraming{});
    }

    void decodeSizeFollowsTheShownSize()
    {
        QCOMPARE(slotDecodeSize(QSizeF(6000, 4000), QSizeF(300, 200)), 512);   // 300 px wide needs 300
        QCOMPARE(slotDecodeSize(QSizeF(6000, 4000), QSizeF(200, 300)), 512);   // cover: 450 x 300
        QCOMPARE(slotDecodeSize(QSizeF(6000, 4000), QSizeF(300, 200), 5), 2048);
        QCOMPARE(slotDecodeSize(QSizeF(), QSizeF(100, 50)), 256);
        QCOMPARE(slotDecodeSize(QSizeF(100000, 100), QSizeF(500, 500)), 4096);
    }
};

LG_TEST(TestCollageLayout)
#include "test_collagelayout.moc"
