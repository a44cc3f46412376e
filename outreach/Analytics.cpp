#include "outreach/Analytics.h"

#include "platform/desktop/DeploymentConfig.h"
#include "platform/desktop/Paths.h"
#include "platform/runtime/Console.h"

#include <plist/plist.h>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkInterface>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QRegularExpression>
#include <QStringList>
#include <QSysInfo>
#include <QUrl>

#include <cstdio>
#include <cstdlib>
#include <limits>
#include <utility>

using lg::printLine;

QString utmSource;
QString utmCampaign;
QString osVersionString;
QString analyticsClientId;

const QString analyticsPropertyId = QStringLiteral("UA-480271956-07");

namespace {

constexpr int requestTimeoutMs = 60000;
constexpr qint64 maxAttributionBytes = 1024 * 1024;

// Spaces and tabs only: line breaks stay.
QString trimBlanks(const QString &text)
{
    qsizetype start = 0;
    qsizetype end = text.size();
    auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    while (start < end && blank(text.at(start)))
        ++start;
    while (end > start && blank(text.at(end - 1)))
        --end;
    return text.mid(start, end - start);
}

QNetworkAccessManager *network()
{
    static QPointer<QNetworkAccessManager> manager;
    if (!manager) {
        manager = new QNetworkAccessManager(QCoreApplication::instance());
        manager->setTransferTimeout(requestTimeoutMs);
    }
    return manager;
}

} // namespace

QString campaignAttributionPath()
{
    return lg::Paths::appData() + QStringLiteral("/track.plist");
}

void readCampaignAttribution(const QByteArray &data, QString *source, QString *campaign)
{
    if (data.isEmpty() || data.size() > std::numeric_limits<uint32_t>::max())
        return;
    plist_t root = nullptr;
    plist_from_memory(data.constData(), uint32_t(data.size()), &root);
    if (!root)
        return;
    if (plist_get_node_type(root) != PLIST_DICT) {
        plist_free(root);
        return;
    }
    plist_dict_iter iter = nullptr;
    plist_dict_new_iter(root, &iter);
    if (iter) {
        for (;;) {
            char *rawKey = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(root, iter, &rawKey, &value);
            if (!value) {
                std::free(rawKey);
                break;
            }
            const QString key = QString::fromUtf8(rawKey ? rawKey : "");
            std::free(rawKey);
            // Only text values count; anything else under these keys is ignored.
            if (key.isEmpty() || plist_get_node_type(value) != PLIST_STRING)
                continue;
            char *rawValue = nullptr;
            plist_get_string_val(value, &rawValue);
            const QString text = trimBlanks(QString::fromUtf8(rawValue ? rawValue : ""));
            std::free(rawValue);
            const QString trimmedKey = trimBlanks(key);
            if (trimmedKey == QLatin1String("utm_campaign") && campaign)
                *campaign = text;
            if (trimmedKey == QLatin1String("utm_source") && source)
                *source = text;
        }
        std::free(iter);
    }
    plist_free(root);
}

QString defaultRouteInterface(const QByteArray &routeTable)
{
    QString best;
    qint64 bestMetric = std::numeric_limits<qint64>::max();
    const QList<QByteArray> lines = routeTable.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {  // the first line names the columns
        const QList<QByteArray> fields = lines.at(i).simplified().split(' ');
        if (fields.size() < 8)
            continue;
        bool ok = false;
        const uint flags = fields.at(3).toUInt(&ok, 16);
        if (!ok || !(flags & 0x1))  // the route is not up
            continue;
        if (fields.at(1) != "00000000" || fields.at(7) != "00000000")
            continue;
        const qint64 metric = fields.at(6).toLongLong(&ok);
        if (!ok)
            continue;
        if (metric < bestMetric) {
            bestMetric = metric;
            best = QString::fromLatin1(fields.at(0));
        }
    }
    return best;
}

QString formatHardwareAddress(const QString &address)
{
    const QStringList parts = address.trimmed().split(QLatin1Char(':'), Qt::SkipEmptyParts);
    if (parts.isEmpty())
        return QString();
    unsigned char bytes[6] = {0, 0, 0, 0, 0, 0};
    bool anyNonZero = false;
    for (int i = 0; i < 6 && i < parts.size(); ++i) {
        bool ok = false;
        const uint value = parts.at(i).toUInt(&ok, 16);
        if (!ok || value > 0xff)
            return QString();
        bytes[i] = static_cast<unsigned char>(value);
        anyNonZero = anyNonZero || value != 0;
    }
    if (!anyNonZero)
        return QString();
    QStringList hex;
    for (unsigned char b : bytes)
        hex.append(QStringLiteral("%1").arg(uint(b), 2, 16, QLatin1Char('0')));
    return hex.join(QLatin1Char(':'));
}

QString machineIdentifier()
{
    QFile routes(QStringLiteral("/proc/net/route"));
    if (routes.open(QIODevice::ReadOnly)) {
        const QString name = defaultRouteInterface(routes.read(1024 * 1024));
        if (!name.isEmpty()) {
            const QString id = formatHardwareAddress(QNetworkInterface::interfaceFromName(name).hardwareAddress());
            if (!id.isEmpty())
                return id;
        }
    }
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &interface : interfaces) {
        if (interface.flags().testFlag(QNetworkInterface::IsLoopBack))
            continue;
        const QString id = formatHardwareAddress(interface.hardwareAddress());
        if (!id.isEmpty())
            return id;
    }
    return QString();
}

QString threePartVersion(const QString &version)
{
    static const QRegularExpression leading(QStringLiteral("^(\\d+)(?:\\.(\\d+))?(?:\\.(\\d+))?"));
    const QRegularExpressionMatch match = leading.match(version.trimmed());
    if (!match.hasMatch())
        return QString();
    QStringList parts;
    for (int i = 1; i <= 3; ++i) {
        bool ok = false;
        const qulonglong value = match.captured(i).toULongLong(&ok);
        parts.append(QString::number(ok ? value : 0));
    }
    return parts.join(QLatin1Char('.'));
}

void loadCampaignAttribution()
{
    analyticsClientId = machineIdentifier();
    osVersionString = threePartVersion(QSysInfo::productVersion());
    if (osVersionString.isEmpty())
        osVersionString = threePartVersion(QSysInfo::kernelVersion());
    if (osVersionString.isEmpty())
        osVersionString = QStringLiteral("0.0.0");

    const QString path = campaignAttributionPath();
    QFileInfo info(path);
    if (!info.isFile())
        return;
    if (info.size() > maxAttributionBytes) {
        printLine(QStringLiteral("The campaign attribution file is too large to read: ") + path);
        return;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    readCampaignAttribution(file.readAll(), &utmSource, &utmCampaign);
}

QByteArray analyticsBody(const QString &category, const QString &action)
{
    const std::pair<const char *, QString> fields[] = {
        {"v", QStringLiteral("1")},
        {"tid", analyticsPropertyId},
        {"cid", analyticsClientId},
        {"t", QStringLiteral("event")},
        {"ec", category},
        {"ea", action},
        {"el", utmSource + QLatin1Char('_') + analyticsClientId},
        {"pa", QStringLiteral("click")},
        {"pal", utmSource},
        {"pr1id", utmSource},
        {"pr1nm", osVersionString},
    };
    QByteArray body;
    for (const auto &[key, value] : fields) {
        if (!body.isEmpty())
            body += '&';
        body += key;
        body += '=';
        body += QUrl::toPercentEncoding(value);
    }
    return body;
}

void sendAnalyticsEvent(const QString &category, const QString &action)
{
    const QString endpoint = lg::DeploymentConfig::value(QStringLiteral("analyticsEndpoint")).trimmed();
    if (endpoint.isEmpty()) {
        printLine(QStringLiteral("No analytics endpoint is configured; the event is not sent"));
        return;
    }
    const QUrl url(endpoint, QUrl::StrictMode);
    if (!url.isValid() || (url.scheme() != QLatin1String("https") && url.scheme() != QLatin1String("http"))) {
        printLine(QStringLiteral("The analytics endpoint is not usable: ") + endpoint);
        return;
    }
    QNetworkRequest request(url);
    request.setTransferTimeout(requestTimeoutMs);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/x-www-form-urlencoded"));
    QNetworkReply *reply = network()->post(request, analyticsBody(category, action));
    QObject::connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
}
