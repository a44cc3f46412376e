#pragma once
// One instance of each screen controller, made on first use by a factory
// registered under its scene identifier (the class name). Main thread only.
#include <QHash>
#include <QObject>
#include <QString>
#include <functional>

namespace lg {

class ControllerRegistry
{
public:
    using Factory = std::function<QObject *()>;

    static void registerFactory(const QString &identifier, Factory factory);
    static bool hasFactory(const QString &identifier);

    // Makes the controller for the identifier on first use and keeps it (one
    // deleted elsewhere, e.g. a window closed with WA_DeleteOnClose, is made anew).
    // An identifier without a factory, or a controller of another class, is a
    // fatal error (a programming mistake, caught on first use).
    template <typename T>
    static T *instance(const QString &identifier)
    {
        QObject *object = instanceObject(identifier);
        T *typed = qobject_cast<T *>(object);
        if (!typed)
            fatalWrongClass(identifier, T::staticMetaObject.className());
        return typed;
    }

    // An instance that already exists, or nullptr (never makes one).
    static QObject *existing(const QString &identifier);
    // The same as a T: nullptr also for a controller of another class.
    template <typename T>
    static T *existingAs(const QString &identifier)
    {
        return qobject_cast<T *>(existing(identifier));
    }
    // Deletes every instance (tests start each case from nothing); one that is
    // the child of another goes with its parent. The factories stay.
    static void reset();

private:
    static QObject *instanceObject(const QString &identifier);
    [[noreturn]] static void fatalWrongClass(const QString &identifier, const char *className);
};

} // namespace lg
