// The ring and the bar: what they show for each value, at two sizes, and how
// they animate and restyle.
#include "controls/ProgressViews.h"
#include "tests/support/TestSupport.h"
#include "tests/support/WidgetTesting.h"

#include <QImage>
#include <QVariantAnimation>
#include <QtMath>

#include <cmath>
#include <limits>

namespace {

using namespace lg::test;

void setAtOnce(DeterminateAnimation &view, qreal value)
{
    view.setAnimated(false);
    view.setProgress(value);
    view.setAnimated(true);
}

} // namespace

class TestProgressViews : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void ringLabelTruncatesThePercentage_data()
    {
        QTest::addColumn<double>("progress");
        QTest::addColumn<QString>("label");
        QTest::addColumn<double>("strokeEnd");
        QTest::newRow("half") << 0.5 << "50%" << 0.5;
        QTest::newRow("almost") << 0.999 << "99%" << 0.999;
        QTest::newRow("full") << 1.0 << "100%" << 1.0;
        QTest::newRow("29 of 100") << 0.29 << "28%" << 0.29;
        QTest::newRow("over") << 1.2 << "120%" << 1.0;
        QTest::newRow("under") << -0.1 << "-10%" << 0.0;
    }

    void ringLabelTruncatesThePercentage()
    {
        QFETCH(double, progress);
        QFETCH(QString, label);
        QFETCH(double, strokeEnd);
        CircularProgressView ring;
        ring.resize(100, 100);
        setAtOnce(ring, progress);
        QCOMPARE(ring.percentLabelLayer().string, label);
        QCOMPARE(ring.displayedStrokeEnd(), strokeEnd);
        QCOMPARE(ring.progress(), progress);  // stored unchanged
    }

    void ringKeepsItsStateForValuesWithoutAPercentage()
    {
        CircularProgressView ring;
        ring.resize(100, 100);
        setAtOnce(ring, 0.4);
        setAtOnce(ring, std::numeric_limits<double>::quiet_NaN());
        QCOMPARE(ring.percentLabelLayer().string, QStringLiteral("40%"));
        QCOMPARE(ring.displayedStrokeEnd(), 0.4);
        setAtOnce(ring, std::numeric_limits<double>::infinity());
        QCOMPARE(ring.displayedStrokeEnd(), 1.0);
        QCOMPARE(ring.percentLabelLayer().string, QStringLiteral("40%"));
        setAtOnce(ring, -1e300);
        QCOMPARE(ring.displayedStrokeEnd(), 0.0);
        QCOMPARE(ring.percentLabelLayer().string, QStringLiteral("40%"));
    }

    void barOddValuesAreHandled()
    {
        ProgressBar bar;
        bar.resize(200, 20);
        setAtOnce(bar, 0.5);
        setAtOnce(bar, std::numeric_limits<double>::quiet_NaN());
        QCOMPARE(bar.progressLayer().frame.width(), 97.0);
        setAtOnce(bar, -3);
        QCOMPARE(bar.progressLayer().frame.width(), 0.0);
        setAtOnce(bar, std::numeric_limits<double>::infinity());
        QVERIFY(std::isfinite(bar.progressLayer().frame.width()));
        render(&bar);
    }
};

LG_TEST(TestProgressViews)
#include "test_progressviews.moc"
