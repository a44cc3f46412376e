// Listing the current source into the shared item list: which entries count,
// both reloads with their differences, the background listing of large
// folders, the focus request; listings in name order (folder and sidebar scan),
// views that follow a list changed while they were hidden, and the grid's first
// listing of an empty folder.
#include "tests/browser/BrowserFixtures.h"
#include "app/mainvc.h"
#include "browser/GridView.h"
#include "browser/ListTableView.h"
#include "browser/ShownItemsModel.h"
#include "browser/ViewController.h"
#include "browser/listVc.h"
#include "browser/thumbnailvc.h"
#include "controls/Spinner.h"
#include "model/FileServices.h"
#include "model/NameOrder.h"
#include "platform/desktop/Alert.h"
#include "sidebar/BaseNode.h"
#include "sidebar/FolderScan.h"
#include "sidebar/sideMenuvc.h"
#include "tests/support/ScreenModeNames.h"

#include <QLabel>
#include <QLineEdit>

using namespace browsertest;

namespace {

const QStringList shuffledNames = {"DSC_0024.jpg", "img_10.jpg", "DSC_0005.jpg", "b.jpg", "IMG_2.jpg", "A.jpg"};
const QStringList nameOrder = {"A.jpg", "b.jpg", "DSC_0005.jpg", "DSC_0024.jpg", "IMG_2.jpg", "img_10.jpg"};

int gridRows() { return thumbnailGrid()->collectionview->model()->rowCount(); }

} // namespace

class TestListing : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        resetSharedState();
        setListingBudget(10);
    }
    void cleanupTestCase() { resetSharedState(); }

    void folderEntriesAreListedByTheirLowerCasedExtension()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("mixed"));
        QDir(folder).mkpath(QStringLiteral("Album"));
        QDir(folder).mkpath(QStringLiteral("Trip.jpg"));  // a folder named like a photo
        for (const char *name : {".photo.jpg", "photo.JPG", "scan.AI", "scan.ai", "clip.MOV", "notes.txt", "noext",
                                 "anim.GIF", "still.qtif"})
            lg::test::writeFile(folder + QLatin1Char('/') + QLatin1String(name));
        QVERIFY(QFile::link(folder + QStringLiteral("/Album"), folder + QStringLiteral("/linked.jpg")));

        currentFolderURL = QUrl::fromLocalFile(folder);
        QVERIFY(reloadAndWait(thumbnailGrid()));

        QMap<QString, bool> listed;  // name -> isImage
        for (const InitialDirectory &item : std::as_const(itemList)) {
            QVERIFY(item.file);
            QCOMPARE(item.file->url, *item.url);
            listed.insert(item.url->fileName(), item.isImage);
        }
        const QMap<QString, bool> expected{{".photo.jpg", true}, {"photo.JPG", true}, {"clip.MOV", false},
                                           {"anim.GIF", true}, {"still.qtif", true}};
        QCOMPARE(listed, expected);
        QCOMPARE(contentController()->lblNumberofitems->text(), QStringLiteral("Media items: 5"));
        QVERIFY(thumbnailGrid()->box_nofilefound->isHidden());

        // One entry at a time, as paste and drop use it.
        itemList.clear();
        appendMediaItemForPath(folder + QStringLiteral("/Trip.jpg"));
        appendMediaItemForPath(folder + QStringLiteral("/notes.txt"));
        QVERIFY(itemList.isEmpty());
        appendMediaItemForPath(folder + QStringLiteral("/gone.jpg"));  // vanished: listed without metadata
        QCOMPARE(itemList.size(), 1);
        QVERIFY(!itemList.first().file);
    }

    void aVanishedFolderGivesAnEmptyListAndTheNotice()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("gone"));
        lg::test::writeFile(folder + QStringLiteral("/a.jpg"));
        currentFolderURL = QUrl::fromLocalFile(folder);
        QVERIFY(reloadAndWait(listController()));
        QCOMPARE(itemList.size(), 1);

        QVERIFY(QDir(folder).removeRecursively());
        QVERIFY(reloadAndWait(listController()));
        QVERIFY(itemList.isEmpty());
        QVERIFY(!listController()->box_nofilefound->isHidden());
        QCOMPARE(contentController()->lblNumberofitems->text(), QStringLiteral("Media items: 0"));
    }

    void aLargeOrSlowFolderArrivesFromTheBackground()
    {
        const QString first = lg::test::freshFolder(QStringLiteral("first"));
        const QString second = lg::test::freshFolder(QStringLiteral("second"));
        for (int i = 0; i < 1200; ++i)  // more than one chunk of the parallel listing
            lg::test::writeFile(first + QStringLiteral("/IMG_%1.jpg").arg(i, 4, 10, QLatin1Char('0')));
        lg::test::writeFile(second + QStringLiteral("/only.png"));

        setListingBudget(0);
        thumbnailvc *grid = thumbnailGrid();
        QSignalSpy finished(grid, &thumbnailvc::reloadFinished);
        currentFolderURL = QUrl::fromLocalFile(first);
        grid->refreshData();
        QVERIFY(isListingPending() || finished.count() == 1);
        QVERIFY(finished.count() == 1 || finished.wait(10000));
        QCOMPARE(itemList.size(), 1200);
        // The parallel listing keeps the order of the folder listing.
        std::optional<QStringList> order = directoryContents(first);
        QVERIFY(order);
        sortPathsByName(*order);
        QCOMPARE(itemList.at(700).url->toLocalFile(), order->at(700));

        // A newer reload makes a pending one void.
        finished.clear();
        grid->refreshData();
        currentFolderURL = QUrl::fromLocalFile(second);
        grid->refreshData();
        QTRY_VERIFY(!isListingPending());
        QCoreApplication::processEvents();
        QCOMPARE(namesOf(itemList), QStringList{QStringLiteral("only.png")});
        QVERIFY(finished.count() <= 2);
    }

    void reloadsReapplyTheSortAndTheSearch()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("sorted"));
        for (const char *name : {"c.jpg", "a.jpg", "b.png", "ab.jpg"})
            lg::test::writeFile(folder + QLatin1Char('/') + QLatin1String(name));
        currentFolderURL = QUrl::fromLocalFile(folder);
        ViewController *content = contentController();
        thumbnailvc *grid = thumbnailGrid();

        // The grid's first reload shows the folder in name order (the chosen sort agrees).
        content->Currentsort = 1;
        isSorted = true;
        QVERIFY(reloadAndWait(grid));
        QVERIFY(!grid->firsttime);
        std::optional<QStringList> paths = directoryContents(folder);
        QVERIFY(paths);
        sortPathsByName(*paths);
        QStringList listed;
        for (const QString &path : *paths)
            listed.append(QFileInfo(path).fileName());
        QCOMPARE(namesOf(itemList), listed);
        QVERIFY(reloadAndWait(grid));
        QCOMPARE(namesOf(itemList), (QStringList{"a.jpg", "ab.jpg", "b.png", "c.jpg"}));

        // A search running across reloads is refilled from the new listing.
        content->searchField->setText(QStringLiteral("a"));
        QVERIFY(isSearchActive);
        lg::test::writeFile(folder + QStringLiteral("/aa.jpg"));
        QVERIFY(reloadAndWait(listController()));
        QCOMPARE(namesOf(searchResults), (QStringList{"a.jpg", "aa.jpg", "ab.jpg"}));
        QCOMPARE(content->lblNumberofitems->text(), QStringLiteral("Media items: 5"));
        QCOMPARE(grid->itemsModel()->rowCount(), 3);  // the grid shows (mode 0): the results
    }

    void aGridReloadWaitsForFileWorkButTheListDoesNot()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("busy"));
        lg::test::writeFile(folder + QStringLiteral("/a.jpg"));
        currentFolderURL = QUrl::fromLocalFile(folder);
        isFileOperationRunning = true;
        QSignalSpy gridFinished(thumbnailGrid(), &thumbnailvc::reloadFinished);
        thumbnailGrid()->refreshData();
        QCoreApplication::processEvents();
        QVERIFY(gridFinished.isEmpty());
        QVERIFY(itemList.isEmpty());
        QVERIFY(reloadAndWait(listController()));
        QCOMPARE(itemList.size(), 1);
    }

    void withoutAFolderTheOpenedFilesShowAndLoseEntriesWithoutMetadata()
    {
        openedFileItems = {entry(QStringLiteral("one.jpg")), InitialDirectory{}, entry(QStringLiteral("two.mov"))};
        openedFileItems[1].url = QUrl::fromLocalFile(QStringLiteral("/nowhere/broken.jpg"));
        QVERIFY(reloadAndWait(thumbnailGrid()));
        QCOMPARE(namesOf(itemList), (QStringList{"one.jpg", "two.mov"}));
        QCOMPARE(namesOf(openedFileItems), namesOf(itemList));
    }

    void theFocusRequestSelectsTheFileAndOpensTheFullImageViewer()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("focus"));
        for (const char *name : {"a.jpg", "B.jpg", "b.jpg"})
            lg::test::writeFile(folder + QLatin1Char('/') + QLatin1String(name));
        currentFolderURL = QUrl::fromLocalFile(folder);
        contentController()->Currentsort = 1;
        isSorted = true;
        thumbnailGrid()->firsttime = false;

        focusFileAfterReload = true;
        fileToFocus = QUrl::fromLocalFile(folder + QStringLiteral("/b.jpg"));
        QVERIFY(reloadAndWait(thumbnailGrid()));
        QVERIFY(!focusFileAfterReload);
        // Sorted: B.jpg, a.jpg, b.jpg; names differing only by case are different files.
        QCOMPARE(selectedItemIndex, 2);
        QCOMPARE(ScreenMode(currentScreenMode), ScreenFullImage);

        // No match: the index stays, the request is used up all the same.
        selectedItemIndex = 1;
        focusFileAfterReload = true;
        fileToFocus = QUrl::fromLocalFile(folder + QStringLiteral("/missing.jpg"));
        QVERIFY(reloadAndWait(listController()));
        QVERIFY(!focusFileAfterReload);
        QCOMPARE(selectedItemIndex, 1);
    }

    void namesCompareAsFileManagersShowThem_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::newRow("digits as numbers") << "IMG_2" << "IMG_10";
        QTest::newRow("case ignored") << "apple" << "Banana";
        QTest::newRow("case ignored beyond ASCII") << "éa" << "Éb";
        QTest::newRow("leading zeros") << "DSC_0005" << "DSC_24";
        QTest::newRow("prefix first") << "img" << "img 2";
        QTest::newRow("huge numbers") << "x99999999999999999999" << "x100000000000000000000";
        QTest::newRow("equal but case: total order") << "A.jpg" << "a.jpg";
    }
    void namesCompareAsFileManagersShowThem()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QVERIFY(compareNames(a, b) < 0);
        QVERIFY(compareNames(b, a) > 0);
        QCOMPARE(compareNames(a, a), 0);
    }

    void folderListingAndSidebarScanAreInNameOrder()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("order"));
        for (const QString &name : shuffledNames) {
            writeJpeg(folder + QLatin1Char('/') + name, 8, 8);
            QDir().mkpath(folder + QStringLiteral("/sub/") + QFileInfo(name).completeBaseName());
        }
        QCOMPARE(namesOf(mediaItemsInFolder(folder)), nameOrder);

        FolderRecord record = FolderRecord::make(QUrl::fromLocalFile(folder + QStringLiteral("/sub")));
        ScanContext context;
        sideMenuvc::scanFolderTree(folder + QStringLiteral("/sub"), record, context);
        QStringList scanned;
        for (const FolderRecord &child : record.arrpath)
            scanned << child.name + QStringLiteral(".jpg");
        QCOMPARE(scanned, nameOrder);
    }

    void theListShowsWhatTheGridListedWhileItWasHidden()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("added"));
        for (int i = 0; i < 3; ++i)
            writeJpeg(folder + QStringLiteral("/p%1.jpg").arg(i), 8, 8);
        ViewController *content = contentController();
        content->resize(900, 600);
        content->show();
        QCOMPARE(ScreenMode(currentScreenMode), ScreenGrid);  // the list is not made yet
        currentFolderURL = QUrl::fromLocalFile(folder);
        QVERIFY(reloadAndWait(thumbnailGrid()));
        QCOMPARE(gridRows(), 3);

        content->segmentControlClicked(1);
        QCOMPARE(listController()->tblview->model()->rowCount(), 3);
        content->hide();
    }

    void theGridsFirstListingReplacesWhatItShowed_data()
    {
        QTest::addColumn<bool>("sorted");
        QTest::newRow("an empty folder") << false;
        QTest::newRow("a folder, with a chosen sort") << true;
    }
    void theGridsFirstListingReplacesWhatItShowed()
    {
        QFETCH(bool, sorted);
        const QString folder = lg::test::freshFolder(QStringLiteral("first"));
        if (sorted) {
            writeJpeg(folder + QStringLiteral("/a.jpg"), 8, 8);
            writeJpeg(folder + QStringLiteral("/b.jpg"), 200, 200, Qt::blue);
        }
        thumbnailvc *grid = thumbnailGrid();
        itemList = {entry(QStringLiteral("old1.jpg")), entry(QStringLiteral("old2.jpg")),
                    entry(QStringLiteral("old3.jpg"))};
        grid->reloadCollectionView();
        QCOMPARE(gridRows(), 3);
        if (sorted) {
            contentController()->SortDescending();
            contentController()->SortName();
        }
        grid->firsttime = true;

        currentFolderURL = QUrl::fromLocalFile(folder);
        QVERIFY(reloadAndWait(grid));
        QCOMPARE(gridRows(), int(itemList.size()));
        if (sorted)
            QCOMPARE(namesOf(itemList), (QStringList{"b.jpg", "a.jpg"}));
        QCOMPARE(grid->box_nofilefound->isVisible(), !sorted && grid->isVisible());
    }

    void theOldFolderIsNotActedOnWhileTheNewOneLists()
    {
        const QString old = lg::test::freshFolder(QStringLiteral("old"));
        for (int i = 0; i < 3; ++i)
            writeJpeg(old + QStringLiteral("/o%1.jpg").arg(i), 8, 8);
        const QString large = lg::test::freshFolder(QStringLiteral("large"));
        for (int i = 0; i < 800; ++i)
            lg::test::writeFile(large + QStringLiteral("/n%1.jpg").arg(i));
        thumbnailvc *grid = thumbnailGrid();
        listVc *list = listController();
        currentFolderURL = QUrl::fromLocalFile(old);
        QVERIFY(reloadAndWait(grid));
        QCOMPARE(itemList.size(), 3);

        setListingBudget(0);
        currentFolderURL = QUrl::fromLocalFile(large);
        selectedItemIndex = 0;
        QSignalSpy finished(grid, &thumbnailvc::reloadFinished);
        grid->refreshData();
        if (finished.isEmpty()) {
            // Meanwhile the old entries are gone: nothing to open or step over.
            QVERIFY(isListingPending());
            QVERIFY(activeItemList().isEmpty());
            // The grid is busy, not empty.
            QVERIFY(grid->box_nofilefound->isHidden());
            QVERIFY(grid->listingSpinner->animate());
            QVERIFY(finished.wait(10000));
        }
        QCOMPARE(itemList.size(), 800);
        QCOMPARE(gridRows(), 800);
        QVERIFY(!grid->listingSpinner->animate());
        QVERIFY(grid->box_nofilefound->isHidden());

        // From an empty folder to one that lists slowly: never the empty notice meanwhile.
        const QString empty = lg::test::freshFolder(QStringLiteral("empty"));
        currentFolderURL = QUrl::fromLocalFile(empty);
        setListingBudget(1000);
        QVERIFY(reloadAndWait(grid));
        QVERIFY(!grid->box_nofilefound->isHidden());
        setListingBudget(0);
        currentFolderURL = QUrl::fromLocalFile(large);
        finished.clear();
        grid->refreshData();
        if (finished.isEmpty()) {
            QVERIFY(grid->box_nofilefound->isHidden());
            QVERIFY(list->listingSpinner->animate());   // the list learns it too
            QVERIFY(finished.wait(10000));
        }
        QVERIFY(!list->listingSpinner->animate());
        QVERIFY(grid->box_nofilefound->isHidden());

        // A change the folder watch found, waiting for its quiet moment, is on its way too.
        currentFolderURL = QUrl::fromLocalFile(empty);
        setListingBudget(1000);
        QVERIFY(reloadAndWait(grid));
        currentScreenMode = ScreenGrid;
        contentHub()->startMonitorWithSender();
        lg::test::writeFile(empty + QStringLiteral("/arrived.jpg"));
        QTRY_VERIFY(grid->listingSpinner->animate());
        QVERIFY(grid->box_nofilefound->isHidden());
        QTRY_COMPARE(itemList.size(), 1);
        QTRY_VERIFY(!grid->listingSpinner->animate());
        contentHub()->stopMonitorWithSender();
    }

    void theSidebarAddCountsEveryFolderOnceAndKeepsItsFlag()
    {
        lg::Alert::setResponder([](const lg::AlertSpec &) { return 0; });
        mainvc *hub = contentHub();
        sideMenuvc *sidebar = sidebarController();
        const QString root = lg::test::freshFolder(QStringLiteral("Trip"));
        for (int i = 0; i < 13; ++i)
            QDir().mkpath(root + QStringLiteral("/d%1").arg(i));

        // Paused after the 8th folder: all 8 are counted, not only the first 6.
        std::atomic<int> recorded{0};
        sideMenuvc::folderRecordedHook = [&recorded](const QUrl &) {
            if (++recorded == 8)
                stopAddingFolders = true;
        };
        QSignalSpy finished(sidebar, &sideMenuvc::addingFinished);
        const QUrl url = QUrl::fromLocalFile(root);
        sidebar->addFoldersWithProgress(QList<QUrl>{url, url});  // the same folder twice
        QTRY_VERIFY(stopAddingFolders.load());
        QTRY_COMPARE(hub->currentCount.load(), 8);

        // Files handed over meanwhile do not end the add's tree update.
        const QString other = lg::test::freshFolder(QStringLiteral("elsewhere"));
        writeJpeg(other + QStringLiteral("/x.jpg"), 8, 8);
        sidebar->revealFolderOfFile({other + QStringLiteral("/x.jpg")});
        QVERIFY(isSidebarTreeUpdating);

        stopAddingFolders = false;
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
        int roots = 0;
        for (const BaseNode::Ptr &node : sidebar->contents())
            roots += node->url() == url ? 1 : 0;
        QCOMPARE(roots, 1);
        sideMenuvc::folderRecordedHook = {};
        lg::Alert::setResponder({});
    }

    void noSelectionKeepsThePreviewOnItsWay()
    {
        sideMenuvc *sidebar = sidebarController();
        sidebar->resize(250, 600);
        sidebar->show();
        const QString folder = lg::test::freshFolder(QStringLiteral("preview"));
        itemList = {Metadata::init(QUrl::fromLocalFile(writeJpeg(folder + QStringLiteral("/p.jpg"), 64, 64)))};
        itemList[0].isImage = true;
        selectedItemIndex = 0;
        sidebar->updatePreviewThumbnail();
        selectedItemIndex = -1;
        sidebar->updatePreviewThumbnail();
        QTRY_VERIFY(!sidebar->imgviewThumbnail->pixmap().isNull());
        sidebar->hide();
    }

    void noCurrentItemDropsThePreviewOnItsWay()
    {
        sideMenuvc *sidebar = sidebarController();
        sidebar->resize(250, 600);
        sidebar->show();
        const QString folder = lg::test::freshFolder(QStringLiteral("cleared"));
        itemList = {Metadata::init(QUrl::fromLocalFile(writeJpeg(folder + QStringLiteral("/p.jpg"), 64, 64)))};
        itemList[0].isImage = true;
        selectedItemIndex = 0;
        sidebar->updatePreviewThumbnail();   // the picture is now being made
        selectedItemIndex = -1;
        showNoCurrentItem();
        QVERIFY(sidebar->video_icon->isHidden());
        // The picture on its way would arrive well within this time.
        for (int waited = 0; waited < 1500; waited += 25) {
            QTest::qWait(25);
            QVERIFY(sidebar->imgviewThumbnail->pixmap().isNull());
        }
        sidebar->hide();
    }
};

LG_TEST(TestListing)
#include "test_listing.moc"
