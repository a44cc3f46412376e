// Work run off the main thread whose result comes back to an object there.
#include "platform/runtime/Background.h"
#include "platform/runtime/Dispatch.h"
#include "tests/support/TestSupport.h"

#include <QSemaphore>
#include <QThread>
#include <QThreadPool>

#include <atomic>
#include <memory>

class BackgroundTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void resultComesBackOnTheReceiversThread_data()
    {
        QTest::addColumn<bool>("ownPool");
        QTest::newRow("shared pool") << false;
        QTest::newRow("pool of its own") << true;
    }

    void resultComesBackOnTheReceiversThread()
    {
        QFETCH(bool, ownPool);
        QThreadPool own;
        QObject receiver;
        std::atomic<bool> workOnMain{true};
        std::atomic<QThread *> workThread{nullptr};
        int result = 0;
        QThread *calledOn = nullptr;
        lg::runThenCallback(
            &receiver,
            [&] {
                workOnMain = lg::isMainThread();
                workThread = QThread::currentThread();
                return 42;
            },
            [&](int value) {
                result = value;
                calledOn = QThread::currentThread();
            },
            ownPool ? &own : nullptr);
        QTRY_COMPARE(result, 42);
        QCOMPARE(calledOn, QThread::currentThread());
        QVERIFY(!workOnMain);
        if (ownPool) {
            own.waitForDone();
            QVERIFY(workThread.load() != nullptr);
        }
    }

    void workWithoutResultCallsBack()
    {
        QObject receiver;
        std::atomic<bool> ran{false};
        bool called = false;
        lg::runThenCallback(&receiver, [&] { ran = true; }, [&] { called = true; });
        QTRY_VERIFY(called);
        QVERIFY(ran);
    }

    void resultIsDroppedWhenTheReceiverGoesFirst()
    {
        QThreadPool pool;
        QSemaphore release;
        auto receiver = std::make_unique<QObject>();
        std::atomic<bool> finished{false};
        bool called = false;
        lg::runThenCallback(
            receiver.get(),
            [&] {
                release.acquire();
                finished = true;
                return 1;
            },
            [&](int) { called = true; }, &pool);
        receiver.reset();
        release.release();
        pool.waitForDone();
        QVERIFY(finished);
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        QVERIFY(!called);
    }
};

LG_TEST(BackgroundTest)
#include "test_background.moc"
