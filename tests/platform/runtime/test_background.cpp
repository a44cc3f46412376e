// Work run off the main thread whose result comes back to an object there.
#include "platform/runtime/Background.h"
#include "platform/runtime/Dispatch.h"
#include "tests/support/TestSupport.h"

#include <QElapsedTimer>
#include <QSemaphore>
#include <QThread>
#include <QThreadPool>

#include <atomic>
#include <memory>
#include <numeric>
#include <vector>

class BackgroundTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { lg::resetShutdownForTesting(); }

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

    // Work still waiting for a thread when the quit begins never runs, and
    // nothing comes back for it; work already under way runs to its end and
    // reports back as before.
    void workNotStartedWhenTheQuitBeginsIsDropped()
    {
        QThreadPool pool;
        pool.setMaxThreadCount(1);
        QObject receiver;
        QSemaphore started;
        QSemaphore release;
        bool firstCalled = false;
        std::atomic<bool> secondRan{false};
        bool secondCalled = false;
        lg::runThenCallback(
            &receiver,
            [&] {
                started.release();
                release.acquire();
                return 1;
            },
            [&](int) { firstCalled = true; }, &pool);
        lg::runThenCallback(&receiver, [&] { secondRan = true; }, [&] { secondCalled = true; }, &pool);
        QVERIFY(started.tryAcquire(1, 5000));
        lg::beginShutdown();
        release.release();
        QVERIFY(pool.waitForDone(5000));
        lg::test::settle();
        QVERIFY(firstCalled);
        QVERIFY(!secondRan);
        QVERIFY(!secondCalled);
    }

    // Within the budget the caller has the result before the call returns,
    // once; past it the result comes later, once, on the receiver's thread.
    void aResultIsHandedOverAtOnceOnlyWithinTheBudget()
    {
        QObject receiver;
        QList<int> got;
        QElapsedTimer clock;
        clock.start();
        QVERIFY(lg::runWithinBudget(&receiver, 120000, [] { return 7; }, [&](int value) { got << value; }));
        QCOMPARE(got, QList<int>{7});
        QVERIFY(clock.elapsed() < 60000);   // the wait ended with the result, not with the budget
        lg::test::settle();
        QCOMPARE(got, QList<int>{7});

        QSemaphore release;
        QThread *calledOn = nullptr;
        const bool inTime = lg::runWithinBudget(
            &receiver, 0,
            [&] {
                release.acquire();
                return 8;
            },
            [&](int value) {
                got << value;
                calledOn = QThread::currentThread();
            });
        QVERIFY(!inTime);
        QCOMPARE(got, QList<int>{7});
        release.release();
        QTRY_COMPARE(got, (QList<int>{7, 8}));
        QCOMPARE(calledOn, QThread::currentThread());
        lg::test::settle();
        QCOMPARE(got, (QList<int>{7, 8}));
    }

    // The wait for a result ends as soon as the quit begins, long before the
    // budget; the work is left to end by itself.
    void theWaitForAResultEndsWhenTheQuitBegins()
    {
        QObject receiver;
        QSemaphore release;
        QElapsedTimer clock;
        clock.start();
        const bool inTime = lg::runWithinBudget(
            &receiver, 120000,
            [&] {
                lg::beginShutdown();   // the quit comes while the work is under way
                release.tryAcquire(1, 120000);
                return 1;
            },
            [](int) {});
        const qint64 waited = clock.elapsed();
        release.release();
        QVERIFY(QThreadPool::globalInstance()->waitForDone(5000));
        QVERIFY(!inTime);
        QVERIFY(waited < 60000);
    }

    void eachChunkCoversEveryIndexOnce_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("chunk");
        QTest::addColumn<int>("ranges");
        QTest::newRow("nothing") << 0 << 512 << 0;
        QTest::newRow("one short range") << 1 << 512 << 1;
        QTest::newRow("exactly one range") << 512 << 512 << 1;
        QTest::newRow("one over") << 513 << 512 << 2;
        QTest::newRow("ragged end") << 2000 << 7 << 286;
        QTest::newRow("one index a range") << 5 << 1 << 5;
    }

    // Whether the caller waits or not, each index is in exactly one range of
    // at most chunk, and a single range runs on the calling thread.
    void eachChunkCoversEveryIndexOnce()
    {
        QFETCH(int, count);
        QFETCH(int, chunk);
        QFETCH(int, ranges);
        QThreadPool pool;
        pool.setMaxThreadCount(4);
        for (const bool waits : {true, false}) {
            std::vector<std::atomic<int>> seen(static_cast<size_t>(count));
            std::atomic<int> ran{0};
            std::atomic<bool> misshapen{false};
            std::atomic<bool> offTheCaller{false};
            QThread *const caller = QThread::currentThread();
            const auto each = [&](qsizetype begin, qsizetype end) {
                if (begin < 0 || end > count || end <= begin || end - begin > chunk)
                    misshapen = true;
                else
                    for (qsizetype i = begin; i < end; ++i)
                        ++seen[size_t(i)];
                offTheCaller = offTheCaller || QThread::currentThread() != caller;
                ++ran;
            };
            if (waits) {
                lg::forEachChunk(count, chunk, each, &pool);
            } else {
                QFuture<void> running = lg::startEachChunk(count, chunk, each, &pool);
                running.waitForFinished();
            }
            QVERIFY(!misshapen);
            QCOMPARE(ran.load(), ranges);
            for (int i = 0; i < count; ++i)
                QCOMPARE(seen[size_t(i)].load(), 1);
            if (ranges == 1)
                QVERIFY(!offTheCaller);
        }
    }

    // The results stand in the order of the items, though the first item
    // ends after others.
    void mappedResultsKeepTheOrderOfTheItems()
    {
        QThreadPool pool;
        pool.setMaxThreadCount(4);
        QList<int> items(64);
        std::iota(items.begin(), items.end(), 0);
        QSemaphore othersDone;
        std::atomic<bool> firstWasLast{false};
        const QList<QString> results = lg::mapped(
            items,
            [&](int item) {
                if (item == 0)
                    firstWasLast = othersDone.tryAcquire(1, 5000);
                else
                    othersDone.release();
                return QString::number(item * 3);
            },
            &pool);
        QVERIFY(firstWasLast);
        QCOMPARE(results.size(), items.size());
        for (int item : std::as_const(items))
            QCOMPARE(results.at(item), QString::number(item * 3));
    }
};

LG_TEST(BackgroundTest)
#include "test_background.moc"
