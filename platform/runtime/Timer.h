#pragma once
// Timers that tests can drive. Every delayed or repeating piece of behaviour
// goes through lg::Timer (or lg::afterDelay in Dispatch.h); with a FakeClock
// installed, time only passes when the test advances it.
#include <QObject>
#include <functional>
#include <vector>

class QThread;

namespace lg {

class FakeClock;

class Timer : public QObject
{
    Q_OBJECT
public:
    explicit Timer(QObject *parent = nullptr);
    ~Timer() override;

    void setSingleShot(bool singleShot);
    void setInterval(int ms);
    int interval() const;
    bool isActive() const;

    // Starts or restarts the timer (a restart pushes the deadline out: debounce).
    void start();
    void start(int ms);
    void stop();

    // One-shot call after ms on the context's thread; cancelled when context is
    // destroyed. Without a context, fn runs on the calling thread (which needs an
    // event loop under real time).
    static void singleShot(int ms, const QObject *context, std::function<void()> fn);

Q_SIGNALS:
    void timeout();

private:
    friend class FakeClock;
    void fire();
    class Private;
    Private *d;
};

// A manual clock for tests. While one is installed, every lg::Timer (new or
// running) of the thread that installed it follows it instead of real time;
// when it goes, the timers still armed go back to real time with the time they
// had left. One clock at a time, used on one thread (the main thread).
class FakeClock
{
public:
    FakeClock();   // installs itself
    ~FakeClock();  // uninstalls itself
    FakeClock(const FakeClock &) = delete;
    FakeClock &operator=(const FakeClock &) = delete;

    static FakeClock *current();
    qint64 now() const;
    // Moves time forward, firing due timers in deadline order (timers due at the
    // same moment in the order they were armed). A repeating timer is re-armed
    // before its timeout is emitted; a timer started, stopped or deleted by a
    // callback is taken into account at once.
    void advance(int ms);
    // Number of armed timers.
    int pendingCount() const;

private:
    friend class Timer;
    void arm(Timer *t, qint64 deadline);
    void disarm(Timer *t);
    bool follows(const Timer *t) const;
    struct Entry { Timer *timer; qint64 deadline; quint64 seq; };
    std::vector<Entry> m_entries;
    qint64 m_now = 0;
    quint64 m_seq = 0;
    QThread *m_thread = nullptr;
};

} // namespace lg
