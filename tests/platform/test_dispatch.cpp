// Main-thread and background work, and the notification hub.
#include "platform/Dispatch.h"
#include "platform/NotificationHub.h"
#include "tests/support/TestSupport.h"

#include <QThread>

#include <atomic>
#include <memory>

class DispatchTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
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
        lg::onBackground([&] {
            backgroundWasMain = lg::isMainThread();
            lg::onMain([&] { reportedOn = QThread::currentThread(); });
        });
        QTRY_COMPARE(reportedOn, QThread::currentThread());
        QVERIFY(!backgroundWasMain);
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
        lg::onBackground([&] {
            lg::onMainAndWait([&] { ranOn = QThread::currentThread(); });
            sawResult = ranOn != nullptr;
            done = true;
        });
        QTRY_VERIFY(done);
        QVERIFY(sawResult);
        QCOMPARE(ranOn, QThread::currentThread());
    }

    void observersGetTheirNameOnly()
    {
        QObject context;
        QVariantList seen;
        lg::NotificationHub::instance().observe(QStringLiteral("viewimage"), &context,
                                                [&](const QVariant &object) { seen.append(object); });
        lg::NotificationHub::instance().post(QStringLiteral("backtofiles"));
        lg::NotificationHub::instance().post(QStringLiteral("viewimage"), 7);
        // Synchronous from the main thread.
        QCOMPARE(seen, QVariantList{7});
    }

    void postsFromOtherThreadsArriveOnTheMainThread()
    {
        QObject context;
        QThread *calledOn = nullptr;
        QVariant received;
        lg::NotificationHub::instance().observe(QStringLiteral("viewimage"), &context, [&](const QVariant &object) {
            calledOn = QThread::currentThread();
            received = object;
        });
        lg::onBackground([] { lg::NotificationHub::instance().post(QStringLiteral("viewimage"), QStringLiteral("x")); });
        QTRY_COMPARE(received, QVariant(QStringLiteral("x")));
        QCOMPARE(calledOn, QThread::currentThread());
    }

    void observationEndsWithItsContext()
    {
        int calls = 0;
        auto context = std::make_unique<QObject>();
        lg::NotificationHub::instance().observe(QStringLiteral("viewimage"), context.get(), [&](const QVariant &) { ++calls; });
        lg::NotificationHub::instance().post(QStringLiteral("viewimage"));
        context.reset();
        lg::NotificationHub::instance().post(QStringLiteral("viewimage"));
        QCOMPARE(calls, 1);
    }
};

LG_TEST(DispatchTest)
#include "test_dispatch.moc"
