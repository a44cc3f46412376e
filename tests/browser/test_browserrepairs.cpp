// Repairs in the content browser: listings in name order (folder and sidebar
// scan), views that follow a list changed while they were hidden, and the
// grid's first listing of an empty folder.
#include "browser/BrowserFixtures.h"
#include "browser/ViewController.h"
#include "browser/listVc.h"
#include "browser/thumbnailvc.h"
#include "browser/GridView.h"
#include "browser/ListTableView.h"
#include "model/NameOrder.h"
#include "sidebar/FolderScan.h"
#include "sidebar/sideMenuvc.h"
#include "sidebar/BaseNode.h"
#include "app/mainvc.h"
#include "platform/Alert.h"

#include <QAbstractItemModel>
#include <QLabel>

using namespace browsertest;

namespace {

const QStringList shuffledNames = {"DSC_0024.jpg", "img_10.jpg", "DSC_0005.jpg", "b.jpg", "IMG_2.jpg", "A.jpg"};
const QStringList nameOrder = {"A.jpg", "b.jpg", "DSC_0005.jpg", "DSC_0024.jpg", "IMG_2.jpg", "img_10.jpg"};

int gridRows() { return thumbnailGrid()->collectionview->model()->rowCount(); }

} // namespace

class BrowserRepairsTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        resetSharedState();
        setListingBudget(1000);
    }
    void cleanupTestCase() { resetSharedState(); }

    void namesCompareAsFileManagersShowThem_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::newRow("digits as numbers") << "IMG_2" << "IMG_10";
        QTest::newRow("case ignored") << "apple" << "Banana";
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
        QCOMPARE(int(currentScreenMode), int(ScreenGrid));  // the list is not made yet
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
            QVERIFY(finished.wait(10000));
        }
        QCOMPARE(itemList.size(), 800);
        QCOMPARE(gridRows(), 800);
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
};

LG_TEST(BrowserRepairsTest)
#include "test_browserrepairs.moc"
