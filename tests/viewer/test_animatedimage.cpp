// The viewer's animation when its decode worker fails part way: the frames
// that came play, the log says why the rest did not, and moving on to
// another file ends a worker that never returns.
#include "platform/image/DecodeWorkers.h"
#include "platform/runtime/Timer.h"
#include "tests/support/StandInWorkers.h"
#include "tests/support/TestSupport.h"
#include "viewer/AnimatedImage.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using lg::test::markedGif;

class AnimatedImageTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_folder;

private Q_SLOTS:
    void init() { lg::test::decodeInStandInWorkers(); }
    void cleanup() { lg::test::decodeHereAgain(); }

    void theFramesThatCamePlayAndTheLogSaysWhyTheRestDidNot()
    {
        lg::FakeClock clock;
        AnimatedImage animation;
        QSignalSpy loaded(&animation, &AnimatedImage::loaded);
        QSignalSpy changed(&animation, &AnimatedImage::frameChanged);
        QTest::ignoreMessage(QtWarningMsg, "The animation was cut short: the decoder ended abnormally on it");
        animation.setImageWithURL(markedGif(m_folder.path(), QStringLiteral("crash")));
        QTRY_COMPARE(loaded.count(), 1);
        QCOMPARE(loaded.first().first().value<QImage>().size(), QSize(8, 8));
        QCOMPARE(animation.frameCount(), 2);
        QCOMPARE(animation.shortfall(), QStringLiteral("the decoder ended abnormally on it"));
        clock.advance(100);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(animation.currentFrame(), 1);
    }

    void movingOnEndsAWorkerThatNeverReturns()
    {
        AnimatedImage animation;
        animation.setImageWithURL(markedGif(m_folder.path(), QStringLiteral("hang")));
        // The worker holds the animation's request.
        QTRY_VERIFY(!lg::image::decodeWorkerIds().isEmpty());
        QElapsedTimer moved;
        moved.start();
        animation.setImageWithURL(QString());
        QTRY_VERIFY_WITH_TIMEOUT(lg::image::decodeWorkerIds().isEmpty(), 2000);
        QVERIFY2(moved.elapsed() < 1000, qPrintable(QString::number(moved.elapsed())));
        QVERIFY(!animation.isRunning());
    }
};

LG_TEST(AnimatedImageTest)
#include "test_animatedimage.moc"
