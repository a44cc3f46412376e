// The content hub: the busy overlay and the progress sheet, the container swaps,
// the header buttons and their hints, share, the promotion panel, and the watch
// on the current folder with its debounced reload.
#include "app/Essentials.h"
#include "app/AppDelegate.h"
#include "app/FileHandover.h"
#include "app/ShareMenu.h"
#include "app/Startup.h"
#include "app/homeVc.h"
#include "app/mainWindowController.h"
#include "app/mainvc.h"
#include "app/splitvc.h"
#include "browser/GridView.h"
#include "browser/ShownItemsModel.h"
#include "browser/ViewController.h"
#include "browser/thumbnailvc.h"
#include "collage/collagevc.h"
#include "controls/PopoverMaxTypeVC.h"
#include "controls/ProgressViews.h"
#include "controls/Spinner.h"
#include "controls/ZLFlatButton.h"
#include "model/FolderMonitor.h"
#include "app/Saver.h"
#include "outreach/StartupVc.h"
#include "platform/desktop/Alert.h"
#include "platform/files/names/FileNames.h"
#include "platform/desktop/Panels.h"
#include "platform/desktop/Paths.h"
#include "platform/desktop/Settings.h"
#include "platform/runtime/ControllerRegistry.h"
#include "platform/runtime/Timer.h"
#include "sidebar/DropView.h"
#include "sidebar/sideMenuvc.h"
#include "tests/support/CaptureStdout.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/Fixtures.h"
#include "tests/support/ScreenModeNames.h"
#include "tests/support/ScreenTesting.h"
#include "tests/support/TestSupport.h"
#include "tests/support/WidgetTesting.h"
#include "viewer/editImagevc.h"
#include "viewer/viewimagevc.h"

#include <cstdio>
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QColorDialog>
#include <QCoreApplication>
#include <QDir>
#include <QEnterEvent>
#include <QFileDialog>
#include <QFrame>
#include <QGridLayout>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QResizeEvent>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSplitter>
#include <QStyleHints>
#include <QThread>

#include <QToolButton>
#include <QToolTip>
#include <thread>

namespace {

using namespace lg::test;

using lg::test::settle;

int occurrences(const QByteArray &text, const QByteArray &line)
{
    return int(text.count(line + '\n'));
}

QWidget *shownHub()
{
    mainWindowController *window = mainWindow();
    window->setContentViewController(contentHub());
    window->resize(1100, 700);
    window->show();
    return contentHub();
}

QList<QWidget *> collageHeaderItems(mainvc *hub)
{
    return {hub->btnShere, hub->btnLeftSplit, hub->btnrightsplit, hub->btnFullImagePlay, hub->btncollage,
            hub->lblcollage, hub->btnutilitykit};
}

} // namespace

class TestHub : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        resetSharedState();
        ShareMenu::setProcessRunner({});
        lg::Alert::setResponder({});
        lg::Alert::clearShownAlerts();
    }
    void cleanupTestCase() { resetSharedState(); }

    void progressRatioIsDefinedEverywhere()
    {
        QCOMPARE(mainvc::progressRatio(12, 10), 1.0);
        QCOMPARE(mainvc::progressRatio(10, 10), 1.0);
        QCOMPARE(mainvc::progressRatio(5, 10), 0.5);
        QCOMPARE(mainvc::progressRatio(0, 0), 0.0);
        QCOMPARE(mainvc::progressRatio(7, 0), 0.0);
        QCOMPARE(mainvc::progressRatio(-3, 10), 0.0);
        QCOMPARE(mainvc::progressRatio(3, -1), 0.0);
    }

    void progressSheetFollowsAScanOnAnotherThread()
    {
        mainvc *hub = contentHub();
        hub->showProgressSheet();
        hub->showBusyLoader();
        settle();
        QVERIFY(!hub->progressBox->isHidden());
        QVERIFY(!hub->circularview->isHidden());
        QVERIFY(hub->loader->isHidden());
        QVERIFY(!hub->loader->isAnimating());
        QCOMPARE(hub->lblProcessTitle->text(), QStringLiteral("Adding Folders..."));
        QCOMPARE(hub->circularview->progress(), 0.0);

        // The scan reports from its own thread; the ring changes on the main thread.
        std::thread scan([hub] {
            hub->currentCount = 3;
            hub->totalcount = 4;
            hub->setProgressPath(QStringLiteral("/somewhere/Trip"));
            hub->updateProgressSheet();
        });
        scan.join();
        QCOMPARE(hub->circularview->progress(), 0.0);
        settle();
        QCOMPARE(hub->circularview->progress(), 0.75);
        QCOMPARE(hub->lblpath->text(), QStringLiteral("/somewhere/Trip"));

        std::thread more([hub] { hub->updateProgressSheet(12, 10); });
        more.join();
        settle();
        QCOMPARE(hub->circularview->progress(), 1.0);

        hub->hideProgressSheet();
        hub->hideBusyLoader();
        settle();
        QVERIFY(hub->bgbox->isHidden());
        QVERIFY(hub->progressBox->isHidden());
        QVERIFY(hub->lblpath->text().isEmpty());
        QVERIFY(!isBusy);

        // A late report after the end shows nothing.
        hub->updateProgressSheet(1, 2);
        settle();
        QVERIFY(hub->progressBox->isHidden());
        QVERIFY(hub->bgbox->isHidden());
    }

    void everySheetPathEndsWithTheOverlayHidden()
    {
        mainvc *hub = contentHub();
        lg::Alert::setResponder([](const lg::AlertSpec &) { return 0; });

        // The import ends with a sheet over the overlay: the progress sheet's
        // queued end must not bring the spinner back under the sheet.
        hub->showProgressSheet();
        hub->showBusyLoader();
        settle();
        hub->hideProgressSheet();
        hub->hideBusyLoader();
        hub->isonlyalert = true;
        hub->showBusyLoader();
        settle();
        QVERIFY(!hub->bgbox->isHidden());
        QVERIFY(hub->loader->isHidden() && !hub->loader->isAnimating());
        QVERIFY(isBusy);
        bool answered = false;
        lg::Alert::inform(hub, QStringLiteral("Some or all of the selected folders cannot be added."), QString(),
                          [hub, &answered](int) {
                              hub->isonlyalert = false;
                              hub->hideBusyLoader();
                              answered = true;
                          });
        QTRY_VERIFY(answered);
        settle();
        QVERIFY(hub->bgbox->isHidden());
        QVERIFY(hub->loader->isHidden());
        QVERIFY(!isBusy);

        // Show and hide in one go from the main thread: the queued steps keep
        // their order, so the sheet ends hidden.
        hub->showProgressSheet();
        hub->showBusyLoader();
        hub->hideProgressSheet();
        hub->hideBusyLoader();
        settle();
        QVERIFY(hub->progressBox->isHidden());
        QVERIFY(hub->bgbox->isHidden());

        // The stop button raises the question; the import waits on the flag.
        hub->btncancel->click();
        QVERIFY(stopAddingFolders);
    }

    void collageAndEditorTakeTheSplitViewsPlace()
    {
        mainvc *hub = static_cast<mainvc *>(shownHub());
        QWidget *split = splitController();
        QCOMPARE(split->parentWidget(), hub->container);

        currentScreenMode = ScreenList;
        hub->btncollage->click();
        QCOMPARE(ScreenMode(currentScreenMode), ScreenCollage);
        QCOMPARE(ScreenMode(previousScreenMode), ScreenList);
        QCOMPARE(collageMaker()->parentWidget(), hub->container);
        QVERIFY(split->parentWidget() != hub->container);
        for (QWidget *item : collageHeaderItems(hub))
            QVERIFY2(item->isHidden(), qPrintable(item->objectName()));

        hub->closeCollagevc();
        QCOMPARE(ScreenMode(currentScreenMode), ScreenList);
        QCOMPARE(split->parentWidget(), hub->container);
        QVERIFY(collageMaker()->parentWidget() != hub->container);
        for (QWidget *item : collageHeaderItems(hub))
            QVERIFY2(!item->isHidden(), qPrintable(item->objectName()));

        // The editor keeps the mode; it is made once.
        hub->showEditImagevc();
        QCOMPARE(editImageController->parentWidget(), hub->container);
        QCOMPARE(ScreenMode(currentScreenMode), ScreenList);
        editImagevc *editor = editImageController;
        hub->closeEditImagevc();
        hub->showEditImagevc();
        QCOMPARE(editImageController, editor);   // made once
        hub->closeEditImagevc();
        QCOMPARE(split->parentWidget(), hub->container);
        QVERIFY(!hub->btnShere->isHidden());
        mainWindow()->hide();
    }

    void paneAndFullImageButtonsDoNothingWhileBusy()
    {
        mainvc *hub = static_cast<mainvc *>(shownHub());
        QWidget *sidebar = splitController()->item;
        currentScreenMode = ScreenList;
        hub->btnleft();
        QVERIFY(sidebar->isHidden());
        hub->btnleft();
        QVERIFY(!sidebar->isHidden());

        hub->showBusyLoader();
        hub->btnleft();
        hub->btnFullImagePlay->click();
        hub->btnfullimage();
        QVERIFY(!sidebar->isHidden());
        QCOMPARE(ScreenMode(currentScreenMode), ScreenList);
        QVERIFY(!hub->titlebox->isHidden());
        hub->hideBusyLoader();

        hub->btnfullimage();
        QCOMPARE(ScreenMode(currentScreenMode), ScreenFullImage);
        QCOMPARE(fullImageReturnStyle, listStyle);
        QVERIFY(hub->titlebox->isHidden());
        QVERIFY(sidebar->isHidden());
        QCOMPARE(hub->btnLeftSplit->imageNormalColor(), neutralGrey());
        QVERIFY(mainWindow()->isInFullScreen());
        mainWindow()->setWindowState(Qt::WindowNoState);
        mainWindow()->hide();
    }

    void shareNeedsAnItemAndReportsFailures()
    {
        mainvc *hub = static_cast<mainvc *>(shownHub());
        const QString folder = lg::test::freshFolder(QStringLiteral("share"));
        QImage pixels(4, 4, QImage::Format_RGB32);
        pixels.fill(Qt::blue);
        const QString png = folder + QStringLiteral("/photo.png");
        QVERIFY(pixels.save(png));

        InitialDirectory item;
        item.url = QUrl::fromLocalFile(png);
        itemList = {item};

        // An index past the end of the list in use does nothing.
        selectedItemIndex = 1;
        hub->btnShere->click();
        hub->btnShare();
        QVERIFY(!hub->btnShere->findChild<QMenu *>(QStringLiteral("shareMenu")));
        isSearchActive = true;   // the search results are empty
        selectedItemIndex = 0;
        hub->btnShare();
        QVERIFY(!hub->btnShere->findChild<QMenu *>(QStringLiteral("shareMenu")));
        isSearchActive = false;

        QList<std::pair<QString, QStringList>> started;
        ShareMenu::setProcessRunner([&started](const QString &program, const QStringList &arguments) {
            started.append({program, arguments});
            return true;
        });
        hub->btnShare();
        auto *menu = hub->btnShere->findChild<QMenu *>(QStringLiteral("shareMenu"));
        QVERIFY(menu);
        QCOMPARE(menu->actions().first()->text(), QStringLiteral("Email"));
        menu->actions().first()->trigger();
        QCOMPARE(started.size(), 1);
        QCOMPARE(started.first().first, QStringLiteral("xdg-email"));
        QCOMPARE(started.first().second, (QStringList{QStringLiteral("--attach"), png}));
        menu->close();

        // A failed start is reported, not swallowed.
        lg::Alert::setResponder([](const lg::AlertSpec &) { return 0; });
        ShareMenu::setProcessRunner([](const QString &, const QStringList &) { return false; });
        QMenu *again = ShareMenu::create(png, hub);
        again->actions().first()->trigger();
        QTRY_COMPARE(lg::Alert::shownAlerts().size(), 1);
        QCOMPARE(lg::Alert::shownAlerts().first().title, QStringLiteral("The file could not be shared."));
        mainWindow()->hide();
    }

    // Share hands a file to another program by its name as text: a name that
    // is not valid UTF-8 (its look-alike beside it or not) is refused in the
    // window, never only on standard output.
    void shareOfANameThatIsNotTextIsRefusedInTheWindow_data()
    {
        QTest::addColumn<bool>("lookAlike");
        QTest::newRow("alone") << false;
        QTest::newRow("beside its look-alike") << true;
    }
    void shareOfANameThatIsNotTextIsRefusedInTheWindow()
    {
        QFETCH(bool, lookAlike);
        mainvc *hub = static_cast<mainvc *>(shownHub());
        const QString folder = lg::test::freshFolder(QStringLiteral("share raw ") + QTest::currentDataTag());
        QImage pixels(4, 4, QImage::Format_RGB32);
        pixels.fill(Qt::red);
        const QByteArray raw = lg::FileNames::toNative(folder) + "/caf\xe9.png";
        QVERIFY(pixels.save(QString::fromUtf8(lg::FileNames::toNative(folder) + "/made.png")));
        QVERIFY(::rename(QFile::encodeName(folder + QStringLiteral("/made.png")).constData(), raw.constData()) == 0);
        if (lookAlike)
            QVERIFY(pixels.save(folder + QStringLiteral("/caf\uFFFD.png")));
        InitialDirectory item;
        item.url = lg::FileNames::urlOf(lg::FileNames::fromNative(raw));
        itemList = {item};
        selectedItemIndex = 0;
        lg::Alert::clearShownAlerts();
        lg::Alert::setResponder([](const lg::AlertSpec &) { return 0; });
        hub->btnShare();
        QTRY_COMPARE(lg::Alert::shownAlerts().size(), 1);
        QVERIFY2(lg::Alert::shownAlerts().first().text.contains(QStringLiteral("UTF-8"))
                     || lg::Alert::shownAlerts().first().title.contains(QStringLiteral("UTF-8")),
                 qPrintable(lg::Alert::shownAlerts().first().title + QStringLiteral(" / ")
                            + lg::Alert::shownAlerts().first().text));
        QVERIFY(!hub->btnShere->findChild<QMenu *>(QStringLiteral("shareMenu")));
        lg::Alert::setResponder({});
        mainWindow()->hide();
    }

    void aBurstOfChangesGivesOneReload()
    {
        lg::FakeClock clock;
        mainvc *hub = contentHub();
        const QString folder = lg::test::freshFolder(QStringLiteral("watched"));
        currentFolderURL = QUrl::fromLocalFile(folder);
        currentScreenMode = ScreenGrid;

        lg::test::CaptureStdout capture;
        hub->startMonitorWithSender();
        const bool watching = hub->monitor && hub->monitor->isValid();
        // 100 files, one every 4 ms: each change pushes the reload back.
        for (int i = 0; i < 100; ++i) {
            lg::test::writeFile(folder + QStringLiteral("/f%1.jpg").arg(i));
            settle();
            clock.advance(4);
        }
        const QByteArray duringBurst = capture.finish();
        lg::test::CaptureStdout after;
        clock.advance(195);
        const int beforeDeadline = occurrences(after.finish(), "reload change");
        lg::test::CaptureStdout atDeadline;
        clock.advance(2);
        const QByteArray reloaded = atDeadline.finish();

        QVERIFY(watching);
        QVERIFY(duringBurst.contains("Monitoring " + QUrl::fromLocalFile(folder).toString().toUtf8()));
        QVERIFY(occurrences(duringBurst, "Found change") >= 1);
        QCOMPARE(occurrences(duringBurst, "reload change"), 0);
        QCOMPARE(beforeDeadline, 0);
        QCOMPARE(occurrences(reloaded, "reload change"), 1);
        QCOMPARE(clock.pendingCount(), 0);
    }

    void startingReplacesAndStoppingKeepsThePendingReload()
    {
        lg::FakeClock clock;
        mainvc *hub = contentHub();
        const QString folder = lg::test::freshFolder(QStringLiteral("watched"));
        currentFolderURL = QUrl::fromLocalFile(folder);

        lg::test::CaptureStdout capture;
        hub->startMonitorWithSender();
        hub->startMonitorWithSender();
        // The first monitor went: one change is reported once, not twice.
        const bool replaced = hub->monitor && hub->monitor->isValid();
        lg::test::writeFile(folder + QStringLiteral("/a.png"));
        settle();
        hub->stopMonitorWithSender();
        const bool released = !hub->monitor;
        lg::test::writeFile(folder + QStringLiteral("/b.png"));
        settle();
        clock.advance(mainvc::reloadDelayMs + 1);
        const QByteArray out = capture.finish();

        QVERIFY(replaced);
        QVERIFY(released);
        QCOMPARE(occurrences(out, "Found change"), 1);
        QCOMPARE(occurrences(out, "reload change"), 1);
    }

    void aPhotosLibraryIsReloadedOnceAndAMissingFolderNever()
    {
        lg::FakeClock clock;
        mainvc *hub = contentHub();
        const QString library = lg::test::freshFolder(QStringLiteral("Photos Library.photoslibrary"));
        currentFolderURL = QUrl::fromLocalFile(library);

        lg::test::CaptureStdout capture;
        hub->startMonitorWithSender();
        const bool noMonitor = !hub->monitor;
        const bool pending = hub->timerReload->isActive();
        lg::test::writeFile(library + QStringLiteral("/database/x"));
        settle();
        clock.advance(mainvc::reloadDelayMs + 1);

        // A folder that was deleted: nothing watched, nothing reloaded.
        const QString gone = lg::test::freshFolder(QStringLiteral("gone"));
        QDir(gone).removeRecursively();
        currentFolderURL = QUrl::fromLocalFile(gone);
        hub->startMonitorWithSender();
        const bool nothingForGone = !hub->monitor && !hub->timerReload->isActive();
        currentFolderURL.reset();
        hub->startMonitorWithSender();
        const bool nothingForNone = !hub->monitor && !hub->timerReload->isActive();
        clock.advance(1000);
        const QByteArray out = capture.finish();

        QVERIFY(noMonitor);
        QVERIFY(pending);
        QVERIFY(nothingForGone);
        QVERIFY(nothingForNone);
        QCOMPARE(occurrences(out, "reload change"), 1);
        QVERIFY(!out.contains("Monitoring"));
    }

    void theInfoPaneToggleFollowsThePane()
    {
        mainvc *hub = contentHub();
        QWidget *pane = contentController()->splitview->widget(1);
        QVERIFY(pane->isHidden());
        QCOMPARE(hub->btnrightsplit->imageNormalColor(), neutralGrey());
        contentController()->toggleInfoPane();
        QCOMPARE(hub->btnrightsplit->imageNormalColor(), accentOrange());
        contentController()->toggleInfoPane();
        QCOMPARE(hub->btnrightsplit->imageNormalColor(), neutralGrey());
    }

    void theCollageCaptionOpensTheCollage()
    {
        lg::test::showHub();
        mainvc *hub = contentHub();
        QSignalSpy opens(hub->btncollage, &QAbstractButton::clicked);
        QTest::mouseClick(hub->lblcollage, Qt::LeftButton);
        QCOMPARE(opens.count(), 1);
        QCOMPARE(currentScreenMode, ScreenCollage);
        hub->closeCollagevc();
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
        const auto hideWindow = qScopeGuard([] {
            mainWindow()->setWindowState(Qt::WindowNoState);
            mainWindow()->hide();
        });
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
        QCOMPARE(ScreenMode(currentScreenMode), ScreenMode(from));
        QWidget *pane = content->splitview->widget(1);
        if (pane->isHidden() == paneShown)
            content->toggleInfoPane();

        contentHub()->btnfullimage();
        QCOMPARE(ScreenMode(currentScreenMode), ScreenFullImage);
        QVERIFY(pane->isHidden());
        imageViewer()->closeViewer();
        QCOMPARE(pane->isHidden(), !paneShown);
        QCOMPARE(ScreenMode(currentScreenMode), ScreenMode(from));
    }

    void layoutsHintsAndLimitsOfTheHub()
    {
        const auto hideWindow = qScopeGuard([] {
            mainWindow()->setWindowState(Qt::WindowNoState);
            mainWindow()->hide();
        });
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

LG_TEST(TestHub)
#include "test_hub.moc"
