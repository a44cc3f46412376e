#pragma once
// What the benchmarks share: the main-thread stall meter and private folders for
// the program's settings and caches. Main thread.
#include <QByteArray>
#include <QList>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <ctime>

namespace bench {

// The middle value (the mean of the two middle ones for an even count); 0 for none.
inline double median(QList<double> values)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const qsizetype middle = values.size() / 2;
    return values.size() % 2 ? values.at(middle) : (values.at(middle - 1) + values.at(middle)) / 2;
}

// The CPU time the calling thread has used, in milliseconds.
inline double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1000 + double(now.tv_nsec) / 1e6;
}

// Records how long the main thread was held up at a time: the longest delay of a
// short repeating timer, on the clock and as the main thread's own working time
// (which leaves out waiting for a core on a busy machine).
class StallMeter : public QObject
{
public:
    StallMeter()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(intervalMs);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] { tick(); });
    }
    void start()
    {
        m_longest = m_longestCpu = 0;
        m_clock.start();
        m_last = 0;
        m_lastCpu = threadCpuMs();
        m_timer.start();
    }
    // The longest stall in milliseconds; the time since the last tick counts too.
    double stop()
    {
        m_timer.stop();
        tick();
        return m_longest;
    }
    double longest() const { return m_longest; }
    double longestCpu() const { return m_longestCpu; }

private:
    void tick()
    {
        const qint64 now = m_clock.nsecsElapsed();
        const double cpu = threadCpuMs();
        m_longest = std::max(m_longest, double(now - m_last) / 1e6 - intervalMs);
        m_longestCpu = std::max(m_longestCpu, cpu - m_lastCpu);
        m_last = now;
        m_lastCpu = cpu;
    }

    static constexpr int intervalMs = 2;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    double m_lastCpu = 0;
    double m_longest = 0;
    double m_longestCpu = 0;
};

// Points the program's settings, caches and data at folders inside dir, so a
// run never touches the real ones.
inline void usePrivateFolders(const QTemporaryDir &dir)
{
    qputenv("XDG_CONFIG_HOME", (dir.path() + QStringLiteral("/config")).toLocal8Bit());
    qputenv("XDG_CACHE_HOME", (dir.path() + QStringLiteral("/cache")).toLocal8Bit());
    qputenv("XDG_DATA_HOME", (dir.path() + QStringLiteral("/data")).toLocal8Bit());
}

// What a benchmark of the screens sets up before its QApplication: the
// offscreen platform unless another is chosen, and private folders in home.
inline void prepareScreens(const QTemporaryDir &home)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    usePrivateFolders(home);
}

} // namespace bench
