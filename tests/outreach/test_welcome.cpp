// The welcome screen: the recommended-application card, Get Started and the
// newsletter sign-up with its sheets.
#include "app/Essentials.h"
#include "app/AppDelegate.h"
#include "app/FileHandover.h"
#include "app/Startup.h"
#include "app/homeVc.h"
#include "app/mainWindowController.h"
#include "app/mainvc.h"
#include "app/splitvc.h"
#include "browser/ShownItemsModel.h"
#include "browser/ViewController.h"
#include "controls/PopoverMaxTypeVC.h"
#include "controls/ZLFlatButton.h"
#include "outreach/PromotionCatalogue.h"
#include "outreach/StartupVc.h"
#include "platform/desktop/Alert.h"
#include "platform/desktop/Paths.h"
#include "platform/desktop/Settings.h"
#include "platform/runtime/ControllerRegistry.h"
#include "platform/runtime/Timer.h"
#include "sidebar/DropView.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/ScreenModeNames.h"
#include "tests/support/TestSupport.h"
#include "viewer/viewimagevc.h"

#include <QAbstractButton>
#include <QColorDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QPushButton>
#include <QResizeEvent>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSplitter>
#include <QToolTip>
#include <QUrlQuery>

namespace {

const QString newsletterPath = QStringLiteral("/wp-content/plugins/newsletter-api/add.php/");

// A catalogue naming entries 7 (candidate 1) and 2 (candidate 2), and entry 20
// without a name.
QString writeCatalogue()
{
    const QString folder = lg::test::freshFolder(QStringLiteral("catalogue"));
    QImage icon(16, 16, QImage::Format_RGB32);
    icon.fill(Qt::red);
    icon.save(folder + QStringLiteral("/seven.png"));
    return lg::test::writeFile(folder + QStringLiteral("/catalogue.json"), "{ \"entries\": ["
        " { \"number\": 7, \"name\": \"Seven\", \"icon\": \"seven.png\", \"page\": \"https://seven.example/app\","
        "   \"installedName\": \"lg-test-seven\", \"features\": [\"one\", \"two\", \"three\", \"four\"] },"
        " { \"number\": 2, \"name\": \"Two\", \"page\": \"https://two.example/\", \"features\": [\"a\", \"b\", \"c\", \"d\"] },"
        " { \"number\": 20, \"name\": \"\", \"page\": \"https://nameless.example/\" } ] }");
}

void markInstalled(const QString &name)
{
    lg::test::writeFile(lg::Paths::dataHome() + QStringLiteral("/applications/") + name + QStringLiteral(".desktop"),
                        "[Desktop Entry]\nType=Application\nName=x\nExec=x\n");
}

} // namespace

class TestWelcome : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        resetSharedState();
        QFile::remove(lg::Settings::filePath());
        lg::Settings::reload();
        QDir(lg::Paths::dataHome() + QStringLiteral("/applications")).removeRecursively();
        lg::Alert::setResponder([](const lg::AlertSpec &) { return 0; });
    }
    void cleanupTestCase()
    {
        lg::Alert::setResponder({});
        resetSharedState();
    }

    void firstUninstalledCandidateIsRecommended()
    {
        lg::Settings::setValue(QStringLiteral("deployment/promotionCatalogue"), writeCatalogue());
        {
            StartupVc screen;
            QCOMPARE(screen.lbltitlebox->text(), QStringLiteral("Recommended App: Seven"));
            QCOMPARE(screen.lbl1box->text(), QStringLiteral("\u2714\uFE0F one"));
            QCOMPARE(screen.lbl4box->text(), QStringLiteral("\u2714\uFE0F four"));
            QVERIFY(!screen.lbl4box->isHidden());
            QCOMPARE(screen.apppath, QStringLiteral("https://seven.example/app?utm_source=lg"));
            QVERIFY(screen.btnappstore->isHidden());
            QVERIFY(!screen.btnoutsideappstore->isHidden());
            QCOMPARE(screen.imgicon->pixmap().width(), 96);
        }
        // Installed under its desktop-entry name: the next candidate shows.
        markInstalled(QStringLiteral("lg-test-seven"));
        {
            StartupVc screen;
            QCOMPARE(screen.lbltitlebox->text(), QStringLiteral("Recommended app: Two"));
            QCOMPARE(screen.apppath, QStringLiteral("https://two.example/?utm_source=lg"));
        }
        QVERIFY(installedAppFlags[6]);
        QVERIFY(!installedAppFlags[1]);
        QVERIFY(installedAppFlags[19]);  // no name: never offered
        // Installed under the name as the entry has no desktop-entry name of its own.
        markInstalled(QStringLiteral("Two"));
        StartupVc screen;
        QVERIFY(screen.lbltitlebox->isHidden());
        QVERIFY(screen.apppath.isEmpty());
        lg::Settings::remove(QStringLiteral("deployment/promotionCatalogue"));
    }

    void addressesAreValidatedBeforeSending_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("title");
        QTest::newRow("empty") << "" << "Email cannot be blank";
        QTest::newRow("blanks only") << "   " << "Invalid Email";
        QTest::newRow("blank before") << " ann@mail.de" << "Invalid Email";
        QTest::newRow("blank after") << "ann@mail.de " << "Invalid Email";
        QTest::newRow("one-letter last label") << "ann@mail.d" << "Invalid Email";
        QTest::newRow("no at sign") << "ann.mail.de" << "Invalid Email";
        QTest::newRow("valid") << "ann.lee+news@mail.de" << "";
    }
    void addressesAreValidatedBeforeSending()
    {
        QFETCH(QString, typed);
        QFETCH(QString, title);
        lg::test::LoopbackServer server;
        server.respond(newsletterPath.toUtf8(), {200, "3", "application/json"});
        lg::Settings::setValue(QStringLiteral("deployment/newsletterEndpoint"), server.baseUrl());
        StartupVc *screen = welcomeScreen();
        screen->txtfield->setText(typed);
        screen->btnSubscribeButton->click();
        if (title.isEmpty()) {
            QVERIFY(server.waitForRequests(1));
            QVERIFY(lg::Alert::shownAlerts().isEmpty());
        } else {
            QCOMPARE(lg::Alert::shownAlerts().size(), 1);
            QCOMPARE(lg::Alert::shownAlerts().first().title, title);
            QCOMPARE(lg::Alert::shownAlerts().first().text, QStringLiteral("Please enter a valid Email address"));
            QCOMPARE(lg::Alert::shownAlerts().first().buttons, QStringList{QStringLiteral("OK")});
            // OK empties the field.
            QTRY_VERIFY(screen->txtfield->text().isEmpty());
            QVERIFY(server.requests.isEmpty());
        }
        lg::Settings::remove(QStringLiteral("deployment/newsletterEndpoint"));
    }

    void requestCarriesBase64Values()
    {
        lg::test::LoopbackServer server;
        server.respond(newsletterPath.toUtf8(), {200, "\"0\"", "application/json"});
        lg::Settings::setValue(QStringLiteral("deployment/newsletterEndpoint"), server.baseUrl() + QStringLiteral("/"));
        const QString email = QStringLiteral("me@lumen.io");  // its Base64 ends in "="
        welcomeScreen()->txtfield->setText(email);
        welcomeScreen()->btnSubscribe();
        QVERIFY(server.waitForRequests(1));
        const lg::test::HttpRequest request = server.requests.first();
        QCOMPARE(request.method, QByteArray("GET"));
        QCOMPARE(QString::fromUtf8(request.path), newsletterPath);
        QCOMPARE(request.query, QByteArray("nl=3&nk=&ne=bWVAbHVtZW4uaW8%3D&nn="));
        const QUrlQuery query(QString::fromUtf8(request.query));
        QCOMPARE(QByteArray::fromBase64(query.queryItemValue(QStringLiteral("ne"), QUrl::FullyDecoded).toLatin1()),
                 email.toUtf8());
        lg::Settings::remove(QStringLiteral("deployment/newsletterEndpoint"));
    }

    void base64SignsSurviveTheAddress()
    {
        lg::Settings::setValue(QStringLiteral("deployment/newsletterEndpoint"), QStringLiteral("news.example"));
        // "?>~" is "Pz5+" and "\xff\xff" is "//8=" in Base64.
        const QString address = StartupVc::newsletterAddress(QStringLiteral("?>~") + QString::fromLatin1("\xff"));
        QVERIFY(address.startsWith(QStringLiteral("http://news.example/wp-content/plugins/newsletter-api/add.php/?nl=3&nk=")));
        const QUrl url = QUrl::fromEncoded(address.toUtf8(), QUrl::StrictMode);
        QVERIFY(url.isValid());
        const QString ne = QUrlQuery(url).queryItemValue(QStringLiteral("ne"), QUrl::FullyDecoded);
        QCOMPARE(ne, QString::fromLatin1((QStringLiteral("?>~") + QString::fromLatin1("\xff")).toUtf8().toBase64()));
        QVERIFY(ne.contains(QLatin1Char('+')));
        lg::Settings::remove(QStringLiteral("deployment/newsletterEndpoint"));
        QVERIFY(StartupVc::newsletterAddress(QStringLiteral("a@b.co")).isEmpty());  // nothing configured
    }

    void repliesShowTheirSheets_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << QByteArray("0") << "Successfully Subscribed"
                           << "You have Successfully Subscribed for our Newslatter.";
        QTest::newRow("1") << QByteArray(" 1\n") << "Already Subscribed"
                           << "The email address \"changed@mail.de\" already has an Active Subscription.";
        QTest::newRow("2") << QByteArray("2") << "Unknown error"
                           << "There was an error in processing your request. Please try again later.";
        QTest::newRow("3") << QByteArray("3") << "" << "";
        QTest::newRow("string") << QByteArray("\"0\"") << "" << "";
        QTest::newRow("object") << QByteArray("{\"status\":0}") << "" << "";
        QTest::newRow("two values") << QByteArray("0,1") << "" << "";
        QTest::newRow("not JSON") << QByteArray("<html>") << "" << "";
        QTest::newRow("fraction") << QByteArray("0.5") << "" << "";
    }
    void repliesShowTheirSheets()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, title);
        QFETCH(QString, text);
        lg::test::LoopbackServer server;
        server.respond(newsletterPath.toUtf8(), {200, reply, "application/json"});
        lg::Settings::setValue(QStringLiteral("deployment/newsletterEndpoint"), server.baseUrl());
        StartupVc *screen = welcomeScreen();
        QNetworkAccessManager *network = screen->findChild<QNetworkAccessManager *>();
        QVERIFY(network);
        QSignalSpy handled(network, &QNetworkAccessManager::finished);
        screen->txtfield->setText(QStringLiteral("ann@mail.de"));
        screen->btnSubscribe();
        // The already-subscribed text names what the field holds when the reply comes.
        screen->txtfield->setText(QStringLiteral("changed@mail.de"));
        QVERIFY(server.waitForRequests(1));
        if (title.isEmpty()) {
            // The reply has been handled once the network manager reports it: no sheet.
            QVERIFY(handled.wait(5000));
            QVERIFY(lg::Alert::shownAlerts().isEmpty());
            QCOMPARE(screen->txtfield->text(), QStringLiteral("changed@mail.de"));
        } else {
            QTRY_COMPARE(lg::Alert::shownAlerts().size(), 1);
            QCOMPARE(lg::Alert::shownAlerts().first().title, title);
            QCOMPARE(lg::Alert::shownAlerts().first().text, text);
            QTRY_VERIFY(screen->txtfield->text().isEmpty());
        }
        lg::Settings::remove(QStringLiteral("deployment/newsletterEndpoint"));
    }

    void aNewsletterCodeCountsWhateverTheHttpStatus()
    {
        const auto hideWindow = qScopeGuard([] {
            mainWindow()->setWindowState(Qt::WindowNoState);
            mainWindow()->hide();
        });
        lg::Alert::setResponder([](const lg::AlertSpec &) { return 0; });
        lg::test::LoopbackServer server;
        server.respond("/wp-content/plugins/newsletter-api/add.php/", {500, "1", "application/json"});
        lg::Settings::setValue(QStringLiteral("deployment/newsletterEndpoint"), server.baseUrl());
        StartupVc *screen = welcomeScreen();
        screen->txtfield->setText(QStringLiteral("ann@mail.de"));
        screen->btnSubscribe();
        QTRY_COMPARE(lg::Alert::shownAlerts().size(), 1);
        QCOMPARE(lg::Alert::shownAlerts().first().title, QStringLiteral("Already Subscribed"));
        lg::Settings::remove(QStringLiteral("deployment/newsletterEndpoint"));
        lg::Alert::setResponder({});
    }
};

LG_TEST(TestWelcome)
#include "test_welcome.moc"
