#pragma once
// The application-wide notification centre: names are plain strings
// ("viewimage", "backtofiles", ...), observers are called on the main thread.
#include <QObject>
#include <QString>
#include <QVariant>
#include <functional>

namespace lg {

class NotificationHub : public QObject
{
    Q_OBJECT
public:
    static NotificationHub &instance();

    // Posts a notification: observers of the name are called synchronously when
    // posting from the main thread, queued onto the main thread otherwise.
    void post(const QString &name, const QVariant &object = QVariant());

    // Calls fn for every notification with this name while context lives.
    QMetaObject::Connection observe(const QString &name, const QObject *context,
                                    std::function<void(const QVariant &)> fn);

Q_SIGNALS:
    void posted(const QString &name, const QVariant &object);
};

} // namespace lg
