// The launch sequence: first and later runs, update policy and version
// bookkeeping, the restart after an update and the Edit menu's routing.
#include "app/AppDelegate.h"
#include "app/Essentials.h"
#include "app/FileHandover.h"
#include "app/LaunchAtLogin.h"
#include "app/Startup.h"
#include "app/mainvc.h"
#include "app/homeVc.h"
#include "app/mainWindowController.h"
#include "app/preferencesWindowController.h"
#include "model/FolderMonitor.h"
#include "outreach/Analytics.h"
#include "outreach/StartupVc.h"
#include "platform/desktop/Paths.h"
#include "platform/desktop/Settings.h"
#include "platform/runtime/ControllerRegistry.h"
#include "platform/runtime/Timer.h"
#include "tests/support/CaptureStdout.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/ScreenModeNames.h"
#include "tests/support/TestSupport.h"
#include "viewer/viewimagevc.h"

#include <QAction>
#include <QClipboard>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QGuiApplication>
#include <QLocalSocket>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QUrlQuery>
#include <QtTest>
#include <algorithm>
#include <memory>
#include <vector>

namespace {

const QByteArray emptyFeed =
    "<rss version=\"2.0\"><channel><title>Lumen Gallery</title></channel></rss>";

QString eventCategory(const lg::test::HttpRequest &request)
{
    return QUrlQuery(QString::fromUtf8(request.body)).queryItemValue(QStringLiteral("ec"), QUrl::FullyDecoded);
}

QString eventAction(const lg::test::HttpRequest &request)
{
    return QUrlQuery(QString::fromUtf8(request.body)).queryItemValue(QStringLiteral("ea"), QUrl::FullyDecoded);
}

struct Launch
{
    lg::test::LoopbackServer server;
    AppDelegate delegate;
    QList<std::pair<QString, QStringList>> started;
    int terminations = 0;

    Launch()
    {
        server.respond("/appcast.xml", {200, emptyFeed, "application/rss+xml"});
        server.respond("/collect", {200, "", "text/plain"});
        lg::Settings::setValue(QStringLiteral("deployment/updateFeed"), server.url("/appcast.xml"));
        lg::Settings::setValue(QStringLiteral("deployment/analyticsEndpoint"), server.url("/collect"));
        delegate.relaunchRunner = [this](const QString &program, const QStringList &arguments) {
            started.append({program, arguments});
            return true;
        };
        delegate.terminator = [this] { ++terminations; };
    }
    // Sends a last hit and waits for it, so that any hit sent before it had its chance.
    QList<lg::test::HttpRequest> hitsUntilMarker()
    {
        sendAnalyticsEvent(QStringLiteral("marker"), QStringLiteral("marker"));
        const bool arrived = QTest::qWaitFor([this] {
            for (const auto &r : server.requestsTo("/collect"))
                if (eventCategory(r) == QLatin1String("marker"))
                    return true;
            return false;
        }, 5000);
        if (!arrived)
            qWarning("the marker hit did not arrive");
        QList<lg::test::HttpRequest> hits;
        for (const auto &r : server.requestsTo("/collect"))
            if (eventCategory(r) != QLatin1String("marker"))
                hits.append(r);
        return hits;
    }
};

} // namespace

class TestLaunch : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { m_version = QCoreApplication::applicationVersion(); }
    void init()
    {
        resetSharedState();
        QFile::remove(lg::Settings::filePath());
        lg::Settings::reload();
        QFile::remove(LaunchOnStartup::entryPath());
        QCoreApplication::setApplicationVersion(QStringLiteral("1.10"));
    }
    void cleanupTestCase()
    {
        resetSharedState();
        QCoreApplication::setApplicationVersion(m_version);
    }

    void firstRunShowsTheWelcomeScreen()
    {
        lg::FakeClock clock;
        Launch launch;
        launch.delegate.applicationDidFinishLaunching();

        QVERIFY(launch.delegate.appstart);
        QCOMPARE(lg::Settings::intValue(QStringLiteral("autocheckforupdate")), std::optional<int>(1));
        QCOMPARE(lg::Settings::stringValue(QStringLiteral("lastVersion")), std::optional<QString>(QStringLiteral("1.10")));
        QCOMPARE(lg::Settings::boolValue(QStringLiteral("startstatus")), std::optional<bool>(true));
        QCOMPARE(LaunchOnStartup::programOfEntry(LaunchOnStartup::entryPath()),
                 std::optional<QString>(QCoreApplication::applicationFilePath()));

        QCOMPARE(ScreenMode(currentScreenMode), ScreenWelcome);
        QCOMPARE(mainWindow()->contentViewController(), static_cast<QWidget *>(welcomeScreen()));
        QVERIFY(!mainWindow()->isResizable());
        QVERIFY(!lg::Settings::contains(firstRunKey));

        // No update check on the first run, however long it lasts.
        clock.advance(60 * 1000);
        QVERIFY(!launch.delegate.updater->isBusy());
        QVERIFY(!launch.delegate.updater->automaticallyChecksForUpdates());
        QVERIFY(!launch.delegate.updater->automaticallyDownloadsUpdates());

        const QList<lg::test::HttpRequest> hits = launch.hitsUntilMarker();
        QCOMPARE(hits.size(), 1);
        QCOMPARE(eventCategory(hits.first()), QStringLiteral("install"));
        QCOMPARE(eventAction(hits.first()), QStringLiteral("install"));
        QVERIFY(launch.server.requestsTo("/appcast.xml").isEmpty());

        // Only Get Started ends the first run.
        welcomeScreen()->btnGetStartedButton->click();
        QCOMPARE(lg::Settings::intValue(firstRunKey), std::optional<int>(1));
        QCOMPARE(ScreenMode(currentScreenMode), ScreenHome);
        QCOMPARE(mainWindow()->contentViewController(), static_cast<QWidget *>(homeScreen()));
    }

    // Files that started the application are its first screen: the home
    // screen, which they would replace at once, is never built; without files
    // it is.
    void filesThatStartTheApplicationSkipTheHomeScreen()
    {
        lg::FakeClock clock;
        lg::Settings::setValue(firstRunKey, 1);
        const QString photo = lg::test::freshFolder(QStringLiteral("started-with")) + QStringLiteral("/a.jpg");
        QVERIFY(QImage(8, 8, QImage::Format_RGB32).save(photo, "jpeg"));
        {
            Launch launch;
            scheduleLaunch(launch.delegate, {photo});
            QTRY_VERIFY(launch.delegate.appstart);
            QVERIFY(mainWindow()->isVisible());   // at once; the files fill it once it is painted
            QTRY_VERIFY(lg::ControllerRegistry::existing(QStringLiteral("mainvc")));
            QVERIFY(!lg::ControllerRegistry::existing(QStringLiteral("homeVc")));
            QCOMPARE(mainWindow()->contentViewController(), static_cast<QWidget *>(contentHub()));
            QVERIFY(mainWindow()->isVisible());
            QVERIFY(mainWindow()->isResizable());
            QVERIFY(ScreenMode(currentScreenMode) != ScreenHome);
        }
        resetSharedState();
        Launch launch;
        scheduleLaunch(launch.delegate, {});
        QTRY_VERIFY(launch.delegate.appstart);
        QCOMPARE(ScreenMode(currentScreenMode), ScreenHome);
        QCOMPARE(mainWindow()->contentViewController(), static_cast<QWidget *>(homeScreen()));
    }

    // Work kept from the start waits for the first painted window, and for
    // no longer than its limit when no window shows; a quit before drops it.
    void workAfterTheFirstFrameWaitsForAPaintedWindow()
    {
        lg::FakeClock clock;
        QObject context;
        int runs = 0;
        afterFirstFrame(&context, [&runs] { ++runs; });
        QCoreApplication::processEvents();
        QCOMPARE(runs, 0);
        QWidget window;
        window.resize(40, 30);
        window.show();
        QTRY_COMPARE(runs, 1);
        window.hide();
        window.show();
        QTest::qWait(20);
        QCOMPARE(runs, 1);   // once

        int late = 0;
        afterFirstFrame(&context, [&late] { ++late; }, 500);
        clock.advance(499);
        QCOMPARE(late, 0);
        clock.advance(1);
        QCOMPARE(late, 1);

        int dropped = 0;
        {
            QObject gone;
            afterFirstFrame(&gone, [&dropped] { ++dropped; }, 10);
        }
        clock.advance(10);
        QCOMPARE(dropped, 0);
    }

    // Any value under the key means a later run: the user's update choice and
    // the version seen stay, and no "install" is sent. Only the Int the welcome
    // screen stores skips that screen.
    void anyFirstRunValueMeansALaterRun_data()
    {
        QTest::addColumn<QVariant>("marker");
        QTest::addColumn<bool>("welcome");
        QTest::newRow("true") << QVariant(true) << true;
        QTest::newRow("the text 1") << QVariant(QStringLiteral("1")) << true;
        QTest::newRow("a fraction") << QVariant(1.5) << true;
        QTest::newRow("an empty list") << QVariant(QStringList()) << true;
        QTest::newRow("0") << QVariant(0) << false;
        QTest::newRow("1") << QVariant(1) << false;
    }
    void anyFirstRunValueMeansALaterRun()
    {
        QFETCH(QVariant, marker);
        QFETCH(bool, welcome);
        lg::Settings::setValue(firstRunKey, marker);
        lg::Settings::setValue(QStringLiteral("autocheckforupdate"), 0);
        lg::Settings::setValue(QStringLiteral("lastVersion"), QStringLiteral("1.9"));
        const QVariant stored = lg::Settings::value(firstRunKey);
        lg::FakeClock clock;
        Launch launch;
        launch.delegate.applicationDidFinishLaunching();

        QCOMPARE(lg::Settings::intValue(QStringLiteral("autocheckforupdate")), std::optional<int>(0));
        QCOMPARE(lg::Settings::value(firstRunKey), stored);
        QCOMPARE(ScreenMode(currentScreenMode), welcome ? ScreenWelcome : ScreenHome);
        // The plain check the user chose runs as on every later run.
        clock.advance(AppDelegate::updateCheckDelayMs);
        QVERIFY(launch.delegate.updater->automaticallyChecksForUpdates());
        QVERIFY(!launch.delegate.updater->automaticallyDownloadsUpdates());
        // A later run's bookkeeping: 1.9 to 1.10 is an update, not an install.
        QCOMPARE(lg::Settings::stringValue(QStringLiteral("lastVersion")), std::optional<QString>(QStringLiteral("1.10")));
        const QList<lg::test::HttpRequest> hits = launch.hitsUntilMarker();
        QCOMPARE(hits.size(), 1);
        QCOMPARE(eventCategory(hits.first()), QStringLiteral("updated"));
    }

    void laterRunAppliesTheUpdatePolicy_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<bool>("checks");
        QTest::addColumn<bool>("downloads");
        QTest::addColumn<int>("storedAfter");
        QTest::newRow("0: check only") << QVariant(0) << true << false << 0;
        QTest::newRow("1: download and install") << QVariant(1) << true << true << 1;
        QTest::newRow("2: nothing") << QVariant(2) << false << false << 2;
        QTest::newRow("absent") << QVariant() << true << true << 1;
        QTest::newRow("not an Int") << QVariant(QStringLiteral("0")) << true << true << 1;
    }
    void laterRunAppliesTheUpdatePolicy()
    {
        QFETCH(QVariant, stored);
        QFETCH(bool, checks);
        QFETCH(bool, downloads);
        QFETCH(int, storedAfter);
        lg::Settings::setValue(firstRunKey, 1);
        lg::Settings::setValue(QStringLiteral("lastVersion"), QStringLiteral("1.10"));
        if (stored.isValid())
            lg::Settings::setValue(QStringLiteral("autocheckforupdate"), stored);

        lg::FakeClock clock;
        Launch launch;
        launch.delegate.applicationDidFinishLaunching();
        QCOMPARE(ScreenMode(currentScreenMode), ScreenHome);
        QCOMPARE(mainWindow()->contentViewController(), static_cast<QWidget *>(homeScreen()));
        QCOMPARE(lg::Settings::intValue(QStringLiteral("autocheckforupdate")), std::optional<int>(storedAfter));

        lg::Updater *updater = launch.delegate.updater;
        clock.advance(AppDelegate::updateCheckDelayMs - 1);
        QVERIFY(!updater->isBusy());
        clock.advance(1);
        QCOMPARE(updater->isBusy(), checks);
        QCOMPARE(updater->automaticallyChecksForUpdates(), checks);
        QCOMPARE(updater->automaticallyDownloadsUpdates(), downloads);
        if (checks) {
            QVERIFY(launch.server.waitForRequests(1));
            QCOMPARE(launch.server.requestsTo("/appcast.xml").size(), 1);
        }
        // Same version as last time: no analytics hit.
        QVERIFY(launch.hitsUntilMarker().isEmpty());
    }

    void newerVersionSendsUpdated_data()
    {
        QTest::addColumn<QString>("last");
        QTest::addColumn<QString>("running");
        QTest::addColumn<bool>("updated");
        QTest::newRow("1.9 to 1.10") << "1.9" << "1.10" << true;
        QTest::newRow("1.9.9 to 1.10") << "1.9.9" << "1.10" << true;
        QTest::newRow("2.0 to 1.10") << "2.0" << "1.10" << false;
        QTest::newRow("1.10 to 1.10.0") << "1.10" << "1.10.0" << false;
        QTest::newRow("not a number") << "1.x" << "1.10" << false;
    }
    void newerVersionSendsUpdated()
    {
        QFETCH(QString, last);
        QFETCH(QString, running);
        QFETCH(bool, updated);
        QCoreApplication::setApplicationVersion(running);
        lg::Settings::setValue(firstRunKey, 1);
        lg::Settings::setValue(QStringLiteral("autocheckforupdate"), 2);
        lg::Settings::setValue(QStringLiteral("lastVersion"), last);

        Launch launch;
        launch.delegate.applicationDidFinishLaunching();
        const QList<lg::test::HttpRequest> hits = launch.hitsUntilMarker();
        QCOMPARE(lg::Settings::stringValue(QStringLiteral("lastVersion")).value_or(QString()), updated ? running : last);
        if (updated) {
            QCOMPARE(hits.size(), 1);
            QCOMPARE(eventCategory(hits.first()), QStringLiteral("updated"));
            QCOMPARE(eventAction(hits.first()), running);
        } else {
            QVERIFY(hits.isEmpty());
        }
    }

    void launchAtLoginFollowsTheSetting()
    {
        // Off: an entry of this program from earlier is taken away.
        setLaunchAtLogin(true, QUrl::fromLocalFile(QCoreApplication::applicationFilePath()));
        QVERIFY(QFile::exists(LaunchOnStartup::entryPath()));
        lg::Settings::setValue(QStringLiteral("startstatus"), false);
        lg::Settings::setValue(firstRunKey, 1);
        lg::Settings::setValue(QStringLiteral("autocheckforupdate"), 2);
        Launch launch;
        launch.delegate.applicationDidFinishLaunching();
        QVERIFY(!QFile::exists(LaunchOnStartup::entryPath()));
        QCOMPARE(lg::Settings::boolValue(QStringLiteral("startstatus")), std::optional<bool>(false));
    }

    void automaticInstallRunsFromFeedToRestart()
    {
        lg::Settings::setValue(firstRunKey, 1);
        lg::Settings::setValue(QStringLiteral("autocheckforupdate"), 1);
        lg::FakeClock clock;
        Launch launch;
        const QByteArray release("new release");
        launch.server.respond("/r.bin", {200, release, "application/octet-stream"});
        launch.server.respond(
            "/appcast.xml",
            {200,
             QStringLiteral("<rss version=\"2.0\" xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\""
                            " xmlns:lg=\"urn:lumengallery:appcast\"><channel><item>"
                            "<enclosure url=\"%1\" length=\"%2\" sparkle:version=\"1.11\" lg:sha256=\"%3\"/>"
                            "</item></channel></rss>")
                 .arg(launch.server.url("/r.bin"))
                 .arg(release.size())
                 .arg(QString::fromLatin1(QCryptographicHash::hash(release, QCryptographicHash::Sha256).toHex()))
                 .toUtf8(),
             "application/rss+xml"});
        launch.delegate.applicationDidFinishLaunching();
        QSignalSpy downloaded(launch.delegate.updater, &lg::Updater::updateDownloaded);
        clock.advance(AppDelegate::updateCheckDelayMs);
        QVERIFY(downloaded.wait(5000));
        clock.advance(AppDelegate::terminateDelayMs - 1);
        QCOMPARE(launch.terminations, 0);
        clock.advance(1);
        QCOMPARE(launch.terminations, 1);
        QVERIFY(launch.started.isEmpty());  // not before this instance has ended
        launch.delegate.relaunchIfPending();
        launch.delegate.relaunchIfPending();
        QCOMPARE(launch.started.size(), 1);   // once, the program itself, without a shell
        QCOMPARE(launch.started.first().first, QCoreApplication::applicationFilePath());
        QVERIFY(launch.started.first().second.isEmpty());
    }

    void editMenuIsRoutedByScreenMode()
    {
        lg::Settings::setValue(firstRunKey, 1);
        lg::Settings::setValue(QStringLiteral("autocheckforupdate"), 2);
        Launch launch;
        launch.delegate.applicationDidFinishLaunching();
        QAction *copy = mainWindow()->menuBar()->findChild<QAction *>(QStringLiteral("menuItem_copy"));
        QVERIFY(copy);

        const QString file = lg::test::writeFile(lg::test::freshFolder(QStringLiteral("copy")) + QStringLiteral("/a.jpg"));
        InitialDirectory item;
        item.url = QUrl::fromLocalFile(file);
        item.file = Metadata{QDateTime(), 1, QUrl::fromLocalFile(file), QDateTime()};
        itemList = {item};
        selectedItemIndex = 0;
        viewerItemURL = QUrl::fromLocalFile(file);   // the file the viewer shows

        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        currentScreenMode = ScreenCollage;
        copy->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
        QVERIFY(copiedURLs.isEmpty());

        currentScreenMode = ScreenViewer;
        copy->trigger();
        QCOMPARE(copiedURLs, QList<QUrl>{QUrl::fromLocalFile(file)});
        QCOMPARE(QGuiApplication::clipboard()->mimeData()->urls(), QList<QUrl>{QUrl::fromLocalFile(file)});

        // A stale selection copies nothing.
        copiedURLs.clear();
        selectedItemIndex = 5;
        currentScreenMode = ScreenFullImage;
        copy->trigger();
        QVERIFY(copiedURLs.isEmpty());
    }

private:
    QString m_version;

private Q_SLOTS:
    void launchAtLoginLeavesAnotherCopysEntryAlone()
    {
        const QByteArray foreignText = "[Desktop Entry]\nType=Application\nExec=\"/opt/elsewhere/lumengallery\"\n";
        const QString foreign = lg::test::writeFile(lg::Paths::autostart() + QStringLiteral("/lumengallery.desktop"), foreignText);
        const QUrl app = QUrl::fromLocalFile(QCoreApplication::applicationFilePath());
        QVERIFY(LaunchOnStartup::entryFileName(QStringLiteral("/opt/elsewhere/lumengallery")) != LaunchOnStartup::entryFileName());

        setLaunchAtLogin(true, app);
        QCOMPARE(lg::test::readAll(foreign), foreignText);
        const std::optional<QString> ours = loginItemReferences(app).existingItem;
        QVERIFY(ours && *ours != foreign);
        QCOMPARE(LaunchOnStartup::programOfEntry(*ours), std::optional<QString>(QCoreApplication::applicationFilePath()));

        setLaunchAtLogin(false, app);
        QVERIFY(!QFile::exists(*ours));
        QCOMPARE(lg::test::readAll(foreign), foreignText);

        // An entry of ours from an earlier version, under the plain name, is still found.
        QVERIFY(QFile::remove(foreign));
        lg::test::writeFile(foreign, "[Desktop Entry]\nType=Application\nExec=" + QFile::encodeName(LaunchOnStartup::execValue(app.toLocalFile())) + "\n");
        QCOMPARE(loginItemReferences(app).existingItem, std::optional<QString>(foreign));
        setLaunchAtLogin(false, app);
        QVERIFY(!QFile::exists(foreign));
    }
};

LG_TEST(TestLaunch)
#include "test_launch.moc"
