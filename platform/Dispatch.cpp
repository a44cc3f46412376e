#include "platform/Dispatch.h"

#include "platform/Timer.h"

#include <QCoreApplication>
#include <QThread>
#include <QThreadPool>

namespace lg {

void onMain(std::function<void()> fn)
{
    if (!fn)
        return;
    QCoreApplication *app = QCoreApplication::instance();
    if (!app) {
        fn();  // no event loop to queue onto
        return;
    }
    QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

void onMainAndWait(std::function<void()> fn)
{
    if (!fn)
        return;
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || isMainThread()) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(app, std::move(fn), Qt::BlockingQueuedConnection);
}

void onBackground(std::function<void()> fn)
{
    if (fn)
        QThreadPool::globalInstance()->start(std::move(fn));
}

void afterDelay(int ms, const QObject *context, std::function<void()> fn)
{
    Timer::singleShot(ms, context ? context : QCoreApplication::instance(), std::move(fn));
}

bool isMainThread()
{
    QCoreApplication *app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

} // namespace lg
