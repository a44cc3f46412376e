// The sidebar's context menu, folder commands and drag and drop on real
// folders: what the menu offers by row kind, new folders, renaming with its
// messages, Remove Bookmark with the selection afterwards, Move to Trash, Paste
// Item; folder moves with their questions and conflict answers, files dropped
// into a folder, web links, and the window's folder drop target.
#include "platform/desktop/Clipboard.h"
#include "platform/files/names/FileNames.h"
#include "platform/files/operations/FileOperations.h"
#include "platform/files/recovery/Removal.h"
#include "platform/desktop/Settings.h"
#include "platform/runtime/Timer.h"
#include "platform/files/operations/Trash.h"
#include "platform/image/ThumbnailStore.h"
#include "model/ThumbnailCache.h"
#include "platform/desktop/Workspace.h"
#include "sidebar/DropView.h"
#include "sidebar/SidebarMenu.h"
#include "sidebar/getPermissionvc.h"
#include "browser/GridView.h"
#include "browser/ItemEditing.h"
#include "browser/thumbnailvc.h"
#include "tests/browser/BrowserFixtures.h"
#include "tests/sidebar/SidebarFixture.h"
#include "tests/support/Seams.h"
#include "tests/support/ThumbnailEntries.h"

#include <QAbstractItemModelTester>
#include <QColor>
#include <QContextMenuEvent>
#include <QDrag>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QScopeGuard>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <utility>

using namespace sidebartest;

Q_DECLARE_METATYPE(SidebarMenuSnapshot)

namespace {

// The menu as a line: the entries shown, enabled ones in capitals.
QString describe(const SidebarMenuState &s)
{
    if (!s.showsMenu)
        return QStringLiteral("none");
    QStringList parts;
    auto add = [&parts](const char *name, bool enabled) {
        parts.append(enabled ? QString::fromLatin1(name).toUpper() : QString::fromLatin1(name));
    };
    if (s.showsRemoveBookmark)
        parts.append(QStringLiteral("REMOVE"));
    add("open", s.openInFileManager);
    add("new", s.createNewFolder);
    add("trash", s.moveToTrash);
    add("copy", s.copy);
    add("paste", s.paste);
    add("info", s.getInfo);
    return parts.join(u' ') + QStringLiteral(" | ") + s.copyTitle;
}

QAction *menuAction(sideMenuvc *sidebar, const char *name)
{
    return sidebar->outlineViewMenu->findChild<QAction *>(QString::fromLatin1(name));
}


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

// Drags the nodes of sources, in that order, onto the node of target.
bool dragFolders(sideMenuvc *sidebar, const QStringList &sources, const QString &target)
{
    SidebarTreeModel *model = sidebar->treeController->model();
    QModelIndexList rows;
    for (const QString &source : sources)
        rows.append(indexOf(sidebar, source));
    std::unique_ptr<QMimeData> data(model->mimeData(rows));
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

// Writes a file by its path's bytes.
bool writeBytes(const QByteArray &path, const QByteArray &bytes)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    const bool done = fd >= 0 && ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    if (fd >= 0)
        ::close(fd);
    return done;
}

// The paths of the current listing, by their bytes (FileNames).
QStringList listedPaths()
{
    QStringList paths;
    for (const InitialDirectory &item : std::as_const(itemList))
        paths.append(item.path());
    return paths;
}

using lg::test::giveThumbnails;
using lg::test::thumbnailsOf;

} // namespace

class TestSidebarCommands : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        resetSharedState();
        answerWith({});
        lg::Alert::clearShownAlerts();
    }
    void cleanup() { lg::test::resetSeams(); }
    void cleanupTestCase() { resetSharedState(); }

    void menuEnablingFollowsTheRow_data()
    {
        QTest::addColumn<SidebarMenuSnapshot>("snapshot");
        QTest::addColumn<QString>("menu");
        SidebarMenuSnapshot folder;
        folder.onRow = folder.hasUrl = folder.isLocal = folder.exists = true;
        folder.clipboardHasFiles = true;
        folder.lastPathComponent = QStringLiteral("Trip");
        QTest::newRow("folder") << folder << "OPEN NEW TRASH COPY PASTE INFO | Copy \"Trip\"";
        SidebarMenuSnapshot root = folder;
        root.topLevel = true;
        QTest::newRow("root") << root << "REMOVE OPEN NEW TRASH COPY PASTE INFO | Copy \"Trip\"";
        SidebarMenuSnapshot noClip = folder;
        noClip.clipboardHasFiles = false;
        QTest::newRow("empty clipboard") << noClip << "OPEN NEW TRASH COPY paste INFO | Copy \"Trip\"";
        SidebarMenuSnapshot library = folder;
        library.isLibrary = true;
        library.lastPathComponent = QStringLiteral("Photos Library.photoslibrary");
        QTest::newRow("Photos library")
            << library << "OPEN new trash copy paste INFO | Copy \"Photos Library.photoslibrary\"";
        SidebarMenuSnapshot missing = root;
        missing.exists = false;
        QTest::newRow("missing") << missing << "REMOVE open new trash copy paste info | Copy \"Trip\"";
        SidebarMenuSnapshot opened;
        opened.onRow = opened.topLevel = true;
        opened.clipboardHasFiles = true;
        QTest::newRow("opened files") << opened << "REMOVE open new trash copy paste info | Copy";
        SidebarMenuSnapshot home = root;
        home.isHome = true;
        QTest::newRow("home folder") << home << "REMOVE OPEN NEW trash COPY PASTE INFO | Copy \"Trip\"";
        SidebarMenuSnapshot busy = folder;
        busy.busy = true;
        QTest::newRow("busy") << busy << "none";
        QTest::newRow("no row") << SidebarMenuSnapshot() << "none";
    }
    void menuEnablingFollowsTheRow()
    {
        QFETCH(SidebarMenuSnapshot, snapshot);
        QFETCH(QString, menu);
        QCOMPARE(describe(sidebarMenuState(snapshot)), menu);
    }

    // A right click opens the menu for the row under the pointer; the
    // selection and the current folder stay as they were.
    void aRightClickActsOnTheClickedRowAndKeepsTheSelection()
    {
        const QString root = makeTree(QStringLiteral("Clicked"), {QStringLiteral("A"), QStringLiteral("B")});
        sideMenuvc *sidebar = sidebarController();
        sidebar->resize(300, 400);
        sidebar->show();
        QVERIFY(QTest::qWaitForWindowExposed(sidebar));
        QVERIFY(addAndWait(sidebar, {root}));
        const QString a = root + QStringLiteral("/A"), b = root + QStringLiteral("/B");
        sidebar->myOutlineView->selectRow(rowOf(sidebar, a));
        QCOMPARE(currentFolderURL, std::optional<QUrl>(QUrl::fromLocalFile(a)));

        const QModelIndex clicked = indexOf(sidebar, b);
        const QPoint centre = sidebar->myOutlineView->visualRect(clicked).center();
        QWidget *viewport = sidebar->myOutlineView->viewport();
        QTest::mousePress(viewport, Qt::RightButton, {}, centre);
        QContextMenuEvent click(QContextMenuEvent::Mouse, centre, viewport->mapToGlobal(centre));
        QCoreApplication::sendEvent(viewport, &click);
        QTest::mouseRelease(viewport, Qt::RightButton, {}, centre);
        QTRY_VERIFY(sidebar->outlineViewMenu->isVisible());
        sidebar->outlineViewMenu->close();
        QCOMPARE(sidebar->clickedRow(), rowOf(sidebar, b));
        QCOMPARE(menuAction(sidebar, "actionCopyFolder")->text(), QStringLiteral("Copy \"B\""));
        QCOMPARE(sidebar->myOutlineView->selectedRow(), rowOf(sidebar, a));
        QCOMPARE(currentFolderURL, std::optional<QUrl>(QUrl::fromLocalFile(a)));
        menuAction(sidebar, "actionCopyFolder")->trigger();
        QCOMPARE(lg::Clipboard::readFiles().urls, QList<QUrl>{QUrl::fromLocalFile(b)});

        // Open with File Manager shows the clicked folder selected in its parent.
        QList<lg::ExternalCall> calls;
        lg::Workspace::setRunnerForTesting([&calls](const lg::ExternalCall &call, QString *) {
            calls.append(call);
            return true;
        });
        QVERIFY(sidebar->menuWillOpen(rowOf(sidebar, b)));
        menuAction(sidebar, "actionOpenInFileManager")->trigger();
        lg::Workspace::setRunnerForTesting({});
        QCOMPARE(calls.size(), 1);
        QCOMPARE(calls.first().arguments.value(2), QStringLiteral("ShowItems"));
        QCOMPARE(calls.first().dbusArguments.value(0).toStringList(), QStringList{QUrl::fromLocalFile(b).toString()});
        sidebar->hide();
    }

    // Refresh reads the clicked row's folder again: folders made by other
    // programs appear, at every level, and the rest of the tree stays.
    void refreshShowsFoldersMadeElsewhere()
    {
        const QString root = makeTree(QStringLiteral("Refreshed"), {QStringLiteral("Leaf"), QStringLiteral("Group/In")});
        sideMenuvc *sidebar = sidebarController();
        QVERIFY(addAndWait(sidebar, {root}));
        for (const char *made : {"/Leaf/Now a group", "/Group/In/Deeper", "/Group/Also", "/New/Sub"})
            QVERIFY(QDir().mkpath(root + QLatin1String(made)));
        QVERIFY(treeDiffersFromDisk(sidebar->contents().first().get()) != QString());
        sidebar->myOutlineView->selectRow(rowOf(sidebar, root + QStringLiteral("/Group")));
        const std::optional<QUrl> current = currentFolderURL;

        QSignalSpy refreshed(sidebar, &sideMenuvc::refreshFinished);
        QVERIFY(sidebar->menuWillOpen(rowOf(sidebar, root)));
        menuAction(sidebar, "actionRefresh")->trigger();
        QVERIFY(refreshed.wait(5000));
        QCOMPARE(treeDiffersFromDisk(sidebar->contents().first().get()), QString());
        QCOMPARE(sidebar->treeController->selectedObjects().value(0)->url(), current);
        QCOMPARE(currentFolderURL, current);
    }

    // "mv Trip Trip2023" by another program: Refresh shows the folder under
    // its new name, with no ghost of the old one; a removed folder goes.
    void refreshFollowsFoldersRenamedOrRemovedElsewhere()
    {
        const QString root = makeTree(QStringLiteral("Renamed"), {QStringLiteral("Trip/Day1"), QStringLiteral("Gone"),
                                                                  QStringLiteral("Stays")});
        sideMenuvc *sidebar = sidebarController();
        QVERIFY(addAndWait(sidebar, {root}));
        QVERIFY(QDir().rename(root + QStringLiteral("/Trip"), root + QStringLiteral("/Trip2023")));
        QVERIFY(QDir(root + QStringLiteral("/Gone")).removeRecursively());
        QSignalSpy refreshed(sidebar, &sideMenuvc::refreshFinished);
        QVERIFY(sidebar->menuWillOpen(rowOf(sidebar, root)));
        menuAction(sidebar, "actionRefresh")->trigger();
        QVERIFY(refreshed.wait(5000));
        QCOMPARE(treeDiffersFromDisk(sidebar->contents().first().get()), QString());
        QCOMPARE(sortedChildTitles(sidebar->contents().first().get()), (QStringList{"Stays", "Trip2023"}));
    }

    void aFolderThatLeftItsPlaceIsFollowedWithoutARefresh()
    {
        const QString root = makeTree(QStringLiteral("Followed"), {QStringLiteral("Trip/Day1"), QStringLiteral("Stays")});
        sideMenuvc *sidebar = sidebarController();
        QVERIFY(addAndWait(sidebar, {root}));
        const QString trip = root + QStringLiteral("/Trip");
        QVERIFY(QDir().rename(trip, root + QStringLiteral("/Trip2023")));
        QSignalSpy refreshed(sidebar, &sideMenuvc::refreshFinished);
        // As the watch on the shown folder reports it.
        sidebar->folderLeftItsPlace(QUrl::fromLocalFile(trip));
        QVERIFY(refreshed.wait(5000));
        QCOMPARE(treeDiffersFromDisk(sidebar->contents().first().get()), QString());
        QCOMPARE(sortedChildTitles(sidebar->contents().first().get()), (QStringList{"Stays", "Trip2023"}));
        // A top-level folder that left stays, shown as missing; nothing else moves.
        QVERIFY(QDir().rename(root, root + QStringLiteral(" old")));
        sidebar->folderLeftItsPlace(QUrl::fromLocalFile(root));
        QCOMPARE(sidebar->contents().size(), 1);
        QVERIFY(SidebarTreeModel::isMissingFolder(sidebar->contents().first().get()));
        QVERIFY(QDir().rename(root + QStringLiteral(" old"), root));
    }

    void newFoldersAreNumberedAndALeafBecomesAGroupInEditing()
    {
        const QString root = makeTree(QStringLiteral("NewFolders"), {});
        lg::test::writeFile(root + QStringLiteral("/Untitled Folder"));  // a file counts as taken
        sideMenuvc *sidebar = sidebarController();
        QAbstractItemModelTester tester(sidebar->treeController->model(),
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVERIFY(addAndWait(sidebar, {root}));
        QVERIFY(sidebar->contents().first()->isLeaf());
        lg::FakeClock clock;

        for (const QString &expected : {QStringLiteral("Untitled Folder 0"), QStringLiteral("Untitled Folder 1")}) {
            QVERIFY(sidebar->menuWillOpen(rowOf(sidebar, root)));
            menuAction(sidebar, "actionCreateNewFolder")->trigger();
            QVERIFY(QFileInfo(root + QLatin1Char('/') + expected).isDir());
            const BaseNode::Ptr selected = sidebar->treeController->selectedObjects().value(0);
            QVERIFY(selected);
            QCOMPARE(selected->nodeTitle(), expected);
            QCOMPARE(selected->parentNode(), sidebar->contents().first().get());
        }
        QVERIFY(!sidebar->contents().first()->isLeaf());
        QCOMPARE(sidebar->contents().first()->childNodes().size(), 2);

        clock.advance(100);
        const QModelIndex editing = indexOf(sidebar, root + QStringLiteral("/Untitled Folder 1"));
        auto *editor = qobject_cast<QLineEdit *>(sidebar->myOutlineView->indexWidget(editing));
        QVERIFY(editor);
        QCOMPARE(editor->cursorPosition(), editor->text().size());
        QVERIFY(!editor->hasSelectedText());
    }

    void renameRefusesWithTheMessages_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("message");
        QTest::newRow("taken") << "Other" << "The name \u201COther\u201D is already taken. Please choose a different name.";
        QTest::newRow("slash") << "a/b" << "An error occurred while renaming file.";
        QTest::newRow("dot dot") << ".." << "An error occurred while renaming file.";
        QTest::newRow("empty") << "" << "An error occurred while renaming file.";
    }
    void renameRefusesWithTheMessages()
    {
        QFETCH(QString, name);
        QFETCH(QString, message);
        const QString root = makeTree(QStringLiteral("Renames"), {QStringLiteral("Mine"), QStringLiteral("Other")});
        sideMenuvc *sidebar = sidebarController();
        QVERIFY(addAndWait(sidebar, {root}));
        const QStringList before = QDir(root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        const std::optional<IndexPath> mine = sidebar->indexPathOfFolderNode(QUrl::fromLocalFile(root + "/Mine"));
        QVERIFY(mine);
        sidebar->didEditTextField(*mine, name);
        QTRY_COMPARE(shownTitles(), QStringList{message});
        QCOMPARE(QDir(root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
        QCOMPARE(sidebar->treeController->descendantNodeAtIndexPath(*mine)->nodeTitle(), QStringLiteral("Mine"));
    }

    // A folder whose name is not valid UTF-8, beside the look-alike whose name
    // holds U+FFFD: each row lists its own folder's files, and Move to Trash
    // on the row acts on that folder by its exact bytes.
    void aFolderIsListedAndTrashedByItsBytesNeverAsItsLookAlike()
    {
        const QString root = makeTree(QStringLiteral("LookAlikes"), {});
        const QByteArray stray = lg::FileNames::toNative(root) + "/caf\xe9";
        const QByteArray lookAlike = lg::FileNames::toNative(root) + "/caf\xef\xbf\xbd";
        const QString trash = lg::trashFolderFor(root);
        // Qt's own removal of the temporary home cannot name them.
        const auto cleanup = qScopeGuard([stray, trash] {
            lg::removeTree(lg::FileNames::fromNative(stray));
            lg::removeTree(trash);
        });
        QCOMPARE(::mkdir(stray.constData(), 0700), 0);
        QCOMPARE(::mkdir(lookAlike.constData(), 0700), 0);
        QVERIFY(writeBytes(stray + "/inside.jpg", "mine"));
        QVERIFY(writeBytes(lookAlike + "/other.jpg", "the look-alike's"));
        const QString strayPath = lg::FileNames::fromNative(stray);
        const QString lookAlikePath = lg::FileNames::fromNative(lookAlike);
        QVERIFY(giveThumbnails(strayPath + QStringLiteral("/inside.jpg")));
        QVERIFY(giveThumbnails(lookAlikePath + QStringLiteral("/other.jpg")));
        sideMenuvc *sidebar = sidebarController();
        QVERIFY(addAndWait(sidebar, {root}));
        const int strayRow = rowOf(sidebar, strayPath);
        const int lookAlikeRow = rowOf(sidebar, lookAlikePath);
        QVERIFY(strayRow >= 0 && lookAlikeRow >= 0 && strayRow != lookAlikeRow);
        QCOMPARE(sidebar->contents().first()->childNodes().size(), 2);

        // Each row lists its own folder.
        sidebar->myOutlineView->selectRow(strayRow);
        QTRY_COMPARE(listedPaths(), QStringList{strayPath + QStringLiteral("/inside.jpg")});
        sidebar->myOutlineView->selectRow(lookAlikeRow);
        QTRY_COMPARE(listedPaths(), QStringList{lookAlikePath + QStringLiteral("/other.jpg")});

        answerWith({QStringLiteral("Yes")});
        QSignalSpy done(sidebar, &sideMenuvc::fileWorkFinished);
        QVERIFY(sidebar->menuWillOpen(rowOf(sidebar, strayPath)));
        QAction *moveToTrash = menuAction(sidebar, "actionMoveToTrash");
        QVERIFY(moveToTrash && moveToTrash->isEnabled());
        moveToTrash->trigger();
        QVERIFY(done.wait(5000));
        QCOMPARE(shownTitles().size(), 1);   // the question only
        struct stat st {};
        QVERIFY(::lstat(stray.constData(), &st) != 0);
        QCOMPARE(::lstat((lookAlike + "/other.jpg").constData(), &st), 0);
        QCOMPARE(::lstat((lg::FileNames::toNative(trash) + "/files/caf\xe9/inside.jpg").constData(), &st), 0);
        QVERIFY(!sidebar->indexPathOfFolderNode(lg::FileNames::urlOf(strayPath)));
        QVERIFY(sidebar->indexPathOfFolderNode(lg::FileNames::urlOf(lookAlikePath)));
        // The thumbnails of the files it held go with it; the look-alike's stay.
        QCOMPARE(thumbnailsOf(strayPath + QStringLiteral("/inside.jpg")), 0);
        QCOMPARE(thumbnailsOf(lookAlikePath + QStringLiteral("/other.jpg")), 4);
    }

    // Such a folder alone is no missing folder: its row is drawn as present,
    // lists the files it holds, offers its commands and is renamed by its
    // bytes; a command that hands it to another program says in the window
    // why it cannot.
    void aFolderWhoseNameIsNotUtf8AloneIsListedAndRenamed()
    {
        const QString root = makeTree(QStringLiteral("NotText"), {QStringLiteral("Keep")});
        const QByteArray stray = lg::FileNames::toNative(root) + "/Caf\xe9";
        const auto cleanup = qScopeGuard([stray] { lg::removeTree(lg::FileNames::fromNative(stray)); });
        QCOMPARE(::mkdir(stray.constData(), 0700), 0);
        QVERIFY(writeBytes(stray + "/inside.jpg", "mine"));
        const QString strayPath = lg::FileNames::fromNative(stray);
        sideMenuvc *sidebar = sidebarController();
        QVERIFY(addAndWait(sidebar, {root}));
        const int row = rowOf(sidebar, strayPath);
        QVERIFY(row >= 0);
        const QModelIndex index = indexOf(sidebar, strayPath);
        QCOMPARE(index.data(Qt::ForegroundRole).value<QColor>(), QColor(Qt::white));
        QVERIFY(index.flags() & Qt::ItemIsEditable);
        QCOMPARE(index.data().toString(), QStringLiteral("Caf\uFFFD"));
        sidebar->myOutlineView->selectRow(row);
        QTRY_COMPARE(listedPaths(), QStringList{strayPath + QStringLiteral("/inside.jpg")});

        QVERIFY(sidebar->menuWillOpen(row));
        for (const char *name : {"actionCreateNewFolder", "actionMoveToTrash", "actionCopyFolder", "actionGetInfo",
                                 "actionOpenInFileManager"})
            QVERIFY2(menuAction(sidebar, name)->isEnabled(), name);
        // Another program would be handed the look-alike's name.
        int handedOver = 0;
        lg::Workspace::setRunnerForTesting([&handedOver](const lg::ExternalCall &, QString *) {
            ++handedOver;
            return true;
        });
        const auto restoreRunner = qScopeGuard([] { lg::Workspace::setRunnerForTesting({}); });
        menuAction(sidebar, "actionOpenInFileManager")->trigger();
        QTRY_COMPARE(shownTitles(), QStringList{lg::FileNames::notTextMessage(strayPath)});
        QCOMPARE(handedOver, 0);

        // Renamed in place, by its bytes.
        lg::Alert::clearShownAlerts();
        sidebar->myOutlineView->edit(index);
        auto *editor = qobject_cast<QLineEdit *>(sidebar->myOutlineView->indexWidget(index));
        QVERIFY(editor);
        editor->setText(QStringLiteral("Cafe"));
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_VERIFY(QFileInfo::exists(root + QStringLiteral("/Cafe/inside.jpg")));
        struct stat st {};
        QVERIFY(::lstat(stray.constData(), &st) != 0);
        QVERIFY(shownTitles().isEmpty());
        QVERIFY(sidebar->indexPathOfFolderNode(QUrl::fromLocalFile(root + QStringLiteral("/Cafe"))));
        QCOMPARE(currentFolderURL, QUrl::fromLocalFile(root + QStringLiteral("/Cafe")));
    }

    // The folder list kept for the next start holds a folder whose name is
    // not valid UTF-8 by its bytes, though the settings file holds text only.
    void aSavedFolderWhoseNameIsNotUtf8KeepsItsBytes()
    {
        const QString root = makeTree(QStringLiteral("SavedBytes"), {QStringLiteral("caf\uFFFD")});
        const QByteArray stray = lg::FileNames::toNative(root) + "/caf\xe9";
        const auto cleanup = qScopeGuard([stray] { ::rmdir(stray.constData()); });
        QCOMPARE(::mkdir(stray.constData(), 0700), 0);
        sideMenuvc *sidebar = sidebarController();
        QVERIFY(addAndWait(sidebar, {lg::FileNames::fromNative(stray)}));
        QCOMPARE(sidebar->contents().size(), 1);
        sidebar->saveRoots();
        const QStringList saved = lg::Settings::stringListValue(QStringLiteral("arrPaths")).value_or(QStringList());
        QCOMPARE(saved.size(), 1);
        QCOMPARE(lg::FileNames::toNative(saved.first()), stray);
    }

    void renamingAFolderThatWentMeanwhileSaysItIsNoLongerThere()
    {
        const QString root = makeTree(QStringLiteral("Gone"), {QStringLiteral("Mine")});
        sideMenuvc *sidebar = sidebarController();
        QVERIFY(addAndWait(sidebar, {root}));
        const QModelIndex mine = indexOf(sidebar, root + QStringLiteral("/Mine"));
        sidebar->myOutlineView->selectRow(rowOf(sidebar, root + QStringLiteral("/Mine")));
        sidebar->myOutlineView->edit(mine);
        auto *editor = qobject_cast<QLineEdit *>(sidebar->myOutlineView->indexWidget(mine));
        QVERIFY(editor);
        // Another program renames the folder while the user types.
        QVERIFY(QDir(root).rename(QStringLiteral("Mine"), QStringLiteral("Theirs")));
        editor->setText(QStringLiteral("Ours"));
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_COMPARE(shownTitles(),
                     QStringList{QStringLiteral("The folder \u201CMine\u201D is no longer there. It may have been "
                                                "renamed, moved or deleted by another program.")});
        QCOMPARE(QDir(root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{QStringLiteral("Theirs")});
    }

    void renamingASystemFolderIsRefused()
    {
        const QString pictures = lg::LexicalPaths::clean(lg::test::homeFolder() + QStringLiteral("/Pictures"));
        QDir().mkpath(pictures + QStringLiteral("/Sub"));
        sideMenuvc *sidebar = sidebarController();
        QVERIFY(addAndWait(sidebar, {pictures}));
        sidebar->didEditTextField({0}, QStringLiteral("Photos"));
        QTRY_COMPARE(shownTitles(), QStringList{QStringLiteral("You cannot rename System folders!")});
        QVERIFY(QFileInfo(pictures).isDir());
    }

    void renamingAnExpandedFolderKeepsItsChildrenAndTheCurrentFolderFollows()
    {
        const QString root = makeTree(QStringLiteral("Albums"), {QStringLiteral("Year/Summer/Beach")});
        const QString photo = lg::test::writeFile(root + QStringLiteral("/Year/Summer/Beach/p.jpg"));
        QVERIFY(giveThumbnails(photo));
        sideMenuvc *sidebar = sidebarController();
        QVERIFY(addAndWait(sidebar, {root}));
        const int summerRow = rowOf(sidebar, root + QStringLiteral("/Year/Summer"));
        sidebar->myOutlineView->selectRow(summerRow);
        QCOMPARE(currentFolderURL, QUrl::fromLocalFile(root + QStringLiteral("/Year/Summer")));
        const QModelIndex year = indexOf(sidebar, root + QStringLiteral("/Year"));
        QVERIFY(sidebar->myOutlineView->isExpanded(year));

        sidebar->didEditTextField(sidebar->treeController->model()->pathForIndex(year), QStringLiteral("Year 2"));
        QVERIFY(QFileInfo(root + QStringLiteral("/Year 2/Summer/Beach")).isDir());
        // The thumbnails of the files inside follow them.
        QCOMPARE(thumbnailsOf(root + QStringLiteral("/Year 2/Summer/Beach/p.jpg")), 4);
        QCOMPARE(thumbnailsOf(photo), 0);
        QVERIFY(sidebar->myOutlineView->isExpanded(year));
        QCOMPARE(currentFolderURL, QUrl::fromLocalFile(root + QStringLiteral("/Year 2/Summer")));
        QCOMPARE(treeDiffersFromDisk(sidebar->contents().first().get()), QString());
        QVERIFY(shownTitles().isEmpty());
    }

    void removeBookmarkIsForRootsAndTheSelectionMovesUpOrStays()
    {
        const QString a = makeTree(QStringLiteral("RootA"), {QStringLiteral("Sub")});
        const QString b = makeTree(QStringLiteral("RootB"), {});
        const QString c = makeTree(QStringLiteral("RootC"), {});
        sideMenuvc *sidebar = sidebarController();
        QVERIFY(addAndWait(sidebar, {a, b, c}));
        QVERIFY(sidebar->menuWillOpen(rowOf(sidebar, a + QStringLiteral("/Sub"))));
        QVERIFY(!menuAction(sidebar, "actionRemoveBookmark"));
        QVERIFY(sidebar->menuWillOpen(rowOf(sidebar, a)));
        QVERIFY(menuAction(sidebar, "actionRemoveBookmark"));

        // The last row: the row above it is selected.
        sidebar->myOutlineView->selectRow(rowOf(sidebar, c));
        sidebar->btnremove();
        QTRY_COMPARE(sidebar->contents().size(), 2);
        QCOMPARE(sidebar->treeController->selectedObjects().value(0)->nodeTitle(), QStringLiteral("RootB"));
        // A row above others, from the menu: the node that takes its place.
        sidebar->myOutlineView->selectRow(rowOf(sidebar, a));
        QVERIFY(sidebar->menuWillOpen(rowOf(sidebar, a)));
        menuAction(sidebar, "actionRemoveBookmark")->trigger();
        QTRY_COMPARE(sidebar->contents().size(), 1);
        QCOMPARE(sidebar->treeController->selectedObjects().value(0)->nodeTitle(), QStringLiteral("RootB"));
        QVERIFY(QFileInfo(a).isDir());  // nothing changes on disk

        // The last root: back to the home screen with no saved roots.
        lg::Settings::setValue(QStringLiteral("arrPaths"), QStringList{b});
        sidebar->btnremove();
        QTRY_VERIFY(sidebar->contents().isEmpty());
        QCOMPARE(lg::Settings::value(QStringLiteral("arrPaths")).toStringList(), QStringList());
    }

    void moveToTrashLeavesATrashInfoAndTheNodeGoes()
    {
        const QString root = makeTree(QStringLiteral("Trashing"), {QStringLiteral("Old"), QStringLiteral("Keep")});
        const QString old = root + QStringLiteral("/Old");
        lg::test::writeFile(old + QStringLiteral("/photo.jpg"));
        QVERIFY(giveThumbnails(old + QStringLiteral("/photo.jpg")));
        sideMenuvc *sidebar = sidebarController();
        QVERIFY(addAndWait(sidebar, {root}));
        QSignalSpy done(sidebar, &sideMenuvc::fileWorkFinished);
        QVERIFY(sidebar->menuWillOpen(rowOf(sidebar, old)));
        QVERIFY(menuAction(sidebar, "actionMoveToTrash")->isEnabled());
        // After the answer "Yes" the trash works behind the overlay, off the
        // main thread (a folder on another device is copied there).
        std::atomic<bool> workingAfterYes = false;
        lg::setFileFaultForTesting([&workingAfterYes](lg::FileStep step, const QString &) {
            if (step == lg::FileStep::Rename)
                workingAfterYes = isFileOperationRunning && QThread::currentThread() != qApp->thread();
            return 0;
        });
        menuAction(sidebar, "actionMoveToTrash")->trigger();
        QVERIFY(done.wait(5000));
        lg::setFileFaultForTesting({});
        QVERIFY(workingAfterYes);
        QVERIFY(!isBusy);
        QCOMPARE(shownTitles().value(0), QStringLiteral("Are you sure you want to move the selected Folder to Trash? "
                                                        "All the items from within the folder will be deleted."));
        QVERIFY(!QFileInfo::exists(old));
        const QString trash = lg::trashFolderFor(old);
        QVERIFY(QFileInfo(trash + QStringLiteral("/files/Old/photo.jpg")).isFile());
        QCOMPARE(thumbnailsOf(old + QStringLiteral("/photo.jpg")), 0);
        const std::optional<lg::TrashInfo> info = lg::readTrashInfo(trash + QStringLiteral("/info/Old.trashinfo"));
        QVERIFY(info);
        QCOMPARE(lg::LexicalPaths::clean(info->originalPath), old);
        QVERIFY(!sidebar->indexPathOfFolderNode(QUrl::fromLocalFile(old)));
        QCOMPARE(treeDiffersFromDisk(sidebar->contents().first().get()), QString());

        // A folder already gone when asked to go to the Trash is what was
        // asked: nothing to tell, and its node goes.
        const QString keep = root + QStringLiteral("/Keep");
        QVERIFY(sidebar->menuWillOpen(rowOf(sidebar, keep)));
        QVERIFY(QDir(keep).removeRecursively());
        lg::Alert::clearShownAlerts();
        menuAction(sidebar, "actionMoveToTrash")->trigger();
        QVERIFY(done.wait(5000));
        QCOMPARE(shownTitles().size(), 1);   // the question only
        QVERIFY(!sidebar->indexPathOfFolderNode(QUrl::fromLocalFile(keep)));
    }

    // Standard folders of the home folder can go to the Trash after the
    // question; the home folder itself is never offered.
    void standardFoldersGoToTheTrashButNeverTheHomeFolder()
    {
        const QString home = lg::LexicalPaths::clean(lg::Paths::home());
        const QString pictures = home + QStringLiteral("/Pictures");
        QVERIFY(QDir().mkpath(pictures + QStringLiteral("/Trip")));
        QVERIFY(!canModifyFolder(QUrl::fromLocalFile(pictures)));
        sideMenuvc *sidebar = sidebarController();
        QVERIFY(addAndWait(sidebar, {pictures}));
        QVERIFY(sidebar->menuWillOpen(rowOf(sidebar, pictures)));
        QAction *trash = menuAction(sidebar, "actionMoveToTrash");
        QVERIFY(trash->isEnabled());
        QSignalSpy done(sidebar, &sideMenuvc::fileWorkFinished);
        trash->trigger();
        QVERIFY(done.wait(5000));
        QCOMPARE(shownTitles().size(), 1);   // the question, then nothing went wrong
        QVERIFY(!QFileInfo::exists(pictures));
        QVERIFY(QFileInfo(lg::trashFolderFor(home) + QStringLiteral("/files/Pictures/Trip")).isDir());

        QVERIFY(addAndWait(sidebar, {home}));
        QVERIFY(sidebar->menuWillOpen(rowOf(sidebar, home)));
        QVERIFY(!menuAction(sidebar, "actionMoveToTrash")->isEnabled());
    }

    void theAccessSheetEnablesOnlyTheHomeFolder()
    {
        getPermissionvc sheet;
        QVERIFY(accessSheetLoaded);
        QVERIFY(getPermissionvc::panel_shouldEnableURL(QUrl::fromLocalFile(lg::Paths::home())));
        QVERIFY(!getPermissionvc::panel_shouldEnableURL(QUrl::fromLocalFile(lg::Paths::home() + "/Pictures")));
        QVERIFY(!getPermissionvc::panel_shouldEnableURL(QUrl::fromLocalFile(QStringLiteral("/"))));
    }

    void pasteCopiesAndIntoItsOwnFolderOffersOnlyACopy()
    {
        const QString root = makeTree(QStringLiteral("Pasting"), {QStringLiteral("Into"), QStringLiteral("From")});
        const QString photo = lg::test::writeFile(root + QStringLiteral("/From/photo.jpg"));
        sideMenuvc *sidebar = sidebarController();
        QVERIFY(addAndWait(sidebar, {root}));
        QSignalSpy done(sidebar, &sideMenuvc::fileWorkFinished);
        lg::Clipboard::writeFiles({QUrl::fromLocalFile(photo)});

        QVERIFY(sidebar->menuWillOpen(rowOf(sidebar, root + QStringLiteral("/Into"))));
        QVERIFY(menuAction(sidebar, "actionPasteItem")->isEnabled());
        menuAction(sidebar, "actionPasteItem")->trigger();
        QVERIFY(done.wait(5000));
        QVERIFY(QFileInfo(root + QStringLiteral("/Into/photo.jpg")).isFile());
        QVERIFY(QFileInfo(photo).isFile());  // a copy, not a move
        QVERIFY(shownTitles().isEmpty());    // no question for a paste

        answerWith({QStringLiteral("Make a Copy")});
        QVERIFY(sidebar->menuWillOpen(rowOf(sidebar, root + QStringLiteral("/From"))));
        menuAction(sidebar, "actionPasteItem")->trigger();
        QTRY_VERIFY(QFileInfo(root + QStringLiteral("/From/photo 2.jpg")).isFile());
        QCOMPARE(lg::Alert::shownAlerts().value(0).buttons,
                 (QStringList{QStringLiteral("Make a Copy"), QStringLiteral("Stop")}));

        // A folder into its own sub-folder is refused, and the summary says so.
        QTRY_VERIFY(!isFileOperationRunning);
        lg::Alert::clearShownAlerts();
        lg::Clipboard::writeFiles({QUrl::fromLocalFile(root)});
        QVERIFY(sidebar->menuWillOpen(rowOf(sidebar, root + QStringLiteral("/Into"))));
        menuAction(sidebar, "actionPasteItem")->trigger();
        QTRY_COMPARE(shownTitles(), QStringList{QStringLiteral("Some items could not be processed.")});
        QVERIFY(lg::Alert::shownAlerts().value(0).text.contains(QStringLiteral("inside itself")));
        QVERIFY(!QFileInfo::exists(root + QStringLiteral("/Into/Pasting")));
    }

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

    // A folder whose name is not valid UTF-8 is dragged into another by its
    // bytes; the look-alike beside it stays where it is.
    void aFolderWhoseNameIsNotUtf8IsMovedByItsBytes()
    {
        const QString root = makeTree(QStringLiteral("MoveBytes"), {QStringLiteral("Archive")});
        const QByteArray stray = lg::FileNames::toNative(root) + "/caf\xe9";
        const QByteArray lookAlike = lg::FileNames::toNative(root) + "/caf\xef\xbf\xbd";
        const QByteArray arrived = lg::FileNames::toNative(root) + "/Archive/caf\xe9";
        const auto cleanup = qScopeGuard([stray, arrived] {
            lg::removeTree(lg::FileNames::fromNative(stray));
            lg::removeTree(lg::FileNames::fromNative(arrived));
        });
        QCOMPARE(::mkdir(stray.constData(), 0700), 0);
        QCOMPARE(::mkdir(lookAlike.constData(), 0700), 0);
        QVERIFY(writeBytes(stray + "/inside.jpg", "mine"));
        QVERIFY(writeBytes(lookAlike + "/other.jpg", "the look-alike's"));
        sideMenuvc *sidebar = sidebarController();
        QVERIFY(addAndWait(sidebar, {root}));
        answerWith({QStringLiteral("Yes")});
        QSignalSpy done(sidebar, &sideMenuvc::fileWorkFinished);
        QVERIFY(dragFolder(sidebar, lg::FileNames::fromNative(stray), root + QStringLiteral("/Archive")));
        QVERIFY(done.wait(5000));
        QCOMPARE(shownTitles(), QStringList{moveQuestion});
        struct stat st {};
        QCOMPARE(::lstat((arrived + "/inside.jpg").constData(), &st), 0);
        QVERIFY(::lstat(stray.constData(), &st) != 0);
        QCOMPARE(::lstat((lookAlike + "/other.jpg").constData(), &st), 0);
        QVERIFY(sidebar->indexPathOfFolderNode(lg::FileNames::urlOf(lg::FileNames::fromNative(arrived))));
        QVERIFY(sidebar->indexPathOfFolderNode(lg::FileNames::urlOf(lg::FileNames::fromNative(lookAlike))));
        QVERIFY(!sidebar->indexPathOfFolderNode(lg::FileNames::urlOf(lg::FileNames::fromNative(stray))));
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

    // A folder moved onto a name it shares, answered Replace while another
    // program put a new folder of that name there: the new one is asked about
    // again ("Cancel" here), so it stays, and the dragged one stays where it was.
    void aFolderMoveReplacesOnlyWhatItAskedAbout()
    {
        const QString root = makeTree(QStringLiteral("AskedMoves"), {QStringLiteral("Trips/Holiday"),
                                                                      QStringLiteral("Archive/Holiday")});
        const QString source = root + QStringLiteral("/Trips/Holiday");
        lg::test::writeFile(source + QStringLiteral("/a.jpg"), "dragged");
        const QString target = root + QStringLiteral("/Archive/Holiday");
        sideMenuvc *sidebar = sidebarController();
        QVERIFY(addAndWait(sidebar, {root}));
        int asked = 0;
        lg::Alert::setResponder([&](const lg::AlertSpec &spec) {
            if (spec.title == folderExists) {
                if (++asked > 1)
                    return int(spec.buttons.indexOf(QStringLiteral("Cancel")));
                QDir().rename(target, root + QStringLiteral("/Archive/Old"));
                QDir().mkpath(target);
                lg::test::writeFile(target + QStringLiteral("/new.jpg"), "new");
                return int(spec.buttons.indexOf(QStringLiteral("Replace")));
            }
            return 0;
        });
        QSignalSpy done(sidebar, &sideMenuvc::fileWorkFinished);
        QVERIFY(dragFolder(sidebar, source, root + QStringLiteral("/Archive")));
        QVERIFY(done.wait(5000));
        QCOMPARE(lg::test::readAll(target + QStringLiteral("/new.jpg")), QByteArray("new"));
        QCOMPARE(lg::test::readAll(source + QStringLiteral("/a.jpg")), QByteArray("dragged"));
        QCOMPARE(shownTitles(), (QStringList{moveQuestion, folderExists, folderExists}));
    }

    // Replace of a folder (Paste Item, the folder drag) and Move to Trash of
    // a folder cover what the folder held when the question was put: a file
    // another program writes into it meanwhile is never removed. The
    // same-name question is asked again (and answered Stop or Cancel here);
    // the Trash is refused, and says so.
    void aFolderKeepsWhatWasWrittenIntoItWhileAsked_data()
    {
        QTest::addColumn<QString>("command");
        QTest::newRow("Paste Item, Replace") << "paste";
        QTest::newRow("folder drag, Replace") << "drag";
        QTest::newRow("Move to Trash") << "trash";
    }
    void aFolderKeepsWhatWasWrittenIntoItWhileAsked()
    {
        QFETCH(QString, command);
        const QString root = makeTree(QStringLiteral("WrittenMeanwhile"), {QStringLiteral("From/Album"),
                                                                            QStringLiteral("Into/Album/Day1")});
        lg::test::writeFile(root + QStringLiteral("/From/Album/new.jpg"), "new");
        const QString album = root + QStringLiteral("/Into/Album");
        const QString old = lg::test::writeFile(album + QStringLiteral("/Day1/old.jpg"), "old");
        const QString late = album + QStringLiteral("/late.jpg");
        sideMenuvc *sidebar = sidebarController();
        QVERIFY(addAndWait(sidebar, {root}));
        int asked = 0;
        const QString question = command == QLatin1String("trash")
                                     ? QStringLiteral("Are you sure you want to move the selected Folder to Trash? "
                                                      "All the items from within the folder will be deleted.")
                                 : command == QLatin1String("drag") ? folderExists
                                                                    : QStringLiteral("File already exists");
        lg::Alert::setResponder([&](const lg::AlertSpec &spec) {
            if (spec.title != question)
                return 0;   // the drag's question: Yes
            if (++asked > 1)
                return int(spec.buttons.size() - 1);   // Stop, Cancel
            lg::test::writeFile(late, "written by another program");
            return 0;   // Replace, Yes
        });
        QSignalSpy done(sidebar, &sideMenuvc::fileWorkFinished);
        if (command == QLatin1String("paste")) {
            lg::Clipboard::writeFiles({QUrl::fromLocalFile(root + QStringLiteral("/From/Album"))});
            QVERIFY(sidebar->menuWillOpen(rowOf(sidebar, root + QStringLiteral("/Into"))));
            menuAction(sidebar, "actionPasteItem")->trigger();
        } else if (command == QLatin1String("drag")) {
            QVERIFY(dragFolder(sidebar, root + QStringLiteral("/From/Album"), root + QStringLiteral("/Into")));
        } else {
            QVERIFY(sidebar->menuWillOpen(rowOf(sidebar, album)));
            menuAction(sidebar, "actionMoveToTrash")->trigger();
        }
        if (command == QLatin1String("trash")) {
            QVERIFY(done.wait(5000));
            QCOMPARE(shownTitles().last(), QStringLiteral("Some items could not be processed."));
            QVERIFY2(lg::Alert::shownAlerts().last().text.contains(QStringLiteral("changed since")),
                     qPrintable(lg::Alert::shownAlerts().last().text));
        } else {
            QTRY_COMPARE(asked, 2);
        }
        QTRY_VERIFY(!isFileOperationRunning && !isBusy);
        QCOMPARE(lg::test::readAll(late), QByteArray("written by another program"));
        QCOMPARE(lg::test::readAll(old), QByteArray("old"));
        QVERIFY(!QFileInfo::exists(album + QStringLiteral("/new.jpg")));
        QVERIFY(QFileInfo(root + QStringLiteral("/From/Album/new.jpg")).isFile());
        QTRY_COMPARE(treeDiffersFromDisk(sidebar->contents().first().get()), QString());
    }

    // A sidebar folder dragged onto another is the folder as the drag
    // started: one put in its place while the question is open (the dragged
    // one renamed away) is never moved, and the window says so.
    void aDraggedFolderPutInAnothersPlaceIsNotMoved()
    {
        const QString root = makeTree(QStringLiteral("DragBound"), {QStringLiteral("Trips/Holiday"),
                                                                     QStringLiteral("Archive")});
        const QString source = root + QStringLiteral("/Trips/Holiday");
        lg::test::writeFile(source + QStringLiteral("/dragged.jpg"), "dragged");
        sideMenuvc *sidebar = sidebarController();
        QVERIFY(addAndWait(sidebar, {root}));
        lg::Alert::setResponder([&](const lg::AlertSpec &spec) {
            if (spec.title == moveQuestion) {
                QDir().rename(source, root + QStringLiteral("/Trips/Holiday before"));
                lg::test::writeFile(source + QStringLiteral("/other.jpg"), "put in its place");
            }
            return 0;
        });
        QSignalSpy done(sidebar, &sideMenuvc::fileWorkFinished);
        QVERIFY(dragFolder(sidebar, source, root + QStringLiteral("/Archive")));
        QVERIFY(done.wait(5000));
        QCOMPARE(lg::test::readAll(source + QStringLiteral("/other.jpg")), QByteArray("put in its place"));
        QCOMPARE(lg::test::readAll(root + QStringLiteral("/Trips/Holiday before/dragged.jpg")), QByteArray("dragged"));
        QVERIFY(QDir(root + QStringLiteral("/Archive")).isEmpty());
        QCOMPARE(shownTitles(), (QStringList{moveQuestion, QStringLiteral("Some items could not be processed.")}));
        QVERIFY2(lg::Alert::shownAlerts().last().text.contains(QStringLiteral("replaced since")),
                 qPrintable(lg::Alert::shownAlerts().last().text));
    }

    // Two dragged folders of one name, answered Replace: the first never gives
    // way to the second, also when it already lies in the destination (reached
    // there through a linked bookmark).
    void draggedFoldersOfOneNameNeverReplaceEachOther_data()
    {
        QTest::addColumn<QString>("second");       // the second dragged Trip
        QTest::addColumn<QString>("destination");
        QTest::addColumn<QString>("firstAfter");   // where the first Trip's content is afterwards
        QTest::addColumn<QString>("secondAfter");
        QTest::newRow("onto a third folder holding the name")
            << "Pics/Holidays/Trip" << "Pics/Album" << "Pics/Album/Trip" << "Pics/Album/Trip 2";
        QTest::newRow("onto the folder one of them lies in")
            << "Link/Trip" << "Pics/Holidays" << "Pics/Holidays/Trip 2" << "Pics/Holidays/Trip";
    }
    void draggedFoldersOfOneNameNeverReplaceEachOther()
    {
        QFETCH(QString, second);
        QFETCH(QString, destination);
        QFETCH(QString, firstAfter);
        QFETCH(QString, secondAfter);
        const QString root = makeTree(QStringLiteral("OneName"), {QStringLiteral("Pics/Album/Trip"),
                                                                   QStringLiteral("Pics/Holidays/Trip"),
                                                                   QStringLiteral("Other/Trip")});
        lg::test::writeFile(root + QStringLiteral("/Other/Trip/first.jpg"), "first");
        lg::test::writeFile(root + QStringLiteral("/Pics/Holidays/Trip/second.jpg"), "second");
        lg::test::writeFile(root + QStringLiteral("/Pics/Album/Trip/old.jpg"), "old");
        const QString link = root + QStringLiteral("/Link");
        QVERIFY(QFile::link(root + QStringLiteral("/Pics/Holidays"), link));
        sideMenuvc *sidebar = sidebarController();
        QVERIFY(addAndWait(sidebar, {root, link}));
        answerWith({QStringLiteral("Replace"), QStringLiteral("Yes")});
        QSignalSpy done(sidebar, &sideMenuvc::fileWorkFinished);

        QVERIFY(dragFolders(sidebar, {root + QStringLiteral("/Other/Trip"), root + QLatin1Char('/') + second},
                            root + QLatin1Char('/') + destination));
        QVERIFY(done.wait(5000));
        QCOMPARE(shownTitles().value(1), folderExists);
        QCOMPARE(lg::test::readAll(root + QLatin1Char('/') + firstAfter + QStringLiteral("/first.jpg")),
                 QByteArray("first"));
        QCOMPARE(lg::test::readAll(root + QLatin1Char('/') + secondAfter + QStringLiteral("/second.jpg")),
                 QByteArray("second"));
        QVERIFY(!QFileInfo::exists(root + QStringLiteral("/Other/Trip")));
        QCOMPARE(treeDiffersFromDisk(sidebar->contents().first().get()), QString());
    }

    // A name taken in the destination while the folders move is asked about
    // (answered Cancel here): only that folder stays back.
    void aNameTakenWhileFoldersMoveKeepsOnlyThatFolderBack()
    {
        const QString root = makeTree(QStringLiteral("Taken"), {QStringLiteral("A/One"), QStringLiteral("A/Two"),
                                                                 QStringLiteral("A/Three"), QStringLiteral("Into")});
        const QString into = root + QStringLiteral("/Into");
        sideMenuvc *sidebar = sidebarController();
        QVERIFY(addAndWait(sidebar, {root}));
        answerWith({QStringLiteral("Yes"), QStringLiteral("Cancel")});
        QSignalSpy done(sidebar, &sideMenuvc::fileWorkFinished);
        // Someone makes a "Two" there while "One" moves.
        lg::setFileFaultForTesting([into](lg::FileStep step, const QString &path) {
            if (step == lg::FileStep::Rename && path.endsWith(QLatin1String("/One")))
                QDir().mkdir(into + QStringLiteral("/Two"));
            return 0;
        });
        QVERIFY(dragFolders(sidebar, {root + QStringLiteral("/A/One"), root + QStringLiteral("/A/Two"),
                                      root + QStringLiteral("/A/Three")}, into));
        QVERIFY(done.wait(5000));
        QVERIFY(QFileInfo(into + QStringLiteral("/One")).isDir());
        QVERIFY(QFileInfo(into + QStringLiteral("/Three")).isDir());
        QVERIFY(QFileInfo(root + QStringLiteral("/A/Two")).isDir());
        // The folder that could not go is asked about.
        QCOMPARE(shownTitles(), (QStringList{moveQuestion, folderExists}));
        // The folder that stayed keeps its node; the others show where they went.
        const BaseNode::Ptr a = sidebar->treeController->descendantNodeAtIndexPath(
            *sidebar->indexPathOfFolderNode(QUrl::fromLocalFile(root + QStringLiteral("/A"))));
        QCOMPARE(treeDiffersFromDisk(a.get()), QString());
        QCOMPARE(sidebar->treeController->model()->rowCount(indexOf(sidebar, into)), 2);
        QVERIFY(indexOf(sidebar, into + QStringLiteral("/Three")).isValid());
    }

    // A folder that arrived at its new place but for what the alert names (a
    // card that keeps no tags, a move not wholly done) is shown where the disk
    // has it: the moved node goes where its source went and stays where some
    // of it is left, the thumbnails follow the files, and the alert is shown.
    void aFolderThatArrivedButForWhatTheAlertNamesIsShownWhereItIs_data()
    {
        QTest::addColumn<QString>("command");   // drag, drop, trash
        QTest::addColumn<QString>("fault");     // tags refused, a photo arriving, a photo that cannot go
        QTest::addColumn<QString>("said");
        const QString tags = QStringLiteral("could not be kept");
        const QString partly = QStringLiteral("was not wholly moved");
        QTest::newRow("dragged onto a card that keeps no tags") << "drag" << "tags" << tags;
        QTest::newRow("dragged while a photo arrives in it") << "drag" << "arrives" << partly;
        QTest::newRow("dragged, a photo cannot leave") << "drag" << "stuck" << "could not be removed entirely";
        QTest::newRow("dropped as a file onto a card") << "drop" << "tags" << tags;
        QTest::newRow("dropped as a file while a photo arrives") << "drop" << "arrives" << partly;
        QTest::newRow("trashed onto a disk that keeps no tags") << "trash" << "tags" << tags;
        QTest::newRow("trashed, a photo cannot leave") << "trash" << "stuck" << "not all of it could be removed";
    }
    void aFolderThatArrivedButForWhatTheAlertNamesIsShownWhereItIs()
    {
        QFETCH(QString, command);
        QFETCH(QString, fault);
        QFETCH(QString, said);
        const QString root = makeTree(QStringLiteral("Arrived"), {QStringLiteral("Trip/Day1"), QStringLiteral("Card")});
        const QString trip = root + QStringLiteral("/Trip");
        const QString photo = lg::test::writeFile(trip + QStringLiteral("/Day1/photo.jpg"), "sunset");
        if (::setxattr(QFile::encodeName(photo).constData(), "user.xdg.tags", "beach", 5, 0) != 0)
            QSKIP("this file system holds no user attributes");
        QVERIFY(giveThumbnails(photo));
        const QString late = trip + QStringLiteral("/late.jpg");
        bool arrivedLate = false;
        lg::setFileFaultForTesting([&](lg::FileStep step, const QString &path) {
            if (step == lg::FileStep::Rename)
                return EXDEV;   // the Trash or the card is on another disk
            if (fault == QLatin1String("tags") && step == lg::FileStep::CopyAttributes)
                return EOPNOTSUPP;
            if (fault == QLatin1String("arrives") && step == lg::FileStep::Remove && !std::exchange(arrivedLate, true))
                lg::test::writeFile(late, "arrived meanwhile");
            if (fault == QLatin1String("stuck") && step == lg::FileStep::Remove && path == photo)
                return EACCES;
            return 0;
        });
        sideMenuvc *sidebar = sidebarController();
        QVERIFY(addAndWait(sidebar, {root}));
        answerWith({QStringLiteral("Yes")});
        QSignalSpy done(sidebar, &sideMenuvc::fileWorkFinished);
        if (command == QLatin1String("drag")) {
            QVERIFY(dragFolder(sidebar, trip, root + QStringLiteral("/Card")));
        } else if (command == QLatin1String("drop")) {
            QVERIFY(dropFiles(sidebar, {trip}, root + QStringLiteral("/Card")));
        } else {
            QVERIFY(sidebar->menuWillOpen(rowOf(sidebar, trip)));
            menuAction(sidebar, "actionMoveToTrash")->trigger();
        }
        QVERIFY(done.wait(5000));
        lg::setFileFaultForTesting({});

        const QList<lg::AlertSpec> alerts = lg::Alert::shownAlerts();
        QVERIFY(!alerts.isEmpty());
        // Only tags not kept: said as what happened, as information.
        const bool onlyTags = fault == QLatin1String("tags");
        const QString what = command == QLatin1String("trash") ? QStringLiteral("put in the Trash") : QStringLiteral("moved");
        QCOMPARE(alerts.last().title,
                 onlyTags ? QStringLiteral("The item was %1, but some of what it held could not be kept.").arg(what)
                          : QStringLiteral("Some items could not be processed."));
        QCOMPARE(alerts.last().style, onlyTags ? lg::AlertSpec::Style::Informational : lg::AlertSpec::Style::Warning);
        QVERIFY2(alerts.last().text.contains(said), qPrintable(alerts.last().text));
        QString movedTo = root + QStringLiteral("/Card/Trip");
        if (command == QLatin1String("trash")) {
            // The Trash entry whose record names this Trip (an earlier row's may be there too).
            const QString trash = lg::trashFolderFor(trip);
            for (const QFileInfo &info : QDir(trash + QStringLiteral("/info")).entryInfoList(QDir::Files)) {
                const std::optional<lg::TrashInfo> record = lg::readTrashInfo(info.filePath());
                if (record && lg::LexicalPaths::clean(record->originalPath) == trip)
                    movedTo = trash + QStringLiteral("/files/") + info.completeBaseName();
            }
        }
        QCOMPARE(lg::test::readAll(movedTo + QStringLiteral("/Day1/photo.jpg")), QByteArray("sunset"));
        const bool tripStays = fault != QLatin1String("tags");
        QCOMPARE(QFileInfo::exists(trip), tripStays);
        QCOMPARE(sidebar->indexPathOfFolderNode(QUrl::fromLocalFile(trip)).has_value(), tripStays);
        // What is left of a folder not wholly moved is read again.
        QTRY_COMPARE(treeDiffersFromDisk(sidebar->contents().first().get()), QString());
        // The thumbnails follow the photo; a photo that stayed keeps its own.
        const bool photoStays = fault == QLatin1String("stuck");
        QCOMPARE(QFileInfo::exists(photo), photoStays);
        QCOMPARE(thumbnailsOf(photo), photoStays ? 4 : 0);
        if (command != QLatin1String("trash"))
            QCOMPARE(thumbnailsOf(movedTo + QStringLiteral("/Day1/photo.jpg")), 4);
    }

    void filesDroppedOnAFolderAreMovedWithTheSameNameSheet_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("inTarget");      // the clashing name's content afterwards
        QTest::addColumn<QStringList>("numbered");  // photo 2.jpg, photo 3.jpg ...
        QTest::newRow("Replace") << "Replace" << "new" << QStringList{"second"};
        QTest::newRow("Make a Copy") << "Make a Copy" << "old" << QStringList{"new", "second"};
        QTest::newRow("Stop") << "Stop" << "old" << QStringList{};
    }
    void filesDroppedOnAFolderAreMovedWithTheSameNameSheet()
    {
        QFETCH(QString, answer);
        QFETCH(QString, inTarget);
        QFETCH(QStringList, numbered);
        const QString root = makeTree(QStringLiteral("Drops"), {QStringLiteral("Target"), QStringLiteral("Source"),
                                                                 QStringLiteral("Source2")});
        const QString clash = lg::test::writeFile(root + QStringLiteral("/Source/photo.jpg"), "new");
        // A second photo.jpg in the same drop never replaces the first.
        const QString clash2 = lg::test::writeFile(root + QStringLiteral("/Source2/photo.jpg"), "second");
        const QString free = lg::test::writeFile(root + QStringLiteral("/Source/other.jpg"));
        const QString folder = root + QStringLiteral("/Source/Album");
        QDir().mkpath(folder + QStringLiteral("/Sub"));
        const QString inside = lg::test::writeFile(folder + QStringLiteral("/Sub/inside.jpg"));
        lg::test::writeFile(root + QStringLiteral("/Target/photo.jpg"), "old");
        QVERIFY(giveThumbnails(free));
        QVERIFY(giveThumbnails(inside));
        sideMenuvc *sidebar = sidebarController();
        QVERIFY(addAndWait(sidebar, {root}));
        answerWith({QStringLiteral("Yes"), answer});
        QSignalSpy done(sidebar, &sideMenuvc::fileWorkFinished);

        QVERIFY(dropFiles(sidebar, {clash, clash2, free, folder}, root + QStringLiteral("/Target")));
        QTRY_COMPARE(done.count(), answer == QLatin1String("Stop") ? 1 : 2);
        QCOMPARE(shownTitles().value(1), QStringLiteral("File already exists"));
        QCOMPARE(lg::Alert::shownAlerts().value(1).buttons.size(), 3);
        QVERIFY(QFileInfo(root + QStringLiteral("/Target/other.jpg")).isFile());
        QVERIFY(!QFileInfo::exists(free));
        QVERIFY(QFileInfo(root + QStringLiteral("/Target/Album/Sub")).isDir());
        // The thumbnails of the moved files follow them, those in the folder too.
        QCOMPARE(thumbnailsOf(root + QStringLiteral("/Target/other.jpg")), 4);
        QCOMPARE(thumbnailsOf(root + QStringLiteral("/Target/Album/Sub/inside.jpg")), 4);
        QCOMPARE(thumbnailsOf(free) + thumbnailsOf(inside), 0);
        QCOMPARE(lg::test::readAll(root + QStringLiteral("/Target/photo.jpg")), inTarget.toUtf8());
        QStringList numberedFound;
        for (int n = 2; QFileInfo::exists(root + QStringLiteral("/Target/photo %1.jpg").arg(n)); ++n)
            numberedFound << QString::fromUtf8(lg::test::readAll(root + QStringLiteral("/Target/photo %1.jpg").arg(n)));
        QCOMPARE(numberedFound, numbered);
        // Nothing is lost: what stayed behind is still in its folder.
        if (answer == QLatin1String("Stop"))
            QVERIFY(QFileInfo(clash).isFile() && QFileInfo(clash2).isFile());
        QCOMPARE(treeDiffersFromDisk(sidebar->contents().first().get()), QString());
    }

    // A photo whose name is not valid UTF-8 dragged from the grid onto a
    // sidebar folder, after "Yes": it is moved there by its bytes, alone or
    // beside its look-alike (which stays where it is, as it was).
    void aDragOfANameThatIsNotTextMovesItByItsBytes_data()
    {
        QTest::addColumn<bool>("lookAlike");
        QTest::newRow("alone") << false;
        QTest::newRow("beside its look-alike") << true;
    }
    void aDragOfANameThatIsNotTextMovesItByItsBytes()
    {
        QFETCH(bool, lookAlike);
        const QString root = makeTree(lookAlike ? QStringLiteral("RawDrag2") : QStringLiteral("RawDrag"),
                                      {QStringLiteral("Target"), QStringLiteral("Source")});
        const QByteArray source = QFile::encodeName(root) + "/Source/";
        const QByteArray target = QFile::encodeName(root) + "/Target/";
        const QString picture = browsertest::writeJpeg(root + QStringLiteral("/Source/plain.jpg"), 8, 8);
        const QByteArray bytes = lg::test::readAll(picture);
        QVERIFY(QFile::remove(picture));
        QVERIFY(writeBytes(source + "caf\xe9.jpg", bytes));
        if (lookAlike)
            QVERIFY(writeBytes(source + "caf\xef\xbf\xbd.jpg", "look-alike"));
        sideMenuvc *sidebar = sidebarController();
        QVERIFY(addAndWait(sidebar, {root}));

        currentFolderURL = lg::FileNames::urlOf(lg::FileNames::fromNative(source.chopped(1)));
        browsertest::shownContent();
        thumbnailvc *grid = thumbnailGrid();
        QVERIFY(browsertest::reloadAndWait(grid));
        int row = -1;
        for (int i = 0; i < itemList.size(); ++i)
            if (itemList.at(i).file && lg::FileNames::toNative(lg::FileNames::pathOf(itemList.at(i).file->url))
                                           .endsWith("caf\xe9.jpg"))
                row = i;
        QVERIFY(row >= 0);
        std::unique_ptr<QMimeData> dragged;
        setItemDragRunnerForTesting([&dragged](QDrag *drag) {
            dragged = std::make_unique<QMimeData>();
            for (const QString &format : drag->mimeData()->formats())
                dragged->setData(format, drag->mimeData()->data(format));
            return Qt::MoveAction;
        });
        const auto restore = qScopeGuard([] { setItemDragRunnerForTesting({}); });
        GridView *view = grid->collectionview;
        const QPoint from = view->visualRect(view->model()->index(row, 0)).center();
        const QPoint to = from + QPoint(QApplication::startDragDistance() + 8, 4);
        QTest::mousePress(view->viewport(), Qt::LeftButton, {}, from);
        QTest::mouseMove(view->viewport(), to);
        QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, to);
        QVERIFY2(dragged, "the drag starts");

        answerWith({QStringLiteral("Yes")});
        QSignalSpy done(sidebar, &sideMenuvc::fileWorkFinished);
        QVERIFY(sidebar->treeController->model()->dropMimeData(dragged.get(), Qt::MoveAction, -1, -1,
                                                              indexOf(sidebar, root + QStringLiteral("/Target"))));
        QVERIFY(done.wait(10000));
        QTRY_VERIFY(!isBusy);
        QCOMPARE(shownTitles(), QStringList{QStringLiteral(
                                    "Are you sure you want to move the selected items to the destination folder?")});
        struct stat st {};
        QVERIFY(::lstat((target + "caf\xe9.jpg").constData(), &st) == 0);
        QVERIFY(::lstat((source + "caf\xe9.jpg").constData(), &st) != 0);
        QCOMPARE(::lstat((target + "caf\xef\xbf\xbd.jpg").constData(), &st), -1);
        if (lookAlike)
            QCOMPARE(lg::test::readAll(root + QStringLiteral("/Source/caf\uFFFD.jpg")), QByteArray("look-alike"));
    }

    // A photo dragged from the grid onto a sidebar folder is the file as the
    // drag started: one renamed over it while it is dragged, or written to
    // while "Are you sure...?" is open, is refused like the grid's own
    // commands refuse it, said in the window, and stays where it is.
    void aFileDraggedOntoAFolderIsTheFileAsTheDragStarted_data()
    {
        QTest::addColumn<QString>("meanwhile");
        QTest::newRow("nothing") << "nothing";
        QTest::newRow("another renamed over it while dragged") << "renamed over";
        QTest::newRow("written to while asked") << "written to";
    }
    void aFileDraggedOntoAFolderIsTheFileAsTheDragStarted()
    {
        QFETCH(QString, meanwhile);
        const QString root = makeTree(QStringLiteral("BoundDrag"), {QStringLiteral("Target"), QStringLiteral("Source")});
        const QString photo = browsertest::writeJpeg(root + QStringLiteral("/Source/photo.jpg"), 8, 8);
        const QString other = browsertest::writeJpeg(root + QStringLiteral("/Source/other.jpg"), 12, 12);
        sideMenuvc *sidebar = sidebarController();
        QVERIFY(addAndWait(sidebar, {root}));
        currentFolderURL = QUrl::fromLocalFile(root + QStringLiteral("/Source"));
        browsertest::shownContent();
        thumbnailvc *grid = thumbnailGrid();
        QVERIFY(browsertest::reloadAndWait(grid));
        int row = -1;
        for (int i = 0; i < itemList.size(); ++i)
            if (itemList.at(i).file && itemList.at(i).file->url == QUrl::fromLocalFile(photo))
                row = i;
        QVERIFY(row >= 0);
        std::unique_ptr<QMimeData> dragged;
        setItemDragRunnerForTesting([&](QDrag *drag) {
            dragged = std::make_unique<QMimeData>();
            for (const QString &format : drag->mimeData()->formats())
                dragged->setData(format, drag->mimeData()->data(format));
            if (meanwhile == QLatin1String("renamed over"))   // while the drag goes on
                ::rename(QFile::encodeName(other).constData(), QFile::encodeName(photo).constData());
            return Qt::MoveAction;
        });
        const auto restore = qScopeGuard([] { setItemDragRunnerForTesting({}); });
        GridView *view = grid->collectionview;
        const QPoint from = view->visualRect(view->model()->index(row, 0)).center();
        const QPoint to = from + QPoint(QApplication::startDragDistance() + 8, 4);
        QTest::mousePress(view->viewport(), Qt::LeftButton, {}, from);
        QTest::mouseMove(view->viewport(), to);
        QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, to);
        QVERIFY2(dragged, "the drag starts");

        const QString moveFiles = QStringLiteral("Are you sure you want to move the selected items to the "
                                                 "destination folder?");
        lg::Alert::setResponder([&](const lg::AlertSpec &spec) {
            if (spec.title == moveFiles && meanwhile == QLatin1String("written to")) {
                QFile file(photo);
                if (file.open(QIODevice::Append))
                    file.write("+");
            }
            return 0;
        });
        const QByteArray before = lg::test::readAll(photo);
        QSignalSpy done(sidebar, &sideMenuvc::fileWorkFinished);
        QVERIFY(sidebar->treeController->model()->dropMimeData(dragged.get(), Qt::MoveAction, -1, -1,
                                                              indexOf(sidebar, root + QStringLiteral("/Target"))));
        QVERIFY(done.wait(10000));
        QTRY_VERIFY(!isBusy);
        const QString moved = root + QStringLiteral("/Target/photo.jpg");
        if (meanwhile == QLatin1String("nothing")) {
            QCOMPARE(shownTitles(), QStringList{moveFiles});
            QCOMPARE(lg::test::readAll(moved), before);
            QVERIFY(!QFileInfo::exists(photo));
            return;
        }
        QCOMPARE(shownTitles(), (QStringList{moveFiles, QStringLiteral("Some items could not be processed.")}));
        const QString said = lg::Alert::shownAlerts().last().text;
        QVERIFY2(said.contains(QStringLiteral("photo.jpg")), qPrintable(said));
        QVERIFY2(said.contains(meanwhile == QLatin1String("renamed over") ? QStringLiteral("replaced since")
                                                                          : QStringLiteral("changed since")),
                 qPrintable(said));
        QVERIFY(!QFileInfo::exists(moved));
        QVERIFY(QFileInfo(photo).isFile());
    }

    void dropsThatWouldLoseOrCannotReadAreRefused()
    {
        const QString root = makeTree(QStringLiteral("Refusals"), {QStringLiteral("Here")});
        const QString photo = lg::test::writeFile(root + QStringLiteral("/Here/photo.jpg"));
        sideMenuvc *sidebar = sidebarController();
        QVERIFY(addAndWait(sidebar, {root}));
        SidebarTreeModel *model = sidebar->treeController->model();
        // The files are checked in the background; a refused drop asks nothing.
        // Files dragged from a folder onto that folder's own row, a URL that
        // does not decode, and a file outside the home folder.
        dropFiles(sidebar, {photo}, root + QStringLiteral("/Here"));
        QMimeData broken;
        broken.setData(QStringLiteral("text/uri-list"), "file:///tmp/%ZZ\r\n");
        model->dropMimeData(&broken, Qt::CopyAction, -1, -1, indexOf(sidebar, root));
        const QString outside = QDir::tempPath() + QStringLiteral("/lg-outside-home.jpg");
        lg::test::writeFile(outside);
        dropFiles(sidebar, {photo, outside}, root);
        // A type nobody knows is refused at once.
        QMimeData unknown;
        unknown.setData(QStringLiteral("application/x-promise"), "x");
        QVERIFY(!model->canDropMimeData(&unknown, Qt::CopyAction, -1, -1, indexOf(sidebar, root)));
        QTest::qWait(200);
        QVERIFY(shownTitles().isEmpty());
        QVERIFY(QFileInfo(photo).isFile());
        QFile::remove(outside);
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
        // Without titles: the last path component, a trailing "/" aside.
        QMimeData plain;
        plain.setData(QStringLiteral("text/uri-list"), "https://four.example/a/b/\r\nhttps://five.example/\r\n");
        QVERIFY(sidebar->treeController->model()->dropMimeData(&plain, Qt::CopyAction, -1, -1, indexOf(sidebar, root)));
        const QList<BaseNode::Ptr> all = sidebar->contents().first()->childNodes();
        QCOMPARE(all.size(), 7);
        QCOMPARE(all.at(5)->nodeTitle(), QStringLiteral("b"));
        QCOMPARE(all.at(6)->nodeTitle(), QStringLiteral("https://five.example/"));
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

LG_TEST(TestSidebarCommands)
#include "test_sidebarcommands.moc"
