// The content controller: switching between grid, list and viewer with the
// current-screen mode, the two notifications, the information pane, the
// deferred viewer re-layout and the item count.
#include "app/mainWindowController.h"
#include "app/splitvc.h"
#include "tests/browser/BrowserFixtures.h"
#include "browser/GridView.h"
#include "browser/InfoPane.h"
#include "browser/ItemFileCommands.h"
#include "browser/ItemMenus.h"
#include "browser/SegmentedControl.h"
#include "browser/ShownItemsModel.h"
#include "browser/ViewController.h"
#include "browser/listVc.h"
#include "controls/ClickViews.h"
#include "browser/thumbnailvc.h"
#include "platform/runtime/ControllerRegistry.h"
#include "platform/desktop/NotificationHub.h"
#include "platform/desktop/Alert.h"
#include "platform/runtime/Timer.h"
#include "sidebar/outlineView.h"
#include "sidebar/sideMenuvc.h"
#include "sidebar/SidebarTreeModel.h"
#include "viewer/viewimagevc.h"

#include <QFrame>
#include <QLabel>
#include <QStandardItemModel>

using namespace browsertest;

namespace {

// The pane shows the name of the file it was filled for (one row).
void paneShowsFileNames()
{
    InfoPane::setReaderForTesting([](const QString &path) {
        lg::PropertyNode node;
        node.key = node.label = QStringLiteral("Name");
        node.value = QFileInfo(path).fileName();
        return std::optional<QList<lg::PropertyNode>>(QList<lg::PropertyNode>{node});
    });
}

QString paneFile()
{
    QStandardItemModel *model = InfoPane::instance()->model();
    return model->rowCount() ? model->index(0, 1).data().toString() : QString();
}

// The colour in the middle of the sidebar's preview; invalid when it is empty.
QColor previewColour()
{
    const QPixmap pixmap = sidebarController()->imgviewThumbnail->pixmap();
    if (pixmap.isNull())
        return QColor();
    const QImage image = pixmap.toImage();
    return image.pixelColor(image.width() / 2, image.height() / 2);
}

bool isReddish(const QColor &c) { return c.isValid() && c.red() > 200 && c.blue() < 60; }
bool isBluish(const QColor &c) { return c.isValid() && c.blue() > 200 && c.red() < 60; }

// The main window on screen with the sidebar holding folders, the first selected.
bool showWindowWith(const QStringList &folders)
{
    mainWindowController *window = mainWindow();
    window->setContentViewController(splitController());
    window->resize(1200, 700);
    window->show();
    sideMenuvc *sidebar = sidebarController();
    QList<QUrl> urls;
    for (const QString &folder : folders)
        urls.append(QUrl::fromLocalFile(folder));
    QSignalSpy added(sidebar, &sideMenuvc::addingFinished);
    sidebar->addFoldersWithProgress(urls);
    return (!added.isEmpty() || added.wait(10000)) && QTest::qWaitForWindowExposed(window);
}

void selectFolderInSidebar(const QString &folder)
{
    sideMenuvc *sidebar = sidebarController();
    const std::optional<IndexPath> path = sidebar->indexPathOfFolderNode(QUrl::fromLocalFile(folder));
    QVERIFY(path);
    const QModelIndex index = sidebar->treeController->model()->indexForPath(*path);
    sidebar->myOutlineView->selectRow(sidebar->myOutlineView->rowForItem(index));
    QTRY_COMPARE(currentFolderURL, QUrl::fromLocalFile(folder));
}

} // namespace

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

    void afterEveryLoadThePreviewAndThePaneShowTheCurrentItemOrNothing()
    {
        paneShowsFileNames();
        setListingBudget(1000);
        lg::Alert::setResponder([](const lg::AlertSpec &) { return 0; });   // "Yes"
        const QString before = lg::test::freshFolder(QStringLiteral("Before"));
        const QString after = lg::test::freshFolder(QStringLiteral("After"));
        writeJpeg(before + "/a1.jpg", 64, 64, Qt::red);
        writeJpeg(before + "/a2.jpg", 64, 64, Qt::red);
        writeJpeg(after + "/b1.jpg", 64, 64, Qt::blue);
        writeJpeg(after + "/b2.jpg", 64, 64, Qt::blue);
        QVERIFY(showWindowWith({before, after}));
        selectFolderInSidebar(before);
        thumbnailvc *grid = thumbnailGrid();
        QTRY_COMPARE(grid->itemsModel()->rowCount(), 2);
        grid->collectionview->setCurrentIndex(grid->itemsModel()->index(1, 0));
        QTRY_COMPARE(paneFile(), QStringLiteral("a2.jpg"));
        QTRY_VERIFY(isReddish(previewColour()));

        // The viewer shows a2; the user chooses the other folder in the sidebar.
        lg::NotificationHub::instance().post(QStringLiteral("viewimage"));
        QCOMPARE(ScreenMode(currentScreenMode), ScreenViewer);
        selectFolderInSidebar(after);
        QTRY_COMPARE(ScreenMode(currentScreenMode), ScreenGrid);
        QTRY_COMPARE(paneFile(), QStringLiteral("b1.jpg"));
        QTRY_VERIFY(isBluish(previewColour()));
        QCOMPARE(selectedItemIndex, 0);

        // The current item goes to the Trash: nothing is left to show.
        grid->collectionview->setCurrentIndex(grid->itemsModel()->index(1, 0));
        QTRY_COMPARE(paneFile(), QStringLiteral("b2.jpg"));
        QSignalSpy finished(ItemFileCommands::instance(), &ItemFileCommands::batchFinished);
        ItemFileCommands::instance()->trashItems(gridBrowseView());
        QVERIFY(finished.wait(10000));
        QTRY_COMPARE(grid->itemsModel()->rowCount(), 1);
        QTRY_COMPARE(paneFile(), QString());
        QTRY_VERIFY(!previewColour().isValid());

        // A folder that has become empty shows nothing either.
        QVERIFY(QFile::remove(after + "/b1.jpg"));
        selectFolderInSidebar(before);
        QTRY_COMPARE(paneFile(), QStringLiteral("a1.jpg"));
        selectFolderInSidebar(after);
        QTRY_COMPARE(grid->itemsModel()->rowCount(), 0);
        QTRY_COMPARE(paneFile(), QString());
        QTRY_VERIFY(!previewColour().isValid());
        InfoPane::setReaderForTesting({});
        lg::Alert::setResponder({});
        mainWindow()->hide();
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
