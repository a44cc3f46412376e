#pragma once
// One queued call for many requests: a view that asks for work on every
// scroll, resize and paint gets it done once, when the event loop comes round.
// Owned by (a member of) the object whose thread it runs on; that object's
// end drops a call still queued. Nothing here fails.
#include <QMetaObject>
#include <QObject>

#include <functional>
#include <utility>

namespace lg {

class CoalescedCall
{
public:
    // run is called on owner's thread, never after owner is gone.
    CoalescedCall(QObject *owner, std::function<void()> run) : m_owner(owner), m_run(std::move(run)) {}
    CoalescedCall(const CoalescedCall &) = delete;
    CoalescedCall &operator=(const CoalescedCall &) = delete;

    // Queues the call, unless one is queued already.
    void schedule()
    {
        if (m_queued)
            return;
        m_queued = true;
        QMetaObject::invokeMethod(
            m_owner,
            [this] {
                if (!m_queued)  // done directly meanwhile
                    return;
                m_queued = false;
                m_run();
            },
            Qt::QueuedConnection);
    }
    // The owner did the work directly: a call still queued does nothing.
    void done() { m_queued = false; }

private:
    QObject *m_owner;
    std::function<void()> m_run;
    bool m_queued = false;
};

} // namespace lg
