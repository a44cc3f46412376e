// Notifications by name: who observes what, from which thread, for how long.
#include "platform/desktop/NotificationHub.h"
#include "platform/runtime/Background.h"
#include "platform/runtime/Dispatch.h"
#include "tests/support/TestSupport.h"

#include <QThread>

#include <memory>

class NotificationHubTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
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
        QFuture<void> work = lg::runOnPool(
            [] { lg::NotificationHub::instance().post(QStringLiteral("viewimage"), QStringLiteral("x")); });
        QTRY_COMPARE(received, QVariant(QStringLiteral("x")));
        work.waitForFinished();
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

LG_TEST(NotificationHubTest)
#include "test_notificationhub.moc"
