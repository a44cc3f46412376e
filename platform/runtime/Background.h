#pragma once
// Work run off the main thread, and the one way to run it. The pools of
// their own that work may be run on instead of the shared one are in
// Pools.h.
//
// runThenCallback runs work on a pool (the shared one unless told) and calls
// callback with its result on the receiver's thread. The result is dropped,
// and callback never runs, when the receiver is destroyed first. Work that
// has not started when the shutdown begins (lg::beginShutdown) is dropped
// too, its callback never running; work under way runs to its end and its
// callback comes as usual, so it owns copies of what it reads, never the
// receiver. A long loop in it looks at lg::isShuttingDown(); the pools are
// drained at quit by lg::drainBackgroundWork. runWithinBudget does the same
// for a caller that would rather have the result at once, when it comes soon
// enough.
//
// runOnPool, startEachChunk, forEachChunk and mapped are for work whose
// caller waits for it, or keeps its future to wait on or to cancel: they run
// whether or not the shutdown has begun, and the caller decides what a quit
// means for them (a loop looks at lg::isShuttingDown()). A wait on a future
// whose work has not started yet may run that work on the waiting thread.
//
// Any thread, unless said otherwise.
#include "platform/runtime/Dispatch.h"

#include <QFuture>
#include <QFutureWatcher>
#include <QList>
#include <QObject>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentMap>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>

namespace lg {

namespace detail {

inline QThreadPool *poolOrShared(QThreadPool *pool)
{
    return pool ? pool : QThreadPool::globalInstance();
}

// What work handed to runThenCallback gave: nothing when it was dropped at
// quit before it started.
template<typename Result>
using Ran = std::conditional_t<std::is_void_v<Result>, bool, std::optional<Result>>;

// The ranges [begin, end) of at most chunk that cover [0, count), by number.
struct Chunks
{
    qsizetype count = 0;
    qsizetype chunk = 1;
    qsizetype size() const { return count > 0 ? (count + chunk - 1) / chunk : 0; }
    qsizetype begin(qsizetype part) const { return part * chunk; }
    qsizetype end(qsizetype part) const { return std::min(count, (part + 1) * chunk); }
};

} // namespace detail

// Runs work on pool (the shared one unless told) and returns its future.
template<typename Work>
[[nodiscard]] QFuture<std::invoke_result_t<Work>> runOnPool(Work work, QThreadPool *pool = nullptr)
{
    return QtConcurrent::run(detail::poolOrShared(pool), std::move(work));
}

template<typename Work, typename Callback>
void runThenCallback(QObject *receiver, Work work, Callback callback, QThreadPool *pool = nullptr)
{
    using Result = std::invoke_result_t<Work>;
    using Ran = detail::Ran<Result>;
    auto *watcher = new QFutureWatcher<Ran>(receiver);
    QObject::connect(watcher, &QFutureWatcherBase::finished, receiver,
                     [watcher, callback = std::move(callback)]() mutable {
                         watcher->deleteLater();
                         Ran ran = watcher->result();
                         if (!ran)
                             return;   // dropped at quit before it started
                         if constexpr (std::is_void_v<Result>)
                             callback();
                         else
                             callback(std::move(*ran));
                     });
    watcher->setFuture(runOnPool(
        [work = std::move(work)]() mutable -> Ran {
            if (isShuttingDown())
                return Ran{};
            if constexpr (std::is_void_v<Result>) {
                work();
                return true;
            } else {
                return Ran(work());
            }
        },
        pool));
}

// runThenCallback that waits on the calling thread, the receiver's, up to
// budgetMs for the result: when it comes within the budget, callback has it
// before this returns true. Otherwise this returns false and callback comes
// later, as runThenCallback's does. The wait ends as soon as the result is
// there or the shutdown begins, without looking again now and then. work
// gives a result.
template<typename Work, typename Callback>
bool runWithinBudget(QObject *receiver, int budgetMs, Work work, Callback callback, QThreadPool *pool = nullptr)
{
    using Result = std::invoke_result_t<Work>;
    static_assert(!std::is_void_v<Result>, "runWithinBudget hands over a result");
    struct Handoff
    {
        Completion ready;
        std::mutex mutex;
        bool waiting = true;   // the caller still waits: the result goes to it
        std::optional<Result> result;
    };
    auto handoff = std::make_shared<Handoff>();
    runThenCallback(
        receiver,
        [handoff, work = std::move(work)]() mutable -> std::optional<Result> {
            Result result = work();
            {
                const std::lock_guard<std::mutex> lock(handoff->mutex);
                if (!handoff->waiting)
                    return std::optional<Result>(std::move(result));   // for the callback, later
                handoff->result = std::move(result);
            }
            handoff->ready.complete();
            return std::nullopt;
        },
        [callback](std::optional<Result> late) mutable {
            if (late)
                callback(std::move(*late));
        },
        pool);
    handoff->ready.wait(std::max(0, budgetMs));
    std::unique_lock<std::mutex> lock(handoff->mutex);
    handoff->waiting = false;
    if (!handoff->result)
        return false;
    Result result = std::move(*handoff->result);
    lock.unlock();
    callback(std::move(result));
    return true;
}

// Calls each(begin, end) for the ranges of at most chunk indices that cover
// [0, count), on pool (the shared one unless told), and returns at once: wait
// on the future for the end. A single range runs on the calling thread before
// this returns. Each index is in exactly one range; the ranges run in any
// order, several at once.
template<typename Each>
[[nodiscard]] QFuture<void> startEachChunk(qsizetype count, qsizetype chunk, Each each, QThreadPool *pool = nullptr)
{
    const detail::Chunks chunks{std::max<qsizetype>(0, count), std::max<qsizetype>(1, chunk)};
    if (chunks.size() == 0)
        return QFuture<void>();
    if (chunks.size() == 1) {
        each(qsizetype(0), chunks.count);
        return QFuture<void>();
    }
    // The parts live as long as the map, which holds the functor.
    auto parts = std::make_shared<QList<qsizetype>>(chunks.size());
    for (qsizetype part = 0; part < parts->size(); ++part)
        (*parts)[part] = part;
    return QtConcurrent::map(detail::poolOrShared(pool), parts->begin(), parts->end(),
                             [parts, chunks, each = std::move(each)](qsizetype part) {
                                 each(chunks.begin(part), chunks.end(part));
                             });
}

// startEachChunk that returns once every range has run, the calling thread
// taking ranges too.
template<typename Each>
void forEachChunk(qsizetype count, qsizetype chunk, Each each, QThreadPool *pool = nullptr)
{
    const detail::Chunks chunks{std::max<qsizetype>(0, count), std::max<qsizetype>(1, chunk)};
    if (chunks.size() == 0)
        return;
    if (chunks.size() == 1) {
        each(qsizetype(0), chunks.count);
        return;
    }
    QList<qsizetype> parts(chunks.size());
    for (qsizetype part = 0; part < parts.size(); ++part)
        parts[part] = part;
    QtConcurrent::blockingMap(detail::poolOrShared(pool), parts,
                              [&chunks, &each](qsizetype part) { each(chunks.begin(part), chunks.end(part)); });
}

// fn of each of items, on pool (the shared one unless told) with the calling
// thread taking items too; the results in the order of items.
template<typename Sequence, typename Fn>
auto mapped(const Sequence &items, Fn fn, QThreadPool *pool = nullptr)
{
    using Result = std::decay_t<std::invoke_result_t<Fn &, const typename Sequence::value_type &>>;
    return QtConcurrent::blockingMapped<QList<Result>>(detail::poolOrShared(pool), items, std::move(fn));
}

} // namespace lg
