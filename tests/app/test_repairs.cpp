// Repairs in the application shell: the one dark look of every window and
// dialog, the launch with files named on the command line, the information
// pane after the full-image layout and resizes before the hub first shows.
#include "app/AppDelegate.h"
#include "app/Essentials.h"
#include "app/FileHandover.h"
#include "app/Startup.h"
#include "app/mainWindowController.h"
#include "app/mainvc.h"
#include "app/splitvc.h"
#include "browser/ShownItemsModel.h"
#include "controls/PopoverMaxTypeVC.h"
#include "controls/ZLFlatButton.h"
#include "outreach/StartupVc.h"
#include "platform/Alert.h"
#include "tests/outreach/LoopbackServer.h"
#include "browser/ViewController.h"
#include "platform/ControllerRegistry.h"
#include "platform/Settings.h"
#include "platform/Timer.h"
#include "tests/support/TestSupport.h"
#include "viewer/viewimagevc.h"

#include <QColorDialog>
#include <QFileDialog>
#include <QGridLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QResizeEvent>
#include <QSplitter>
#include <QToolTip>

namespace {

void settle()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

} // namespace

class RepairsTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { resetSharedState(); }
    void cleanup()
    {
        mainWindow()->setWindowState(Qt::WindowNoState);
        mainWindow()->hide();
    }
    void cleanupTestCase() { resetSharedState(); }

    void everyDialogDrawsLightTextOnDark_data()
    {
        QTest::addColumn<QString>("kind");
        for (const char *kind : {"message box", "file chooser", "colour panel", "menu", "main window"})
            QTest::newRow(kind) << QString::fromLatin1(kind);
    }
    void everyDialogDrawsLightTextOnDark()
    {
        QFETCH(QString, kind);
        applyApplicationLook();
        QFileDialog chooser;
        chooser.setOption(QFileDialog::DontUseNativeDialog);
        QMessageBox alert;
        QColorDialog colours;
        QMenu menu;
        const QHash<QString, QWidget *> widgets{{"message box", &alert}, {"file chooser", &chooser},
                                                {"colour panel", &colours}, {"menu", &menu}, {"main window", mainWindow()}};
        const QPalette pal = widgets.value(kind)->palette();
        for (auto [ground, ink] : {std::pair{QPalette::Window, QPalette::WindowText},
                                   std::pair{QPalette::Base, QPalette::Text},
                                   std::pair{QPalette::Button, QPalette::ButtonText}}) {
            QVERIFY2(pal.color(ground).lightnessF() < 0.3, qPrintable(pal.color(ground).name()));
            QVERIFY2(pal.color(ink).lightnessF() > 0.7, qPrintable(pal.color(ink).name()));
        }
        QVERIFY(QToolTip::palette().color(QPalette::ToolTipBase).lightnessF() < 0.3);
        QVERIFY(QToolTip::palette().color(QPalette::ToolTipText).lightnessF() > 0.7);
    }

    void filesNamedAtLaunchTakeThePlaceOfTheHomeScreen()
    {
        // A later run (the welcome screen was passed) started with a file.
        lg::Settings::setValue(firstRunKey, 1);
        lg::Settings::setValue(QStringLiteral("startstatus"), false);
        lg::Settings::setValue(QStringLiteral("autocheckforupdate"), 2);
        const QString file =
            lg::test::writeFile(lg::test::freshFolder(QStringLiteral("launch")) + QStringLiteral("/a.jpg"));
        lg::FakeClock clock;
        AppDelegate delegate;
        QStringList handedOver;
        delegate.fileHandover->handOver = [&](const QStringList &paths) { handedOver += paths; };

        scheduleLaunch(delegate, {file});
        settle();
        QVERIFY(delegate.appstart);
        QCOMPARE(int(currentScreenMode), int(ScreenHome));
        clock.advance(0);  // the home screen has appeared
        QVERIFY(!openedFromFinder);
        QVERIFY2(!mainWindow()->isVisible(), "the home screen stays up while the files wait");

        clock.advance(FileHandover::batchDelayMs);
        QCOMPARE(handedOver, QStringList{file});
        QCOMPARE(mainWindow()->contentViewController(), static_cast<QWidget *>(contentHub()));
        QVERIFY(mainWindow()->isVisible());
        QCOMPARE(int(currentScreenMode), int(ScreenGrid));
    }

    void leavingTheFullImageLayoutRestoresTheInformationPane_data()
    {
        QTest::addColumn<bool>("paneShown");
        QTest::addColumn<int>("from");
        QTest::newRow("hidden, from the grid") << false << int(ScreenGrid);
        QTest::newRow("shown, from the grid") << true << int(ScreenGrid);
        QTest::newRow("hidden, from the viewer") << false << int(ScreenViewer);
        QTest::newRow("shown, from the list") << true << int(ScreenList);
    }
    void leavingTheFullImageLayoutRestoresTheInformationPane()
    {
        QFETCH(bool, paneShown);
        QFETCH(int, from);
        mainWindowController *window = mainWindow();
        window->setContentViewController(contentHub());
        window->show();
        ViewController *content = contentController();
        if (from == ScreenList)
            content->showListView();
        else if (from == ScreenViewer)
            content->viewimage();
        QCOMPARE(int(currentScreenMode), from);
        QWidget *pane = content->splitview->widget(1);
        if (pane->isHidden() == paneShown)
            content->toggleInfoPane();

        contentHub()->btnfullimage();
        QCOMPARE(int(currentScreenMode), int(ScreenFullImage));
        QVERIFY(pane->isHidden());
        imageViewer()->closeViewer();
        QCOMPARE(pane->isHidden(), !paneShown);
        QCOMPARE(int(currentScreenMode), from);
    }

    void resizingBeforeTheHubShowsMakesNoScreen()
    {
        lg::FakeClock clock;
        mainWindowController *window = mainWindow();
        window->showhomevc();
        for (const QSize size : {QSize(900, 600), QSize(1000, 700)}) {
            window->resize(size);
            QResizeEvent event(size, window->size());
            QCoreApplication::sendEvent(window, &event);
        }
        clock.advance(1000);  // the end of the live resize
        QCOMPARE(int(currentScreenMode), int(ScreenHome));
        for (const char *name : {"ViewController", "viewimagevc", "collagevc", "mainvc"})
            QVERIFY2(!lg::ControllerRegistry::existing(QString::fromLatin1(name)), name);
    }

    void aNewsletterCodeCountsWhateverTheHttpStatus()
    {
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

    void layoutsHintsAndLimitsOfTheHub()
    {
        // A view pinned again, or in turn with another, fills the one cell.
        QWidget container;
        QWidget first;
        QWidget second;
        for (QWidget *view : {&first, &second, &first, &second})
            pinViewToContainerEdges(&container, view);
        auto *grid = qobject_cast<QGridLayout *>(container.layout());
        QVERIFY(grid);
        QCOMPARE(grid->rowCount(), 1);
        QCOMPARE(grid->count(), 2);

        // No window yet: no limit taken from the split view's own width.
        splitvc *split = splitController();
        split->resize(300, 200);
        split->viewDidAppear();
        QCOMPARE(split->item->maximumWidth(), QWIDGETSIZE_MAX);

        // The hub's and the viewer's hints stand on the same side of their buttons.
        mainWindowController *window = mainWindow();
        window->setContentViewController(contentHub());
        window->resize(1100, 700);
        window->show();
        contentController()->viewimage();
        viewimagevc *viewer = imageViewer();
        viewer->tooltipVc->setAnimates(false);
        viewer->mouseEntered(viewer->btnback);
        QCOMPARE(viewer->tooltipVc->shownEdge(), Qt::TopEdge);
        viewer->mouseExited(viewer->btnback);
    }
};

LG_TEST(RepairsTest)
#include "test_repairs.moc"
