// Shared state: the registry, the extension lists and the folder helpers.
#include "app/Essentials.h"
#include "app/AppDelegate.h"
#include "app/FileHandover.h"
#include "app/Startup.h"
#include "app/homeVc.h"
#include "app/mainWindowController.h"
#include "app/mainWindowController.h"
#include "app/mainvc.h"
#include "app/splitvc.h"
#include "browser/ShownItemsModel.h"
#include "browser/ViewController.h"
#include "controls/PopoverMaxTypeVC.h"
#include "controls/ZLFlatButton.h"
#include "outreach/StartupVc.h"
#include "platform/desktop/Alert.h"
#include "platform/desktop/Paths.h"
#include "platform/desktop/Settings.h"
#include "platform/runtime/ControllerRegistry.h"
#include "platform/runtime/Timer.h"
#include "sidebar/DropView.h"
#include "sidebar/sideMenuvc.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/ScreenModeNames.h"
#include "tests/support/TestSupport.h"
#include "viewer/viewimagevc.h"

#include <QAbstractButton>
#include <QColorDialog>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QResizeEvent>
#include <QScopeGuard>
#include <QSet>
#include <QSplitter>
#include <QToolTip>

class TestEssentials : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // The program starts with the start values, and a reset gives back the
    // same ones: they are written in one place (setSharedStateToStart).
    void initTestCase()
    {
        QCOMPARE(mainWindowNeverShown, 1);
        QCOMPARE(preferencesTabIndex, 1);
        QCOMPARE(ScreenMode(currentScreenMode), ScreenGrid);
        QCOMPARE(selectedViewStyle, gridStyle);
        QVERIFY(!isBusy && !isCollageSaved && itemList.isEmpty() && !currentFolderURL);
    }
    void init() { resetSharedState(); }
    void cleanupTestCase() { resetSharedState(); }

    void aResetGivesBackTheStartValues()
    {
        mainWindowNeverShown = 0;
        preferencesTabIndex = 3;
        currentScreenMode = ScreenCollage;
        selectedViewStyle = listStyle;
        isBusy = true;
        isCollageSaved = true;
        draggedItemURLs.append(QUrl::fromLocalFile(QStringLiteral("/a.jpg")));
        collageSlotList.append(nullptr);
        resetSharedState();
        QCOMPARE(mainWindowNeverShown, 1);
        QCOMPARE(preferencesTabIndex, 1);
        QCOMPARE(ScreenMode(currentScreenMode), ScreenGrid);
        QCOMPARE(selectedViewStyle, gridStyle);
        QVERIFY(!isBusy && !isCollageSaved && draggedItemURLs.isEmpty() && collageSlotList.isEmpty());
    }

    void itemListFindsNamesWhateverTheirCase()
    {
        InitialDirectory item;
        item.url = QUrl::fromLocalFile(QStringLiteral("/photos/holiday.jpg"));
        itemList.append(item);
        itemList.append(InitialDirectory()); // an item without a URL is skipped safely
        QVERIFY(itemListContainsFileName(QStringLiteral("HOLIDAY.JPG")));
        QVERIFY(itemListContainsFileName(QStringLiteral("holiday.jpg")));
        QVERIFY(!itemListContainsFileName(QStringLiteral("holiday 2.jpg")));
        QVERIFY(!itemListContainsFileName(QStringLiteral("photos")));
    }

    void canModifyFolderProtectsHomeAndStandardFolders()
    {
        const QString home = lg::Paths::home();
        auto url = [](const QString &path) { return std::optional<QUrl>(QUrl::fromLocalFile(path)); };

        QVERIFY(!canModifyFolder(std::nullopt));
        QVERIFY(!canModifyFolder(url(home)));
        QVERIFY(!canModifyFolder(url(home + QStringLiteral("/"))));
        QVERIFY(!canModifyFolder(url(home + QStringLiteral("/Pictures"))));
        QVERIFY(!canModifyFolder(url(home + QStringLiteral("/Downloads"))));
        QVERIFY(!canModifyFolder(url(home + QStringLiteral("/Pictures/Photos Library.photoslibrary"))));
        QVERIFY(!canModifyFolder(url(home + QStringLiteral("/Elsewhere/Old.PhotosLibrary"))));

        QVERIFY(canModifyFolder(url(home + QStringLiteral("/Pictures/Trip"))));
        QVERIFY(canModifyFolder(url(home + QStringLiteral("/Projects/Pictures"))));
        QVERIFY(canModifyFolder(url(home + QStringLiteral("/Pictures 2"))));
        // A home folder that merely starts with the same letters is not the home folder.
        QVERIFY(canModifyFolder(url(home + QStringLiteral("2/Pictures"))));
    }

    void hiddenNamesStartWithADot()
    {
        QVERIFY(isHiddenURL(QUrl::fromLocalFile(QStringLiteral("/a/.thumbnails"))));
        QVERIFY(!isHiddenURL(QUrl::fromLocalFile(QStringLiteral("/a/thumbnails"))));
        QVERIFY(!isHiddenURL(QUrl::fromLocalFile(QStringLiteral("/a/b.c/photo.jpg"))));
    }

    void hiddenFoldersAndTheInfoLine_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("hidden");
        QTest::newRow("trailing slash") << "/a/.hidden/" << true;
        QTest::newRow("visible, slash") << "/a/b/" << false;
        QTest::newRow("parent step") << "/a/.x/.." << false;
    }
    void hiddenFoldersAndTheInfoLine()
    {
        const auto hideWindow = qScopeGuard([] {
            mainWindow()->setWindowState(Qt::WindowNoState);
            mainWindow()->hide();
        });
        QFETCH(QString, path);
        QFETCH(bool, hidden);
        QCOMPARE(isHiddenURL(QUrl::fromLocalFile(path)), hidden);

        // A mode outside 0 to 2 keeps the line that showed.
        InitialDirectory item = Metadata::init(QUrl::fromLocalFile(lg::test::writeFile(
            lg::test::freshFolder(QStringLiteral("info")) + QStringLiteral("/a.jpg"))));
        infoLineMode = 2;
        const QString date = ShownItemsModel::gridInfoLine(item, std::nullopt);
        QVERIFY(!date.isEmpty());
        infoLineMode = 7;
        QCOMPARE(ShownItemsModel::gridInfoLine(item, std::nullopt), date);
        infoLineMode = 0;
    }
};

LG_TEST(TestEssentials)
#include "test_essentials.moc"
