// The spinner: star placement, limits on caller values, the animate switch,
// the turning (driven by a fake clock) and that a stopped spinner costs nothing.
#include "controls/Spinner.h"
#include "platform/runtime/Timer.h"
#include "tests/support/TestSupport.h"
#include "tests/support/WidgetTesting.h"

#include <QAbstractAnimation>
#include <QImage>
#include <QPaintEvent>
#include <QtMath>

#include <cmath>
#include <limits>

namespace {

// Counts the paint events a widget gets.
class PaintCounter : public QObject
{
public:
    int paints = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

using lg::test::render;

} // namespace

class TestSpinner : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void callerValuesAreLimited()
    {
        Spinner spinner;
        spinner.resize(80, 80);
        const qint64 counts[] = {0, -5, 361, 100000, std::numeric_limits<qint64>::max(),
                                 std::numeric_limits<qint64>::min()};
        for (qint64 count : counts) {
            spinner.setStarCount(count);
            QVERIFY(spinner.starCount() >= 1 && spinner.starCount() <= 360);
            QVERIFY(!spinner.starList().isEmpty() && spinner.starList().size() <= 360);
            render(&spinner);
        }
        QVERIFY(spinner.setProperty("starCount", qlonglong(0)));
        QCOMPARE(spinner.starCount(), 1);

        const double odd[] = {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                              -std::numeric_limits<double>::infinity(), -1e308, 1e308, 0.0, -1.0};
        for (double value : odd) {
            spinner.setStarSize(QSizeF(value, value));
            spinner.setDistance(value);
            spinner.setDuration(value);
            QVERIFY(std::isfinite(spinner.starSize().width()) && spinner.starSize().width() >= 0);
            QVERIFY(std::isfinite(spinner.distance()));
            QVERIFY(std::isfinite(spinner.duration()) && spinner.duration() > 0);
            spinner.startAnimation();
            render(&spinner);
            spinner.stopAnimation();
        }
    }

    void animateShowsHidesAndIgnoresRepeats()
    {
        QWidget window;
        auto *spinner = new Spinner(&window);
        window.show();
        QVERIFY(spinner->isVisible());
        QVERIFY(!spinner->animate());

        // Off while off: the view is not hidden.
        spinner->setAnimate(false);
        QVERIFY(spinner->isVisible());

        spinner->setHidden(true);
        spinner->setAnimate(true);
        QVERIFY(spinner->isVisible());
        QVERIFY(spinner->isAnimating());
        spinner->stopAnimation();
        // On while on: nothing is started again.
        spinner->setAnimate(true);
        QVERIFY(!spinner->isAnimating());

        spinner->setAnimate(false);
        QVERIFY(spinner->isHidden());
        QVERIFY(!spinner->isAnimating());

        // Staying on screen after the end, resting unturned.
        QVERIFY(spinner->setProperty("displayAfterAnimationEnds", true));
        spinner->setAnimate(true);
        spinner->setAnimate(false);
        QVERIFY(spinner->isVisible());
        QVERIFY(!spinner->isAnimating());
        QCOMPARE(spinner->containerRotation(), 0.0);

        // Starting and stopping directly leaves the switch as it was.
        spinner->startAnimation();
        QVERIFY(!spinner->animate());
        spinner->stopAnimation();
    }

    void stoppedSpinnerCostsNothing()
    {
        lg::FakeClock clock;
        QWidget window;
        auto *spinner = new Spinner(&window);
        spinner->resize(80, 80);
        window.show();
        QCOMPARE(clock.pendingCount(), 0);  // a new spinner does not tick

        spinner->startAnimation();
        QCOMPARE(clock.pendingCount(), 1);
        clock.advance(250);
        spinner->stopAnimation();
        QCOMPARE(spinner->containerRotation(), 0.0);
        QCOMPARE(clock.pendingCount(), 0);

        PaintCounter counter;
        spinner->installEventFilter(&counter);
        QCoreApplication::processEvents();
        counter.paints = 0;
        clock.advance(5000);
        QCoreApplication::processEvents();
        QCOMPARE(counter.paints, 0);
        for (QAbstractAnimation *animation : spinner->findChildren<QAbstractAnimation *>())
            QCOMPARE(animation->state(), QAbstractAnimation::Stopped);

        // A single star never turns, so it needs no ticks either.
        spinner->setStarCount(1);
        spinner->startAnimation();
        QCOMPARE(clock.pendingCount(), 0);
        spinner->stopAnimation();
    }
};

LG_TEST(TestSpinner)
#include "test_spinner.moc"
