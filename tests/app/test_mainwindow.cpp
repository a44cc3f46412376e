// The main window: content switching, the home screen, resize handling and the
// split view's sidebar limits.
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
#include "outreach/StartupVc.h"
#include "platform/desktop/Alert.h"
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
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QResizeEvent>
#include <QScopeGuard>
#include <QSplitter>
#include <QToolTip>

class TestMainWindow : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { resetSharedState(); }
    void cleanupTestCase() { resetSharedState(); }

    void switchingContentKeepsTheScreensAlive()
    {
        mainWindowController *window = mainWindow();
        window->setContentViewController(splitController());
        QPointer<splitvc> split(splitController());
        window->showhomevc();
        QCOMPARE(window->contentViewController(), static_cast<QWidget *>(homeScreen()));
        QVERIFY(!split.isNull());                 // taken out, not deleted
        QCOMPARE(ScreenMode(currentScreenMode), ScreenHome);
        QVERIFY(!window->isResizable());

        window->setContentViewController(split);
        window->setResizable(true);
        QCOMPARE(window->contentViewController(), static_cast<QWidget *>(split.data()));
        QVERIFY(window->isResizable());
    }

    void homeScreenLeavesFullScreenFirst()
    {
        lg::FakeClock clock;
        mainWindowController *window = mainWindow();
        window->setContentViewController(splitController());
        window->showFullScreen();
        QVERIFY(window->isInFullScreen());
        window->showhomevc();
        QVERIFY(!window->isInFullScreen());
        clock.advance(1);
        QCOMPARE(window->contentViewController(), static_cast<QWidget *>(homeScreen()));
        QCOMPARE(ScreenMode(currentScreenMode), ScreenHome);
        QVERIFY(!window->isResizable());
    }

    void sidebarIsLimitedToAQuarterOfTheWindow()
    {
        mainWindowController *window = mainWindow();
        window->setContentViewController(splitController());
        window->resize(1200, 700);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        splitController()->resize();
        QCOMPARE(sidebarController()->maximumWidth(), 300);
        QCOMPARE(sidebarController()->minimumWidth(), 20);

        // Dragging the divider far to the right stops at the limit.
        QSplitter *splitter = splitController()->splitView();
        splitter->setSizes({900, 300});
        QTRY_VERIFY(sidebarController()->isVisible());
        QVERIFY(sidebarController()->width() <= 300);

        window->resize(1600, 700);
        QTRY_COMPARE(sidebarController()->maximumWidth(), 400);
        window->hide();
    }

    void liveResizeStartsAndEndsByDebounce()
    {
        lg::FakeClock clock;
        mainWindowController *window = mainWindow();
        window->setContentViewController(splitController());
        window->resize(1000, 700);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        clock.advance(mainWindowController::liveResizeSettleMs + 1);
        QVERIFY(!contentController()->isWindowResizing);

        contentController()->timerResize->start(1000);
        window->resize(1100, 700);
        QTRY_VERIFY(contentController()->isWindowResizing);
        QVERIFY(!contentController()->timerResize->isActive());   // a pending deferred resize is dropped
        window->resize(1150, 700);
        clock.advance(mainWindowController::liveResizeSettleMs - 1);
        QVERIFY(contentController()->isWindowResizing);
        clock.advance(2);
        QVERIFY(!contentController()->isWindowResizing);

        // While the collage shows, the end of a resize goes to the collage and the
        // content controller's flag is left alone.
        currentScreenMode = ScreenCollage;
        contentController()->isWindowResizing = true;
        window->windowDidEndLiveResize();
        QVERIFY(contentController()->isWindowResizing);
        window->hide();
    }

    void resizingBeforeTheHubShowsMakesNoScreen()
    {
        const auto hideWindow = qScopeGuard([] {
            mainWindow()->setWindowState(Qt::WindowNoState);
            mainWindow()->hide();
        });
        lg::FakeClock clock;
        mainWindowController *window = mainWindow();
        window->showhomevc();
        for (const QSize size : {QSize(900, 600), QSize(1000, 700)}) {
            window->resize(size);
            QResizeEvent event(size, window->size());
            QCoreApplication::sendEvent(window, &event);
        }
        clock.advance(1000);  // the end of the live resize
        QCOMPARE(ScreenMode(currentScreenMode), ScreenHome);
        for (const char *name : {"ViewController", "viewimagevc", "collagevc", "mainvc"})
            QVERIFY2(!lg::ControllerRegistry::existing(QString::fromLatin1(name)), name);
    }
};

LG_TEST(TestMainWindow)
#include "test_mainwindow.moc"
