#pragma once
// Work run off the main thread whose result comes back to an object there.
//
// runThenCallback runs work on a pool (the shared one unless told) and calls
// callback with its result on the receiver's thread. The result is dropped,
// and callback never runs, when the receiver is destroyed first; the work
// itself runs to its end, so it owns copies of what it reads, never the
// receiver. A long loop in it looks at lg::isShuttingDown(); the pools are
// drained at quit by lg::drainBackgroundWork.
#include <QFutureWatcher>
#include <QObject>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <type_traits>
#include <utility>

namespace lg {

template<typename Work, typename Callback>
void runThenCallback(QObject *receiver, Work work, Callback callback, QThreadPool *pool = nullptr)
{
    using Result = std::invoke_result_t<Work>;
    auto *watcher = new QFutureWatcher<Result>(receiver);
    QObject::connect(watcher, &QFutureWatcherBase::finished, receiver,
                     [watcher, callback = std::move(callback)]() mutable {
                         watcher->deleteLater();
                         if constexpr (std::is_void_v<Result>)
                             callback();
                         else
                             callback(watcher->result());
                     });
    watcher->setFuture(QtConcurrent::run(pool ? pool : QThreadPool::globalInstance(), std::move(work)));
}

} // namespace lg
