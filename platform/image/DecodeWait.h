#pragma once
// A decode that may run past its time while its caller asks the user whether
// to keep waiting (the viewer's picture), instead of ending there as a
// thumbnail's does. The watchdog of the decode (DecodeWorkers.h), on the
// thread that waits for the worker, calls overdue once the time has passed
// and then keeps the worker running until the caller says keepWaiting() (the
// time starts again, and overdue is called again once it has passed) or
// stop() (the worker is ended at once, the decode ends as Stopped); the quit
// ends it all the same.
//
// keepWaiting() and stop() may be called from any thread, at any time (stop()
// before the time has passed ends the decode too).
#include <atomic>
#include <functional>

namespace lg::image {

class DecodeWait
{
public:
    explicit DecodeWait(std::function<void()> overdue) : m_overdue(std::move(overdue)) {}

    void keepWaiting() { m_keep.store(true); }
    void stop() { m_stopped.store(true); }
    bool stopped() const { return m_stopped.load(); }

    // The watchdog, once the decode's time has passed: true when the caller
    // said to keep waiting since it was told (its time starts again); the
    // first call after each start tells the caller.
    bool pastTime()
    {
        if (!m_told.exchange(true)) {
            m_keep.store(false);
            if (m_overdue)
                m_overdue();
            return false;
        }
        if (!m_keep.exchange(false))
            return false;
        m_told.store(false);
        return true;
    }

private:
    std::function<void()> m_overdue;
    std::atomic<bool> m_told {false};
    std::atomic<bool> m_keep {false};
    std::atomic<bool> m_stopped {false};
};

} // namespace lg::image
