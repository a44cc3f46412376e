// The home screen: the saved roots and the continue link, adding folders with
// the home-folder test and its rejection sheet, adding Photos libraries, and the
// hand-over to the content hub.
#include "app/Essentials.h"
#include "app/homeVc.h"
#include "app/mainWindowController.h"
#include "app/mainvc.h"
#include "browser/GridView.h"
#include "browser/ViewController.h"
#include "browser/thumbnailvc.h"
#include "collage/collagevc.h"
#include "controls/ZLFlatButton.h"
#include "model/FolderMonitor.h"
#include "app/Saver.h"
#include "platform/desktop/Alert.h"
#include "platform/desktop/Panels.h"
#include "platform/desktop/Paths.h"
#include "platform/desktop/Settings.h"
#include "platform/runtime/Timer.h"
#include "tests/support/CaptureStdout.h"
#include "tests/support/Fixtures.h"
#include "tests/support/ScreenModeNames.h"
#include "tests/support/Seams.h"
#include "tests/support/TestSupport.h"
#include "viewer/editImagevc.h"
#include "viewer/viewimagevc.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSplitter>
#include <QStyleHints>
#include <QTemporaryDir>
#include <QToolButton>

namespace {

const QString savedRoots = QStringLiteral("arrPaths");

QList<QUrl> urls(const QStringList &paths)
{
    QList<QUrl> list;
    for (const QString &path : paths)
        list.append(QUrl::fromLocalFile(path));
    return list;
}

homeVc *showHome()
{
    mainWindow()->showhomevc();
    return homeScreen();
}

bool hubShows()
{
    return mainWindow()->contentViewController() == static_cast<QWidget *>(contentHub());
}

} // namespace

class TestHome : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        resetSharedState();
        lg::Settings::remove(savedRoots);
        lg::Alert::setResponder([](const lg::AlertSpec &) { return 0; });
        lg::Alert::clearShownAlerts();
        lg::Panels::setOpenResponder({});
    }
    void cleanup()
    {
        mainWindow()->hide();
        lg::test::resetSeams();
    }
    void cleanupTestCase() { resetSharedState(); }

    void savedRootsDecideTheContinueLink()
    {
        homeVc *home = showHome();
        // Absent: written as an empty list, link hidden.
        QCOMPARE(lg::Settings::stringListValue(savedRoots), std::optional<QStringList>(QStringList()));
        QVERIFY(home->btnContinuePreviousSelection->isHidden());

        // Not a list: replaced by an empty list at the next appearance.
        lg::Settings::setValue(savedRoots, 5);
        home->viewWillAppear();
        QCOMPARE(lg::Settings::stringListValue(savedRoots), std::optional<QStringList>(QStringList()));
        QVERIFY(home->btnContinuePreviousSelection->isHidden());

        lg::Settings::setValue(savedRoots, QStringList{QStringLiteral("/somewhere")});
        mainWindow()->setContentViewController(contentHub());
        showHome();
        QVERIFY(!home->btnContinuePreviousSelection->isHidden());
        QVERIFY(!mainWindow()->isResizable());
    }

    void continueHandsTheSavedRootsToTheHub()
    {
        const QString gone = QStringLiteral("/no/longer/there");
        const QString kept = lg::test::freshFolder(QStringLiteral("Trip"));
        lg::Settings::setValue(savedRoots, QStringList{kept, gone});
        selectedViewStyle = listStyle;
        homeVc *home = showHome();
        home->btnContinuePreviousSelection->click();

        // Saved paths go on as they are; the sidebar's scan deals with missing ones.
        QCOMPARE(selectedSourceURLs, urls({kept, gone}));
        QVERIFY(hubShows());
        QVERIFY(mainWindow()->isResizable());
        QCOMPARE(ScreenMode(currentScreenMode), ScreenList);
        QCOMPARE(mainWindowNeverShown, 0);
        QVERIFY(home->blacklayer->isHidden());
    }

    void continueWithNothingSavedStaysHome()
    {
        lg::Settings::setValue(savedRoots, QStringList());
        homeVc *home = showHome();
        home->btnContinuePreviousSelectionClicked();
        QVERIFY(selectedSourceURLs.isEmpty());
        QCOMPARE(mainWindow()->contentViewController(), static_cast<QWidget *>(home));
        QCOMPARE(ScreenMode(currentScreenMode), ScreenHome);
        QCOMPARE(mainWindowNeverShown, 1);
    }

    void foldersOutsideTheHomeFolderAreRejectedWithTheSheet()
    {
        const QString inside = lg::test::freshFolder(QStringLiteral("Holiday"));
        const QString hidden = lg::test::freshFolder(QStringLiteral(".secret"));
        const QString file = lg::test::writeFile(lg::test::freshFolder(QStringLiteral("f")) + QStringLiteral("/a.jpg"));
        // Outside the home folder, although its path holds the login name.
        QTemporaryDir outsideRoot(QDir::tempPath() + QStringLiteral("/outside-XXXXXX"));
        const QString outside = outsideRoot.path() + QLatin1Char('/') + lg::Paths::userName() + QStringLiteral("-photos");
        QVERIFY(QDir().mkpath(outside));
        QVERIFY(!lg::Paths::isInsideHome(outside));

        homeVc *home = showHome();
        bool dimmedWhilePanel = false;
        lg::OpenPanelSpec asked;
        lg::Panels::setOpenResponder([&](const lg::OpenPanelSpec &request) {
            asked = request;
            dimmedWhilePanel = !home->blacklayer->isHidden();
            return urls({inside, hidden, outside, file, QStringLiteral("/no/such/folder")});
        });
        bool dimmedWhileAlert = false;
        lg::Alert::setResponder([&](const lg::AlertSpec &) {
            dimmedWhileAlert = !home->blacklayer->isHidden();
            return 0;
        });
        home->btnAddFolders->click();
        QTRY_VERIFY(hubShows());

        QVERIFY(asked.chooseDirectories);
        QVERIFY(!asked.chooseFiles);
        QVERIFY(asked.allowsMultipleSelection);
        QVERIFY(!asked.showsHiddenFiles);
        QVERIFY(dimmedWhilePanel);
        QVERIFY(dimmedWhileAlert);
        const QList<lg::AlertSpec> alerts = lg::Alert::shownAlerts();
        QCOMPARE(alerts.size(), 1);
        QCOMPARE(alerts.first().title,
                 QStringLiteral("Some or all of the selected folders cannot be added. Only folders from  within your "
                                "User folder (")
                     + lg::Paths::userName() + QStringLiteral(") can be added."));
        QCOMPARE(alerts.first().buttons, QStringList{QStringLiteral("OK")});
        QCOMPARE(selectedSourceURLs, urls({inside}));
        QVERIFY(home->blacklayer->isHidden());
        QVERIFY(mainWindow()->isResizable());
    }

    void allRejectedOrCancelledStaysHome()
    {
        QTemporaryDir outside(QDir::tempPath() + QStringLiteral("/outside-XXXXXX"));
        homeVc *home = showHome();
        lg::Panels::setOpenResponder([&](const lg::OpenPanelSpec &) { return urls({outside.path()}); });
        home->btnaddfolders();
        QTRY_COMPARE(lg::Alert::shownAlerts().size(), 1);
        QTRY_VERIFY(home->blacklayer->isHidden());
        QCOMPARE(mainWindow()->contentViewController(), static_cast<QWidget *>(home));
        QVERIFY(selectedSourceURLs.isEmpty());

        // Cancelled: nothing changes, the dimming goes.
        int asked = 0;
        lg::Panels::setOpenResponder([&](const lg::OpenPanelSpec &) {
            ++asked;
            return QList<QUrl>();
        });
        home->btnaddfolders();
        home->btnAddLibrary_clicked();
        QTRY_COMPARE(asked, 2);
        QTRY_VERIFY(home->blacklayer->isHidden());
        QCOMPARE(mainWindow()->contentViewController(), static_cast<QWidget *>(home));
        QCOMPARE(lg::Alert::shownAlerts().size(), 1);
    }

    void photosLibrariesAreChosenAsPackages()
    {
        const QString pictures = lg::Paths::pictures();
        const QString first = pictures + QStringLiteral("/Photos Library.photoslibrary");
        const QString second = pictures + QStringLiteral("/Old.PhotosLibrary");
        QVERIFY(QDir().mkpath(first + QStringLiteral("/database")));
        QVERIFY(QDir().mkpath(second));
        const QString plain = lg::test::freshFolder(QStringLiteral("NotALibrary"));

        homeVc *home = showHome();
        lg::OpenPanelSpec asked;
        lg::Panels::setOpenResponder([&](const lg::OpenPanelSpec &request) {
            asked = request;
            return urls({first, second, plain});
        });
        home->btnAddLibrary->click();
        QTRY_VERIFY(hubShows());

        QVERIFY(asked.chooseFiles);
        QVERIFY(!asked.chooseDirectories);
        QVERIFY(asked.allowsMultipleSelection);
        QCOMPARE(asked.packageExtensions, QStringList{QStringLiteral("photoslibrary")});
        QCOMPARE(asked.prompt, QStringLiteral("Add"));
        QCOMPARE(asked.directory, pictures);
        QCOMPARE(selectedSourceURLs, urls({first, second}));
        QCOMPARE(ScreenMode(currentScreenMode), ScreenGrid);
        QVERIFY(home->blacklayer->isHidden());
    }

    void filesOpenedAtLaunchPutTheHomeScreenAway()
    {
        openedFromFinder = true;
        showHome();
        QTRY_VERIFY(!openedFromFinder);
        QVERIFY(!mainWindow()->isVisible());
    }

    void panelsStartInPicturesOnlyWhenItExists()
    {
        QDir(lg::Paths::pictures()).removeRecursively();
        const QString home = lg::Paths::home();
        QCOMPARE(lg::Paths::picturesOrHome(), home);

        QString asked;
        lg::Panels::setOpenResponder([&asked](const lg::OpenPanelSpec &spec) {
            asked = spec.directory;
            return QList<QUrl>();
        });
        mainWindow()->showhomevc();
        homeScreen()->btnAddLibrary->click();
        lg::test::settle();
        lg::Panels::setOpenResponder({});
        QCOMPARE(asked, home);
        QVERIFY(!QFileInfo::exists(lg::Paths::pictures()));

        QVERIFY(QDir().mkpath(lg::Paths::pictures()));
        QCOMPARE(lg::Paths::picturesOrHome(), lg::Paths::pictures());
    }
};

LG_TEST(TestHome)
#include "test_home.moc"
