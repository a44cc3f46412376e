// Work on the background pool and calls back onto the main thread.
#include "platform/runtime/Dispatch.h"

#include "platform/runtime/Timer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMutex>
#include <QPointer>
#include <QThread>
#include <QThreadPool>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace lg {

namespace {

// The thread that started the program: static initialisation runs on it,
// before main() and before any thread of ours exists.
const std::thread::id startThread = std::this_thread::get_id();

std::atomic<bool> shuttingDown{false};

// What every wait on a Completion sleeps on: a completion or the start of the
// shutdown wakes them all, and each looks at its own. Waits are few and short
// lived, so one condition for all costs nothing. Made once and kept to the
// very end, for a worker that completes late in the exit.
struct Waits
{
    std::mutex mutex;
    std::condition_variable changed;
};

Waits &waits()
{
    static Waits *made = new Waits;
    return *made;
}

// Sets flag and wakes every wait. The change is made under the waits' lock,
// so a wait that has just found nothing done cannot miss it.
void setAndWake(std::atomic<bool> &flag)
{
    Waits &all = waits();
    {
        std::lock_guard<std::mutex> lock(all.mutex);
        flag.store(true);
    }
    all.changed.notify_all();
}

// What drainBackgroundWork waits for. Made once and kept to the very end, so
// that a pool registered from a worker late in the exit finds it.
struct ShutdownWork
{
    QMutex mutex;
    QList<QPointer<QThreadPool>> pools;
    QList<std::pair<QPointer<QObject>, std::function<void()>>> steps;
};

ShutdownWork &shutdownWork()
{
    static ShutdownWork *work = new ShutdownWork;
    return *work;
}

// Runs fn on the main thread unless the shutdown begins before it gets there.
auto unlessShuttingDown(std::function<void()> fn)
{
    return [fn = std::move(fn)] {
        if (!shuttingDown.load())
            fn();
    };
}

} // namespace

void onMain(std::function<void()> fn)
{
    if (!fn || shuttingDown.load())
        return;
    // No application object: nothing takes work for the main thread, and this
    // may be a worker while the application object is being destroyed.
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return;
    QMetaObject::invokeMethod(app, unlessShuttingDown(std::move(fn)), Qt::QueuedConnection);
}

void onMainAndWait(std::function<void()> fn)
{
    if (!fn)
        return;
    if (isMainThread()) {
        fn();
        return;
    }
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || shuttingDown.load())
        return;
    // Not a blocking queued call: the main thread may begin the shutdown and
    // wait for this very worker instead of running fn. Only the main thread
    // begins it, so once it has, fn either ran to its end or never will.
    auto done = std::make_shared<Completion>();
    QMetaObject::invokeMethod(
        app,
        [fn = std::move(fn), done] {
            if (!shuttingDown.load())
                fn();
            done->complete();
        },
        Qt::QueuedConnection);
    done->wait();
}

void afterDelay(int ms, const QObject *context, std::function<void()> fn)
{
    Timer::singleShot(ms, context ? context : QCoreApplication::instance(), std::move(fn));
}

bool isMainThread()
{
    if (QCoreApplication *app = QCoreApplication::instance())
        return QThread::currentThread() == app->thread();
    return std::this_thread::get_id() == startThread;
}

void beginShutdown()
{
    setAndWake(shuttingDown);
}

bool isShuttingDown()
{
    return shuttingDown.load();
}

void registerPool(QThreadPool *pool)
{
    if (!pool)
        return;
    ShutdownWork &work = shutdownWork();
    QMutexLocker lock(&work.mutex);
    work.pools.removeIf([pool](const QPointer<QThreadPool> &known) { return known.isNull() || known == pool; });
    work.pools.append(pool);
}

void onShutdown(const QObject *context, std::function<void()> stopAndWait)
{
    if (!context || !stopAndWait)
        return;
    ShutdownWork &work = shutdownWork();
    QMutexLocker lock(&work.mutex);
    work.steps.removeIf([](const auto &step) { return step.first.isNull(); });
    work.steps.append({QPointer<QObject>(const_cast<QObject *>(context)), std::move(stopAndWait)});
}

qint64 drainBackgroundWork()
{
    QElapsedTimer clock;
    clock.start();
    beginShutdown();
    ShutdownWork &work = shutdownWork();
    decltype(work.steps) steps;
    {
        QMutexLocker lock(&work.mutex);
        steps = std::exchange(work.steps, {});
    }
    for (const auto &[context, stopAndWait] : std::as_const(steps)) {
        if (context)
            stopAndWait();
    }
    // The work of one pool may hand more to another: round again until all
    // of them are idle at once.
    for (;;) {
        QList<QThreadPool *> pools{QThreadPool::globalInstance()};
        {
            QMutexLocker lock(&work.mutex);
            for (const QPointer<QThreadPool> &pool : std::as_const(work.pools))
                if (pool)
                    pools.append(pool.data());
        }
        for (QThreadPool *pool : std::as_const(pools))
            pool->waitForDone();
        bool idle = true;
        for (QThreadPool *pool : std::as_const(pools))
            idle = idle && pool->activeThreadCount() == 0;
        if (idle)
            break;
    }
    return clock.elapsed();
}

void resetShutdownForTesting()
{
    shuttingDown.store(false);
    ShutdownWork &work = shutdownWork();
    QMutexLocker lock(&work.mutex);
    work.steps.clear();
}

void Completion::complete()
{
    setAndWake(m_complete);
}

bool Completion::wait(int ms) const
{
    Waits &all = waits();
    std::unique_lock<std::mutex> lock(all.mutex);
    const auto ended = [this] { return m_complete.load() || shuttingDown.load(); };
    if (ms < 0)
        all.changed.wait(lock, ended);
    else
        all.changed.wait_for(lock, std::chrono::milliseconds(ms), ended);
    return m_complete.load();
}

} // namespace lg
