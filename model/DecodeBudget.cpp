#include "model/DecodeBudget.h"

#include "platform/runtime/Dispatch.h"

#include <algorithm>
#include <chrono>

DecodeBudget::DecodeBudget(qint64 bytes) : m_limit(std::max<qint64>(1, bytes)) {}

qint64 DecodeBudget::held() const
{
    std::lock_guard lock(m_lock);
    return m_held;
}

qint64 DecodeBudget::peakHeld() const
{
    std::lock_guard lock(m_lock);
    return m_peak;
}

int DecodeBudget::waiting() const
{
    std::lock_guard lock(m_lock);
    return int(m_waiting.size());
}

void DecodeBudget::resetPeak()
{
    std::lock_guard lock(m_lock);
    m_peak = m_held;
}

void DecodeBudget::close()
{
    {
        std::lock_guard lock(m_lock);
        m_closed = true;
    }
    m_changed.notify_all();
}

bool DecodeBudget::mayGo(const std::list<Waiter>::iterator &waiter) const
{
    // Nothing made ahead of need goes while something wanted now waits.
    // Ahead of it in its own class: the first goes once it fits (or nothing
    // is held); a later one only fits beside what is held, and passes the
    // ones ahead only while they wait for more room and none of them was
    // passed maxPasses times.
    bool ahead = true;
    bool first = true;
    for (auto other = m_waiting.begin(); other != m_waiting.end(); ++other) {
        if (other == waiter) {
            ahead = false;
            continue;
        }
        if (other->urgent && !waiter->urgent)
            return false;
        if (ahead && other->urgent == waiter->urgent) {
            // One ahead that may go now goes first.
            first = false;
            if (other->passed >= maxPasses || m_held == 0 || m_held + other->bytes <= m_limit)
                return false;
        }
    }
    return (first && m_held == 0) || m_held + waiter->bytes <= m_limit;
}

bool DecodeBudget::acquire(qint64 bytes, bool urgent)
{
    bytes = std::max<qint64>(0, bytes);
    std::unique_lock lock(m_lock);
    const auto waiter = m_waiting.insert(m_waiting.end(), Waiter{urgent, bytes});
    bool granted = false;
    while (!m_closed) {
        if (mayGo(waiter)) {
            granted = true;
            break;
        }
        // The quit is not announced to this wait: looked at now and then.
        if (lg::isShuttingDown())
            break;
        m_changed.wait_for(lock, std::chrono::milliseconds(100));
    }
    if (granted) {
        for (auto other = m_waiting.begin(); other != waiter; ++other) {
            if (other->urgent == waiter->urgent)
                ++other->passed;
        }
    }
    m_waiting.erase(waiter);
    if (granted) {
        m_held += bytes;
        m_peak = std::max(m_peak, m_held);
    }
    lock.unlock();
    // Those behind may go now (one that fits beside, or the next in order).
    m_changed.notify_all();
    return granted;
}

void DecodeBudget::release(qint64 bytes)
{
    {
        std::lock_guard lock(m_lock);
        m_held = std::max<qint64>(0, m_held - std::max<qint64>(0, bytes));
    }
    m_changed.notify_all();
}

bool DecodeBudget::Hold::take(qint64 bytes, bool urgent)
{
    release();
    if (!m_budget)
        return true;
    if (!m_budget->acquire(bytes, urgent))
        return false;
    m_bytes = std::max<qint64>(0, bytes);
    return true;
}

void DecodeBudget::Hold::release()
{
    if (m_budget && m_bytes > 0)
        m_budget->release(m_bytes);
    m_bytes = 0;
}
