#pragma once
// The addresses that the deployment fills in: read from the resource
// :/config/deployment.json, each overridable through the setting
// "deployment/<key>" (tests point them at a local server). An empty address
// means the request is not made; the caller prints one line saying so.
#include <QString>
#include <QStringList>

namespace lg {

class DeploymentConfig
{
public:
    // The keys of the configuration: "analyticsEndpoint", "newsletterEndpoint",
    // "updateFeed", "makerWebPage", "facebookPage", "twitterPage",
    // "promotionCatalogue", "promotionIconsBase".
    static QStringList keys();
    // The address under key: the setting "deployment/<key>" when it holds a
    // string, else the resource's value; empty when neither has one (also for
    // an unknown key, which is reported once).
    static QString value(const QString &key);
};

} // namespace lg
