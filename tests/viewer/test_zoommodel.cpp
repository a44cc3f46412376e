// The viewer's zoom, pan and fit arithmetic, without widgets.
#include "tests/support/TestSupport.h"
#include "viewer/ZoomModel.h"

#include <cmath>

namespace {

ZoomModel modelFor(QSizeF image, QSizeF view)
{
    ZoomModel model;
    model.setViewSize(view);
    model.setImageSize(image);
    return model;
}

bool near(double a, double b, double tolerance = 1e-9)
{
    return std::abs(a - b) <= tolerance;
}

} // namespace

class ZoomModelTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fitStylesAskForTheRightMagnification()
    {
        // Smaller than the view on both axes: actual size is 1, filling doubles it.
        ZoomModel small = modelFor({400, 300}, {800, 800});
        QCOMPARE(small.displayedImageSize(), QSizeF(400, 300));
        QCOMPARE(small.filledImageSize(), QSizeF(800, 600));
        QCOMPARE(small.fitToImageMagnification(), 1.0);
        QCOMPARE(small.fitToViewMagnification(), 2.0);

        // Larger: the image view already shrinks it (displayed 1000 x 750).
        ZoomModel large = modelFor({4000, 3000}, {1000, 1000});
        QCOMPARE(large.displayedImageSize(), QSizeF(1000, 750));
        QCOMPARE(large.fitToImageMagnification(), 4.0);
        QCOMPARE(large.fitToViewMagnification(), 1.0);

        // Tall: the height limits it.
        ZoomModel tall = modelFor({300, 3000}, {1000, 1000});
        QCOMPARE(tall.displayedImageSize(), QSizeF(100, 1000));
        QCOMPARE(tall.fitToImageMagnification(), 3.0);

        // Exactly as wide as the view counts as not smaller.
        ZoomModel asWide = modelFor({1000, 500}, {1000, 1000});
        QCOMPARE(asWide.fitToViewMagnification(), 1.0);
        QCOMPARE(asWide.fitToImageMagnification(), 1.0);

        // No image: nothing to fit, nothing shown.
        ZoomModel none;
        none.setViewSize({800, 600});
        QVERIFY(!none.hasImage());
        QCOMPARE(none.displayedImageSize(), QSizeF());
        QCOMPARE(none.fitToViewMagnification(), 1.0);
        QVERIFY(none.imageRectInViewport().isEmpty());
        // A degenerate size is no image either.
        none.setImageSize(QSizeF(0, 10));
        QVERIFY(!none.hasImage());
    }

    void magnificationStaysWithinItsRange()
    {
        ZoomModel model = modelFor({10, 10}, {800, 800});
        // Filling the view would need 80 times: the range stops it at its top.
        model.setMagnification(model.fitToViewMagnification());
        QCOMPARE(model.magnification(), ZoomModel::defaultMaximumMagnification);
        model.setMagnification(0.1);
        QCOMPARE(model.magnification(), ZoomModel::defaultMinimumMagnification);
        model.setMagnification(std::nan(""));
        QCOMPARE(model.magnification(), ZoomModel::defaultMinimumMagnification);
        model.setMagnification(1e9, QPointF(400, 400));
        QCOMPARE(model.magnification(), ZoomModel::defaultMaximumMagnification);

        model.setMagnificationRange(0.5, 4);
        QCOMPARE(model.magnification(), 4.0);
        QCOMPARE(model.clampMagnification(0.2), 0.5);
    }

    void wheelStepsFollowTheirRules()
    {
        // A large picture: +0.2 up to 2.0, then +1.0; down always -1.0.
        ZoomModel large = modelFor({4000, 3000}, {1000, 1000});
        const QPointF middle(500, 500);
        QVector<double> seen;
        for (int i = 0; i < 7; ++i) {
            QVERIFY(large.applyWheel(1.0, middle));
            seen << std::round(large.magnification() * 1000) / 1000;
        }
        QCOMPARE(seen, (QVector<double> {1.2, 1.4, 1.6, 1.8, 2.0, 2.2, 3.2}));
        large.applyWheel(-1.0, middle);
        QVERIFY(near(large.magnification(), 2.2, 1e-9));
        // A delta of 0 zooms out.
        large.applyWheel(0.0, middle);
        QVERIFY(near(large.magnification(), 1.2, 1e-9));
        large.applyWheel(-3.0, middle);
        QCOMPARE(large.magnification(), 1.0);

        // A small picture inside the view: whole steps, about nothing in particular.
        ZoomModel small = modelFor({100, 100}, {1000, 1000});
        const std::optional<ZoomModel::WheelStep> up = small.wheelStep(1.0, QPointF(10, 10));
        QVERIFY(up);
        QCOMPARE(up->magnification, 2.0);
        QVERIFY(!up->anchor);
        small.setMagnification(3.0);
        QCOMPARE(small.wheelStep(-1.0, QPointF(10, 10))->magnification, 2.0);

        // No image: no step.
        ZoomModel empty;
        empty.setViewSize({100, 100});
        QVERIFY(!empty.wheelStep(1.0, QPointF()));
        QVERIFY(!empty.applyWheel(1.0, QPointF()));
    }

    void wheelZoomKeepsThePointUnderThePointer()
    {
        // Filling the view on both axes: the document point under the pointer stays put.
        ZoomModel model = modelFor({4000, 4000}, {1000, 1000});
        model.setMagnification(3.0);
        model.recenter();
        const QPointF pointer(200, 700);
        const QPointF before = model.documentPoint(pointer);
        model.applyWheel(1.0, pointer);
        QCOMPARE(model.magnification(), 4.0);
        const QPointF after = model.documentPoint(pointer);
        QVERIFY(near(after.x(), before.x(), 1e-6));
        QVERIFY(near(after.y(), before.y(), 1e-6));

        // A wide picture narrower than the view vertically: y zooms about the middle.
        ZoomModel wide = modelFor({4000, 1000}, {1000, 1000});
        const std::optional<ZoomModel::WheelStep> step = wide.wheelStep(1.0, QPointF(100, 900));
        QVERIFY(step && step->anchor);
        QCOMPARE(step->anchor->x(), 100.0);
        QCOMPARE(step->anchor->y(), 500.0);
    }

    void panFollowsThePointerWithinTheEdges()
    {
        // 4000 x 3000 in 1000 x 1000 at 4x: the magnified image spans x 0..4000, y 500..3500.
        ZoomModel model = modelFor({4000, 3000}, {1000, 1000});
        model.setMagnification(4.0);
        model.recenter();
        const QPointF start = model.origin();
        QCOMPARE(start, QPointF(375, 375));

        model.beginDrag(QPointF(500, 500));
        QCOMPARE(model.innerImageFrame(), QRectF(0, 500, 4000, 3000));
        // The picture follows the pointer: 100 px left and 80 px up shows 25 and 20 further.
        model.dragTo(QPointF(400, 420));
        QCOMPARE(model.origin(), start + QPointF(25, 20));
        // Far beyond every edge: the picture never uncovers space beyond itself.
        for (const QPointF pointer : {QPointF(-5000, -5000), QPointF(9000, 9000), QPointF(-5000, 9000),
                                      QPointF(9000, -5000), QPointF(380, 40)}) {
            model.dragTo(pointer);
            const double m = model.magnification();
            QVERIFY(m * model.origin().x() >= -1e-9);
            QVERIFY(m * model.origin().x() + 1000 <= 4000 + 1e-9);
            QVERIFY(m * model.origin().y() >= 500 - 1e-9);
            QVERIFY(m * model.origin().y() + 1000 <= 3500 + 1e-9);
        }
        model.endDrag();
        const QPointF rested = model.origin();
        model.dragTo(QPointF(0, 0));
        QCOMPARE(model.origin(), rested);

        // Fully visible vertically: only the horizontal follows.
        ZoomModel wide = modelFor({1000, 400}, {1000, 1000});
        wide.setMagnification(2.0);
        wide.recenter();
        const QPointF wideStart = wide.origin();
        wide.beginDrag(QPointF(500, 500));
        wide.dragTo(QPointF(300, 300));
        QCOMPARE(wide.origin(), wideStart + QPointF(100, 0));

        // No image: a press records nothing to pan.
        ZoomModel empty;
        empty.setViewSize({500, 500});
        empty.beginDrag(QPointF(10, 10));
        empty.dragTo(QPointF(100, 100));
        QCOMPARE(empty.origin(), QPointF(0, 0));
    }

    void smallDocumentsAreCentredAndZoomsRecentre()
    {
        ZoomModel model = modelFor({400, 300}, {801, 600});
        model.setMagnificationRange(0.25, 20);
        model.setMagnification(0.5);
        // Showing 1602 x 1200 of an 801 x 600 document: floor(-400.5) and -300.
        QCOMPARE(model.origin(), QPointF(-401, -300));
        QCOMPARE(model.constrainBoundsRect(QRectF(50, 50, 400, 300)), QRectF(50, 50, 400, 300));
        QCOMPARE(model.constrainBoundsRect(QRectF(700, -20, 400, 300)), QRectF(401, 0, 400, 300));

        // Zoomed about a corner, then re-centred: the middle shows in the middle.
        ZoomModel zoomed = modelFor({4000, 3000}, {1000, 800});
        zoomed.setMagnification(3.0, QPointF(0, 0));
        QCOMPARE(zoomed.origin(), QPointF(0, 0));
        zoomed.recenter();
        QVERIFY(near(zoomed.visibleRect().center().x(), 500, 1e-9));
        QVERIFY(near(zoomed.visibleRect().center().y(), 400, 1e-9));
        const QRectF shown = zoomed.imageRectInViewport();
        QVERIFY(near(shown.center().x(), 500, 1e-6));
        QVERIFY(near(shown.center().y(), 400, 1e-6));
        QVERIFY(near(shown.width(), 3000, 1e-6));

        // A smaller view keeps the scroll position inside the document.
        zoomed.setViewSize({500, 400});
        const QRectF visible = zoomed.visibleRect();
        QVERIFY(visible.left() >= 0 && visible.right() <= 500 + 1e-9);
        QVERIFY(visible.top() >= 0 && visible.bottom() <= 400 + 1e-9);
    }
};

LG_TEST(ZoomModelTest)
#include "test_zoommodel.moc"
