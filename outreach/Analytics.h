#pragma once
// Usage analytics: where the installation came from (track.plist in the
// application data folder), the machine's client id, the system version, and the
// event hit posted to the deployment's analytics endpoint.
#include <QByteArray>
#include <QString>

// The attribution state, "" until loadCampaignAttribution() runs. Main thread.
extern QString utmSource;
extern QString utmCampaign;
extern QString osVersionString;
extern QString analyticsClientId;

// The analytics property the hits are counted under.
extern const QString analyticsPropertyId;

// Fills the four strings above; called once at launch, before the first hit.
void loadCampaignAttribution();

// The client id: the hardware address of the default-route interface (else of
// the first non-loopback interface that has one) as six lower-case two-digit
// hexadecimal bytes joined by ":"; "" when none can be read.
QString machineIdentifier();

// Sends one event hit in the background; the reply and any failure are ignored.
// Without a configured endpoint nothing is sent.
void sendAnalyticsEvent(const QString &category, const QString &action);

// ---- the pieces, for the launch code and the tests ----

// The path of the campaign attribution file.
QString campaignAttributionPath();
// Reads utm_source and utm_campaign from a property list (XML or binary) in
// memory; a value stays unset (nullptr result untouched) when absent.
void readCampaignAttribution(const QByteArray &plist, QString *source, QString *campaign);
// The interface that carries the default route in a /proc/net/route table, or "".
QString defaultRouteInterface(const QByteArray &routeTable);
// "AA:BB:..." as Qt reports it, to the client-id form (first six bytes, missing
// bytes "00"); "" when there is no address or it is all zeros.
QString formatHardwareAddress(const QString &address);
// Major, minor and patch of a version text such as "22.04" or "6.1.0-13-amd64",
// as "22.4.0"; "" when it does not start with a number.
QString threePartVersion(const QString &version);
// The hit's body, each value form-encoded, in the fixed key order.
QByteArray analyticsBody(const QString &category, const QString &action);
