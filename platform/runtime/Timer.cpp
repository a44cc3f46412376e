// Timers and the clock, with a fake clock for tests.
#include "platform/runtime/Timer.h"

#include <QMutex>
#include <QSet>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>

namespace lg {

namespace {

std::atomic<FakeClock *> installedClock{nullptr};

// Every live Timer, so that a clock can take over the ones already running.
QMutex timersMutex;
QSet<Timer *> &liveTimers()
{
    static QSet<Timer *> timers;
    return timers;
}

// A callback that keeps starting timers due at once would never let time move.
constexpr int maxFiringsAtOneInstant = 1000000;

} // namespace

class Timer::Private
{
public:
    QTimer *real = nullptr;  // used under real time
    int interval = 0;
    bool singleShot = false;
    bool armed = false;      // waiting in the installed FakeClock
};

Timer::Timer(QObject *parent) : QObject(parent), d(new Private)
{
    d->real = new QTimer(this);
    connect(d->real, &QTimer::timeout, this, [this] {
        // A repeating timer handed back by a FakeClock first ran out the time it
        // had left; from now on it runs at its own interval again.
        if (!d->singleShot && d->real->interval() != d->interval)
            d->real->setInterval(d->interval);
        fire();
    });
    QMutexLocker locker(&timersMutex);
    liveTimers().insert(this);
}

Timer::~Timer()
{
    stop();
    {
        QMutexLocker locker(&timersMutex);
        liveTimers().remove(this);
    }
    delete d;
    d = nullptr;
}

void Timer::setSingleShot(bool singleShot)
{
    d->singleShot = singleShot;
    d->real->setSingleShot(singleShot);
}

void Timer::setInterval(int ms)
{
    d->interval = std::max(0, ms);
    if (isActive())
        start();  // as QTimer does: a new interval restarts a running timer
}

int Timer::interval() const
{
    return d->interval;
}

bool Timer::isActive() const
{
    return d->armed || d->real->isActive();
}

void Timer::start()
{
    FakeClock *clock = FakeClock::current();
    if (clock && clock->follows(this)) {
        d->real->stop();
        clock->arm(this, clock->now() + d->interval);
        return;
    }
    if (d->armed && clock)
        clock->disarm(this);
    d->real->start(d->interval);
}

void Timer::start(int ms)
{
    d->interval = std::max(0, ms);
    start();
}

void Timer::stop()
{
    d->real->stop();
    if (d->armed) {
        if (FakeClock *clock = FakeClock::current())
            clock->disarm(this);
        d->armed = false;
    }
}

void Timer::singleShot(int ms, const QObject *context, std::function<void()> fn)
{
    if (!fn)
        return;
    QObject *receiver = const_cast<QObject *>(context);
    if (receiver && receiver->thread() != QThread::currentThread()) {
        // The timer is made on the context's thread, which runs its timers and
        // the call; nothing is queued there once the context is gone.
        QMetaObject::invokeMethod(
            receiver,
            [ms, receiver, fn = std::move(fn)]() mutable { singleShot(ms, receiver, std::move(fn)); },
            Qt::QueuedConnection);
        return;
    }
    auto *timer = new Timer;
    timer->setSingleShot(true);
    timer->setInterval(ms);
    connect(timer, &Timer::timeout, receiver ? receiver : timer, [timer, fn = std::move(fn)] {
        timer->deleteLater();
        fn();
    });
    if (receiver) {
        connect(receiver, &QObject::destroyed, timer, [timer] {
            timer->stop();
            timer->deleteLater();
        });
    }
    timer->start();
}

void Timer::fire()
{
    Q_EMIT timeout();
}

// ---- FakeClock ----

FakeClock::FakeClock() : m_thread(QThread::currentThread())
{
    FakeClock *none = nullptr;
    if (!installedClock.compare_exchange_strong(none, this))
        qFatal("lg::FakeClock: another FakeClock is already installed");

    // Take over the timers of this thread that are running under real time,
    // each with the time it has left.
    std::vector<std::pair<int, Timer *>> running;
    {
        QMutexLocker locker(&timersMutex);
        for (Timer *t : std::as_const(liveTimers())) {
            // Qt rounds long timers to whole seconds: never more than the interval.
            if (follows(t) && t->d->real->isActive())
                running.emplace_back(std::clamp(t->d->real->remainingTime(), 0, t->d->interval), t);
        }
    }
    std::stable_sort(running.begin(), running.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    for (const auto &[left, t] : running) {
        t->d->real->stop();
        arm(t, m_now + left);
    }
}

FakeClock::~FakeClock()
{
    std::vector<Entry> left;
    left.swap(m_entries);
    std::sort(left.begin(), left.end(), [](const Entry &a, const Entry &b) {
        return a.deadline != b.deadline ? a.deadline < b.deadline : a.seq < b.seq;
    });
    installedClock.store(nullptr);
    for (const Entry &e : left) {
        e.timer->d->armed = false;
        e.timer->d->real->start(int(std::max<qint64>(0, e.deadline - m_now)));
    }
}

FakeClock *FakeClock::current()
{
    return installedClock.load();
}

qint64 FakeClock::now() const
{
    return m_now;
}

void FakeClock::advance(int ms)
{
    const qint64 target = m_now + std::max(0, ms);
    int firingsAtThisInstant = 0;
    for (;;) {
        auto next = m_entries.end();
        for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
            if (it->deadline > target)
                continue;
            if (next == m_entries.end() || it->deadline < next->deadline
                || (it->deadline == next->deadline && it->seq < next->seq))
                next = it;
        }
        if (next == m_entries.end())
            break;

        Timer *timer = next->timer;
        const qint64 deadline = next->deadline;
        m_entries.erase(next);
        timer->d->armed = false;

        firingsAtThisInstant = deadline > m_now ? 1 : firingsAtThisInstant + 1;
        if (firingsAtThisInstant > maxFiringsAtOneInstant)
            qFatal("lg::FakeClock: timers keep firing at %lld ms without time passing", deadline);
        m_now = std::max(m_now, deadline);

        if (!timer->d->singleShot)
            arm(timer, deadline + std::max(1, timer->d->interval));
        // The callbacks may start, stop or delete any timer, this one included:
        // nothing of it is used after this call.
        timer->fire();
    }
    m_now = target;
}

int FakeClock::pendingCount() const
{
    return int(m_entries.size());
}

bool FakeClock::follows(const Timer *t) const
{
    return t->thread() == m_thread;
}

void FakeClock::arm(Timer *t, qint64 deadline)
{
    disarm(t);
    m_entries.push_back({t, deadline, m_seq++});
    t->d->armed = true;
}

void FakeClock::disarm(Timer *t)
{
    m_entries.erase(std::remove_if(m_entries.begin(), m_entries.end(),
                                   [t](const Entry &e) { return e.timer == t; }),
                    m_entries.end());
    t->d->armed = false;
}

} // namespace lg
