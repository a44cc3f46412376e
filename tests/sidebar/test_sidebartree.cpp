// The sidebar's tree: nodes, the model's index paths, the insertions that follow
// the selection, the record scan with its check points and progress steps.
#include "app/Essentials.h"
#include "model/FileServices.h"
#include "model/NameOrder.h"
#include "sidebar/BaseNode.h"
#include <QHeaderView>
#include "sidebar/FolderScan.h"
#include "sidebar/SidebarTreeModel.h"
#include "sidebar/outlineView.h"
#include "sidebar/sideMenuvc.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QAbstractItemModelTester>
#include <QItemSelectionModel>

#include <unistd.h>

namespace {

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
    void init() { resetSharedState(); }
    void cleanupTestCase() { resetSharedState(); }

    void nodesKeepTheirValuesThroughCodingAndCopying()
    {
        // A leaf answers a list holding only itself; coding it does not loop.
        BaseNode::Ptr leaf = BaseNode::initLeaf();
        QCOMPARE(leaf->children().size(), 1);
        QCOMPARE(leaf->children().first().get(), leaf.get());
        leaf->setNilValueForKey(QStringLiteral("isLeaf"));
        QVERIFY(!leaf->isLeaf());

        leaf->setUrl(QUrl::fromLocalFile(QStringLiteral("/tmp/a")));
        QVERIFY(!leaf->isBookmark());
        leaf->setUrl(QUrl(QStringLiteral("https://example.org/")));
        QVERIFY(leaf->isBookmark());

        auto group = child(QStringLiteral("Trip"), false);
        group->setUrl(QUrl::fromLocalFile(QStringLiteral("/home/u/Trip")));
        group->setChildren({child(QStringLiteral("Day 1"), true), child(QStringLiteral("Day 2"), true)});
        const BaseNode::Ptr decoded = BaseNode::initWithCoder(group->encodeWithCoder());
        QCOMPARE(decoded->description(), QStringLiteral("ChildNode"));
        QCOMPARE(decoded->nodeTitle(), QStringLiteral("Trip"));
        QCOMPARE(decoded->url(), group->url());
        QCOMPARE(titles(decoded->childNodes()), QStringList({"Day 1", "Day 2"}));
        QVERIFY(decoded->childNodes().first()->isLeaf());

        // A copy is shallow: same class, same children objects.
        const BaseNode::Ptr copy = group->copyWithZone();
        QCOMPARE(copy->description(), QStringLiteral("ChildNode"));
        QCOMPARE(copy->childNodes().first().get(), group->childNodes().first().get());
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
        QVERIFY(node->isOneOfNodesOrDescendant({node}));
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

        QVERIFY(!controller.insertObject(child(QStringLiteral("x"), true), {}));
        QVERIFY(!controller.insertObject(child(QStringLiteral("x"), true), {5}));
        QVERIFY(!controller.insertObject(child(QStringLiteral("x"), true), {1, 0}));  // into a leaf
        QVERIFY(!controller.insertObject(child(QStringLiteral("x"), true), {0, -1}));
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
};

LG_TEST(TestSidebarTree)
#include "test_sidebartree.moc"
