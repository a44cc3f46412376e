// The deployment's addresses, read from one resource and overridable in settings.
#include "platform/desktop/DeploymentConfig.h"

#include "platform/desktop/Settings.h"

#include <QDebug>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QSet>

namespace lg {

namespace {

const QString resourcePath = QStringLiteral(":/config/deployment.json");

// The resource never changes while the program runs: read once.
const QJsonObject &resourceValues()
{
    static const QJsonObject values = [] {
        QFile file(resourcePath);
        if (!file.open(QIODevice::ReadOnly)) {
            qWarning().noquote() << "Deployment configuration" << resourcePath
                                 << "is missing: no addresses are configured";
            return QJsonObject();
        }
        const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
        if (!document.isObject())
            qWarning().noquote() << "Deployment configuration" << resourcePath
                                 << "is not a JSON object: no addresses are configured";
        return document.object();
    }();
    return values;
}

void reportUnknownKeyOnce(const QString &key)
{
    static QMutex mutex;
    static QSet<QString> reported;
    QMutexLocker locker(&mutex);
    if (!reported.contains(key)) {
        reported.insert(key);
        qWarning().noquote() << "Deployment configuration has no key" << key;
    }
}

} // namespace

QStringList DeploymentConfig::keys()
{
    return {QStringLiteral("analyticsEndpoint"), QStringLiteral("newsletterEndpoint"),
            QStringLiteral("updateFeed"),        QStringLiteral("makerWebPage"),
            QStringLiteral("facebookPage"),      QStringLiteral("twitterPage"),
            QStringLiteral("promotionCatalogue"), QStringLiteral("promotionIconsBase"),
            QStringLiteral("newsletterListKey")};
}

QString DeploymentConfig::value(const QString &key)
{
    if (!keys().contains(key)) {
        reportUnknownKeyOnce(key);
        return QString();
    }
    if (const std::optional<QString> overridden = Settings::stringValue(QStringLiteral("deployment/") + key))
        return *overridden;
    return resourceValues().value(key).toString();
}

} // namespace lg
