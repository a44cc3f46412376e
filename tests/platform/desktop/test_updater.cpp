// The updater: version order, the feed, and downloads checked against it.
#include "platform/desktop/Alert.h"
#include "platform/desktop/Settings.h"
#include "platform/desktop/Updater.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/TestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QSignalSpy>

namespace {

const QString sparkleNamespace = QStringLiteral("http://www.andymatuschak.org/xml-namespaces/sparkle");

struct RecordingDelegate : lg::UpdaterDelegate
{
    QStringList calls;
    QString path;
    void willDownloadUpdate(lg::Updater *, const lg::AppcastItem &item, QNetworkRequest &) override
    {
        calls.append(QStringLiteral("will ") + item.version);
    }
    void didDownloadUpdate(lg::Updater *, const lg::AppcastItem &item, const QString &downloaded) override
    {
        calls.append(QStringLiteral("did ") + item.version);
        path = downloaded;
    }
};

QByteArray feed(const QString &version, const QString &url, qint64 length, const QByteArray &sha)
{
    // Plain literals: moc skips classes in files whose raw strings hold a double slash.
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                          "<rss version=\"2.0\" xmlns:sparkle=\"%5\" xmlns:lg=\"urn:lumengallery:appcast\">\n"
                          " <channel><title>Lumen Gallery</title>\n"
                          "  <item><title>Old</title>\n"
                          "   <enclosure url=\"%2\" length=\"%3\" type=\"application/octet-stream\""
                          " sparkle:version=\"0.9\" lg:sha256=\"%4\"/>\n"
                          "  </item>\n"
                          "  <item><title>Release</title>\n"
                          "   <sparkle:version>%1</sparkle:version>\n"
                          "   <enclosure url=\"%2\" length=\"%3\" type=\"application/octet-stream\""
                          " sparkle:shortVersionString=\"%1 (b)\" lg:sha256=\"%4\"/>\n"
                          "  </item>\n"
                          " </channel>\n"
                          "</rss>")
        .arg(version, url, QString::number(length), QString::fromLatin1(sha), sparkleNamespace)
        .toUtf8();
}

QStringList updateFolderEntries()
{
    return QDir(lg::Updater::downloadFolder()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
}

} // namespace

class TestUpdater : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        lg::Settings::remove(QStringLiteral("deployment/updateFeed"));
        QDir(lg::Updater::downloadFolder()).removeRecursively();
        lg::Alert::setResponder({});
    }

    void versionsCompareNumerically_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("expected");  // 2 means "not comparable"
        QTest::newRow("1.10 after 1.9") << "1.10" << "1.9" << 1;
        QTest::newRow("1.9 before 1.10") << "1.9" << "1.10" << -1;
        QTest::newRow("missing parts are 0") << "1.0" << "1" << 0;
        QTest::newRow("three parts") << "1.2.3" << "1.2" << 1;
        QTest::newRow("leading zero") << "1.02" << "1.2" << 0;
        QTest::newRow("two dots in a row") << "1..2" << "1.2" << 2;
        QTest::newRow("letters") << "1.2b" << "1.2" << 2;
        QTest::newRow("empty") << "" << "1.0" << 2;
    }
    void versionsCompareNumerically()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, expected);
        const std::optional<int> order = lg::compareVersions(a, b);
        QCOMPARE(order.value_or(2), expected);
    }

    void feedItemsNeedVersionAddressLengthAndChecksum()
    {
        const QByteArray sha(64, 'a');
        const QByteArray xml =
            QStringLiteral("<rss version=\"2.0\" xmlns:sparkle=\"%2\" xmlns:lg=\"urn:lumengallery:appcast\"><channel>"
                           "<item><sparkle:version>2.0</sparkle:version><lg:sha256>%1</lg:sha256>"
                           "<enclosure url=\"https://example.org/a.tar\" length=\"10\"/></item>"
                           "<item><enclosure url=\"https://example.org/b.tar\" length=\"10\" sparkle:version=\"3.0\"/></item>"
                           "<item><enclosure url=\"ftp://example.org/c.tar\" length=\"10\" sparkle:version=\"4.0\" lg:sha256=\"%1\"/></item>"
                           "<item><enclosure url=\"https://example.org/d.tar\" length=\"0\" sparkle:version=\"5.0\" lg:sha256=\"%1\"/></item>"
                           "<item><enclosure url=\"https://example.org/e.tar\" length=\"10\" sparkle:version=\"six\" lg:sha256=\"%1\"/></item>"
                           "</channel></rss>")
                .arg(QString::fromLatin1(sha.toUpper()), sparkleNamespace)
                .toUtf8();
        QString error;
        const QList<lg::AppcastItem> items = lg::parseAppcast(xml, &error);
        QVERIFY(error.isEmpty());
        QCOMPARE(items.size(), 1);
        QCOMPARE(items.first().version, QStringLiteral("2.0"));
        QCOMPARE(items.first().shortVersion, QStringLiteral("2.0"));
        QCOMPARE(items.first().sha256, sha);  // read in either case, kept in lower case
        QCOMPARE(items.first().length, qint64(10));

        QVERIFY(lg::parseAppcast("<rss><channel><item>", &error).isEmpty());
        QVERIFY(!error.isEmpty());
    }

    void newerReleaseIsDownloadedAndChecked_data()
    {
        QTest::addColumn<QString>("feedVersion");
        QTest::addColumn<QByteArray>("tampering");   // "byte": one byte changed, "tail": bytes added
        QTest::addColumn<bool>("downloaded");
        QTest::newRow("newer") << "1.10" << QByteArray() << true;
        QTest::newRow("same") << "1.9" << QByteArray() << false;
        QTest::newRow("older") << "1.8.9" << QByteArray() << false;
        QTest::newRow("bad checksum") << "1.10" << QByteArray("byte") << false;
        QTest::newRow("longer than the feed says") << "1.10" << QByteArray("tail") << false;
    }
    void newerReleaseIsDownloadedAndChecked()
    {
        QFETCH(QString, feedVersion);
        QFETCH(QByteArray, tampering);
        const bool corrupt = !tampering.isEmpty();
        QFETCH(bool, downloaded);

        lg::test::LoopbackServer server;
        const QByteArray release = QByteArray("release payload ").repeated(100);
        const QByteArray sha = QCryptographicHash::hash(release, QCryptographicHash::Sha256).toHex();
        QByteArray served = release;
        if (tampering == "byte")
            served[5] = 'X';
        else if (tampering == "tail")
            served += "trailing";
        server.respond("/release.tar.xz", {200, served, "application/octet-stream"});
        server.respond("/appcast.xml", {200, feed(feedVersion, server.url("/release.tar.xz"), release.size(), sha), "application/rss+xml"});
        lg::Settings::setValue(QStringLiteral("deployment/updateFeed"), server.url("/appcast.xml"));

        RecordingDelegate delegate;
        lg::Updater updater;
        updater.setCurrentVersion(QStringLiteral("1.9"));
        updater.setDelegate(&delegate);
        updater.setAutomaticallyDownloadsUpdates(true);
        QSignalSpy finished(&updater, &lg::Updater::finished);
        QSignalSpy failed(&updater, &lg::Updater::failed);
        updater.checkForUpdatesInBackground();
        QVERIFY(updater.isBusy());
        QVERIFY(finished.wait(5000));
        QVERIFY(!updater.isBusy());

        if (downloaded) {
            QCOMPARE(delegate.calls, QStringList({QStringLiteral("will 1.10"), QStringLiteral("did 1.10")}));
            QCOMPARE(delegate.path, lg::Updater::downloadFolder() + QStringLiteral("/release.tar.xz"));
            QFile file(delegate.path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), release);
            QCOMPARE(updateFolderEntries(), QStringList{QStringLiteral("release.tar.xz")});
        } else if (corrupt) {
            // Fetched, then thrown away: nothing is left and nothing is installed.
            QCOMPARE(server.requestsTo("/release.tar.xz").size(), 1);
            QCOMPARE(delegate.calls, QStringList{QStringLiteral("will 1.10")});
            QCOMPARE(failed.size(), 1);
            QVERIFY(updateFolderEntries().isEmpty());
        } else {
            QVERIFY(delegate.calls.isEmpty());
            QCOMPARE(server.requestsTo("/release.tar.xz").size(), 0);
            QVERIFY(updateFolderEntries().isEmpty());
        }
    }

    void withoutAutomaticDownloadsTheUserIsAsked()
    {
        lg::test::LoopbackServer server;
        const QByteArray release("x");
        server.respond("/r.bin", {200, release, "application/octet-stream"});
        server.respond("/feed", {200, feed(QStringLiteral("2.0"), server.url("/r.bin"), 1,
                                           QCryptographicHash::hash(release, QCryptographicHash::Sha256).toHex()),
                                 "text/xml"});
        lg::Alert::setResponder([](const lg::AlertSpec &) { return 1; });  // "Remind Me Later"

        RecordingDelegate delegate;
        lg::Updater updater;
        updater.setFeedURL(QUrl(server.url("/feed")));
        updater.setCurrentVersion(QStringLiteral("1.0"));
        updater.setDelegate(&delegate);
        QSignalSpy finished(&updater, &lg::Updater::finished);
        updater.checkForUpdatesInBackground();
        QVERIFY(finished.wait(5000));
        QCOMPARE(lg::Alert::shownAlerts().size(), 1);
        QCOMPARE(lg::Alert::shownAlerts().first().buttons.first(), QStringLiteral("Install Update"));
        QVERIFY(delegate.calls.isEmpty());
        QCOMPARE(server.requestsTo("/r.bin").size(), 0);
        lg::Alert::setResponder({});
    }

    void withoutAFeedNothingIsChecked()
    {
        lg::Updater updater;
        QVERIFY(updater.feedURL().isEmpty());  // the shipped configuration has none
        QVERIFY(!updater.automaticallyChecksForUpdates());
        QVERIFY(!updater.automaticallyDownloadsUpdates());
        QSignalSpy finished(&updater, &lg::Updater::finished);
        updater.checkForUpdatesInBackground();
        updater.checkForUpdates();
        QVERIFY(!updater.isBusy());
        QCOMPARE(finished.size(), 0);
    }
};

LG_TEST(TestUpdater)
#include "test_updater.moc"
