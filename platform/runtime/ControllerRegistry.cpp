// One instance of each screen controller, made on first use.
#include "platform/runtime/ControllerRegistry.h"

#include <QPointer>
#include <QSet>

namespace lg {

namespace {

// Main-thread state.
struct Registry
{
    QHash<QString, ControllerRegistry::Factory> factories;
    QHash<QString, QPointer<QObject>> instances;
    QSet<QString> making;  // identifiers whose factory is running
};

Registry &registry()
{
    static Registry r;
    return r;
}

} // namespace

void ControllerRegistry::registerFactory(const QString &identifier, Factory factory)
{
    registry().factories.insert(identifier, std::move(factory));
}

bool ControllerRegistry::hasFactory(const QString &identifier)
{
    return registry().factories.contains(identifier);
}

QObject *ControllerRegistry::existing(const QString &identifier)
{
    return registry().instances.value(identifier).data();
}

QObject *ControllerRegistry::instanceObject(const QString &identifier)
{
    Registry &r = registry();
    // An instance deleted elsewhere (e.g. a closed window) is made anew.
    if (QObject *object = r.instances.value(identifier).data())
        return object;

    const auto factory = r.factories.constFind(identifier);
    if (factory == r.factories.constEnd() || !*factory)
        qFatal("ControllerRegistry: no factory is registered for \"%s\"", qPrintable(identifier));
    if (r.making.contains(identifier))
        qFatal("ControllerRegistry: making \"%s\" needs \"%s\" itself (its factory or constructor asks for it)",
               qPrintable(identifier), qPrintable(identifier));

    r.making.insert(identifier);
    const Factory make = *factory;  // a copy: the factory may register others
    QObject *object = make();
    r.making.remove(identifier);
    if (!object)
        qFatal("ControllerRegistry: the factory for \"%s\" made nothing", qPrintable(identifier));
    r.instances.insert(identifier, object);
    return object;
}

void ControllerRegistry::fatalWrongClass(const QString &identifier, const char *className)
{
    const QObject *object = existing(identifier);
    qFatal("ControllerRegistry: the controller \"%s\" is a %s, not a %s", qPrintable(identifier),
           object ? object->metaObject()->className() : "null object", className);
}

void ControllerRegistry::reset()
{
    // The registry is emptied first, so that destructors that look a controller
    // up find none. Parents go first and take their children with them; the
    // QPointers skip whatever an earlier deletion already took.
    // A destructor that makes a controller again leaves it in the registry:
    // that one goes in the next round.
    for (int round = 0; round < 8 && !registry().instances.isEmpty(); ++round) {
        const QList<QPointer<QObject>> made = registry().instances.values();
        registry().instances.clear();
        for (const bool topLevelPass : {true, false}) {
            for (const QPointer<QObject> &object : made) {
                if (object && (!topLevelPass || !object->parent()))
                    delete object.data();
            }
        }
    }
}

} // namespace lg
