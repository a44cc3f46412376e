#pragma once
// A bound in bytes on what decodes running at the same time may hold: each
// decode says beforehand how many bytes it will hold at most (from the
// picture's header, see lg::ImageSource::thumbnailDecodeBytes) and waits
// until they fit beside what the others hold. One that is larger than the
// whole budget runs alone once nothing else is held. Decodes wanted now go
// ahead of those made ahead of need; within each, the first to ask goes
// first, but one that fits now may pass those waiting for more room (so
// that small decodes keep the processors busy beside large ones), each of
// those at most maxPasses times: a large one is never passed over for good.
//
// Any thread may call every member at the same time. A wait ends at quit
// (lg::isShuttingDown) or once the budget is closed: the decode is then not
// to be done.
#include <QtGlobal>

#include <condition_variable>
#include <cstdint>
#include <list>
#include <mutex>

class DecodeBudget
{
public:
    explicit DecodeBudget(qint64 bytes);
    // How many later decodes may pass one that waits for room.
    static constexpr int maxPasses = 16;

    qint64 limit() const { return m_limit; }
    // Bytes held now, and the most held at once since made or since resetPeak().
    qint64 held() const;
    qint64 peakHeld() const;
    void resetPeak();
    // How many wait now.
    int waiting() const;
    // Ends every wait and every later one: acquire() gives false.
    void close();

    // Waits until bytes fit, then holds them; false (nothing held) when the
    // wait ended at quit or close().
    bool acquire(qint64 bytes, bool urgent);
    void release(qint64 bytes);

    // Bytes held for the scope of one decode.
    class Hold
    {
    public:
        explicit Hold(DecodeBudget *budget) : m_budget(budget) {}
        ~Hold() { release(); }
        Hold(const Hold &) = delete;
        Hold &operator=(const Hold &) = delete;
        // Holds bytes (releasing what was held before); false as acquire().
        bool take(qint64 bytes, bool urgent);
        void release();

    private:
        DecodeBudget *m_budget;
        qint64 m_bytes = 0;
    };

private:
    struct Waiter
    {
        bool urgent;
        qint64 bytes;
        int passed = 0;  // how many went ahead of it
    };
    bool mayGo(const std::list<Waiter>::iterator &waiter) const;

    const qint64 m_limit;
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::list<Waiter> m_waiting;  // in order of arrival
    qint64 m_held = 0;
    qint64 m_peak = 0;
    bool m_closed = false;
};
