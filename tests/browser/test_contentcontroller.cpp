// The content controller: switching between grid, list and viewer with the
// current-screen mode, the two notifications, the information pane, the
// deferred viewer re-layout and the item count.
#include "browser/BrowserFixtures.h"
#include "browser/SegmentedControl.h"
#include "browser/ViewController.h"
#include "browser/listVc.h"
#include "controls/ClickViews.h"
#include "browser/thumbnailvc.h"
#include "platform/ControllerRegistry.h"
#include "platform/NotificationHub.h"
#include "platform/Timer.h"
#include "viewer/viewimagevc.h"

#include <QFrame>
#include <QLabel>

using namespace browsertest;

class TestContentController : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { resetSharedState(); }
    void cleanupTestCase() { resetSharedState(); }

    void theViewerRemembersWhereItCameFrom()
    {
        ViewController *content = contentController();
        content->showListView();
        lg::NotificationHub::instance().post(QStringLiteral("viewimage"));
        QCOMPARE(ScreenMode(currentScreenMode), ScreenViewer);
        QCOMPARE(styleBeforeViewer, listStyle);
        QCOMPARE(content->segmentControl->selectedSegment(), 2);
        QCOMPARE(content->titleBoxHeight(), 0);
        QVERIFY(content->titlebox->isHidden());

        // Asking for the viewer again only re-selects its segment.
        content->segmentControl->setSelectedSegment(0);
        content->segmentControlClicked(2);
        QCOMPARE(content->segmentControl->selectedSegment(), 2);
        QCOMPARE(ScreenMode(currentScreenMode), ScreenViewer);

        lg::NotificationHub::instance().post(QStringLiteral("backtofiles"));
        QCOMPARE(ScreenMode(currentScreenMode), ScreenList);
        QCOMPARE(content->titleBoxHeight(), 29);

        // From the full-image presentation the remembered view stays.
        content->viewFullimage();
        QCOMPARE(ScreenMode(currentScreenMode), ScreenFullImage);
        QCOMPARE(styleBeforeViewer, listStyle);
        content->viewimage();
        QCOMPARE(ScreenMode(currentScreenMode), ScreenViewer);
        QCOMPARE(styleBeforeViewer, listStyle);

        // The full-image presentation entered straight from the grid returns
        // to the grid, whatever the viewer was opened from before.
        lg::NotificationHub::instance().post(QStringLiteral("backtofiles"));
        content->showThumbnailView();
        content->viewFullimage();
        QCOMPARE(styleBeforeViewer, gridStyle);
        lg::NotificationHub::instance().post(QStringLiteral("backtofiles"));
        QCOMPARE(ScreenMode(currentScreenMode), ScreenGrid);
    }

    void backToFilesWithoutAViewerGoesToTheGrid()
    {
        ViewController *content = contentController();
        content->segmentControl->setSelectedSegment(1);
        content->buttonbackClicked();
        QCOMPARE(ScreenMode(currentScreenMode), ScreenGrid);
        QCOMPARE(content->segmentControl->selectedSegment(), 0);
    }

    void leavingTheViewerStopsTheSlideshowButNotForTheSameView()
    {
        ViewController *content = contentController();
        viewimagevc *viewer = imageViewer();
        viewer->isSlideShowRunning = true;
        content->showThumbnailView();  // already the grid
        QVERIFY(viewer->isSlideShowRunning);
        content->viewimage();
        content->showListView();
        QVERIFY(!viewer->isSlideShowRunning);
        QCOMPARE(ScreenMode(currentScreenMode), ScreenList);
    }

    void splitResizesReLayOutTheViewerOncePerPass()
    {
        lg::FakeClock clock;
        ViewController *content = contentController();
        content->isWindowResizing = true;
        content->splitViewDidResizeSubviews();
        QVERIFY(!content->timerResize->isActive());
        content->isWindowResizing = false;
        content->splitViewDidResizeSubviews();
        content->splitViewDidResizeSubviews();
        QVERIFY(content->timerResize->isActive());
        QCOMPARE(clock.pendingCount(), 1);
        clock.advance(0);
        QVERIFY(!content->timerResize->isActive());
        QVERIFY(!lg::ControllerRegistry::existing(QStringLiteral("viewimagevc")));  // nothing to do in the grid
    }

    void theCountIsThatOfTheWholeListing()
    {
        ViewController *content = contentController();
        itemList = {entry("a.jpg"), entry("b.jpg"), entry("c.jpg")};
        searchResults = {itemList.first()};
        isSearchActive = true;
        content->updateItemCountLabel();
        QCOMPARE(content->lblNumberofitems->text(), QStringLiteral("Media items: 3"));
    }
};

LG_TEST(TestContentController)
#include "test_contentcontroller.moc"
