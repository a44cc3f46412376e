// Main-thread and background work.
#include "platform/runtime/Dispatch.h"

#include "platform/runtime/Background.h"
#include "tests/support/TestSupport.h"

#include <QSemaphore>
#include <QThread>
#include <QThreadPool>

#include <atomic>
#include <memory>
#include <thread>

class DispatchTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { lg::resetShutdownForTesting(); }

    void onMainIsAlwaysQueued()
    {
        QVERIFY(lg::isMainThread());
        QStringList log;
        lg::onMain([&] { log.append(QStringLiteral("queued")); });
        log.append(QStringLiteral("caller"));
        QTRY_COMPARE(log, QStringList({QStringLiteral("caller"), QStringLiteral("queued")}));
    }

    void backgroundWorkRunsOffTheMainThreadAndReportsBack()
    {
        std::atomic<bool> backgroundWasMain{true};
        QThread *reportedOn = nullptr;
        QFuture<void> work = lg::runOnPool([&] {
            backgroundWasMain = lg::isMainThread();
            lg::onMain([&] { reportedOn = QThread::currentThread(); });
        });
        QTRY_COMPARE(reportedOn, QThread::currentThread());
        QVERIFY(!backgroundWasMain);
        work.waitForFinished();
    }

    void onMainAndWaitBlocksTheCaller()
    {
        // From the main thread it runs at once.
        bool ran = false;
        lg::onMainAndWait([&] { ran = true; });
        QVERIFY(ran);

        // From another thread it runs on the main thread before the call returns.
        std::atomic<bool> done{false};
        std::atomic<bool> sawResult{false};
        QThread *ranOn = nullptr;
        QFuture<void> work = lg::runOnPool([&] {
            lg::onMainAndWait([&] { ranOn = QThread::currentThread(); });
            sawResult = ranOn != nullptr;
            done = true;
        });
        QTRY_VERIFY(done);
        work.waitForFinished();
        QVERIFY(sawResult);
        QCOMPARE(ranOn, QThread::currentThread());
    }

    void aThreadOfItsOwnIsNotTheMainThread()
    {
        bool onOwnThread = true;
        std::thread([&] { onOwnThread = lg::isMainThread(); }).join();
        QVERIFY(!onOwnThread);
    }

    // Once the shutdown has begun nothing reaches the main thread any more,
    // not even what was queued before and had not run yet, and no new work
    // starts; a worker that waits for the main thread is let go.
    void afterTheShutdownBeganWorkIsDropped()
    {
        int ran = 0;
        lg::onMain([&] { ++ran; });   // queued before
        lg::beginShutdown();
        lg::onMain([&] { ++ran; });
        std::atomic<bool> workerRan{false};
        bool calledBack = false;
        QObject receiver;
        lg::runThenCallback(&receiver, [&] { workerRan = true; }, [&] { calledBack = true; });
        std::atomic<bool> waiterReturned{false};
        std::thread waiter([&] {
            lg::onMainAndWait([&] { ++ran; });
            waiterReturned = true;
        });
        waiter.join();
        lg::test::settle();
        QTest::qWait(20);
        lg::test::settle();
        QCOMPARE(ran, 0);
        QVERIFY(waiterReturned);
        QVERIFY(QThreadPool::globalInstance()->waitForDone(1000));
        lg::test::settle();
        QVERIFY(!workerRan);
        QVERIFY(!calledBack);
    }

    // A worker waiting for the main thread when the shutdown begins there
    // (the main thread then waits for the worker) returns instead of hanging.
    void aWorkerWaitingForTheMainThreadIsLetGoAtTheShutdown()
    {
        QSemaphore asking;
        std::atomic<bool> ranOnMain{false};
        QFuture<void> worker = lg::runOnPool([&] {
            asking.release();
            lg::onMainAndWait([&] { ranOnMain = true; });
        });
        QVERIFY(asking.tryAcquire(1, 5000));
        // No event is handled between here and the end of the drain.
        lg::drainBackgroundWork();
        QVERIFY(worker.isFinished());
        QCOMPARE(QThreadPool::globalInstance()->activeThreadCount(), 0);
        lg::test::settle();
        QVERIFY(!ranOnMain);
    }

    // The drain stops what runs on a thread of its own, lets long loops see
    // the shutdown, and returns once the shared pool and every registered pool
    // are idle; the steps of owners that went before do not run.
    void theDrainEndsEveryKindOfBackgroundWork()
    {
        QThreadPool own;
        lg::registerPool(&own);
        lg::registerPool(&own);
        std::atomic<int> loopsEnded{0};
        QSemaphore started;
        auto longLoop = [&] {
            started.release();
            while (!lg::isShuttingDown())
                QThread::msleep(1);
            ++loopsEnded;
        };
        own.start(longLoop);
        QThreadPool::globalInstance()->start(longLoop);
        // The own pool's work hands more to the shared pool on its way out.
        std::atomic<bool> handedOnRan{false};
        own.start([&] {
            started.release();
            while (!lg::isShuttingDown())
                QThread::msleep(1);
            QThreadPool::globalInstance()->start([&] {
                QThread::msleep(30);
                handedOnRan = true;
            });
        });
        std::atomic<bool> stop{false};
        std::thread ownThread([&] {
            while (!stop)
                QThread::msleep(1);
        });
        QObject owner;
        bool ownThreadJoined = false;
        lg::onShutdown(&owner, [&] {
            stop = true;
            ownThread.join();
            ownThreadJoined = true;
        });
        bool goneOwnersStepRan = false;
        {
            QObject gone;
            lg::onShutdown(&gone, [&] { goneOwnersStepRan = true; });
        }
        QVERIFY(started.tryAcquire(3, 5000));

        lg::drainBackgroundWork();
        QVERIFY(lg::isShuttingDown());
        QCOMPARE(loopsEnded.load(), 2);
        QVERIFY(handedOnRan);
        QVERIFY(ownThreadJoined);
        QVERIFY(!goneOwnersStepRan);
        QCOMPARE(own.activeThreadCount(), 0);
        QCOMPARE(QThreadPool::globalInstance()->activeThreadCount(), 0);
    }
};

LG_TEST(DispatchTest)
#include "test_dispatch.moc"
