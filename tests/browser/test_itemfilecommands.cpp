// The file commands of the grid and the list on real files: numbered names,
// the same-name sheet's three ways, paste (copy and cut, as file managers
// write the clipboard), drops, Move To and Copy To, and Move to Trash of a
// filtered selection.
#include "browser/BrowserFixtures.h"
#include "browser/GridView.h"
#include "browser/ItemEditing.h"
#include "browser/ItemFileCommands.h"
#include "browser/thumbnailvc.h"
#include "browser/ItemMenus.h"
#include "browser/ListTableView.h"
#include "browser/ShownItemsModel.h"
#include "browser/ViewController.h"
#include "browser/listVc.h"
#include "platform/Alert.h"
#include "platform/Clipboard.h"
#include "platform/Panels.h"
#include "platform/Trash.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>

#include <memory>

using namespace browsertest;

namespace {

QString readAll(const QString &path)
{
    return QString::fromUtf8(lg::test::readAll(path));
}

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
}

// Answers the alerts with the button of the given title, in order.
void answer(QStringList titles)
{
    lg::Alert::setResponder([titles](const lg::AlertSpec &spec) mutable {
        const QString wanted = titles.isEmpty() ? spec.buttons.value(0) : titles.takeFirst();
        return int(spec.buttons.indexOf(wanted));
    });
}

} // namespace

class TestItemFileCommands : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        resetSharedState();
        setListingBudget(1000);
        lg::Alert::clearShownAlerts();
        answer({});
    }
    void cleanup() { lg::Panels::setOpenResponder({}); }
    void cleanupTestCase() { resetSharedState(); }

    void numberedNamesAreFreeOnDiskInTheListingAndInTheBatch_data()
    {
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("expected");
        QTest::newRow("first copy") << QStringList{} << QStringList{} << "photo.jpg" << "photo 2.jpg";
        QTest::newRow("case is ignored on disk") << QStringList{"PHOTO 2.JPG"} << QStringList{} << "photo.jpg"
                                                 << "photo 3.jpg";
        QTest::newRow("a listed name counts") << QStringList{} << QStringList{"Photo 2.jpg"} << "photo.jpg"
                                              << "photo 3.jpg";
        QTest::newRow("two extensions") << QStringList{} << QStringList{} << "archive.tar.gz" << "archive.tar 2.gz";
        QTest::newRow("no extension") << QStringList{} << QStringList{} << "notes" << "notes 2";
    }
    void numberedNamesAreFreeOnDiskInTheListingAndInTheBatch()
    {
        QFETCH(QStringList, present);
        QFETCH(QStringList, listed);
        QFETCH(QString, source);
        QFETCH(QString, expected);
        const QString folder = lg::test::freshFolder(QStringLiteral("numbers"));
        lg::test::writeFile(folder + QLatin1Char('/') + source, "original");
        for (const QString &name : present)
            lg::test::writeFile(folder + QLatin1Char('/') + name, "present");
        const TransferOutcome outcome = runTransfer(TransferKind::Copy, {folder + QLatin1Char('/') + source}, folder,
                                                    ClashMode::MakeCopy, listed);
        QCOMPARE(outcome.results.size(), 1);
        QVERIFY2(outcome.results.first().ok(), qPrintable(outcome.results.first().message));
        QCOMPARE(QFileInfo(outcome.results.first().target).fileName(), expected);
        QCOMPARE(readAll(folder + QLatin1Char('/') + expected), QStringLiteral("original"));
    }

    void replaceNeverLosesTheSourceOrAFolder()
    {
        const QString from = lg::test::freshFolder(QStringLiteral("from"));
        const QString to = lg::test::freshFolder(QStringLiteral("to"));
        lg::test::writeFile(from + QStringLiteral("/a.jpg"), "new");
        lg::test::writeFile(to + QStringLiteral("/a.jpg"), "old");
        lg::test::writeFile(from + QStringLiteral("/b.jpg"), "file");
        QDir().mkpath(to + QStringLiteral("/b.jpg"));
        lg::test::writeFile(to + QStringLiteral("/b.jpg/inside.txt"), "kept");

        TransferOutcome collect = runTransfer(TransferKind::Copy, {from + "/a.jpg", from + "/b.jpg"}, to, ClashMode::Collect);
        QCOMPARE(collect.clashes.size(), 2);
        QVERIFY(collect.results.isEmpty());

        const TransferOutcome replace = runTransfer(TransferKind::Copy, collect.clashes, to, ClashMode::Replace);
        QCOMPARE(readAll(to + QStringLiteral("/a.jpg")), QStringLiteral("new"));
        QVERIFY(replace.results.at(0).ok());
        QVERIFY(!replace.results.at(1).ok());   // the folder stays
        QCOMPARE(readAll(to + QStringLiteral("/b.jpg/inside.txt")), QStringLiteral("kept"));
        QCOMPARE(reportableFailures(replace.results).size(), 1);

        // An item never replaces itself.
        const TransferOutcome itself = runTransfer(TransferKind::Copy, {to + "/a.jpg"}, to, ClashMode::Replace);
        QCOMPARE(itself.results.first().error, lg::FileOpError::SameFile);
        QCOMPARE(readAll(to + QStringLiteral("/a.jpg")), QStringLiteral("new"));
        QVERIFY(reportableFailures(itself.results).isEmpty());
    }

    void pasteCopiesAndCutMovesWithTheSameNameSheet_data()
    {
        QTest::addColumn<bool>("cut");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QStringList>("inTarget");
        QTest::addColumn<QString>("clashContent");
        QTest::newRow("copy, make a copy") << false << "Make a Copy"
                                           << QStringList{"a 2.jpg", "a.jpg", "b.jpg", "c.mov"} << "old";
        QTest::newRow("copy, replace") << false << "Replace" << QStringList{"a.jpg", "b.jpg", "c.mov"} << "pasted";
        QTest::newRow("cut, stop") << true << "Stop" << QStringList{"a.jpg", "b.jpg", "c.mov"} << "old";
    }
    void pasteCopiesAndCutMovesWithTheSameNameSheet()
    {
        QFETCH(bool, cut);
        QFETCH(QString, button);
        QFETCH(QStringList, inTarget);
        QFETCH(QString, clashContent);
        const QString from = lg::test::freshFolder(QStringLiteral("pastefrom"));
        const QString to = lg::test::freshFolder(QStringLiteral("pasteto"));
        for (const char *name : {"a.jpg", "b.jpg", "c.mov"})
            lg::test::writeFile(from + QLatin1Char('/') + QLatin1String(name), "pasted");
        lg::test::writeFile(from + QStringLiteral("/notes.txt"), "not media");
        lg::test::writeFile(to + QStringLiteral("/a.jpg"), "old");
        // The clipboard as a file manager writes it.
        auto *data = new QMimeData;
        QByteArray gnome = cut ? "cut" : "copy";
        QList<QUrl> urls;
        for (const char *name : {"a.jpg", "b.jpg", "c.mov", "notes.txt"}) {
            urls.append(QUrl::fromLocalFile(from + QLatin1Char('/') + QLatin1String(name)));
            gnome += "\n" + urls.last().toEncoded();
        }
        data->setData(QStringLiteral("x-special/gnome-copied-files"), gnome);
        data->setUrls(urls);
        QGuiApplication::clipboard()->setMimeData(data);

        currentFolderURL = QUrl::fromLocalFile(to);
        answer({button});
        ItemFileCommands *commands = ItemFileCommands::instance();
        QSignalSpy finished(commands, &ItemFileCommands::batchFinished);
        contentController()->pasteItems();
        QVERIFY(finished.wait(10000));
        if (button != QLatin1String("Stop"))
            QVERIFY(finished.count() >= 2 || finished.wait(10000));
        QCOMPARE(lg::Alert::shownAlerts().first().title, QStringLiteral("File already exists"));
        QCOMPARE(lg::Alert::shownAlerts().first().buttons,
                 (QStringList{"Replace", "Make a Copy", "Stop"}));
        QCOMPARE(filesIn(to), inTarget);
        QCOMPARE(readAll(to + QStringLiteral("/a.jpg")), clashContent);
        QCOMPARE(QFileInfo::exists(from + QStringLiteral("/b.jpg")), !cut);
        QVERIFY(QFileInfo::exists(from + QStringLiteral("/notes.txt")));
        QTRY_VERIFY(!isBusy);
        QVERIFY(!isFileOperationRunning);
    }

    void twoSourcesOfOneNameGetTwoNamesAndTheFolderItselfOffersNoReplace()
    {
        const QString one = lg::test::freshFolder(QStringLiteral("one"));
        const QString two = lg::test::freshFolder(QStringLiteral("two"));
        lg::test::writeFile(one + QStringLiteral("/x.jpg"), "one");
        lg::test::writeFile(two + QStringLiteral("/x.jpg"), "two");
        // Both are pasted into one: the first clashes with itself, the second too.
        currentFolderURL = QUrl::fromLocalFile(one);
        lg::Clipboard::writeFiles({QUrl::fromLocalFile(one + "/x.jpg"), QUrl::fromLocalFile(two + "/x.jpg")});
        answer({QStringLiteral("Make a Copy")});
        ItemFileCommands *commands = ItemFileCommands::instance();
        QSignalSpy finished(commands, &ItemFileCommands::batchFinished);
        commands->pasteItems();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, 10000);
        QCOMPARE(filesIn(one), (QStringList{"x 2.jpg", "x 3.jpg", "x.jpg"}));
        QCOMPARE(readAll(one + "/x 2.jpg") + readAll(one + "/x 3.jpg"), QStringLiteral("onetwo"));

        // Copying a folder's own file into it: only "Make a Copy" and "Stop".
        lg::Alert::clearShownAlerts();
        answer({QStringLiteral("Stop")});
        lg::Clipboard::writeFiles({QUrl::fromLocalFile(one + "/x.jpg")});
        commands->pasteItems();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 3, 10000);
        QCOMPARE(lg::Alert::shownAlerts().first().buttons, (QStringList{"Make a Copy", "Stop"}));
        QTRY_VERIFY(!isBusy);
    }

    void dropsFromTheCurrentFolderOrIntoALibraryAreRefused()
    {
        const QString here = lg::test::freshFolder(QStringLiteral("here"));
        const QString there = lg::test::freshFolder(QStringLiteral("there"));
        lg::test::writeFile(here + QStringLiteral("/own.jpg"));
        lg::test::writeFile(there + QStringLiteral("/new.jpg"), "dropped");
        QDir().mkpath(there + QStringLiteral("/folder.jpg"));
        currentFolderURL = QUrl::fromLocalFile(here);
        ItemFileCommands *commands = ItemFileCommands::instance();
        const QUrl own = QUrl::fromLocalFile(here + "/own.jpg"), fresh = QUrl::fromLocalFile(there + "/new.jpg");
        QVERIFY(!commands->acceptDrop({fresh, own}));
        QVERIFY(lg::Alert::shownAlerts().isEmpty());

        // Captured at drop time: a later change of folder does not move the target.
        answer({QStringLiteral("Move")});
        QSignalSpy finished(commands, &ItemFileCommands::batchFinished);
        QVERIFY(commands->acceptDrop({fresh, QUrl::fromLocalFile(there + "/folder.jpg")}));
        currentFolderURL = QUrl::fromLocalFile(there);
        QVERIFY(finished.wait(10000));
        QCOMPARE(readAll(here + "/new.jpg"), QStringLiteral("dropped"));
        QVERIFY(!QFileInfo::exists(there + "/new.jpg"));
        QCOMPARE(lg::Alert::shownAlerts().first().buttons, (QStringList{"Copy", "Move", "Cancel"}));

        // A Photos library refuses with the one alert, and nothing is written.
        const QString library = lg::test::freshFolder(QStringLiteral("Pictures.photoslibrary"));
        currentFolderURL = QUrl::fromLocalFile(library);
        lg::Alert::clearShownAlerts();
        QVERIFY(!commands->acceptDrop({QUrl::fromLocalFile(here + "/new.jpg")}));
        QCOMPARE(lg::Alert::shownAlerts().first().title, QStringLiteral("Photos library import is not available"));
        QVERIFY(filesIn(library).isEmpty());
    }

    void moveToTrashTakesExactlyTheSelectedItemsOfAFilteredList()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("trash"));
        for (const char *name : {"cat1.jpg", "dog1.jpg", "cat2.jpg", "dog2.jpg", "cat3.jpg", "cat4.jpg"})
            writeJpeg(folder + QLatin1Char('/') + QLatin1String(name), 8, 8);
        currentFolderURL = QUrl::fromLocalFile(folder);
        ViewController *content = contentController();
        content->showListView();
        listVc *list = listController();
        QVERIFY(reloadAndWait(list));
        content->searchField->setText(QStringLiteral("cat"));
        QCOMPARE(list->itemsModel()->rowCount(), 4);
        QItemSelectionModel *selection = list->tblview->selectionModel();
        QStringList chosen;
        for (int row : {0, 2, 3}) {
            selection->select(list->itemsModel()->index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
            chosen.append(list->itemsModel()->entry(row)->url->fileName());
        }
        answer({QStringLiteral("Yes")});
        QMenu *menu = itemmenus::popUpContextMenu(listBrowseView(), -1, QPoint(5, 5));
        QAction *trash = menu->findChild<QAction *>(QStringLiteral("actionMoveToTrash"));
        QVERIFY(trash && trash->isEnabled());
        QSignalSpy finished(ItemFileCommands::instance(), &ItemFileCommands::batchFinished);
        trash->trigger();
        QVERIFY(finished.wait(10000));
        QCOMPARE(lg::Alert::shownAlerts().first().buttons, (QStringList{"Yes", "No"}));
        QCOMPARE(filesIn(folder).size(), 3);
        const QString trashFolder = lg::trashFolderFor(folder + "/cat1.jpg");
        for (const QString &name : chosen) {
            QVERIFY2(!QFileInfo::exists(folder + QLatin1Char('/') + name), qPrintable(name));
            QVERIFY(QFileInfo::exists(trashFolder + QStringLiteral("/info/") + name + QStringLiteral(".trashinfo")));
        }
    }

    void moveToAndCopyToSettleClashesAtTheChosenFolder()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("source"));
        const QString target = lg::test::freshFolder(QStringLiteral("target"));
        writeJpeg(folder + "/a.jpg", 8, 8);
        writeJpeg(folder + "/b.jpg", 8, 8);
        lg::test::writeFile(target + "/b.jpg", "there");
        currentFolderURL = QUrl::fromLocalFile(folder);
        contentController()->showListView();
        listVc *list = listController();
        QVERIFY(reloadAndWait(list));
        list->tblview->selectAll();
        lg::Panels::setOpenResponder([target](const lg::OpenPanelSpec &spec) {
            return spec.prompt == QLatin1String("Move") ? QList<QUrl>{QUrl::fromLocalFile(target)} : QList<QUrl>{};
        });
        answer({QStringLiteral("Make a Copy")});
        QSignalSpy finished(ItemFileCommands::instance(), &ItemFileCommands::batchFinished);
        ItemFileCommands::instance()->moveItemsTo(listBrowseView());
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, 10000);
        QCOMPARE(filesIn(target), (QStringList{"a.jpg", "b 2.jpg", "b.jpg"}));
        QVERIFY(filesIn(folder).isEmpty());
        QVERIFY(lg::Alert::shownAlerts().first().text.contains(QStringLiteral("destination folder")));

        // Copy To cancelled: nothing happens and the overlay goes.
        ItemFileCommands::instance()->copyItemsTo(listBrowseView());
        QTRY_VERIFY(!isBusy);
        QCOMPARE(finished.count(), 2);
    }
    void renamesRefuseBadOrTakenNamesAndNeverReplace_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<QString>("message");
        const QStringList untouched{"a.jpg", "b.jpg"};
        QTest::newRow("new extension") << "a.png" << QStringList{"a.png", "b.jpg"} << QString();
        QTest::newRow("blanks stay") << " a .jpg" << QStringList{" a .jpg", "b.jpg"} << QString();
        QTest::newRow("case only") << "A.JPG" << untouched << QString();
        QTest::newRow("emptied") << "" << untouched << QString();
        QTest::newRow("taken") << "b.jpg" << untouched
                               << QStringLiteral("The name \u201Cb.jpg\u201D is already taken. Please choose a different name.");
        for (const char *bad : {"x/y.jpg", ".", ".."})
            QTest::addRow("refused %s", bad) << QString::fromLatin1(bad) << untouched
                                             << QStringLiteral("An error occurred while renaming the file.");
        QTest::newRow("NUL") << QStringLiteral("a") + QChar(0) + QStringLiteral(".jpg") << untouched
                             << QStringLiteral("An error occurred while renaming the file.");
    }
    void renamesRefuseBadOrTakenNamesAndNeverReplace()
    {
        QFETCH(QString, typed);
        QFETCH(QStringList, after);
        QFETCH(QString, message);
        const QString folder = lg::test::freshFolder(QStringLiteral("rename"));
        lg::test::writeFile(folder + "/a.jpg", "a");
        lg::test::writeFile(folder + "/b.jpg", "b");
        renameInPlace(folder + "/a.jpg", typed, nullptr);
        QCOMPARE(filesIn(folder), after);
        QCOMPARE(readAll(folder + "/b.jpg"), QStringLiteral("b"));
        if (message.isEmpty()) {
            QVERIFY(lg::Alert::shownAlerts().isEmpty());
        } else {
            QCOMPARE(lg::Alert::shownAlerts().size(), 1);
            QCOMPARE(lg::Alert::shownAlerts().first().title, message);
            QTRY_VERIFY(!isBusy);   // "OK" hides the overlay
        }
    }

    void theRenameEditorStaysWithItsFileThroughAReload()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("editing"));
        writeJpeg(folder + "/b.jpg", 8, 8);
        writeJpeg(folder + "/c.jpg", 8, 8);
        currentFolderURL = QUrl::fromLocalFile(folder);
        ViewController *content = contentController();
        content->resize(900, 600);
        content->show();
        QVERIFY(QTest::qWaitForWindowExposed(content));
        thumbnailvc *grid = thumbnailGrid();
        QVERIFY(reloadAndWait(grid));
        GridView *view = grid->collectionview;
        const QModelIndex first = view->model()->index(0, 0);
        view->setCurrentIndex(first);
        view->edit(first);
        auto *editor = view->findChild<QLineEdit *>(QStringLiteral("renameEditor"));
        QVERIFY(editor);
        QCOMPARE(editor->text(), QStringLiteral("b.jpg"));
        editor->setText(QStringLiteral("renamed.jpg"));
        // A new file sorts first and the view reloads while the name is edited.
        writeJpeg(folder + "/a.jpg", 8, 8);
        QVERIFY(reloadAndWait(grid));
        if (editor && view->findChild<QLineEdit *>(QStringLiteral("renameEditor")) == editor)
            QTest::keyClick(editor, Qt::Key_Return);
        QVERIFY(QFileInfo::exists(folder + "/a.jpg"));
        QVERIFY(!QFileInfo::exists(folder + "/c.jpg") || filesIn(folder).contains(QStringLiteral("c.jpg")));
        const QStringList names = filesIn(folder);
        QVERIFY2(names == (QStringList{"a.jpg", "b.jpg", "c.jpg"}) || names == (QStringList{"a.jpg", "c.jpg", "renamed.jpg"}),
                 qPrintable(names.join(QLatin1Char(','))));
    }
    void filesDroppedOnTheGridAreCopiedAfterTheSearchQuestion()
    {
        const QString here = lg::test::freshFolder(QStringLiteral("dropgrid"));
        const QString there = lg::test::freshFolder(QStringLiteral("dropsource"));
        writeJpeg(here + "/old.jpg", 8, 8);
        lg::test::writeFile(there + "/new.jpg", "dropped");
        currentFolderURL = QUrl::fromLocalFile(here);
        ViewController *content = contentController();
        content->resize(800, 600);
        content->show();
        QVERIFY(QTest::qWaitForWindowExposed(content));
        thumbnailvc *grid = thumbnailGrid();
        QVERIFY(reloadAndWait(grid));
        content->searchField->setText(QStringLiteral("old"));
        QVERIFY(isSearchActive);

        answer({QStringLiteral("Yes"), QStringLiteral("Copy")});
        QWidget *viewport = grid->collectionview->viewport();
        std::unique_ptr<QMimeData> data(lg::Clipboard::mimeDataForFiles({QUrl::fromLocalFile(there + "/new.jpg")}));
        QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction | Qt::MoveAction, data.get(), Qt::LeftButton, {});
        QCoreApplication::sendEvent(viewport, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(20, 20), Qt::CopyAction | Qt::MoveAction, data.get(), Qt::LeftButton, {});
        QSignalSpy finished(ItemFileCommands::instance(), &ItemFileCommands::batchFinished);
        QCoreApplication::sendEvent(viewport, &drop);
        QVERIFY(drop.isAccepted());
        QVERIFY(finished.wait(10000));
        QCOMPARE(lg::Alert::shownAlerts().first().buttons, (QStringList{"No", "Yes"}));
        QVERIFY(!isSearchActive);
        QCOMPARE(readAll(here + "/new.jpg"), QStringLiteral("dropped"));
        QVERIFY(QFileInfo::exists(there + "/new.jpg"));
    }
};

LG_TEST(TestItemFileCommands)
#include "test_itemfilecommands.moc"
