// Adding folders to the sidebar through the hub: the background add with its
// progress, refusals and messages, the stop question, the empty-sidebar reset,
// the selection that loads the content, the saved roots and handed-over files.
#include "app/Essentials.h"
#include "model/FileServices.h"
#include "model/NameOrder.h"
#include "app/homeVc.h"
#include "app/mainWindowController.h"
#include "app/mainvc.h"
#include "browser/listVc.h"
#include "browser/thumbnailvc.h"
#include "controls/PopoverMaxTypeVC.h"
#include "model/FolderMonitor.h"
#include "platform/Alert.h"
#include "platform/Paths.h"
#include "platform/Settings.h"
#include "platform/Timer.h"
#include "sidebar/outlineView.h"
#include "sidebar/sideMenuvc.h"
#include "tests/support/ScreenModeNames.h"
#include "tests/support/TestSupport.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QEnterEvent>
#include <QFile>
#include <QFrame>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <atomic>

namespace {

const QString alreadyAddedText =
    QStringLiteral("Some of the folders can not be added because they are already added to the bookmark list.");
const QString stopQuestion = QStringLiteral("Are you sure you want to Stop importing folders to view photos and videos?");

QUrl folderUrl(const QString &path)
{
    return QUrl::fromLocalFile(path);
}

QStringList titles(const QList<BaseNode::Ptr> &nodes)
{
    QStringList result;
    for (const BaseNode::Ptr &node : nodes)
        result.append(node->nodeTitle());
    return result;
}

// A folder in the test home with the given sub-folders (paths relative to it).
QString makeTree(const QString &name, const QStringList &folders)
{
    const QString root = lg::test::freshFolder(name);
    for (const QString &folder : folders)
        QDir().mkpath(root + QLatin1Char('/') + folder);
    return root;
}

QStringList visibleSubfolders(const QString &path)
{
    QStringList names;
    for (const QString &entry : directoryContents(path).value_or(QStringList())) {
        const QFileInfo info(entry);
        if (info.isDir() && !info.isSymLink() && !info.fileName().startsWith(QLatin1Char('.')))
            names.append(info.fileName());
    }
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) { return compareNames(a, b) < 0; });
    return names;
}

bool addAndWait(sideMenuvc *sidebar, const QList<QUrl> &urls)
{
    QSignalSpy finished(sidebar, &sideMenuvc::addingFinished);
    sidebar->addFoldersWithProgress(urls);
    return finished.count() > 0 || finished.wait(10000);
}

QList<QString> shownTitles()
{
    QList<QString> result;
    for (const lg::AlertSpec &spec : lg::Alert::shownAlerts())
        result.append(spec.title);
    return result;
}

} // namespace

class TestSidebarAdd : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        resetSharedState();
        lg::Alert::setResponder([](const lg::AlertSpec &) { return 0; });
        lg::Settings::remove(QStringLiteral("arrPaths"));
    }
    void cleanup() { lg::Alert::setResponder({}); }
    void cleanupTestCase() { resetSharedState(); }

    void addingATreeGivesItsNodesAndSelectsIt()
    {
        const QString root = makeTree(QStringLiteral("Trip"), {"Beach/Sunset", "Zoo", "Alps/Day 1", "Alps/Day 2",
                                                               ".thumbs/cache", "Lib.photoslibrary/originals/0"});
        lg::test::writeFile(root + QStringLiteral("/Zoo/a.jpg"));
        QVERIFY(QFile::link(root + QStringLiteral("/Alps"), root + QStringLiteral("/Alps link")));
        mainvc *hub = contentHub();
        sideMenuvc *sidebar = sidebarController();
        QSignalSpy reloaded(thumbnailGrid(), &thumbnailvc::reloadFinished);
        QAbstractItemModelTester tester(sidebar->treeController->model(),
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);

        QVERIFY(addAndWait(sidebar, {folderUrl(root)}));
        QCOMPARE(titles(sidebar->contents()), QStringList({"Trip"}));
        const BaseNode::Ptr trip = sidebar->contents().first();
        QCOMPARE(titles(trip->childNodes()), visibleSubfolders(root));
        for (const BaseNode::Ptr &node : trip->childNodes()) {
            const QString path = node->url()->toLocalFile();
            QCOMPARE(titles(node->childNodes()), node->isLeaf() ? QStringList() : visibleSubfolders(path));
            if (node->nodeTitle() == QLatin1String("Lib.photoslibrary"))
                QVERIFY(node->isLeaf());
        }
        // Hidden folders are neither counted nor shown; the library's insides
        // are counted but not shown.
        // The link to a folder is counted (not entered) too.
        QCOMPARE(hub->totalcount.load(), 10);
        QCOMPARE(hub->currentCount.load(), 10);

        // The only row is selected, expanded and loaded; the overlay is gone.
        QCOMPARE(sidebar->treeController->selectionIndexPath(), IndexPath({0}));
        QVERIFY(sidebar->myOutlineView->isExpanded(sidebar->treeController->model()->indexForPath({0})));
        QCOMPARE(currentFolderURL, std::optional<QUrl>(folderUrl(root)));
        QVERIFY(!isBusy);
        QVERIFY(hub->bgbox->isHidden());
        QTRY_VERIFY(hub->progressBox->isHidden());
        QVERIFY(!isSidebarTreeUpdating);
        QVERIFY(reloaded.count() > 0 || reloaded.wait(5000));

        // A second root: the last row is selected, nothing expanded anew.
        const QString other = makeTree(QStringLiteral("Other"), {"x"});
        QVERIFY(addAndWait(sidebar, {folderUrl(other)}));
        QCOMPARE(titles(sidebar->contents()), QStringList({"Trip", "Other"}));
        QCOMPARE(sidebar->myOutlineView->selectedRow(), sidebar->myOutlineView->numberOfRows() - 1);
        QCOMPARE(currentFolderURL, std::optional<QUrl>(folderUrl(other)));
        QVERIFY(!sidebar->myOutlineView->isExpanded(sidebar->treeController->model()->indexForPath({1})));
    }

    void refusedFoldersAreReportedOnce()
    {
        lg::FakeClock clock;
        contentHub();
        sideMenuvc *sidebar = sidebarController();
        const QString trip = makeTree(QStringLiteral("Trip"), {"a"});
        QTemporaryDir outside(QDir::tempPath() + QStringLiteral("/lg-outside-XXXXXX"));
        QVERIFY(outside.isValid());
        QVERIFY(!lg::Paths::isInsideHome(outside.path()));

        // Only folders outside the home folder: the tree stays as it was.
        QVERIFY(addAndWait(sidebar, {folderUrl(outside.path())}));
        QVERIFY(sidebar->contents().isEmpty());
        QCOMPARE(shownTitles(), QList<QString>({QStringLiteral("Some or all of the selected folders cannot be added. "
                                                               "Only folders from  within your User folder (")
                                                + lg::Paths::userName() + QStringLiteral(") can be added.")}));
        lg::Alert::clearShownAlerts();

        QVERIFY(addAndWait(sidebar, {folderUrl(trip)}));
        // The same folder again (written differently) with one from outside:
        // only the already-added message, half a second after the end.
        QVERIFY(addAndWait(sidebar, {folderUrl(trip + QLatin1Char('/')), folderUrl(outside.path())}));
        QCOMPARE(titles(sidebar->contents()), QStringList({"Trip"}));
        QVERIFY(shownTitles().isEmpty());
        clock.advance(499);
        QVERIFY(shownTitles().isEmpty());
        clock.advance(1);
        QCOMPARE(shownTitles(), QList<QString>({alreadyAddedText}));
        QVERIFY(isBusy);  // the overlay stands behind the message until it is answered
        QTRY_VERIFY(!isBusy);
        QVERIFY(!contentHub()->isonlyalert);
    }

    void stopQuestionPausesThenEndsOrResumes()
    {
        mainvc *hub = contentHub();
        sideMenuvc *sidebar = sidebarController();
        const QString first = makeTree(QStringLiteral("First"), {"a", "b"});
        QVERIFY(addAndWait(sidebar, {folderUrl(first)}));

        // The user presses Stop while the second add records its folders: the
        // scan waits while the question is open.
        const QString second = makeTree(QStringLiteral("Second"), {"1/x", "2/y", "3/z"});
        std::atomic<int> recorded{0};
        sideMenuvc::folderRecordedHook = [&recorded](const QUrl &) {
            if (recorded++ == 0)
                stopAddingFolders = true;
        };
        QList<int> answers{1, 0};  // "No" first, then "Yes"
        lg::Alert::setResponder([&answers](const lg::AlertSpec &) { return answers.takeFirst(); });
        QSignalSpy finished(sidebar, &sideMenuvc::addingFinished);
        sidebar->addFoldersWithProgress(QList<QUrl>{folderUrl(second), folderUrl(makeTree("Third", {"q"}))});
        QTRY_VERIFY(stopAddingFolders.load());
        QTest::qWait(50);
        QCOMPARE(recorded.load(), 1);
        QVERIFY(sidebar->isAdding());

        hub->btncancelClicked();  // asks; "No" lets the scan go on
        QTRY_VERIFY(!stopAddingFolders.load());
        QTRY_VERIFY(recorded.load() > 1);
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
        QCOMPARE(titles(sidebar->contents()), QStringList({"First", "Second", "Third"}));

        // This time "Yes": the add ends at its next check point with none of its
        // folders, and the tree is as it was.
        recorded = 0;
        const QString fourth = makeTree(QStringLiteral("Fourth"), {"1", "2", "3"});
        finished.clear();
        sidebar->addFoldersWithProgress(QList<QUrl>{folderUrl(fourth)});
        QTRY_VERIFY(stopAddingFolders.load());
        sidebar->alertforStopAddingFolder();
        QCOMPARE(lg::Alert::shownAlerts().last().title, stopQuestion);
        QCOMPARE(lg::Alert::shownAlerts().last().buttons, QStringList({"Yes", "No"}));
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
        QCOMPARE(recorded.load(), 1);
        QCOMPARE(titles(sidebar->contents()), QStringList({"First", "Second", "Third"}));
        QVERIFY(!addingFoldersCancelled && !stopAddingFolders && !isSidebarTreeUpdating && !isBusy);
        QTRY_VERIFY(hub->progressBox->isHidden());

        // The sidebar still loads what is selected.
        sidebar->treeController->setSelectionIndexPath({0, 1});
        QCOMPARE(currentFolderURL, std::optional<QUrl>(folderUrl(first + QStringLiteral("/") +
                                                                 visibleSubfolders(first).at(1))));
    }

    void stoppedAddOnAnEmptySidebarReturnsHome()
    {
        contentHub();
        sideMenuvc *sidebar = sidebarController();
        mainWindowController *window = mainWindow();
        window->setContentViewController(contentHub());
        currentScreenMode = ScreenList;
        itemList.append(InitialDirectory());
        openedFileItems.append(InitialDirectory());
        lg::Settings::setValue(QStringLiteral("arrPaths"), QStringList({QStringLiteral("/old")}));

        sideMenuvc::folderRecordedHook = [](const QUrl &) { stopAddingFolders = true; };
        QSignalSpy finished(sidebar, &sideMenuvc::addingFinished);
        sidebar->addFoldersWithProgress(QList<QUrl>{folderUrl(makeTree(QStringLiteral("Only"), {"a", "b"}))});
        QTRY_VERIFY(stopAddingFolders.load());
        sidebar->alertforStopAddingFolder();  // answered "Yes"
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
        QVERIFY(sidebar->contents().isEmpty());
        QCOMPARE(ScreenMode(currentScreenMode), ScreenHome);
        QCOMPARE(window->contentViewController(), static_cast<QWidget *>(homeScreen()));
        QCOMPARE(selectedViewStyle, listStyle);
        QVERIFY(itemList.isEmpty() && openedFileItems.isEmpty());
        QCOMPARE(lg::Settings::stringListValue(QStringLiteral("arrPaths")), std::optional<QStringList>(QStringList()));
    }

    void selectionLoadsTheFolder()
    {
        mainvc *hub = contentHub();
        sideMenuvc *sidebar = sidebarController();
        const QString root = makeTree(QStringLiteral("Pics"), {"One", "Two"});
        QVERIFY(addAndWait(sidebar, {folderUrl(root)}));
        const IndexPath first{0, 0};
        const QString firstPath = sidebar->treeController->descendantNodeAtIndexPath(first)->url()->toLocalFile();

        currentScreenMode = ScreenList;
        selectedItemIndex = 5;
        sidebar->treeController->setSelectionIndexPath(first);
        QCOMPARE(currentFolderURL, std::optional<QUrl>(folderUrl(firstPath)));
        QCOMPARE(selectedItemIndex, 0);
        QVERIFY(hub->monitor);

        // From the viewer the selection goes back to the list that showed before it.
        currentScreenMode = ScreenViewer;
        styleBeforeViewer = listStyle;
        QSignalSpy listReloaded(listController(), &listVc::reloadFinished);
        sidebar->treeController->setSelectionIndexPath({0, 1});
        QCOMPARE(ScreenMode(currentScreenMode), ScreenList);
        QVERIFY(listReloaded.count() > 0 || listReloaded.wait(5000));
        // In the full-image viewer only the view behind it reloads; the mode stays.
        currentScreenMode = ScreenFullImage;
        sidebar->treeController->setSelectionIndexPath(first);
        QCOMPARE(ScreenMode(currentScreenMode), ScreenFullImage);
        QCOMPARE(currentFolderURL, std::optional<QUrl>(folderUrl(firstPath)));
        currentScreenMode = ScreenList;

        // While the tree is being changed a selection loads nothing.
        isSidebarTreeUpdating = true;
        sidebar->treeController->setSelectionIndexPath({0});
        QCOMPARE(currentFolderURL, std::optional<QUrl>(folderUrl(firstPath)));
        isSidebarTreeUpdating = false;

        // The entry of opened files has no folder: the current folder is unset.
        const QString outside = lg::test::writeFile(lg::test::freshFolder(QStringLiteral("Elsewhere")) +
                                                    QStringLiteral("/clip.mov"));
        sidebar->revealFolderOfFile({outside});
        QCOMPARE(titles(sidebar->contents()).last(), openedWithLabel);
        QCOMPARE(sidebar->treeController->selectionIndexPath(), IndexPath({1}));
        QVERIFY(!currentFolderURL);
        QVERIFY(!hub->monitor);

        // Two rows selected: nothing is loaded.
        sidebar->myOutlineView->setSelectionMode(QAbstractItemView::MultiSelection);
        sidebar->treeController->selectionModel()->select(sidebar->treeController->model()->indexForPath({0}),
                                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QVERIFY(!currentFolderURL);
    }

    void rootsSurviveARestart()
    {
        contentHub();
        sideMenuvc *sidebar = sidebarController();
        const QString a = makeTree(QStringLiteral("Alpha"), {"1"});
        const QString b = makeTree(QStringLiteral("Beta"), {});
        const QString gone = makeTree(QStringLiteral("Gone"), {"x"});
        QVERIFY(addAndWait(sidebar, {folderUrl(a), folderUrl(b), folderUrl(gone)}));
        QCOMPARE(sidebar->rootFolderPaths(), QStringList({a, b, gone}));
        lg::Settings::setValue(QStringLiteral("arrPaths"), sidebar->rootFolderPaths());
        QVERIFY(QDir(gone).removeRecursively());

        // The next start: the home screen continues with the saved roots.
        resetSharedState();
        lg::Settings::reload();
        homeScreen()->btnContinuePreviousSelectionClicked();
        sidebar = sidebarController();
        QTRY_COMPARE(sidebar->rootFolderPaths(), QStringList({a, b, gone}));
        QTRY_VERIFY(!sidebar->isAdding());
        // The vanished folder is still listed (as a missing one), without children.
        QVERIFY(sidebar->contents().at(2)->isLeaf());
        QVERIFY(SidebarTreeModel::isMissingFolder(sidebar->contents().at(2).get()));
        QCOMPARE(titles(sidebar->contents().at(0)->childNodes()), QStringList({"1"}));
    }

    void handedOverFilesAndFolders()
    {
        contentHub();
        sideMenuvc *sidebar = sidebarController();
        const QString album = makeTree(QStringLiteral("Album"), {"Sub"});
        QVERIFY(addAndWait(sidebar, {folderUrl(album)}));
        const QString inside = lg::test::writeFile(album + QStringLiteral("/Sub/p.jpg"));

        // A file inside a sidebar folder selects that folder and asks for the
        // file (the home screen shows: no reload takes the request meanwhile).
        currentScreenMode = ScreenHome;
        sidebar->revealFolderOfFile({inside});
        QCOMPARE(sidebar->treeController->selectionIndexPath(), IndexPath({0, 0}));
        QVERIFY(focusFileAfterReload);
        QCOMPARE(fileToFocus, std::optional<QUrl>(folderUrl(inside)));
        QCOMPARE(currentFolderURL, std::optional<QUrl>(folderUrl(album + QStringLiteral("/Sub"))));
        currentScreenMode = ScreenGrid;

        // Files elsewhere go under the opened-files entry, made once, each listed once.
        const QString loose = lg::test::freshFolder(QStringLiteral("Loose"));
        const QString photo = lg::test::writeFile(loose + QStringLiteral("/a.JPG"));
        const QString clip = lg::test::writeFile(loose + QStringLiteral("/b.mp4"));
        const QString text = lg::test::writeFile(loose + QStringLiteral("/c.txt"));
        sidebar->revealFolderOfFile({photo, clip, text});
        sidebar->revealFolderOfFile({photo});
        QCOMPARE(titles(sidebar->contents()), QStringList({"Album", openedWithLabel}));
        QCOMPARE(openedFileItems.size(), 2);
        QVERIFY(openedFileItems.at(0).isImage);
        QVERIFY(!openedFileItems.at(1).isImage);

        // Files chosen in the panel are told apart by extension too.
        openedFileItems.clear();
        sidebar->showChosenFiles({folderUrl(photo), folderUrl(clip)});
        QCOMPARE(openedFileItems.size(), 2);
        QVERIFY(openedFileItems.at(0).isImage);
        QVERIFY(!openedFileItems.at(1).isImage);

        // A folder handed over becomes a root; one already there is selected.
        const QString folder = makeTree(QStringLiteral("Handed"), {"In"});
        QSignalSpy finished(sidebar, &sideMenuvc::addingFinished);
        sidebar->revealFolderOfFile({folder});
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
        QCOMPARE(titles(sidebar->contents()), QStringList({"Album", openedWithLabel, "Handed"}));
        sidebar->revealFolderOfFile({album});
        QCOMPARE(sidebar->treeController->selectionIndexPath(), IndexPath({0}));
    }

    void addsAskedForWhileOneRunsFollowIt()
    {
        contentHub();
        sideMenuvc *sidebar = sidebarController();
        QSignalSpy finished(sidebar, &sideMenuvc::addingFinished);
        sidebar->addFoldersWithProgress(QList<QUrl>{folderUrl(makeTree(QStringLiteral("P"), {"1"}))});
        sidebar->addFoldersWithProgress(QList<QUrl>{folderUrl(makeTree(QStringLiteral("Q"), {"2"}))});
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, 10000);
        QCOMPARE(titles(sidebar->contents()), QStringList({"P", "Q"}));
    }

};

LG_TEST(TestSidebarAdd)
#include "test_sidebaradd.moc"
