// The sidebar's tree: nodes, the model's index paths, the insertions that follow
// the selection, the record scan with its check points and progress steps; and
// adding folders through the hub: the background add with its progress,
// refusals and messages, the stop question, the empty-sidebar reset, the
// selection that loads the content, the saved roots and handed-over files, and
// the button bar with the media-files panel.
#include "app/FileHandover.h"
#include "app/homeVc.h"
#include "app/mainWindowController.h"
#include "app/mainvc.h"
#include "browser/listVc.h"
#include "browser/thumbnailvc.h"
#include "controls/CursorButtons.h"
#include "controls/PopoverMaxTypeVC.h"
#include "model/FileServices.h"
#include "model/FolderMonitor.h"
#include "model/NameOrder.h"
#include "platform/desktop/Panels.h"
#include "platform/desktop/Settings.h"
#include "platform/runtime/Timer.h"
#include "sidebar/BaseNode.h"
#include "sidebar/FolderScan.h"
#include "sidebar/outline_cell.h"
#include "tests/sidebar/SidebarFixture.h"
#include "tests/support/ScreenModeNames.h"
#include "tests/support/Seams.h"

#include <QAbstractItemModelTester>
#include <QFile>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPainter>
#include <QTemporaryDir>

#include <atomic>
#include <pwd.h>
#include <unistd.h>

using namespace sidebartest;

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

QStringList recordNames(const FolderRecord &record)
{
    QStringList result;
    for (const FolderRecord &child : record.arrpath)
        result.append(child.name);
    return result;
}

// The visible sub-folders of a folder in the order the scan lists them (by name).
QStringList listedFolders(const QString &path)
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

std::optional<QStringList> savedRoots()
{
    return lg::Settings::stringListValue(QStringLiteral("arrPaths"));
}

// Empties an environment variable for the life of the object (the program
// reads an empty one as unset), then puts it back. It never adds or removes
// one, which would move the environment under threads that read it meanwhile.
class EnvironmentEmptied
{
public:
    explicit EnvironmentEmptied(const char *name)
        : m_name(name), m_wasSet(qEnvironmentVariableIsSet(name)), m_old(qgetenv(name))
    {
        if (m_wasSet)
            qputenv(name, QByteArray());
    }
    ~EnvironmentEmptied()
    {
        if (m_wasSet)
            qputenv(m_name, m_old);
    }

private:
    const char *m_name;
    bool m_wasSet;
    QByteArray m_old;
};

BaseNode::Ptr child(const QString &title, bool leaf)
{
    auto node = ChildNode::create();
    node->setNodeTitle(title);
    node->setIsLeaf(leaf);
    return node;
}

} // namespace

class TestSidebarTree : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        resetSharedState();
        lg::Alert::setResponder([](const lg::AlertSpec &) { return 0; });
        lg::Settings::remove(QStringLiteral("arrPaths"));
    }
    void cleanup() { lg::test::resetSeams(); }
    void cleanupTestCase() { resetSharedState(); }

    void nodesKeepTheirValuesThroughCodingAndCopying()
    {
        // A leaf answers a list holding only itself; coding it does not loop.
        BaseNode::Ptr leaf = BaseNode::initLeaf();
        QCOMPARE(leaf->children().size(), 1);
        QCOMPARE(leaf->children().first().get(), leaf.get());

        auto group = child(QStringLiteral("Trip"), false);
        group->setUrl(QUrl::fromLocalFile(QStringLiteral("/home/u/Trip")));
        group->setChildren({child(QStringLiteral("Day 1"), true), child(QStringLiteral("Day 2"), true)});
        const BaseNode::Ptr decoded = BaseNode::initWithCoder(group->encodeWithCoder());
        QCOMPARE(decoded->url(), group->url());
        QCOMPARE(titles(decoded->childNodes()), QStringList({"Day 1", "Day 2"}));
        QVERIFY(decoded->childNodes().first()->isLeaf());
    }

    void descendantTestsFollowIdentity()
    {
        auto grand = child(QStringLiteral("grand"), false);
        auto parent = child(QStringLiteral("parent"), false);
        auto node = child(QStringLiteral("node"), false);
        auto leaf = child(QStringLiteral("leaf"), true);
        parent->setChildren({node});
        grand->setChildren({parent, leaf});

        QVERIFY(!node->isDescendantOfNodes({node}));
        QVERIFY(node->isDescendantOfNodes({grand}));
        QVERIFY(!grand->isDescendantOfNodes({node, leaf}));
        // Leaves of the list are skipped, so a leaf's self-containing list never loops.
        QVERIFY(!leaf->isDescendantOfNodes({leaf}));
        QVERIFY(!leaf->isOneOfNodesOrDescendant({}));
    }

    void modelRefusesPlacesOutsideTheTree()
    {
        SidebarTreeController controller;
        SidebarTreeModel *model = controller.model();
        QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVERIFY(controller.insertObject(child(QStringLiteral("A"), false), {0}));
        QVERIFY(controller.insertObject(child(QStringLiteral("B"), true), {1}));
        QVERIFY(controller.insertObject(child(QStringLiteral("A1"), true), {0, 0}));
        QCOMPARE(controller.selectionIndexPath(), IndexPath({0, 0}));

        for (const IndexPath &outside : {IndexPath(), IndexPath({5}), IndexPath({1, 0}) /* into a leaf */, IndexPath({0, -1})})
            QVERIFY(!controller.insertObject(child(QStringLiteral("x"), true), outside));
        QVERIFY(!controller.setSelectionIndexPath({7, 3}));
        QCOMPARE(controller.selectionIndexPath(), IndexPath({0, 0}));
        QVERIFY(!controller.descendantNodeAtIndexPath({3}));
        QCOMPARE(model->rowCount(model->indexForPath({1})), 0);

        // Paths and indexes agree after an insertion before existing rows.
        QVERIFY(controller.insertObject(child(QStringLiteral("Z"), false), {0}));
        QCOMPARE(titles(controller.contents()), QStringList({"Z", "A", "B"}));
        QCOMPARE(model->pathForIndex(model->indexForPath({1, 0})), IndexPath({1, 0}));
        QCOMPARE(model->nodeForIndex(model->indexForPath({1, 0}))->nodeTitle(), QStringLiteral("A1"));
        QCOMPARE(model->parent(model->indexForPath({1, 0})).row(), 1);

        controller.setSelectionIndexPath({1});
        controller.remove();
        QCOMPARE(titles(controller.contents()), QStringList({"Z", "B"}));
        QVERIFY(!controller.removeObjectAtArrangedObjectIndexPath({2}));
        QCOMPARE(model->nodeForIndex(model->indexForPath({1}))->nodeTitle(), QStringLiteral("B"));
    }

    // A folder whose name holds a newline or a line separator shows it on
    // one line, each as its visible symbol, as the grid and the list do; a
    // rename starts from the name itself.
    void aFolderNameIsShownOnOneLine_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("shown");
        QTest::newRow("a newline") << "two\nlines" << "two\u240Alines";
        QTest::newRow("a line separator") << "a\u2028b" << "a\u2424b";
        QTest::newRow("plain") << "Trip 2" << "Trip 2";
    }
    void aFolderNameIsShownOnOneLine()
    {
        QFETCH(QString, name);
        QFETCH(QString, shown);
        SidebarTreeController controller;
        SidebarTreeModel *model = controller.model();
        QVERIFY(controller.insertObject(child(name, false), {0}));
        QVERIFY(controller.insertObject(child(shown, false), {1}));
        const QModelIndex named = model->indexForPath({0});
        QCOMPARE(named.data(Qt::DisplayRole).toString(), shown);
        QCOMPARE(named.data(Qt::EditRole).toString(), name);
        // As the sidebar's cell paints it: the same as the name of its symbols.
        outline_cell cell;
        QStyleOptionViewItem option;
        option.rect = QRect(0, 0, 300, outline_cell::kRowHeight);
        option.font = QApplication::font();
        option.fontMetrics = QFontMetrics(option.font);
        QImage painted[2];
        for (int row = 0; row < 2; ++row) {
            painted[row] = QImage(option.rect.size(), QImage::Format_ARGB32);
            painted[row].fill(Qt::black);
            QPainter painter(&painted[row]);
            cell.paint(&painter, option, model->indexForPath({row}));
        }
        QVERIFY(painted[0] == painted[1]);
        QCOMPARE(cell.sizeHint(option, named).height(), cell.sizeHint(option, model->indexForPath({1})).height());
    }

    void insertionsFollowTheSelection()
    {
        sideMenuvc *sidebar = sidebarController();
        SidebarTreeController *tree = sidebar->treeController;

        // Nothing selected: both insertions append to the top level.
        sidebar->insertGroupNode(TreeAdditionObj(std::nullopt, QStringLiteral("G"), false));
        tree->removeSelectionIndexPaths();
        sidebar->insertLeafNode(TreeAdditionObj(std::nullopt, QStringLiteral("L"), false));
        QCOMPARE(titles(sidebar->contents()), QStringList({"G", "L"}));
        QVERIFY(sidebar->contents().at(1)->isLeaf());
        QCOMPARE(tree->selectionIndexPath(), IndexPath({1}));

        // A group selected: a new leaf becomes its last child.
        tree->setSelectionIndexPath({0});
        sidebar->insertLeafNode(TreeAdditionObj(std::nullopt, QStringLiteral("g1"), false));
        sidebar->insertLeafNode(TreeAdditionObj(std::nullopt, QStringLiteral("g2"), false));
        // With a leaf selected a new leaf goes to the end of the leaf's parent...
        QCOMPARE(titles(sidebar->contents().at(0)->childNodes()), QStringList({"g1", "g2"}));
        tree->setSelectionIndexPath({0, 0});
        sidebar->insertLeafNode(TreeAdditionObj(std::nullopt, QStringLiteral("g3"), true));
        QCOMPARE(titles(sidebar->contents().at(0)->childNodes()), QStringList({"g1", "g2", "g3"}));
        QCOMPARE(tree->selectionIndexPath(), IndexPath({0}));  // selectItsParent
        // ...and a new group takes the selected leaf's place.
        tree->setSelectionIndexPath({0, 1});
        sidebar->insertGroupNode(TreeAdditionObj(std::nullopt, QStringLiteral("new"), false));
        QCOMPARE(titles(sidebar->contents().at(0)->childNodes()), QStringList({"g1", "new", "g2", "g3"}));
        QCOMPARE(tree->selectionIndexPath(), IndexPath({0, 1}));

        // The parent of a top-level node is the invisible root: nothing selected.
        tree->setSelectionIndexPath({1});
        sidebar->selectParentOfSelection();
        QVERIFY(!tree->selectionIndexPath());
    }

    void recordsBecomeCollapsedGroupsInOrder()
    {
        sideMenuvc *sidebar = sidebarController();
        FolderRecord root = FolderRecord::make(QUrl::fromLocalFile(QStringLiteral("/home/u/Trip")));
        root.arrpath.push_back(FolderRecord::make(QUrl::fromLocalFile(QStringLiteral("/home/u/Trip/Zoo"))));
        root.arrpath.push_back(FolderRecord::make(QUrl::fromLocalFile(QStringLiteral("/home/u/Trip/Beach"))));
        root.arrpath.back().arrpath.push_back(
            FolderRecord::make(QUrl::fromLocalFile(QStringLiteral("/home/u/Trip/Beach/Sunset"))));
        FolderRecord single = FolderRecord::make(QUrl::fromLocalFile(QStringLiteral("/home/u/Single")));

        sidebar->insertFolderRecord(root);
        sidebar->insertFolderRecord(single);
        QCOMPARE(titles(sidebar->contents()), QStringList({"Trip", "Single"}));
        const BaseNode::Ptr trip = sidebar->contents().first();
        QVERIFY(!trip->isLeaf());
        QCOMPARE(titles(trip->childNodes()), QStringList({"Zoo", "Beach"}));  // no sorting
        QVERIFY(trip->childNodes().at(0)->isLeaf());
        QVERIFY(!trip->childNodes().at(1)->isLeaf());
        QCOMPARE(trip->childNodes().at(1)->childNodes().first()->url(),
                 std::optional<QUrl>(QUrl::fromLocalFile(QStringLiteral("/home/u/Trip/Beach/Sunset"))));
        QVERIFY(sidebar->contents().at(1)->isLeaf());
        // Each record ends by selecting its parent: a top-level record leaves nothing selected.
        QVERIFY(!sidebar->treeController->selectionIndexPath());
        QVERIFY(!sidebar->myOutlineView->isExpanded(sidebar->treeController->model()->indexForPath({0})));
        QCOMPARE(sidebar->myOutlineView->numberOfRows(), 2);
        QCOMPARE(sidebar->rootFolderPaths(), QStringList({"/home/u/Trip", "/home/u/Single"}));

        // Rows follow what is expanded; the column widens for deeper rows.
        sidebar->myOutlineView->expand(sidebar->treeController->model()->indexForPath({0}));
        sidebar->myOutlineView->expand(sidebar->treeController->model()->indexForPath({0, 1}));
        QCOMPARE(sidebar->myOutlineView->numberOfRows(), 5);
        QCOMPARE(sidebar->myOutlineView->levelForRow(3), 2);
        QCOMPARE(sidebar->myOutlineView->rowForItem(sidebar->treeController->model()->indexForPath({1})), 4);
        sidebar->updateColumnMinWidth();
        QCOMPARE(sidebar->myOutlineView->header()->minimumSectionSize(), 311);
        isBusy = true;
        sidebar->myOutlineView->collapse(sidebar->treeController->model()->indexForPath({0}));
        QCOMPARE(sidebar->myOutlineView->header()->minimumSectionSize(), 311);
        isBusy = false;
        sidebar->updateColumnMinWidth();
        QCOMPARE(sidebar->myOutlineView->header()->minimumSectionSize(), 271);
    }

    void scanFollowsTheListingAndStopsAtCheckPoints()
    {
        const QString root = lg::test::freshFolder(QStringLiteral("scan"));
        for (int i = 0; i < 13; ++i)
            QDir().mkpath(root + QStringLiteral("/f%1/inner").arg(i));
        QDir().mkpath(root + QStringLiteral("/.hidden/deep"));
        QDir().mkpath(root + QStringLiteral("/Lib.photoslibrary/database/inner"));
        lg::test::writeFile(root + QStringLiteral("/photo.jpg"));
        QVERIFY(QFile::link(root + QStringLiteral("/f0"), root + QStringLiteral("/link")));
        QVERIFY(QFile::link(root, root + QStringLiteral("/f1/back")));  // a loop through a link

        // Counting: every visible folder below, the link counted but not entered.
        const std::optional<int> count = countSubfolders(root, ScanControl());
        QCOMPARE(count, std::optional<int>(13 * 2 + 1 + 2 + 1 + 1));
        QVERIFY(!countSubfolders(root + QStringLiteral("/missing"), ScanControl()));

        int steps = 0;
        int ringMoves = 0;
        ScanContext context{ScanControl(), nullptr, [&](const QUrl &, bool moves) {
                                ++steps;
                                ringMoves += moves ? 1 : 0;
                            }};
        FolderRecord record = FolderRecord::make(QUrl::fromLocalFile(root));
        sideMenuvc::scanFolderTree(root, record, context);
        QCOMPARE(recordNames(record), listedFolders(root));
        QVERIFY(!recordNames(record).contains(QStringLiteral(".hidden")));
        QVERIFY(!recordNames(record).contains(QStringLiteral("link")));
        for (const FolderRecord &sub : record.arrpath) {
            if (sub.name == QLatin1String("Lib.photoslibrary"))
                QVERIFY(sub.arrpath.empty());  // recorded, never entered
            else
                QCOMPARE(recordNames(sub), QStringList({"inner"}));
        }
        // 14 folders at the top (each sixth moves the ring) and 13 "inner".
        QCOMPARE(steps, 27);
        QCOMPARE(ringMoves, 2);

        // The same records come from a counting walk's listings, without the disk.
        FolderListings listings;
        QVERIFY(countSubfolders(root, ScanControl(), &listings));
        FolderRecord fromListings = FolderRecord::make(QUrl::fromLocalFile(root));
        ScanContext listed{ScanControl(), &listings, {}};
        sideMenuvc::scanFolderTree(root, fromListings, listed);
        QCOMPARE(recordNames(fromListings), recordNames(record));
        QCOMPARE(fromListings.descendantCount(), record.descendantCount());

        // A stop confirmed during the scan ends it at the next check point; the
        // records made so far stay whole.
        int seen = 0;
        ScanContext stopping{ScanControl(), nullptr, [&](const QUrl &, bool) {
                                 if (++seen == 3)
                                     addingFoldersCancelled = true;
                             }};
        FolderRecord partial = FolderRecord::make(QUrl::fromLocalFile(root));
        sideMenuvc::scanFolderTree(root, partial, stopping);
        QCOMPARE(partial.descendantCount(), 3);
        QCOMPARE(seen, 3);
        addingFoldersCancelled = false;
    }

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

        QVERIFY(addAndWait(sidebar, {root}));
        QCOMPARE(titles(sidebar->contents()), QStringList({"Trip"}));
        const BaseNode::Ptr trip = sidebar->contents().first();
        QCOMPARE(titles(trip->childNodes()), listedFolders(root));
        for (const BaseNode::Ptr &node : trip->childNodes()) {
            const QString path = node->url()->toLocalFile();
            QCOMPARE(titles(node->childNodes()), node->isLeaf() ? QStringList() : listedFolders(path));
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
        QVERIFY(addAndWait(sidebar, {other}));
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
        QVERIFY(addAndWait(sidebar, {outside.path()}));
        QVERIFY(sidebar->contents().isEmpty());
        QCOMPARE(shownTitles().size(), 1);
        QVERIFY(shownTitles().first().contains(lg::Paths::userName()));
        lg::Alert::clearShownAlerts();

        QVERIFY(addAndWait(sidebar, {trip}));
        // The same folder again (written differently) with one from outside:
        // only the already-added message, half a second after the end.
        QVERIFY(addAndWait(sidebar, {trip + QLatin1Char('/'), outside.path()}));
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
        QVERIFY(addAndWait(sidebar, {first}));

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
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
        QCOMPARE(recorded.load(), 1);
        QCOMPARE(titles(sidebar->contents()), QStringList({"First", "Second", "Third"}));
        QVERIFY(!addingFoldersCancelled && !stopAddingFolders && !isSidebarTreeUpdating && !isBusy);
        QTRY_VERIFY(hub->progressBox->isHidden());

        // The sidebar still loads what is selected.
        sidebar->treeController->setSelectionIndexPath({0, 1});
        QCOMPARE(currentFolderURL, std::optional<QUrl>(folderUrl(first + QStringLiteral("/") +
                                                                 listedFolders(first).at(1))));
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
        QVERIFY(addAndWait(sidebar, {root}));
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
        QVERIFY(addAndWait(sidebar, {a, b, gone}));
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
        QVERIFY(addAndWait(sidebar, {album}));
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

    // The button bar's fourth button opens the media-files panel; the files
    // chosen there show as the open-files command shows them.
    void mediaFilesButtonShowsTheChosenFiles()
    {
        contentHub();
        sideMenuvc *sidebar = sidebarController();
        const QString album = makeTree(QStringLiteral("Album"), {});
        QVERIFY(addAndWait(sidebar, {album}));
        const QString inAlbum = lg::test::writeFile(album + QStringLiteral("/in.jpg"));
        const QString loose = lg::test::freshFolder(QStringLiteral("Loose"));
        const QString photo = lg::test::writeFile(loose + QStringLiteral("/a.jpg"));
        const QString clip = lg::test::writeFile(loose + QStringLiteral("/b.MOV"));
        const QString text = lg::test::writeFile(loose + QStringLiteral("/notes.txt"));

        // Shown beside the other three, with its hint.
        buttoncursor *button = sidebar->btnShowFiles;
        QVERIFY(button && button->parentWidget() == sidebar->btnAddPhotoLibrary->parentWidget());
        QVERIFY(button->isVisibleTo(sidebar));
        QEvent enter(QEvent::Enter);
        QCoreApplication::sendEvent(button, &enter);
        QCOMPARE(sidebar->tooltipVc->messageValue, QStringLiteral("Open Media Files"));
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(button, &leave);

        QList<lg::OpenPanelSpec> asked;
        QList<QUrl> answer{folderUrl(text), folderUrl(photo), folderUrl(clip)};
        lg::Panels::setOpenResponder([&asked, &answer](const lg::OpenPanelSpec &spec) {
            asked.append(spec);
            return answer;
        });
        QTest::mouseClick(button, Qt::LeftButton);
        QTRY_COMPARE(titles(sidebar->contents()), QStringList({"Album", openedWithLabel}));
        QCOMPARE(asked.size(), 1);
        QVERIFY(asked.first().chooseFiles && !asked.first().chooseDirectories);
        QVERIFY(asked.first().allowsMultipleSelection && !asked.first().showsHiddenFiles);
        QVERIFY(asked.first().nameFilters.isEmpty());
        // The text file is left out; the first media file is the one to focus.
        QCOMPARE(openedFileItems.size(), 2);
        QCOMPARE(openedFileItems.at(0).url, std::optional<QUrl>(folderUrl(photo)));
        QVERIFY(openedFileItems.at(0).isImage && !openedFileItems.at(1).isImage);
        QCOMPARE(sidebar->treeController->selectionIndexPath(), IndexPath({1}));
        QCOMPARE(fileToFocus, std::optional<QUrl>(folderUrl(photo)));

        // A file in a sidebar folder selects that folder; a cancelled panel
        // changes nothing.
        answer = {folderUrl(inAlbum)};
        QTest::mouseClick(button, Qt::LeftButton);
        QTRY_COMPARE(sidebar->treeController->selectionIndexPath(), IndexPath({0}));
        QCOMPARE(fileToFocus, std::optional<QUrl>(folderUrl(inAlbum)));
        answer = {};
        QTest::mouseClick(button, Qt::LeftButton);
        QTRY_COMPARE(asked.size(), 3);
        lg::test::settle();
        QCOMPARE(sidebar->treeController->selectionIndexPath(), IndexPath({0}));
        QCOMPARE(openedFileItems.size(), 2);
    }

    // The folder list is saved whenever the top-level folders change, without
    // waiting for a quit; the entry of opened files is never part of it.
    void rootsAreSavedWhenTheyChange()
    {
        contentHub();
        sideMenuvc *sidebar = sidebarController();
        const QString a = makeTree(QStringLiteral("Alpha"), {"1"});
        const QString b = makeTree(QStringLiteral("Beta"), {});
        QVERIFY(addAndWait(sidebar, {a, b}));
        QTRY_COMPARE(savedRoots(), std::optional<QStringList>(QStringList{a, b}));

        sidebar->revealFolderOfFile({lg::test::writeFile(lg::test::freshFolder(QStringLiteral("Out")) +
                                                         QStringLiteral("/x.jpg"))});
        lg::test::settle();
        QCOMPARE(titles(sidebar->contents()), QStringList({"Alpha", "Beta", openedWithLabel}));
        QCOMPARE(savedRoots(), std::optional<QStringList>(QStringList{a, b}));

        // Renamed in the sidebar.
        const QString renamed = lg::LexicalPaths::clean(QFileInfo(a).absolutePath() + QStringLiteral("/Alpha 2"));
        sidebar->didEditTextField({0}, QStringLiteral("Alpha 2"));
        QVERIFY(QFileInfo(renamed).isDir());
        // On disk before anything else runs: a kill now keeps the new name.
        QCOMPARE(savedRoots(), std::optional<QStringList>(QStringList{renamed, b}));
        QTRY_COMPARE(savedRoots(), std::optional<QStringList>(QStringList{renamed, b}));

        // Removed with the button.
        answerWith({QStringLiteral("OK")});
        sidebar->treeController->setSelectionIndexPath({1});
        sidebar->btnRemoveBookmark->click();
        QTRY_COMPARE(titles(sidebar->contents()), QStringList({"Alpha 2", openedWithLabel}));
        QTRY_COMPARE(savedRoots(), std::optional<QStringList>(QStringList{renamed}));
    }

    // A start that went straight to handed-over files (no folders chosen on
    // the home screen) keeps the folders saved before: in the list whenever
    // it is saved, joined by those added meanwhile, and offered at home when
    // the tree empties.
    void foldersSavedBeforeSurviveAStartWithHandedOverFiles()
    {
        const QStringList before{makeTree(QStringLiteral("Trip"), {}), makeTree(QStringLiteral("Family"), {})};
        lg::Settings::setValue(QStringLiteral("arrPaths"), before);
        lg::Settings::setValue(firstRunKey, 1);
        mainWindow()->showhomevc();
        const QString file = lg::test::writeFile(lg::test::freshFolder(QStringLiteral("Mail")) +
                                                 QStringLiteral("/p.jpg"));
        QStringList openWithPath;
        lg::Timer *timerForOpenwith = nullptr;
        FileHandover handover(openWithPath, timerForOpenwith);
        handover.application_openFiles({file}, true);
        lg::test::settle();
        sideMenuvc *sidebar = sidebarController();
        QCOMPARE(mainWindow()->contentViewController(), static_cast<QWidget *>(contentHub()));
        QCOMPARE(titles(sidebar->contents()), QStringList{openedWithLabel});
        QCOMPARE(savedRoots(), std::optional<QStringList>(before));
        FileHandover::applicationWillTerminate();
        QCOMPARE(savedRoots(), std::optional<QStringList>(before));

        // A folder added meanwhile joins them; one of them added again is
        // listed once.
        const QString added = makeTree(QStringLiteral("New"), {});
        QVERIFY(addAndWait(sidebar, {added, before.at(1)}));
        QTRY_COMPARE(savedRoots(), std::optional<QStringList>(QStringList{before.at(0), added, before.at(1)}));

        // Every entry removed: the home screen offers the folders never shown.
        answerWith({QStringLiteral("OK")});
        while (!sidebar->contents().isEmpty()) {
            sidebar->treeController->setSelectionIndexPath({0});
            sidebar->btnremove();
            lg::test::settle();
        }
        QCOMPARE(ScreenMode(currentScreenMode), ScreenHome);
        lg::test::settle();
        QCOMPARE(savedRoots(), std::optional<QStringList>(QStringList{before.at(0)}));
    }

    // Started without USER and LOGNAME (a service, a cron job), the message
    // about folders outside the home folder names the login user.
    void outsideHomeMessageNamesTheLoginUser()
    {
        const passwd *entry = ::getpwuid(::getuid());
        QVERIFY(entry && entry->pw_name);
        const QString login = QString::fromLocal8Bit(entry->pw_name);
        QVERIFY(QFileInfo(lg::Paths::home()).fileName() != login);   // the test home is named otherwise
        EnvironmentEmptied user("USER");
        EnvironmentEmptied logname("LOGNAME");

        contentHub();
        sideMenuvc *sidebar = sidebarController();
        QTemporaryDir outside(QDir::tempPath() + QStringLiteral("/lg-outside-XXXXXX"));
        QVERIFY(addAndWait(sidebar, {outside.path()}));
        QCOMPARE(shownTitles().size(), 1);
        QVERIFY2(shownTitles().first().endsWith(QStringLiteral("User folder (") + login + QStringLiteral(") can be added.")),
                 qPrintable(shownTitles().first()));
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

LG_TEST(TestSidebarTree)
#include "test_sidebartree.moc"
