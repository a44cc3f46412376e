// Campaign attribution, the client id and the analytics hit.
#include "outreach/Analytics.h"
#include "platform/desktop/Settings.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/TestSupport.h"

#include <plist/plist.h>

#include <QFile>
#include <QRegularExpression>
#include <QUrlQuery>
#include <cstdlib>

namespace {

QByteArray plistBytes(const QList<std::pair<QByteArray, QByteArray>> &entries, bool binary)
{
    plist_t dict = plist_new_dict();
    for (const auto &[key, value] : entries)
        plist_dict_set_item(dict, key.constData(), plist_new_string(value.constData()));
    char *data = nullptr;
    uint32_t length = 0;
    if (binary)
        plist_to_bin(dict, &data, &length);
    else
        plist_to_xml(dict, &data, &length);
    const QByteArray bytes(data, qsizetype(length));
    std::free(data);
    plist_free(dict);
    return bytes;
}

QList<std::pair<QString, QString>> decodedFields(const QByteArray &body)
{
    QList<std::pair<QString, QString>> fields;
    for (const QByteArray &pair : body.split('&')) {
        const qsizetype equals = pair.indexOf('=');
        fields.append({QString::fromUtf8(pair.left(equals)),
                       QUrl::fromPercentEncoding(pair.mid(equals + 1))});
    }
    return fields;
}

} // namespace

class TestAnalytics : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        utmSource.clear();
        utmCampaign.clear();
        osVersionString.clear();
        analyticsClientId.clear();
        QFile::remove(campaignAttributionPath());
        lg::Settings::remove(QStringLiteral("deployment/analyticsEndpoint"));
    }

    void valuesCannotAddFields()
    {
        utmSource = QStringLiteral("news&letter=1 +x");
        analyticsClientId = QStringLiteral("00:11:22:33:44:55");
        osVersionString = QStringLiteral("6.1.0");
        const QByteArray body = analyticsBody(QStringLiteral("updated"), QStringLiteral("1.10&t=pageview"));
        const QList<std::pair<QString, QString>> fields = decodedFields(body);
        QStringList keys;
        for (const auto &field : fields)
            keys.append(field.first);
        QCOMPARE(keys, QStringList({"v", "tid", "cid", "t", "ec", "ea", "el", "pa", "pal", "pr1id", "pr1nm"}));
        QCOMPARE(fields.at(3).second, QStringLiteral("event"));
        QCOMPARE(fields.at(5).second, QStringLiteral("1.10&t=pageview"));
        QCOMPARE(fields.at(6).second, QStringLiteral("news&letter=1 +x_00:11:22:33:44:55"));
        QCOMPARE(fields.at(9).second, utmSource);
    }

    void attributionIsReadFromXmlAndBinaryLists()
    {
        for (bool binary : {false, true}) {
            QString source, campaign;
            readCampaignAttribution(plistBytes({{" utm_source\t", "  mag\tazine \n"},
                                                {"", "ignored"},
                                                {"utm_campaign", "spring"},
                                                {"other", "x"}},
                                               binary),
                                    &source, &campaign);
            QCOMPARE(source, QStringLiteral("mag\tazine \n"));  // blanks go, the line break stays
            QCOMPARE(campaign, QStringLiteral("spring"));
        }
        QString source = QStringLiteral("kept");
        readCampaignAttribution("not a property list", &source, nullptr);
        readCampaignAttribution(QByteArray(), &source, nullptr);
        QCOMPARE(source, QStringLiteral("kept"));
    }

    void loadingFillsTheState()
    {
        lg::test::writeFile(campaignAttributionPath(), plistBytes({{"utm_source", "shop"}, {"utm_campaign", "c1"}}, false));
        loadCampaignAttribution();
        QCOMPARE(utmSource, QStringLiteral("shop"));
        QCOMPARE(utmCampaign, QStringLiteral("c1"));
        QVERIFY(QRegularExpression(QStringLiteral("^\\d+\\.\\d+\\.\\d+$")).match(osVersionString).hasMatch());
        QVERIFY(analyticsClientId.isEmpty()
                || QRegularExpression(QStringLiteral("^([0-9a-f]{2}:){5}[0-9a-f]{2}$")).match(analyticsClientId).hasMatch());
    }

    void clientIdPieces()
    {
        const QByteArray routes =
            "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
            "wlan0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
            "eth0\t0001A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n"
            "eth0\t00000000\t0101A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
            "tun0\t00000000\t00000000\t0002\t0\t0\t1\t00000000\t0\t0\t0\n";
        QCOMPARE(defaultRouteInterface(routes), QStringLiteral("eth0"));  // lowest metric; tun0 is down
        QCOMPARE(defaultRouteInterface("Iface\tDestination\n"), QString());

        QCOMPARE(formatHardwareAddress(QStringLiteral("0A:1B:2C:3D:4E:5F")), QStringLiteral("0a:1b:2c:3d:4e:5f"));
        QCOMPARE(formatHardwareAddress(QStringLiteral("A:B:C")), QStringLiteral("0a:0b:0c:00:00:00"));
        QCOMPARE(formatHardwareAddress(QStringLiteral("00:00:00:00:00:00")), QString());
        QCOMPARE(formatHardwareAddress(QString()), QString());

        QCOMPARE(threePartVersion(QStringLiteral("22.04")), QStringLiteral("22.4.0"));
        QCOMPARE(threePartVersion(QStringLiteral("12")), QStringLiteral("12.0.0"));
        QCOMPARE(threePartVersion(QStringLiteral("6.1.0-13-amd64")), QStringLiteral("6.1.0"));
        QCOMPARE(threePartVersion(QStringLiteral("rolling")), QString());
    }

    void hitIsPostedAsAForm()
    {
        lg::test::LoopbackServer server;
        server.respond("/collect", {200, "", "text/plain"});
        lg::Settings::setValue(QStringLiteral("deployment/analyticsEndpoint"), server.url("/collect"));
        utmSource = QStringLiteral("a&b");
        sendAnalyticsEvent(QStringLiteral("install"), QStringLiteral("install"));
        QVERIFY(server.waitForRequests(1));
        const lg::test::HttpRequest &hit = server.requests.first();
        QCOMPARE(hit.method, QByteArray("POST"));
        QCOMPARE(hit.headers.value("content-type"), QByteArray("application/x-www-form-urlencoded"));
        QCOMPARE(hit.body, analyticsBody(QStringLiteral("install"), QStringLiteral("install")));
        QCOMPARE(QUrlQuery(QString::fromUtf8(hit.body)).queryItemValue(QStringLiteral("pal"), QUrl::FullyDecoded),
                 QStringLiteral("a&b"));
    }
};

LG_TEST(TestAnalytics)
#include "test_analytics.moc"
