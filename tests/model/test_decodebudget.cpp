// The bound in bytes on what decodes running at once hold: it holds under
// many threads, a large decode runs alone, what is wanted now goes first, and
// every wait ends.
#include "model/DecodeBudget.h"
#include "tests/support/TestSupport.h"

#include <QMutex>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

class DecodeBudgetTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Counted apart from the budget's own books: what the threads hold
    // between taking and giving back never exceeds the budget, but for one
    // decode larger than it, which then holds it alone.
    void whatIsHeldAtOnceStaysWithinTheBudget_data()
    {
        QTest::addColumn<QList<qint64>>("sizes");
        QTest::newRow("many small") << QList<qint64>{10, 20, 30, 10, 25, 40, 5, 15, 35, 20, 30, 10};
        QTest::newRow("a few near the budget") << QList<qint64>{60, 70, 55, 80, 65, 60};
        QTest::newRow("one larger than the budget among small ones") << QList<qint64>{10, 20, 250, 30, 10, 20, 15};
    }
    void whatIsHeldAtOnceStaysWithinTheBudget()
    {
        QFETCH(QList<qint64>, sizes);
        constexpr qint64 limit = 100;
        DecodeBudget budget(limit);
        std::atomic<qint64> held{0};
        std::atomic<int> alongsideLarge{0};
        std::atomic<int> refused{0};
        QMutex lock;
        qint64 peak = 0;
        std::vector<std::thread> threads;
        for (int round = 0; round < 3; ++round) {
            for (const qint64 size : std::as_const(sizes)) {
                threads.emplace_back([&, size] {
                    DecodeBudget::Hold hold(&budget);
                    if (!hold.take(size, false)) {
                        ++refused;
                        return;
                    }
                    const qint64 now = held += size;
                    if (size > limit && now != size)
                        ++alongsideLarge;
                    {
                        QMutexLocker locked(&lock);
                        peak = std::max(peak, size > limit ? 0 : now);
                    }
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                    held -= size;
                });
            }
        }
        for (std::thread &thread : threads)
            thread.join();
        QVERIFY2(peak <= limit, qPrintable(QString::number(peak)));
        QCOMPARE(alongsideLarge.load(), 0);
        QCOMPARE(refused.load(), 0);
        QCOMPARE(budget.held(), 0);
        QVERIFY(budget.peakHeld() <= std::max(limit, *std::max_element(sizes.begin(), sizes.end())));
    }

    void whatIsWantedNowGoesAheadOfWhatWaitsLonger()
    {
        DecodeBudget budget(100);
        QVERIFY(budget.acquire(100, false));
        QStringList order;
        QMutex lock;
        auto waiter = [&](const QString &name, bool urgent) {
            return std::thread([&, name, urgent] {
                if (!budget.acquire(100, urgent))
                    return;
                {
                    QMutexLocker locked(&lock);
                    order.append(name);
                }
                budget.release(100);
            });
        };
        std::thread first = waiter(QStringLiteral("later, first"), false);
        QTRY_COMPARE(budget.waiting(), 1);
        std::thread second = waiter(QStringLiteral("later, second"), false);
        QTRY_COMPARE(budget.waiting(), 2);
        std::thread now = waiter(QStringLiteral("now"), true);
        QTRY_COMPARE(budget.waiting(), 3);
        budget.release(100);
        first.join();
        second.join();
        now.join();
        QCOMPARE(order, (QStringList{QStringLiteral("now"), QStringLiteral("later, first"), QStringLiteral("later, second")}));
        QCOMPARE(budget.peakHeld(), 100);
    }

    // A decode that fits now passes one waiting for more room, but only so
    // many times: then it waits its turn, and the large one goes first.
    void aSmallDecodePassesALargeOneAFewTimesOnly()
    {
        DecodeBudget budget(100);
        QVERIFY(budget.acquire(60, false));
        std::atomic<bool> largeGone{false};
        std::thread large([&] {
            if (budget.acquire(80, false))
                largeGone = true;
        });
        QTRY_COMPARE(budget.waiting(), 1);
        for (int i = 0; i < DecodeBudget::maxPasses; ++i) {
            QVERIFY(budget.acquire(10, false));  // fits beside the 60 held: goes at once
            budget.release(10);
        }
        std::atomic<bool> smallGone{false};
        std::thread small([&] {
            if (budget.acquire(10, false))
                smallGone = true;
        });
        QTRY_COMPARE(budget.waiting(), 2);
        QVERIFY(!largeGone && !smallGone);
        budget.release(60);
        large.join();
        QVERIFY(largeGone);
        small.join();  // 80 and 10 fit together
        QVERIFY(smallGone);
        QCOMPARE(budget.held(), 90);
        QCOMPARE(budget.peakHeld(), 90);
    }

    void closingEndsEveryWait()
    {
        DecodeBudget budget(10);
        QVERIFY(budget.acquire(10, true));
        std::atomic<bool> granted{true};
        std::thread waiting([&] { granted = budget.acquire(5, true); });
        QTRY_COMPARE(budget.waiting(), 1);
        budget.close();
        waiting.join();
        QVERIFY(!granted);
        QCOMPARE(budget.held(), 10);
        QVERIFY(!budget.acquire(1, false));
    }
};

LG_TEST(DecodeBudgetTest)
#include "test_decodebudget.moc"
