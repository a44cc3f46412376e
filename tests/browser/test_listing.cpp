// Listing the current source into the shared item list: which entries count,
// both reloads with their differences, the background listing of large
// folders, and the focus request.
#include "browser/BrowserFixtures.h"
#include "browser/GridView.h"
#include "browser/ShownItemsModel.h"
#include "browser/ViewController.h"
#include "browser/listVc.h"
#include "browser/thumbnailvc.h"
#include "model/FileServices.h"
#include "model/NameOrder.h"

#include <QLabel>
#include <QLineEdit>

using namespace browsertest;

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
};

LG_TEST(TestListing)
#include "test_listing.moc"
