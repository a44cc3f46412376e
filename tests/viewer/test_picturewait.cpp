// The viewer's offer to keep waiting for a picture whose decode runs past
// its time: the decode runs on in its worker while the window offers Keep
// Waiting and Stop, and Stop, moving to another picture or the quit end it
// at once. The stand-in worker's decode never returns; the watchdog's clock
// is the test's.
#include "platform/image/DecodeWorkers.h"
#include "platform/runtime/Dispatch.h"
#include "tests/support/Fixtures.h"
#include "tests/support/StandInWorkers.h"
#include "tests/support/TestSupport.h"
#include "viewer/PictureLoader.h"
#include "viewer/PictureWaitOffer.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>

class PictureWaitTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_folder;
    std::atomic<qint64> m_now {0};
    std::atomic<int> m_reads {0};   // of the clock, by the watchdogs

    // Time passes past a decode's limit, once a watchdog has looked at the
    // clock since the last answer.
    void timePasses()
    {
        const int seen = m_reads.load();
        QTRY_VERIFY(m_reads.load() > seen + 1);
        m_now += lg::image::thumbnailDecodeTimeLimitMs + 1000;
    }

private Q_SLOTS:
    void init()
    {
        m_now = 0;
        m_reads = 0;
        lg::test::decodeInStandInWorkers();
        lg::image::setDecodeClockForTesting([this] {
            ++m_reads;
            return m_now.load();
        });
    }

    void cleanup() { lg::test::decodeHereAgain(); }

    void aSlowPictureOnShowIsOfferedToBeWaitedFor_data()
    {
        QTest::addColumn<QString>("end");
        QTest::newRow("stopped") << QStringLiteral("stop");
        QTest::newRow("another picture shown") << QStringLiteral("move on");
        QTest::newRow("the quit") << QStringLiteral("quit");
        QTest::newRow("the window hidden") << QStringLiteral("hide");
    }
    void aSlowPictureOnShowIsOfferedToBeWaitedFor()
    {
        QFETCH(QString, end);
        QWidget window;
        window.resize(640, 480);
        auto *loader = new PictureLoader(&window);
        auto *offer = new PictureWaitOffer(loader, &window);
        window.show();
        QSignalSpy ready(loader, &PictureLoader::ready);
        const QString path = lg::test::markedPicture(m_folder.path(), QStringLiteral("hang"));
        const PictureKey key = PictureLoader::keyFor(path, QSize(300, 300));
        loader->showing(path);
        loader->request(key);

        timePasses();
        QTRY_VERIFY(offer->isVisible());
        QCOMPARE(offer->text()->text(), QStringLiteral("\u201chang.png\u201d is taking long to open."));
        QCOMPARE(offer->y(), 0);
        // Kept waiting for: the offer goes, and comes again once the time has passed again.
        offer->keepWaitingButton()->click();
        QVERIFY(!offer->isVisible());
        timePasses();
        QTRY_VERIFY(offer->isVisible());
        QCOMPARE(ready.count(), 0);
        QVERIFY(loader->isPending(key));

        QElapsedTimer clock;
        clock.start();
        if (end == QLatin1String("stop"))
            offer->stopButton()->click();
        else if (end == QLatin1String("move on"))
            loader->showing(m_folder.filePath(QStringLiteral("next.png")));
        else if (end == QLatin1String("hide"))
            window.hide();
        else
            lg::beginShutdown();
        QTRY_COMPARE_WITH_TIMEOUT(ready.count(), 1, 2000);
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!offer->isVisible());
        QVERIFY(!loader->cached(key)->ok());
    }

    // A picture that is not on show (one made ready ahead), or in a window
    // that is not shown, ends at its time, unoffered, as a thumbnail's
    // decode does.
    void aSlowPictureNotOnShowEndsAtItsTime_data()
    {
        QTest::addColumn<bool>("windowShown");
        QTest::newRow("another picture on show") << true;
        QTest::newRow("the window hidden") << false;
    }
    void aSlowPictureNotOnShowEndsAtItsTime()
    {
        QFETCH(bool, windowShown);
        QWidget window;
        auto *loader = new PictureLoader(&window);
        auto *offer = new PictureWaitOffer(loader, &window);
        if (windowShown)
            window.show();
        QSignalSpy ready(loader, &PictureLoader::ready);
        const QString path = lg::test::markedPicture(m_folder.path(), QStringLiteral("hang"));
        loader->showing(windowShown ? m_folder.filePath(QStringLiteral("shown.png")) : path);
        loader->request(PictureLoader::keyFor(path, QSize(300, 300)));
        timePasses();
        QTRY_COMPARE_WITH_TIMEOUT(ready.count(), 1, 2000);
        QVERIFY(!offer->isVisible());
    }
};

LG_TEST(PictureWaitTest)
#include "test_picturewait.moc"
