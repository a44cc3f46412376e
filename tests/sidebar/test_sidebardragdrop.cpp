// Drag and drop in the sidebar on real folders, driven through the tree
// model's drag and drop methods with made-up drag data: folder moves with
// their questions and conflict answers, files dropped into a folder, web
// links, and the window's folder drop target.
#include "platform/FileOperations.h"
#include "sidebar/DropView.h"
#include "tests/sidebar/SidebarFixture.h"

#include <QAbstractItemModelTester>
#include <QMimeData>
#include <cerrno>

using namespace sidebartest;

namespace {

const QString moveQuestion = QStringLiteral(
    "Moving a folder into another folder will physically move the folder and all its contents to the destination "
    "folder. Are you sure you want to move the selected folder?");
const QString folderExists = QStringLiteral(
    "A folder with the same name already exists in the destination folder. Do you want to overwrite the destination "
    "folder?");

QMimeData *fileDrag(const QStringList &paths)
{
    auto *data = new QMimeData;
    QList<QUrl> urls;
    for (const QString &path : paths)
        urls.append(QUrl::fromLocalFile(path));
    data->setUrls(urls);
    return data;
}

// Drags the node of source onto the node of target, as the outline would.
bool dragFolder(sideMenuvc *sidebar, const QString &source, const QString &target)
{
    SidebarTreeModel *model = sidebar->treeController->model();
    std::unique_ptr<QMimeData> data(model->mimeData({indexOf(sidebar, source)}));
    if (!data)
        return false;
    const QModelIndex onto = indexOf(sidebar, target);
    return model->canDropMimeData(data.get(), Qt::MoveAction, -1, -1, onto)
           && model->dropMimeData(data.get(), Qt::MoveAction, -1, -1, onto);
}

bool dropFiles(sideMenuvc *sidebar, const QStringList &paths, const QString &target)
{
    std::unique_ptr<QMimeData> data(fileDrag(paths));
    return sidebar->treeController->model()->dropMimeData(data.get(), Qt::CopyAction, -1, -1,
                                                          indexOf(sidebar, target));
}

} // namespace

class TestSidebarDragDrop : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        resetSharedState();
        answerWith({});
        lg::Alert::clearShownAlerts();
    }
    void cleanup()
    {
        lg::Alert::setResponder({});
        lg::setFileFaultForTesting({});
    }
    void cleanupTestCase() { resetSharedState(); }

    void folderMovesAnswerTheNameClash_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("arrivesAs");  // empty: nothing moves
        QTest::newRow("no clash") << "" << "Holiday";
        QTest::newRow("Replace") << "Replace" << "Holiday";
        QTest::newRow("Keep both") << "Keep both" << "Holiday 3";
        QTest::newRow("Cancel") << "Cancel" << "";
        QTest::newRow("No") << "No" << "";
    }
    void folderMovesAnswerTheNameClash()
    {
        QFETCH(QString, answer);
        QFETCH(QString, arrivesAs);
        const QString root = makeTree(QStringLiteral("Moves"), {QStringLiteral("Trips/Holiday/Day1"),
                                                                 QStringLiteral("Archive")});
        const QString source = root + QStringLiteral("/Trips/Holiday");
        lg::test::writeFile(source + QStringLiteral("/Day1/a.jpg"), "new");
        if (!answer.isEmpty() && answer != QLatin1String("No")) {
            lg::test::writeFile(root + QStringLiteral("/Archive/Holiday/old.jpg"), "old");
            lg::test::writeFile(root + QStringLiteral("/Archive/Holiday 2"));  // a file counts as taken
        }
        sideMenuvc *sidebar = sidebarController();
        QAbstractItemModelTester tester(sidebar->treeController->model(),
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVERIFY(addAndWait(sidebar, {root}));
        answerWith({answer, QStringLiteral("Yes")});
        QSignalSpy done(sidebar, &sideMenuvc::fileWorkFinished);

        QVERIFY(dragFolder(sidebar, source, root + QStringLiteral("/Archive")));
        QCOMPARE(shownTitles().value(0), moveQuestion);
        if (arrivesAs.isEmpty()) {
            QTRY_COMPARE(shownTitles().size(), answer == QLatin1String("No") ? 1 : 2);
            QVERIFY(QFileInfo(source + QStringLiteral("/Day1/a.jpg")).isFile());
        } else {
            QVERIFY(done.wait(5000));
            QVERIFY(!QFileInfo::exists(source));
            QCOMPARE(QFileInfo(root + QStringLiteral("/Archive/") + arrivesAs + QStringLiteral("/Day1/a.jpg")).size(), 3);
            QCOMPARE(currentFolderURL, QUrl::fromLocalFile(root + QStringLiteral("/Archive")));
        }
        if (answer == QLatin1String("Keep both"))
            QVERIFY(QFileInfo(root + QStringLiteral("/Archive/Holiday/old.jpg")).isFile());
        if (!answer.isEmpty() && answer != QLatin1String("No"))
            QCOMPARE(shownTitles().value(1), folderExists);
        QCOMPARE(treeDiffersFromDisk(sidebar->contents().first().get()), QString());
    }

    void foldersGoOnlyWhereTheyCanGo()
    {
        const QString root = makeTree(QStringLiteral("Where"), {QStringLiteral("Trip/Inner"), QStringLiteral("Trip 2"),
                                                                 QStringLiteral("Leaf")});
        sideMenuvc *sidebar = sidebarController();
        QVERIFY(addAndWait(sidebar, {root}));
        answerWith({QStringLiteral("Yes")});
        QSignalSpy done(sidebar, &sideMenuvc::fileWorkFinished);
        // Into itself, into its own sub-folder, onto the folder it is in: refused quietly.
        QVERIFY(!dragFolder(sidebar, root + QStringLiteral("/Trip"), root + QStringLiteral("/Trip/Inner")));
        QVERIFY(!dragFolder(sidebar, root + QStringLiteral("/Trip"), root));
        // A bookmarked root is never dragged.
        QVERIFY(!sidebar->treeController->model()->mimeData({indexOf(sidebar, root)}));
        QVERIFY(shownTitles().isEmpty());

        // "Trip 2" is not inside "Trip"; across file systems the move copies first.
        lg::setFileFaultForTesting([](lg::FileStep step, const QString &) {
            return step == lg::FileStep::Rename ? EXDEV : 0;
        });
        QVERIFY(dragFolder(sidebar, root + QStringLiteral("/Trip"), root + QStringLiteral("/Trip 2")));
        QVERIFY(done.wait(5000));
        QVERIFY(QFileInfo(root + QStringLiteral("/Trip 2/Trip/Inner")).isDir());
        QVERIFY(!QFileInfo::exists(root + QStringLiteral("/Trip")));
        lg::setFileFaultForTesting({});

        // A leaf destination becomes a folder that shows its new child.
        QVERIFY(sidebar->treeController->descendantNodeAtIndexPath(
            *sidebar->indexPathOfFolderNode(QUrl::fromLocalFile(root + QStringLiteral("/Leaf"))))->isLeaf());
        QVERIFY(dragFolder(sidebar, root + QStringLiteral("/Trip 2/Trip"), root + QStringLiteral("/Leaf")));
        QVERIFY(done.wait(5000));
        const QModelIndex leaf = indexOf(sidebar, root + QStringLiteral("/Leaf"));
        QCOMPARE(sidebar->treeController->model()->rowCount(leaf), 1);
        QCOMPARE(treeDiffersFromDisk(sidebar->contents().first().get()), QString());
    }

    void replacingTheFolderThatHoldsTheDraggedOneLosesNothing()
    {
        const QString root = makeTree(QStringLiteral("Nest"), {QStringLiteral("X/X")});
        const QString inner = lg::test::writeFile(root + QStringLiteral("/X/X/inner.jpg"));
        sideMenuvc *sidebar = sidebarController();
        QVERIFY(addAndWait(sidebar, {root}));
        answerWith({QStringLiteral("Replace"), QStringLiteral("Yes")});
        QSignalSpy done(sidebar, &sideMenuvc::fileWorkFinished);
        QVERIFY(dragFolder(sidebar, root + QStringLiteral("/X/X"), root));
        QVERIFY(done.wait(5000));
        QVERIFY(QFileInfo(inner).isFile());
        QCOMPARE(shownTitles().value(2), QStringLiteral("Some items could not be processed."));
        QCOMPARE(treeDiffersFromDisk(sidebar->contents().first().get()), QString());
    }

    void filesDroppedOnAFolderAreMovedWithTheSameNameSheet_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("inTarget");   // the clashing name's content afterwards
        QTest::addColumn<bool>("copyMade");
        QTest::newRow("Replace") << "Replace" << "new" << false;
        QTest::newRow("Make a Copy") << "Make a Copy" << "old" << true;
        QTest::newRow("Stop") << "Stop" << "old" << false;
    }
    void filesDroppedOnAFolderAreMovedWithTheSameNameSheet()
    {
        QFETCH(QString, answer);
        QFETCH(QString, inTarget);
        QFETCH(bool, copyMade);
        const QString root = makeTree(QStringLiteral("Drops"), {QStringLiteral("Target"), QStringLiteral("Source")});
        const QString clash = lg::test::writeFile(root + QStringLiteral("/Source/photo.jpg"), "new");
        const QString free = lg::test::writeFile(root + QStringLiteral("/Source/other.jpg"));
        const QString folder = root + QStringLiteral("/Source/Album");
        QDir().mkpath(folder + QStringLiteral("/Sub"));
        lg::test::writeFile(root + QStringLiteral("/Target/photo.jpg"), "old");
        sideMenuvc *sidebar = sidebarController();
        QVERIFY(addAndWait(sidebar, {root}));
        answerWith({QStringLiteral("Yes"), answer});
        QSignalSpy done(sidebar, &sideMenuvc::fileWorkFinished);

        QVERIFY(dropFiles(sidebar, {clash, free, folder}, root + QStringLiteral("/Target")));
        QTRY_COMPARE(done.count(), answer == QLatin1String("Stop") ? 1 : 2);
        QCOMPARE(shownTitles().value(1), QStringLiteral("File already exists"));
        QCOMPARE(lg::Alert::shownAlerts().value(1).buttons.size(), 3);
        QVERIFY(QFileInfo(root + QStringLiteral("/Target/other.jpg")).isFile());
        QVERIFY(!QFileInfo::exists(free));
        QVERIFY(QFileInfo(root + QStringLiteral("/Target/Album/Sub")).isDir());
        QFile target(root + QStringLiteral("/Target/photo.jpg"));
        QVERIFY(target.open(QIODevice::ReadOnly));
        QCOMPARE(target.readAll(), inTarget.toUtf8());
        QCOMPARE(QFileInfo(root + QStringLiteral("/Target/photo 2.jpg")).isFile(), copyMade);
        // Nothing is lost: what stayed behind is still in its folder.
        if (answer == QLatin1String("Stop"))
            QVERIFY(QFileInfo(clash).isFile());
        QCOMPARE(treeDiffersFromDisk(sidebar->contents().first().get()), QString());
    }

    void dropsThatWouldLoseOrCannotReadAreRefused()
    {
        const QString root = makeTree(QStringLiteral("Refusals"), {QStringLiteral("Here")});
        const QString photo = lg::test::writeFile(root + QStringLiteral("/Here/photo.jpg"));
        sideMenuvc *sidebar = sidebarController();
        QVERIFY(addAndWait(sidebar, {root}));
        SidebarTreeModel *model = sidebar->treeController->model();
        // Files dragged from a folder onto that folder's own row.
        QVERIFY(!dropFiles(sidebar, {photo}, root + QStringLiteral("/Here")));
        // A URL that does not decode, and a type nobody knows.
        QMimeData broken;
        broken.setData(QStringLiteral("text/uri-list"), "file:///tmp/%ZZ\r\n");
        QVERIFY(!model->dropMimeData(&broken, Qt::CopyAction, -1, -1, indexOf(sidebar, root)));
        QMimeData unknown;
        unknown.setData(QStringLiteral("application/x-promise"), "x");
        QVERIFY(!model->canDropMimeData(&unknown, Qt::CopyAction, -1, -1, indexOf(sidebar, root)));
        QVERIFY(shownTitles().isEmpty());
        QVERIFY(QFileInfo(photo).isFile());
    }

    void webLinksBecomeLeavesInOrder()
    {
        const QString root = makeTree(QStringLiteral("Links"), {QStringLiteral("A"), QStringLiteral("B")});
        sideMenuvc *sidebar = sidebarController();
        QVERIFY(addAndWait(sidebar, {root}));
        QMimeData data;
        const QString moz = QStringLiteral("https://one.example/a\nOne\nhttps://two.example/\nTwo\n"
                                           "https://three.example/x/y\nThree");
        data.setData(QStringLiteral("text/x-moz-url"),
                     QByteArray(reinterpret_cast<const char *>(moz.utf16()), moz.size() * 2));
        QVERIFY(sidebar->treeController->model()->dropMimeData(&data, Qt::CopyAction, -1, -1, indexOf(sidebar, root)));
        const QList<BaseNode::Ptr> children = sidebar->contents().first()->childNodes();
        QCOMPARE(children.size(), 5);
        QStringList titles;
        for (int i = 2; i < 5; ++i) {
            QVERIFY(children.at(i)->isLeaf());
            titles.append(children.at(i)->nodeTitle());
        }
        QCOMPARE(titles, (QStringList{QStringLiteral("One"), QStringLiteral("Two"), QStringLiteral("Three")}));
        QCOMPARE(children.at(3)->url(), QUrl(QStringLiteral("https://two.example/")));
        // Selecting a link never makes it the current folder.
        sidebar->treeController->setSelectionIndexPath({0, 2});
        QVERIFY(!currentFolderURL);
    }

    void theWindowDropTargetReportsWhatItRefuses_data()
    {
        QTest::addColumn<QString>("dropped");
        QTest::addColumn<QString>("message");
        QTest::newRow("files only") << "file" << DropView::notFolderMessage;
        QTest::newRow("hidden folder") << ".hidden"
                                       << "Some or all of the selected folders cannot be added. Only folders from  "
                                          "within your User folder ("
                                              + lg::Paths::userName() + ") can be added.";
    }
    void theWindowDropTargetReportsWhatItRefuses()
    {
        QFETCH(QString, dropped);
        QFETCH(QString, message);
        const QString root = makeTree(QStringLiteral("Dropped"), {QStringLiteral(".hidden")});
        lg::test::writeFile(root + QStringLiteral("/file"));
        currentScreenMode = ScreenHome;
        QVERIFY(DropView::performDragOperation(QStringList{root + QLatin1Char('/') + dropped}));
        QTRY_COMPARE(shownTitles(), QStringList{message});
        QVERIFY(selectedSourceURLs.isEmpty());
    }
};

LG_TEST(TestSidebarDragDrop)
#include "test_sidebardragdrop.moc"
