// The application-wide hub of named notifications.
#include "platform/desktop/NotificationHub.h"

#include "platform/runtime/Dispatch.h"

#include <QCoreApplication>
#include <QThread>

namespace lg {

NotificationHub &NotificationHub::instance()
{
    static NotificationHub *hub = [] {
        auto *made = new NotificationHub;
        // Observers run on the main thread: the hub belongs there even when a
        // background thread asks for it first.
        if (QCoreApplication *app = QCoreApplication::instance())
            made->moveToThread(app->thread());
        return made;
    }();
    return *hub;
}

void NotificationHub::post(const QString &name, const QVariant &object)
{
    if (isMainThread()) {
        Q_EMIT posted(name, object);
        return;
    }
    QMetaObject::invokeMethod(
        this, [this, name, object] { Q_EMIT posted(name, object); }, Qt::QueuedConnection);
}

QMetaObject::Connection NotificationHub::observe(const QString &name, const QObject *context,
                                                 std::function<void(const QVariant &)> fn)
{
    return connect(this, &NotificationHub::posted, context,
                   [name, fn = std::move(fn)](const QString &posted, const QVariant &object) {
                       if (posted == name)
                           fn(object);
                   });
}

} // namespace lg
