// The screens' scroll views, outlines and editors are the controls kit's.
#include "browser/GridView.h"
#include "browser/ListTableView.h"
#include "collage/collagevc.h"
#include "controls/Cells.h"
#include "controls/ControlColors.h"
#include "controls/ScrollViews.h"
#include "sidebar/outlineView.h"
#include "tests/support/TestSupport.h"
#include "tests/support/WidgetTesting.h"

#include <QStandardItemModel>

#include <functional>
#include <memory>

using namespace lg::test;
using ViewMaker = std::function<QAbstractItemView *()>;
Q_DECLARE_METATYPE(ViewMaker)

class TestKitInScreens : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void scrollViewsUseTheKitScrollers_data()
    {
        QTest::addColumn<ViewMaker>("make");
        QTest::newRow("grid") << ViewMaker([] { return new GridView; });
        QTest::newRow("list") << ViewMaker([] { return new ListTableView; });
        QTest::newRow("sidebar") << ViewMaker([] { return new outlineView; });
        QTest::newRow("collage strip") << ViewMaker([] { return new collageCollectionView; });
    }

    void scrollViewsUseTheKitScrollers()
    {
        QFETCH(ViewMaker, make);
        std::unique_ptr<QAbstractItemView> view(make());
        auto *bar = qobject_cast<CustomScroller *>(view->verticalScrollBar());
        QVERIFY(bar);
        QVERIFY(qobject_cast<CustomScroller *>(view->horizontalScrollBar()));
        // With more rows than fit, the knob shows in the kit's colour: no style
        // sheet of the screen takes over the scroller.
        QStandardItemModel rows;
        for (int i = 0; i < 400; ++i)
            rows.appendRow(new QStandardItem(QStringLiteral("row %1").arg(i)));
        if (view->model())
            return;  // the collage strip lists only its own photos
        view->setModel(&rows);
        view->resize(300, 200);
        const QImage image = render(view.get());
        const QRect knob = bar->knobRect().toRect().translated(bar->mapTo(view.get(), QPoint()));
        QVERIFY(!knob.isEmpty());
        QVERIFY(colorDistance(image.pixelColor(knob.center()), scrollerKnobColor()) < 10);
        QCOMPARE(bar->sizeHint().width(), CustomScroller::kScrollerWidth);
    }

    void knobShowsOnTheDarkBackgrounds()
    {
        for (const QColor &background : {QColor(0x1e, 0x1e, 0x1e), QColor(0x23, 0x23, 0x23), QColor(0x1f, 0x2a, 0x33)})
            QVERIFY2(colorDistance(scrollerKnobColor(), background) >= 100, qPrintable(background.name()));
    }

    void sidebarOutlineDrawsTheKitArrows()
    {
        outlineView outline;
        QVERIFY(qobject_cast<rightOutlineView *>(&outline));
        const QImage arrow = rightOutlineView::arrowImage(QStringLiteral("smallArrow")).toImage();
        QCOMPARE(arrow.size(), QSize(rightOutlineView::kArrowSize, rightOutlineView::kArrowSize));
        int drawn = 0;
        for (int y = 0; y < arrow.height(); ++y)
            for (int x = 0; x < arrow.width(); ++x)
                drawn += arrow.pixelColor(x, y).alpha() > 0;
        QVERIFY(drawn > 5);
    }
};

LG_TEST(TestKitInScreens)
#include "test_kitinscreens.moc"
