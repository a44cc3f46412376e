// lg::Timer under real time and under a FakeClock, Timer::singleShot and afterDelay.
#include "platform/runtime/Background.h"
#include "platform/runtime/Dispatch.h"
#include "platform/runtime/Timer.h"
#include "tests/support/TestSupport.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QThread>

#include <memory>

namespace {

// A timer that writes its name into a shared log when it fires.
lg::Timer *loggingTimer(QObject *parent, QStringList &log, const QString &name, int ms, bool singleShot = true)
{
    auto *timer = new lg::Timer(parent);
    timer->setSingleShot(singleShot);
    timer->setInterval(ms);
    QObject::connect(timer, &lg::Timer::timeout, parent, [&log, name] { log.append(name); });
    return timer;
}

} // namespace

class TimerTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void firesDueTimersInDeadlineOrder()
    {
        QObject owner;
        QStringList log;
        lg::FakeClock clock;
        loggingTimer(&owner, log, QStringLiteral("a30"), 30)->start();
        loggingTimer(&owner, log, QStringLiteral("b10"), 10)->start();
        loggingTimer(&owner, log, QStringLiteral("c20"), 20)->start();
        loggingTimer(&owner, log, QStringLiteral("d10"), 10)->start();  // same deadline, armed later
        QCOMPARE(clock.pendingCount(), 4);

        clock.advance(9);
        QVERIFY(log.isEmpty());
        clock.advance(11);
        QCOMPARE(log, QStringList({QStringLiteral("b10"), QStringLiteral("d10"), QStringLiteral("c20")}));
        QCOMPARE(clock.now(), 20);
        clock.advance(100);
        QCOMPARE(log.last(), QStringLiteral("a30"));
        QCOMPARE(clock.pendingCount(), 0);
    }

    void singleShotSeesItsDeadlineAndIsInactiveInItsCallback()
    {
        QObject owner;
        lg::FakeClock clock;
        QList<qint64> seen;
        bool activeInCallback = true;
        auto *timer = new lg::Timer(&owner);
        timer->setSingleShot(true);
        connect(timer, &lg::Timer::timeout, &owner, [&] {
            seen.append(clock.now());
            activeInCallback = timer->isActive();
        });
        timer->start(15);
        QVERIFY(timer->isActive());
        clock.advance(100);
        QCOMPARE(seen, QList<qint64>{15});
        QCOMPARE(clock.now(), 100);
        QVERIFY(!activeInCallback);
        QVERIFY(!timer->isActive());
    }

    void repeatingTimerReArms()
    {
        QObject owner;
        QStringList log;
        lg::FakeClock clock;
        lg::Timer *timer = loggingTimer(&owner, log, QStringLiteral("tick"), 10, false);
        timer->start();
        clock.advance(35);
        QCOMPARE(log.size(), 3);
        QVERIFY(timer->isActive());
        clock.advance(5);
        QCOMPARE(log.size(), 4);
        timer->stop();
        QVERIFY(!timer->isActive());
        clock.advance(100);
        QCOMPARE(log.size(), 4);
    }

    void restartPushesTheDeadline()
    {
        QObject owner;
        QStringList log;
        lg::FakeClock clock;
        lg::Timer *debounce = loggingTimer(&owner, log, QStringLiteral("settled"), 100);
        debounce->start();
        clock.advance(60);
        debounce->start();
        clock.advance(60);
        QVERIFY(log.isEmpty());
        debounce->setInterval(50);  // a new interval restarts a running timer
        clock.advance(49);
        QVERIFY(log.isEmpty());
        clock.advance(1);
        QCOMPARE(log.size(), 1);
    }

    void timerRestartedInItsCallbackFiresAgain()
    {
        QObject owner;
        lg::FakeClock clock;
        auto *timer = new lg::Timer(&owner);
        timer->setSingleShot(true);
        QList<qint64> fired;
        connect(timer, &lg::Timer::timeout, &owner, [&] {
            fired.append(clock.now());
            if (fired.size() < 3)
                timer->start(10);
        });
        timer->start(10);
        clock.advance(100);
        QCOMPARE(fired, (QList<qint64>{10, 20, 30}));

        // A repeating timer restarted in its callback starts from that moment.
        auto *repeating = new lg::Timer(&owner);
        QList<qint64> ticks;
        connect(repeating, &lg::Timer::timeout, &owner, [&] {
            ticks.append(clock.now());
            if (ticks.size() == 1)
                repeating->start(25);
        });
        repeating->start(10);  // at 100
        clock.advance(70);
        QCOMPARE(ticks, (QList<qint64>{110, 135, 160}));
    }

    void timerDeletedByAnotherTimersCallbackNeverFires()
    {
        QObject owner;
        QStringList log;
        lg::FakeClock clock;
        lg::Timer *first = loggingTimer(&owner, log, QStringLiteral("first"), 10);
        QPointer<lg::Timer> second = loggingTimer(&owner, log, QStringLiteral("second"), 10);
        lg::Timer *third = loggingTimer(&owner, log, QStringLiteral("third"), 20, false);
        connect(first, &lg::Timer::timeout, &owner, [&] { delete second.data(); });
        // A timer that deletes itself inside its own callback.
        connect(third, &lg::Timer::timeout, third, [third] { delete third; });
        first->start();
        second->start();
        third->start();
        clock.advance(50);
        QVERIFY(second.isNull());
        QCOMPARE(log, QStringList({QStringLiteral("first"), QStringLiteral("third")}));
        QCOMPARE(clock.pendingCount(), 0);
    }

    void runningTimersMoveToAndFromTheClock()
    {
        QObject owner;
        QStringList log;
        lg::Timer *timer = loggingTimer(&owner, log, QStringLiteral("fired"), 60000);
        timer->start();
        {
            lg::FakeClock clock;
            QCOMPARE(clock.pendingCount(), 1);
            QVERIFY(timer->isActive());
            QTest::qWait(20);
            QVERIFY(log.isEmpty());
            clock.advance(60000);
            QCOMPARE(log.size(), 1);

            // Armed under the clock, it goes back to real time with what it has left.
            timer->start(30);
            clock.advance(10);
        }
        QVERIFY(timer->isActive());
        QElapsedTimer elapsed;
        elapsed.start();
        QTRY_COMPARE_WITH_TIMEOUT(log.size(), 2, 5000);
        QVERIFY(elapsed.elapsed() >= 15);
    }

    void debounceAndSingleShotUnderRealTime()
    {
        QObject owner;
        QStringList log;
        lg::Timer *debounce = loggingTimer(&owner, log, QStringLiteral("settled"), 300);
        QElapsedTimer sinceRestart;
        debounce->start();
        QTest::qWait(30);
        QVERIFY(log.isEmpty());
        debounce->start();
        sinceRestart.start();
        QTRY_COMPARE_WITH_TIMEOUT(log.size(), 1, 5000);
        // Coarse timers may be up to 5 % early.
        QVERIFY2(sinceRestart.elapsed() >= 280, qPrintable(QString::number(sinceRestart.elapsed())));
        QTest::qWait(50);
        QCOMPARE(log.size(), 1);

        bool called = false;
        lg::Timer::singleShot(1, &owner, [&] { called = true; });
        QVERIFY(!called);   // never inside the call
        QTRY_VERIFY(called);
    }

    void singleShotCallsOnceWhileTheContextLives()
    {
        lg::FakeClock clock;
        int calls = 0;
        QObject living;
        lg::Timer::singleShot(10, &living, [&] { ++calls; });
        clock.advance(9);
        QCOMPARE(calls, 0);
        clock.advance(91);
        QCOMPARE(calls, 1);
        QCOMPARE(clock.pendingCount(), 0);

        calls = 0;
        auto context = std::make_unique<QObject>();
        lg::Timer::singleShot(10, context.get(), [&] { ++calls; });
        lg::afterDelay(10, context.get(), [&] { ++calls; });
        QCOMPARE(clock.pendingCount(), 2);
        context.reset();
        QCOMPARE(clock.pendingCount(), 0);
        clock.advance(100);
        QCOMPARE(calls, 0);
    }

    void afterDelayFromAnotherThreadRunsOnTheMainThread()
    {
        QObject context;
        lg::FakeClock clock;
        QThread *ranOn = nullptr;
        QFuture<void> work = lg::runOnPool([&context, &ranOn] {
            lg::afterDelay(40, &context, [&ranOn] { ranOn = QThread::currentThread(); });
        });
        QTRY_COMPARE(clock.pendingCount(), 1);
        work.waitForFinished();
        clock.advance(39);
        QCOMPARE(ranOn, nullptr);
        clock.advance(1);
        QCOMPARE(ranOn, QThread::currentThread());
    }
};

LG_TEST(TimerTest)
#include "test_timer.moc"
