// The thread pools of their own.
#include "platform/runtime/Pools.h"

#include "platform/runtime/Dispatch.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>
#include <QThreadPool>

#include <algorithm>

namespace lg::pools {

QThreadPool *folderListing()
{
    static QThreadPool *const pool = [] {
        auto *made = new QThreadPool;   // never destroyed, drained at quit
        made->setMaxThreadCount(std::max(1, QThread::idealThreadCount()));
        registerPool(made);
        return made;
    }();
    return pool;
}

QThreadPool *moduleLoads(int modules)
{
    static QThreadPool *const pool = [modules] {
        auto *made = new QThreadPool;   // never destroyed, like the module loader
        made->setMaxThreadCount(modules);
        registerPool(made);
        return made;
    }();
    return pool;
}

QThreadPool *pictureTurns()
{
    static QPointer<QThreadPool> pool;
    if (!pool) {
        pool = new QThreadPool(QCoreApplication::instance());
        pool->setMaxThreadCount(1);
        pool->setExpiryTimeout(-1);
    }
    return pool;
}

QThreadPool *folderScans()
{
    static QThreadPool *const pool = [] {
        auto *made = new QThreadPool;   // never destroyed, drained at quit
        // One scan at a time for each sidebar; room for a few sidebars.
        made->setMaxThreadCount(4);
        registerPool(made);
        return made;
    }();
    return pool;
}

namespace {

QThreadPool *ownedPool(QObject *owner, int threads)
{
    auto *made = new QThreadPool(owner);
    made->setMaxThreadCount(threads);
    registerPool(made);
    return made;
}

} // namespace

QThreadPool *thumbnailsNow(QObject *owner)
{
    return ownedPool(owner, std::max(2, QThread::idealThreadCount() - 1));
}

QThreadPool *thumbnailsAhead(QObject *owner)
{
    return ownedPool(owner, std::max(2, QThread::idealThreadCount() - 1));
}

QThreadPool *thumbnailWrites(QObject *owner)
{
    return ownedPool(owner, 1);
}

QThreadPool *viewerPictures(QObject *owner)
{
    return ownedPool(owner, std::max(2, std::min(4, QThread::idealThreadCount())));
}

} // namespace lg::pools
