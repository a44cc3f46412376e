// The context menus and file commands of the grid and the list on real files:
// the enabling rules, the menus a right click opens, Copy, open with another
// application, the wallpaper; numbered names, the same-name sheet's three ways,
// paste (copy and cut, as file managers write the clipboard), drops, Move To
// and Copy To, and Move to Trash of a filtered selection.
#include "app/mainvc.h"
#include "browser/DestinationChooser.h"
#include "tests/browser/BrowserFixtures.h"
#include "browser/GridView.h"
#include "browser/ItemEditing.h"
#include "browser/ItemFileCommands.h"
#include "browser/ItemMenuRules.h"
#include "browser/ItemMenus.h"
#include "browser/ListTableView.h"
#include "browser/ShownItemsModel.h"
#include "browser/ViewController.h"
#include "browser/listVc.h"
#include "browser/thumbnailvc.h"
#include "controls/Spinner.h"
#include "platform/desktop/Alert.h"
#include "platform/desktop/Clipboard.h"
#include "platform/files/names/FileNames.h"
#include "platform/runtime/Dispatch.h"
#include "platform/files/operations/FileOperations.h"
#include "platform/desktop/Panels.h"
#include "platform/files/operations/Trash.h"
#include "platform/image/ThumbnailStore.h"
#include "model/CommandSettle.h"
#include "model/ThumbnailCache.h"
#include "platform/desktop/Workspace.h"
#include "tests/support/Seams.h"
#include "tests/support/ThumbnailEntries.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QListWidget>
#include <QLabel>
#include <QPushButton>
#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QScopeGuard>
#include <QSplitter>
#include <QStandardPaths>

#include <memory>

#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

Q_DECLARE_METATYPE(ItemMenuSnapshot)

using namespace browsertest;

namespace {

// The first run of a Copy or Move command through the flow's pass, as the
// grid makes it: the items as they are now.
FileCommandPass firstPass(lg::FileOpKind kind, const QStringList &sources, const QString &folder,
                          lg::ConflictPolicy policy, const QStringList &listed = {})
{
    lg::FileBatch batch(kind, folder, listed);
    QList<Clash> items;
    for (const QString &source : sources)
        items.append({{source, lg::fileIdentity(source)}, {}, std::nullopt});
    return runTransferPass(batch, items, policy, true);
}

QList<ChosenItem> asChosen(const QStringList &paths)
{
    return chooseItems(paths, false).items;
}

QString readAll(const QString &path)
{
    return QString::fromUtf8(lg::test::readAll(path));
}

// The bytes of the file at path, given as the file system's bytes.
QByteArray bytesAt(const QByteArray &path)
{
    QByteArray bytes;
    if (std::FILE *stream = std::fopen(path.constData(), "rb")) {
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, stream)) > 0;)
            bytes.append(buffer, qsizetype(n));
        std::fclose(stream);
    }
    return bytes;
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


// The content controller on screen with the grid or the list.
QAction *action(QMenu *menu, const QString &name)
{
    for (QAction *item : menu->actions())
        if (item->objectName() == name)
            return item;
    return menu->findChild<QAction *>(name);
}

using lg::test::giveThumbnails;
using lg::test::thumbnailsOf;

} // namespace

class TestItemFileCommands : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        // Two applications for JPEG, written before GIO first reads the folders.
        const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
        const QString marker = lg::test::homeFolder() + QStringLiteral("/opened.jpg");
        for (const char *id : {"lgviewer", "lgeditor"})
            lg::test::writeFile(data + QStringLiteral("/applications/%1.desktop").arg(QLatin1String(id)),
                                QStringLiteral("[Desktop Entry]\nType=Application\nName=%1\nExec=/bin/cp %f %2\n"
                                               "MimeType=image/jpeg;\n")
                                    .arg(QLatin1String(id), marker)
                                    .toUtf8());
        lg::test::writeFile(data + QStringLiteral("/applications/mimeinfo.cache"),
                            "[MIME Cache]\nimage/jpeg=lgviewer.desktop;lgeditor.desktop;\n");
        lg::test::writeFile(data + QStringLiteral("/applications/mimeapps.list"),
                            "[Added Associations]\nimage/jpeg=lgeditor.desktop;lgviewer.desktop;\n");
    }
    void init()
    {
        resetSharedState();
        setListingBudget(1000);
        lg::Alert::clearShownAlerts();
        answer({});
        lg::Clipboard::writeFiles({});
    }
    void cleanup()
    {
        lg::test::resetSeams();
        for (QWidget *popup = QApplication::activePopupWidget(); popup; popup = QApplication::activePopupWidget())
            popup->close();
    }
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
        const FileCommandPass outcome = firstPass(lg::FileOpKind::Copy, {folder + QLatin1Char('/') + source}, folder,
                                                  lg::ConflictPolicy::KeepBoth, listed);
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

        lg::FileBatch batch(lg::FileOpKind::Copy, to);
        const FileCommandPass collect = runTransferPass(
            batch, {{{from + "/a.jpg", lg::fileIdentity(from + "/a.jpg")}, {}, {}},
                    {{from + "/b.jpg", lg::fileIdentity(from + "/b.jpg")}, {}, {}}},
            lg::ConflictPolicy::Refuse, true);
        QCOMPARE(collect.clashes.size(), 2);
        QVERIFY(collect.results.isEmpty());

        const FileCommandPass replace = runTransferPass(batch, collect.clashes, lg::ConflictPolicy::Replace, false);
        QCOMPARE(readAll(to + QStringLiteral("/a.jpg")), QStringLiteral("new"));
        QVERIFY(replace.results.at(0).ok());
        QVERIFY(!replace.results.at(1).ok());   // the folder stays
        QCOMPARE(readAll(to + QStringLiteral("/b.jpg/inside.txt")), QStringLiteral("kept"));
        QCOMPARE(failuresToTell(lg::FileOpKind::Copy, replace.results).size(), 1);

        // An item never replaces itself.
        const FileCommandPass itself = firstPass(lg::FileOpKind::Copy, {to + "/a.jpg"}, to, lg::ConflictPolicy::Replace);
        QCOMPARE(itself.results.first().error, lg::FileOpError::SameFile);
        QCOMPARE(readAll(to + QStringLiteral("/a.jpg")), QStringLiteral("new"));
        QVERIFY(failuresToTell(lg::FileOpKind::Copy, itself.results).isEmpty());
    }

    void moveToTrashOfASelectionStopsBetweenItemsAtQuit()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("trash at quit"));
        QStringList sources;
        for (int i = 0; i < 5; ++i)
            sources << lg::test::writeFile(folder + QStringLiteral("/%1.jpg").arg(i));
        sources << folder + QStringLiteral("/gone.jpg");
        int renames = 0;
        lg::setFileFaultForTesting([&renames](lg::FileStep step, const QString &) {
            if (step == lg::FileStep::Rename && ++renames == 2)
                lg::beginShutdown();   // the quit comes while the second item is in hand
            return 0;
        });
        const auto restore = qScopeGuard([] {
            lg::setFileFaultForTesting({});
            lg::resetShutdownForTesting();
        });
        const FileCommandPass outcome = runTrashPass(asChosen(sources));
        QCOMPARE(outcome.results.size(), sources.size());
        for (int i = 0; i < sources.size(); ++i)
            QCOMPARE(outcome.results[i].error, i < 2 ? lg::FileOpError::None : lg::FileOpError::Cancelled);
        QCOMPARE(filesIn(folder), (QStringList{"2.jpg", "3.jpg", "4.jpg"}));
        QCOMPARE(readAll(outcome.results[1].target), QStringLiteral("x"));

        // Without a quit, an item that was gone already when chosen is told in
        // its own words and not reported: what was asked is so.
        lg::resetShutdownForTesting();
        const FileCommandPass rest = runTrashPass(asChosen(sources.mid(2)), ChosenWhen::ForTrash);
        QVERIFY(rest.results[0].ok() && rest.results[2].ok());
        QCOMPARE(rest.results[3].error, lg::FileOpError::SourceMissing);
        QCOMPARE(rest.results[3].message, QStringLiteral("The item no longer exists."));
        QVERIFY(rest.refused.isEmpty());
        QVERIFY(failuresToTell(lg::FileOpKind::Trash, rest.results).isEmpty());
        QCOMPARE(filesIn(folder), QStringList{});
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

    // Photos pasted or copied onto a card that keeps no tags (exFAT): they
    // arrive whole, and the alert says that they were copied or moved and
    // what was not kept, as information; a cut's thumbnails follow its
    // photos. The warning's title stays for an item that really failed.
    void itemsThatArriveButForTheirTagsAreSaidToHaveArrived_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("oneFails");
        QTest::newRow("a cut pasted onto the card") << "cut" << false;
        QTest::newRow("4 photos copied to the card") << "copy to" << false;
        QTest::newRow("4 photos copied, one cannot be") << "copy to" << true;
    }
    void itemsThatArriveButForTheirTagsAreSaidToHaveArrived()
    {
        QFETCH(QString, command);
        QFETCH(bool, oneFails);
        const QString from = lg::test::freshFolder(QStringLiteral("tagged"));
        const QString card = lg::test::freshFolder(QStringLiteral("card"));
        const bool cut = command == QLatin1String("cut");
        const QStringList tagged = cut ? QStringList{"beach.jpg"} : QStringList{"a.jpg", "b.jpg", "c.jpg", "d.jpg"};
        for (const QString &name : tagged) {
            writeJpeg(from + QLatin1Char('/') + name, 8, 8);
            if (::setxattr(QFile::encodeName(from + QLatin1Char('/') + name).constData(), "user.xdg.tags", "beach", 5, 0) != 0)
                QSKIP("this file system holds no user attributes");
        }
        const QString plain = from + QStringLiteral("/plain.jpg");
        writeJpeg(plain, 8, 8);
        if (cut) {
            QVERIFY(giveThumbnails(from + QStringLiteral("/beach.jpg")));
            QVERIFY(giveThumbnails(plain));
        }
        lg::setFileFaultForTesting([oneFails, plain](lg::FileStep step, const QString &path) {
            if (oneFails && step == lg::FileStep::CopyData && path == plain)
                return ENOSPC;
            return step == lg::FileStep::Rename ? EXDEV : step == lg::FileStep::CopyAttributes ? EOPNOTSUPP : 0;
        });
        const auto clearFault = qScopeGuard([] { lg::setFileFaultForTesting({}); });
        QSignalSpy finished(ItemFileCommands::instance(), &ItemFileCommands::batchFinished);
        if (cut) {
            lg::Clipboard::writeFiles({QUrl::fromLocalFile(from + QStringLiteral("/beach.jpg")), QUrl::fromLocalFile(plain)},
                                      true);
            currentFolderURL = QUrl::fromLocalFile(card);
            contentController()->pasteItems();
        } else {
            currentFolderURL = QUrl::fromLocalFile(from);
            contentController()->showListView();
            listVc *list = listController();
            QVERIFY(reloadAndWait(list));
            list->tblview->selectAll();
            lg::Panels::setOpenResponder([card](const lg::OpenPanelSpec &) { return QList<QUrl>{QUrl::fromLocalFile(card)}; });
            ItemFileCommands::instance()->copyItemsTo(listBrowseView());
        }
        QVERIFY(finished.wait(10000));
        QTRY_VERIFY(!isBusy);
        QCOMPARE(lg::Alert::shownAlerts().size(), 1);
        const lg::AlertSpec said = lg::Alert::shownAlerts().first();
        QStringList arrived = tagged;
        if (!oneFails)
            arrived.append(QStringLiteral("plain.jpg"));
        arrived.sort();
        QCOMPARE(filesIn(card), arrived);
        const QString done = cut ? QStringLiteral("moved") : QStringLiteral("copied");
        if (oneFails) {
            QCOMPARE(said.title, QStringLiteral("Some items could not be processed."));
            QVERIFY2(said.text.startsWith(QStringLiteral("1 item could not be processed. “plain.jpg”: "))
                         && said.text.contains(QStringLiteral("4 items were copied, but some of what they held could not be kept.")),
                     qPrintable(said.text));
        } else {
            QCOMPARE(said.title, tagged.size() == 1
                                     ? QStringLiteral("The item was %1, but some of what it held could not be kept.").arg(done)
                                     : QStringLiteral("The items were %1, but some of what they held could not be kept.").arg(done));
            QCOMPARE(said.style, lg::AlertSpec::Style::Informational);
            QVERIFY(!said.text.contains(QStringLiteral("could not be processed")));
        }
        // Each photo that lost its tags is named, with what it lost; the plain one is not.
        for (const QString &name : tagged)
            QVERIFY2(said.text.contains("“" + name + "”: The extended attributes (tags, comments, ratings, ACLs) of “"
                                        + name + "” could not be kept"),
                     qPrintable(said.text));
        QVERIFY(oneFails || !said.text.contains(QStringLiteral("plain.jpg")));
        if (cut) {
            QVERIFY(filesIn(from).isEmpty());
            for (const QString &name : {QStringLiteral("beach.jpg"), QStringLiteral("plain.jpg")}) {
                QCOMPARE(thumbnailsOf(card + QLatin1Char('/') + name), 4);
                QCOMPARE(thumbnailsOf(from + QLatin1Char('/') + name), 0);
            }
        }
    }

    // A file manager's cut whose files have moved on since: one alert says
    // so, and what is still there is moved.
    void aCutWhoseSourceHasGoneIsSaid()
    {
        const QString from = lg::test::freshFolder(QStringLiteral("cutfrom"));
        const QString to = lg::test::freshFolder(QStringLiteral("cutto"));
        lg::test::writeFile(from + QStringLiteral("/a.jpg"), "a");
        lg::test::writeFile(from + QStringLiteral("/b.jpg"), "b");
        lg::Clipboard::writeFiles({QUrl::fromLocalFile(from + "/a.jpg"), QUrl::fromLocalFile(from + "/b.jpg")}, true);
        QVERIFY(QFile::rename(from + QStringLiteral("/a.jpg"), to + QStringLiteral("/elsewhere.jpg")));
        currentFolderURL = QUrl::fromLocalFile(to);
        ItemFileCommands *commands = ItemFileCommands::instance();
        QSignalSpy finished(commands, &ItemFileCommands::batchFinished);
        commands->pasteItems();
        QVERIFY(finished.wait(10000));
        const QList<lg::AlertSpec> said = lg::Alert::shownAlerts();
        QCOMPARE(said.size(), 1);
        QCOMPARE(said.first().title, QStringLiteral("Some items could not be processed."));
        QVERIFY2(said.first().text.contains(QStringLiteral("\u201Ca.jpg\u201D: The item is no longer where it was")),
                 qPrintable(said.first().text));
        QCOMPARE(filesIn(to), (QStringList{"b.jpg", "elsewhere.jpg"}));
        QTRY_VERIFY(!isBusy);

        // Nothing left to paste: the alert alone.
        lg::Alert::clearShownAlerts();
        commands->pasteItems();
        QTRY_COMPARE(lg::Alert::shownAlerts().size(), 1);
        QVERIFY(lg::Alert::shownAlerts().first().text.startsWith(QStringLiteral("2 items could not be processed.")));
        QTRY_VERIFY(!isBusy);
        QCOMPARE(filesIn(to), (QStringList{"b.jpg", "elsewhere.jpg"}));
    }

    void sameNamedItemsOfOneBatchNeverReplaceEachOther()
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

        // Both dropped on a folder that holds an x.jpg, with "Replace": the old
        // one is replaced once, and neither dropped file replaces the other.
        const QString three = lg::test::freshFolder(QStringLiteral("three"));
        lg::test::writeFile(three + QStringLiteral("/x.jpg"), "old");
        currentFolderURL = QUrl::fromLocalFile(three);
        contentController()->showListView();
        QVERIFY(reloadAndWait(listController()));   // its listing counts for numbered names
        answer({QStringLiteral("Move"), QStringLiteral("Replace")});
        QVERIFY(commands->acceptDrop({QUrl::fromLocalFile(one + "/x.jpg"), QUrl::fromLocalFile(two + "/x.jpg")}));
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 5, 10000);
        QCOMPARE(filesIn(three), (QStringList{"x 2.jpg", "x.jpg"}));
        QCOMPARE(readAll(three + "/x.jpg") + readAll(three + "/x 2.jpg"), QStringLiteral("onetwo"));
        QVERIFY(!QFileInfo::exists(one + "/x.jpg") && !QFileInfo::exists(two + "/x.jpg"));
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
        for (const char *name : {"cat1.jpg", "dog1.jpg", "cat2.jpg"})
            QVERIFY(giveThumbnails(folder + QLatin1Char('/') + QLatin1String(name)));
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
            // Its thumbnails go with it, in every size.
            QCOMPARE(thumbnailsOf(folder + QLatin1Char('/') + name), 0);
        }
        QCOMPARE(thumbnailsOf(folder + QStringLiteral("/dog1.jpg")), 4);
    }

    void theSelectionFollowsItsFilesThroughAReload_data()
    {
        QTest::addColumn<bool>("grid");
        QTest::newRow("grid") << true;
        QTest::newRow("list") << false;
    }
    void theSelectionFollowsItsFilesThroughAReload()
    {
        QFETCH(bool, grid);
        const QString folder = lg::test::freshFolder(QStringLiteral("follow"));
        for (int i = 1; i <= 12; ++i)
            writeJpeg(folder + QStringLiteral("/IMG_%1.jpg").arg(i), 8, 8);
        currentFolderURL = QUrl::fromLocalFile(folder);
        ViewController *content = shownContent(grid);
        const BrowseView view = grid ? gridBrowseView() : listBrowseView();
        const auto reload = [grid] { return grid ? reloadAndWait(thumbnailGrid()) : reloadAndWait(listController()); };
        QVERIFY(reload());
        const auto rowOf = [&view](const QString &name) {
            for (int row = 0; row < view.model->rowCount(); ++row)
                if (view.model->entry(row)->url->fileName() == name)
                    return row;
            return -1;
        };
        const QItemSelectionModel::SelectionFlags rows = grid ? QItemSelectionModel::NoUpdate : QItemSelectionModel::Rows;
        view.view->selectionModel()->select(view.model->index(rowOf("IMG_3.jpg"), 0),
                                           QItemSelectionModel::ClearAndSelect | rows);
        view.view->selectionModel()->setCurrentIndex(view.model->index(rowOf("IMG_10.jpg"), 0),
                                                     QItemSelectionModel::Select | rows);
        QCOMPARE(namesOf({*view.model->entry(selectedItemIndex)}), QStringList{"IMG_10.jpg"});

        // Another program adds a file that sorts first and removes IMG_3.jpg.
        writeJpeg(folder + "/IMG_0.jpg", 8, 8);
        QVERIFY(QFile::remove(folder + "/IMG_3.jpg"));
        QVERIFY(reload());
        QCOMPARE(view.model->rowCount(), 12);
        QCOMPARE(itemmenus::pathsOfRows(view, itemmenus::selectedRows(view)), QStringList{folder + "/IMG_10.jpg"});
        QCOMPARE(selectedItemIndex, rowOf("IMG_10.jpg"));
        QCOMPARE(namesOf({activeItemList().at(selectedItemIndex)}), QStringList{"IMG_10.jpg"});
        // A new order keeps it too.
        content->SortName();
        QCOMPARE(itemmenus::pathsOfRows(view, itemmenus::selectedRows(view)), QStringList{folder + "/IMG_10.jpg"});
        QCOMPARE(namesOf({activeItemList().at(selectedItemIndex)}), QStringList{"IMG_10.jpg"});
        // The selected file gone: nothing is selected, and nothing stands in for it.
        QVERIFY(QFile::remove(folder + "/IMG_10.jpg"));
        QVERIFY(reload());
        QVERIFY(itemmenus::selectedRows(view).isEmpty());
        QCOMPARE(selectedItemIndex, -1);
    }

    void commandsTakeTheirFilesWhenChosen_data()
    {
        QTest::addColumn<bool>("trash");
        QTest::newRow("Move to Trash, the folder reloads while the question is open") << true;
        QTest::newRow("Move To, the folder reloads while the folder panel is open") << false;
    }
    void commandsTakeTheirFilesWhenChosen()
    {
        QFETCH(bool, trash);
        const QString folder = lg::test::freshFolder(QStringLiteral("chosen"));
        const QString target = lg::test::freshFolder(QStringLiteral("chosenTarget"));
        for (const char *name : {"a.jpg", "b.jpg", "c.jpg"})
            writeJpeg(folder + QLatin1Char('/') + QLatin1String(name), 8, 8);
        currentFolderURL = QUrl::fromLocalFile(folder);
        shownContent(true);
        thumbnailvc *grid = thumbnailGrid();
        QVERIFY(reloadAndWait(grid));
        grid->collectionview->selectionModel()->setCurrentIndex(grid->itemsModel()->index(2, 0),
                                                                 QItemSelectionModel::ClearAndSelect);
        QCOMPARE(grid->itemsModel()->entry(2)->url->fileName(), QStringLiteral("c.jpg"));
        // While the question or the panel is up, another program adds a file
        // that sorts first, and the grid reloads.
        const auto changeFromOutside = [folder, grid] {
            writeJpeg(folder + "/0.jpg", 8, 8);
            grid->refreshData();
        };
        lg::Alert::setResponder([changeFromOutside](const lg::AlertSpec &spec) {
            if (spec.buttons.contains(QStringLiteral("Yes")))
                changeFromOutside();
            return 0;
        });
        lg::Panels::setOpenResponder([changeFromOutside, target](const lg::OpenPanelSpec &) {
            changeFromOutside();
            return QList<QUrl>{QUrl::fromLocalFile(target)};
        });
        QSignalSpy finished(ItemFileCommands::instance(), &ItemFileCommands::batchFinished);
        if (trash)
            ItemFileCommands::instance()->trashItems(gridBrowseView());
        else
            ItemFileCommands::instance()->moveItemsTo(gridBrowseView());
        QVERIFY(finished.wait(10000));
        QCOMPARE(filesIn(folder), (QStringList{"0.jpg", "a.jpg", "b.jpg"}));
        QCOMPARE(filesIn(target), trash ? QStringList() : QStringList{"c.jpg"});
    }

    // While "Move to Trash?" or the folder panel is open, another program
    // puts another photo in c.jpg's place (or writes into it): c.jpg is not
    // acted on and the user is told; b.jpg, chosen with it, goes as asked.
    void aFileReplacedWhileTheQuestionIsOpenIsNotActedOn_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("inPlace");
        QTest::addColumn<bool>("list");
        QTest::newRow("trash, renamed over, grid") << "trash" << false << false;
        QTest::newRow("trash, changed in place, list") << "trash" << true << true;
        QTest::newRow("move, renamed over, list") << "move" << false << true;
        QTest::newRow("copy, changed in place, grid") << "copy" << true << false;
    }
    void aFileReplacedWhileTheQuestionIsOpenIsNotActedOn()
    {
        QFETCH(QString, command);
        QFETCH(bool, inPlace);
        QFETCH(bool, list);
        const QString folder = lg::test::freshFolder(QStringLiteral("replacedChosen"));
        const QString target = lg::test::freshFolder(QStringLiteral("replacedChosenTarget"));
        const QString other = lg::test::freshFolder(QStringLiteral("replacedChosenOther")) + "/new.jpg";
        writeJpeg(folder + "/b.jpg", 8, 8);
        writeJpeg(folder + "/c.jpg", 8, 8);
        writeJpeg(other, 16, 16, Qt::blue);
        currentFolderURL = QUrl::fromLocalFile(folder);
        shownContent(!list);
        if (list) {
            QVERIFY(reloadAndWait(listController()));
            listController()->tblview->selectAll();
        } else {
            QVERIFY(reloadAndWait(thumbnailGrid()));
            thumbnailGrid()->collectionview->selectAll();
        }
        const QString replaced = folder + "/c.jpg";
        const auto replace = [=] {
            if (inPlace) {
                // Same file, same size: other bytes and a later modification time.
                QFile file(replaced);
                QVERIFY(file.open(QIODevice::ReadWrite));
                file.seek(file.size() - 4);
                file.write("\x01\x02\xff\xd9", 4);
                file.close();
                const struct timespec later[2] = {{0, UTIME_OMIT}, {std::time(nullptr) + 5, 0}};
                QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(replaced).constData(), later, 0) == 0);
            } else {
                QVERIFY(std::rename(QFile::encodeName(other).constData(), QFile::encodeName(replaced).constData()) == 0);
            }
        };
        const QByteArray before = lg::test::readAll(replaced);
        const QString trashed = lg::trashFolderFor(replaced) + "/files";
        const qsizetype trashedBefore = filesIn(trashed).size();
        lg::Alert::setResponder([replace](const lg::AlertSpec &spec) {
            if (spec.buttons.contains(QStringLiteral("Yes")))
                replace();
            return 0;
        });
        lg::Panels::setOpenResponder([replace, target](const lg::OpenPanelSpec &) {
            replace();
            return QList<QUrl>{QUrl::fromLocalFile(target)};
        });
        const BrowseView view = list ? listBrowseView() : gridBrowseView();
        QSignalSpy finished(ItemFileCommands::instance(), &ItemFileCommands::batchFinished);
        if (command == QLatin1String("trash"))
            ItemFileCommands::instance()->trashItems(view);
        else if (command == QLatin1String("move"))
            ItemFileCommands::instance()->moveItemsTo(view);
        else
            ItemFileCommands::instance()->copyItemsTo(view);
        QVERIFY(finished.wait(10000));
        QTRY_VERIFY(!isBusy);
        const QList<lg::AlertSpec> said = lg::Alert::shownAlerts();
        QVERIFY(!said.isEmpty());
        QCOMPARE(said.last().title, QStringLiteral("Some items could not be processed."));
        // Written in place (the same file): "changed"; another file in its place: "replaced".
        QCOMPARE(said.last().text, QStringLiteral("1 item could not be processed. \u201Cc.jpg\u201D: The item was %1 "
                                                  "since it was opened.").arg(inPlace ? "changed" : "replaced"));
        QVERIFY(lg::test::readAll(replaced) != before);   // the new content stays where it is
        if (command == QLatin1String("copy")) {
            QCOMPARE(filesIn(folder), (QStringList{"b.jpg", "c.jpg"}));
            QCOMPARE(filesIn(target), QStringList{"b.jpg"});
        } else {
            QCOMPARE(filesIn(folder), QStringList{"c.jpg"});
            QCOMPARE(filesIn(target), command == QLatin1String("move") ? QStringList{"b.jpg"} : QStringList());
        }
        QCOMPARE(filesIn(trashed).size(), trashedBefore + (command == QLatin1String("trash") ? 1 : 0));
    }

    // The grid's answers cover what they were asked about. "Replace" while
    // another program writes the destination's b.jpg anew is asked again and
    // never destroys the new picture; Move to Trash while another program
    // renames b.jpg to b2.jpg trashes b2.jpg, as the viewer does.
    void theGridsAnswersCoverWhatWasAskedAbout_data()
    {
        QTest::addColumn<QString>("command");
        QTest::newRow("Copy To, Replace, the target written anew meanwhile") << "copy";
        QTest::newRow("Move to Trash, the file renamed meanwhile") << "trash";
    }
    void theGridsAnswersCoverWhatWasAskedAbout()
    {
        QFETCH(QString, command);
        const QString folder = lg::test::freshFolder(QStringLiteral("answered"));
        const QString target = lg::test::freshFolder(QStringLiteral("answeredTarget"));
        writeJpeg(folder + "/b.jpg", 8, 8);
        writeJpeg(target + "/b.jpg", 8, 8, Qt::green);
        const QByteArray newer = "written by another program";
        currentFolderURL = QUrl::fromLocalFile(folder);
        shownContent(true);
        QVERIFY(reloadAndWait(thumbnailGrid()));
        thumbnailGrid()->collectionview->selectAll();
        int sameName = 0;
        lg::Alert::setResponder([&](const lg::AlertSpec &spec) {
            if (spec.title == QLatin1String("File already exists")) {
                if (++sameName > 1)
                    return 2;   // Stop, asked again
                lg::test::writeFile(target + "/b.new", newer);
                QFile::remove(target + "/b.jpg");
                QFile::rename(target + "/b.new", target + "/b.jpg");
                return 0;   // Replace
            }
            if (spec.buttons.contains(QStringLiteral("Yes")))
                QFile::rename(folder + "/b.jpg", folder + "/b2.jpg");
            return 0;
        });
        lg::Panels::setOpenResponder([target](const lg::OpenPanelSpec &) { return QList<QUrl>{QUrl::fromLocalFile(target)}; });
        const QString trashed = lg::trashFolderFor(folder) + "/files";
        const qsizetype trashedBefore = filesIn(trashed).size();
        QSignalSpy finished(ItemFileCommands::instance(), &ItemFileCommands::batchFinished);
        if (command == QLatin1String("copy"))
            ItemFileCommands::instance()->copyItemsTo(gridBrowseView());
        else
            ItemFileCommands::instance()->trashItems(gridBrowseView());
        QVERIFY(finished.wait(10000));
        QTRY_VERIFY(!isBusy && !isFileOperationRunning);
        for (const lg::AlertSpec &said : lg::Alert::shownAlerts())
            QVERIFY2(said.title != QLatin1String("Some items could not be processed."), qPrintable(said.text));
        if (command == QLatin1String("copy")) {
            QCOMPARE(sameName, 2);
            QCOMPARE(lg::test::readAll(target + "/b.jpg"), newer);
            QCOMPARE(filesIn(target), QStringList{"b.jpg"});
        } else {
            QCOMPARE(filesIn(folder), QStringList());
            QCOMPARE(filesIn(trashed).size(), trashedBefore + 1);
            QVERIFY(filesIn(trashed).contains(QStringLiteral("b2.jpg")));
        }
    }

    // The Move To / Copy To chooser lists folders by their bytes: a folder
    // whose name is not valid UTF-8 and its look-alike are both listed, told
    // apart, and the copy lands in the one picked.
    void theChooserOffersFoldersByTheirBytes()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("chooserFrom"));
        writeJpeg(folder + "/a.jpg", 8, 8);
        const QString pick = QDir::homePath() + QStringLiteral("/chooser-pick");
        QVERIFY(QDir().mkpath(pick));
        const QByteArray pickBytes = QFile::encodeName(pick);
        QVERIFY(::mkdir((pickBytes + "/caf\xe9").constData(), 0755) == 0);
        QVERIFY(::mkdir((pickBytes + "/caf\xef\xbf\xbd").constData(), 0755) == 0);
        QVERIFY(::mkdir((pickBytes + "/.hidden").constData(), 0755) == 0);
        lg::test::writeFile(pick + "/notes.txt");
        const std::optional<QList<FolderChoice>> listed = foldersIn(pick);
        QVERIFY(listed);
        QCOMPARE(listed->size(), 2);
        QStringList labels;
        for (const FolderChoice &choice : *listed)
            labels.append(choice.label);
        QCOMPARE(labels, (QStringList{QStringLiteral("caf\uFFFD"), QStringLiteral("caf\uFFFD (caf\\xE9)")}));

        currentFolderURL = QUrl::fromLocalFile(folder);
        shownContent(true);
        QVERIFY(reloadAndWait(thumbnailGrid()));
        thumbnailGrid()->collectionview->selectAll();
        lg::Panels::setOpenResponder({});   // the chooser itself, as a person sees it
        QSignalSpy finished(ItemFileCommands::instance(), &ItemFileCommands::batchFinished);
        ItemFileCommands::instance()->copyItemsTo(gridBrowseView());
        QDialog *chooser = nullptr;
        QTRY_VERIFY((chooser = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
                    && chooser->objectName() == QLatin1String("lgDestinationChooser"));
        QVERIFY(QTest::qWaitForWindowExposed(chooser));
        auto *folders = chooser->findChild<QListWidget *>(QStringLiteral("chooserFolders"));
        QVERIFY(folders);
        const auto rowNamed = [folders](const QString &label) -> QListWidgetItem * {
            const QList<QListWidgetItem *> found = folders->findItems(label, Qt::MatchExactly);
            return found.size() == 1 ? found.first() : nullptr;
        };
        QListWidgetItem *into = rowNamed(QStringLiteral("chooser-pick"));
        QVERIFY(into);
        folders->scrollToItem(into);
        // A click, then a double click: in, as a person goes.
        const QPoint at = folders->visualItemRect(into).center();
        QTest::mousePress(folders->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseRelease(folders->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(folders->viewport(), Qt::LeftButton, {}, at);
        QTRY_COMPARE(chooser->findChild<QLabel *>(QStringLiteral("chooserPlace"))->text(), pick);
        QTRY_VERIFY(rowNamed(QStringLiteral("caf\uFFFD (caf\\xE9)")) && rowNamed(QStringLiteral("caf\uFFFD")));
        QCOMPARE(folders->count(), 2);
        folders->setCurrentItem(rowNamed(QStringLiteral("caf\uFFFD (caf\\xE9)")));
        chooser->findChild<QPushButton *>(QStringLiteral("chooserChoose"))->click();
        QVERIFY(finished.wait(10000));
        QTRY_VERIFY(!isBusy);
        struct stat st {};
        QVERIFY(::stat((pickBytes + "/caf\xe9/a.jpg").constData(), &st) == 0);
        QVERIFY(QDir(pick + QStringLiteral("/caf\uFFFD")).isEmpty());
        QVERIFY(QFileInfo::exists(folder + "/a.jpg"));
        QVERIFY(lg::Alert::shownAlerts().isEmpty());
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
    void anItemThatGoesWhileTheQuestionIsOpenIsSaid_data()
    {
        QTest::addColumn<bool>("paste");
        QTest::addColumn<QString>("words");
        QTest::newRow("Move To, gone while the folder panel is open")
            << false << QStringLiteral("\u201Cc.jpg\u201D: The item is no longer where it was when it was chosen.");
        QTest::newRow("paste, gone while the same-name question is open")
            << true << QStringLiteral("\u201Cc.jpg\u201D: The item is no longer where it was copied or cut from.");
    }
    void anItemThatGoesWhileTheQuestionIsOpenIsSaid()
    {
        QFETCH(bool, paste);
        QFETCH(QString, words);
        const QString folder = lg::test::freshFolder(QStringLiteral("vanish"));
        const QString target = lg::test::freshFolder(QStringLiteral("vanishTarget"));
        const QString elsewhere = lg::test::freshFolder(QStringLiteral("vanishElsewhere"));
        writeJpeg(folder + "/b.jpg", 8, 8);
        writeJpeg(folder + "/c.jpg", 8, 8);
        if (paste)
            lg::test::writeFile(target + "/c.jpg", "already there");
        // Another program moves c.jpg away while the user answers.
        const auto takeAway = [folder, elsewhere] { QFile::rename(folder + "/c.jpg", elsewhere + "/c.jpg"); };
        ItemFileCommands *commands = ItemFileCommands::instance();
        QSignalSpy finished(commands, &ItemFileCommands::batchFinished);
        if (paste) {
            lg::Clipboard::writeFiles({QUrl::fromLocalFile(folder + "/b.jpg"), QUrl::fromLocalFile(folder + "/c.jpg")});
            currentFolderURL = QUrl::fromLocalFile(target);
            shownContent(true);
            QVERIFY(reloadAndWait(thumbnailGrid()));
            lg::Alert::setResponder([takeAway](const lg::AlertSpec &spec) {
                if (spec.title == QLatin1String("File already exists")) {
                    takeAway();
                    return int(spec.buttons.indexOf(QStringLiteral("Make a Copy")));
                }
                return 0;
            });
            QTest::mouseClick(thumbnailGrid()->collectionview->viewport(), Qt::RightButton, {}, QPoint(
                thumbnailGrid()->collectionview->viewport()->width() - 3, thumbnailGrid()->collectionview->viewport()->height() - 3));
        } else {
            currentFolderURL = QUrl::fromLocalFile(folder);
            shownContent(true);
            QVERIFY(reloadAndWait(thumbnailGrid()));
            thumbnailGrid()->collectionview->selectAll();
            lg::Panels::setOpenResponder([takeAway, target](const lg::OpenPanelSpec &) {
                takeAway();
                return QList<QUrl>{QUrl::fromLocalFile(target)};
            });
            GridView *view = thumbnailGrid()->collectionview;
            QTest::mouseClick(view->viewport(), Qt::RightButton, {}, view->visualRect(view->model()->index(0, 0)).center());
        }
        auto *menu = thumbnailGrid()->findChild<QMenu *>(QStringLiteral("gridContextMenu"));
        QVERIFY(menu && menu->isVisible());
        QAction *command = action(menu, paste ? QStringLiteral("actionPaste") : QStringLiteral("actionMoveTo"));
        QVERIFY(command && command->isEnabled());
        menu->close();
        command->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), paste ? 2 : 1, 10000);
        QTRY_VERIFY(!isBusy);
        const QList<lg::AlertSpec> said = lg::Alert::shownAlerts();
        QVERIFY(!said.isEmpty());
        QCOMPARE(said.last().title, QStringLiteral("Some items could not be processed."));
        QCOMPARE(said.last().text, QStringLiteral("1 item could not be processed. ") + words);
        QCOMPARE(filesIn(elsewhere), QStringList{"c.jpg"});
        QCOMPARE(filesIn(target), paste ? (QStringList{"b.jpg", "c.jpg"}) : QStringList{"b.jpg"});
    }

    void cancellingTheFolderPanelGivesLaterOverlaysTheirSpinner_data()
    {
        QTest::addColumn<QString>("command");
        QTest::newRow("Move To") << QStringLiteral("actionMoveTo");
        QTest::newRow("Copy To") << QStringLiteral("actionCopyTo");
    }
    void cancellingTheFolderPanelGivesLaterOverlaysTheirSpinner()
    {
        QFETCH(QString, command);
        const QString folder = lg::test::freshFolder(QStringLiteral("cancelled"));
        writeJpeg(folder + "/a.jpg", 8, 8);
        currentFolderURL = QUrl::fromLocalFile(folder);
        shownContent(true);
        QVERIFY(reloadAndWait(thumbnailGrid()));
        mainvc *hub = contentHub();
        bool dimmedOnlyWhilePanelUp = false;
        lg::Panels::setOpenResponder([&dimmedOnlyWhilePanelUp, hub](const lg::OpenPanelSpec &) {
            dimmedOnlyWhilePanelUp = hub->isonlyalert && isBusy;
            return QList<QUrl>{};   // Cancel
        });
        GridView *view = thumbnailGrid()->collectionview;
        QTest::mouseClick(view->viewport(), Qt::RightButton, {}, view->visualRect(view->model()->index(0, 0)).center());
        auto *menu = thumbnailGrid()->findChild<QMenu *>(QStringLiteral("gridContextMenu"));
        QVERIFY(menu && menu->isVisible());
        menu->close();
        action(menu, command)->trigger();
        QTRY_VERIFY(!isBusy);
        QVERIFY(dimmedOnlyWhilePanelUp);   // the panel stood over the dimming alone
        QVERIFY(!hub->isonlyalert);
        // The next piece of work shows the spinner.
        hub->showBusyLoader();
        QVERIFY(!hub->loader->isHidden());
        hub->hideBusyLoader();
        QCOMPARE(filesIn(folder), QStringList{"a.jpg"});
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

    // A command on an item whose name is not valid UTF-8 says so in the
    // window, with what the user can do, before any question or panel; the
    // item stays where it is, as it is.
    void aNameThatIsNotUtf8IsRefusedAloudBeforeAnyQuestion_data()
    {
        QTest::addColumn<QString>("command");
        QTest::newRow("Move to Trash") << "trash";
        QTest::newRow("Move To") << "move";
        QTest::newRow("Duplicate") << "duplicate";
        QTest::newRow("Rename") << "rename";
        QTest::newRow("Open with File Manager") << "reveal";
        QTest::newRow("Set as wallpaper") << "wallpaper";
    }
    void aNameThatIsNotUtf8IsRefusedAloudBeforeAnyQuestion()
    {
        QFETCH(QString, command);
        const QString folder = lg::test::freshFolder(QStringLiteral("notText"));
        const QString elsewhere = lg::test::freshFolder(QStringLiteral("notTextElsewhere"));
        const QString target = lg::test::freshFolder(QStringLiteral("notTextTarget"));
        const QString home = folder;
        const QByteArray stray = QFile::encodeName(home) + "/bad\xff.jpg";
        // Qt's own removal of the temporary home cannot name it.
        const auto removeStray = qScopeGuard([stray] { ::unlink(stray.constData()); });
        QCOMPARE(::rename(QFile::encodeName(writeJpeg(home + "/plain.jpg", 8, 8)).constData(), stray.constData()), 0);
        writeJpeg(folder + "/a.jpg", 8, 8);
        const QByteArray content = bytesAt(stray);
        QVERIFY(!content.isEmpty());
        currentFolderURL = QUrl::fromLocalFile(folder);
        shownContent(true);
        thumbnailvc *grid = thumbnailGrid();
        QVERIFY(reloadAndWait(grid));
        QStringList asked;
        lg::Alert::setResponder([&asked](const lg::AlertSpec &spec) {
            asked << spec.title;
            return 0;
        });
        // Nothing is handed to another program for the look-alike name.
        int handedOver = 0;
        lg::Workspace::setRunnerForTesting([&handedOver](const lg::ExternalCall &, QString *) {
            ++handedOver;
            return true;
        });
        const auto restoreRunner = qScopeGuard([] { lg::Workspace::setRunnerForTesting({}); });
        lg::Panels::setOpenResponder([target](const lg::OpenPanelSpec &) { return QList<QUrl>{QUrl::fromLocalFile(target)}; });
        const QUrl strayUrl = lg::FileNames::urlOf(lg::FileNames::fromNative(stray));
        {
            int row = -1;
            for (int i = 0; i < grid->itemsModel()->rowCount(); ++i)
                if (grid->itemsModel()->entry(i)->url == strayUrl)
                    row = i;
            QVERIFY(row >= 0);
            const QModelIndex index = grid->itemsModel()->index(row, 0);
            grid->collectionview->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
            if (command == QLatin1String("trash"))
                ItemFileCommands::instance()->trashItems(gridBrowseView());
            else if (command == QLatin1String("move"))
                ItemFileCommands::instance()->moveItemsTo(gridBrowseView());
            else if (command == QLatin1String("duplicate"))
                ItemFileCommands::instance()->duplicateItems(gridBrowseView());
            else if (command == QLatin1String("reveal"))
                itemmenus::showInFileManager();
            else if (command == QLatin1String("wallpaper"))
                itemmenus::setWallpaper(gridBrowseView(), lg::FileNames::pathOf(strayUrl));
            else
                grid->collectionview->edit(index);
            QVERIFY(!grid->collectionview->findChild<QLineEdit *>(QStringLiteral("renameEditor")));
        }
        QTRY_VERIFY(!lg::Alert::shownAlerts().isEmpty() && !isFileOperationRunning);
        QTest::qWait(50);
        const QList<lg::AlertSpec> said = lg::Alert::shownAlerts();
        QCOMPARE(said.size(), 1);
        const QString words = said.first().title + QLatin1Char(' ') + said.first().text;
        QVERIFY2(words.contains(QStringLiteral("bad\uFFFD.jpg\u201D")) && words.contains(QStringLiteral("not valid UTF-8"))
                     && words.contains(QStringLiteral("Rename it in a file manager")),
                 qPrintable(words));
        QCOMPARE(asked.size(), 1);
        QCOMPARE(handedOver, 0);
        QCOMPARE(bytesAt(stray), content);
        QCOMPARE(filesIn(folder), QStringList{"a.jpg"});   // Qt's listing passes over the other name
        QVERIFY(filesIn(target).isEmpty());
    }

    // Copy puts a file whose name is not valid UTF-8 on the clipboard by its
    // exact bytes ("%E9"), alone or beside its look-alike, and Paste copies
    // (or, for a cut, moves) that very file, leaving the look-alike be.
    void copyAndPasteCarryANameThatIsNotUtf8ByItsBytes_data()
    {
        QTest::addColumn<bool>("lookAlike");
        QTest::addColumn<bool>("cut");
        QTest::newRow("alone") << false << false;
        QTest::newRow("beside its look-alike") << true << false;
        QTest::newRow("cut by a file manager") << true << true;
    }
    void copyAndPasteCarryANameThatIsNotUtf8ByItsBytes()
    {
        QFETCH(bool, lookAlike);
        QFETCH(bool, cut);
        const QString folder = lg::test::freshFolder(QStringLiteral("copyBytes"));
        const QString target = lg::test::freshFolder(QStringLiteral("copyBytesTarget"));
        const QByteArray stray = QFile::encodeName(folder) + "/caf\xe9.jpg";
        const QByteArray arrived = QFile::encodeName(target) + "/caf\xe9.jpg";
        // Qt's own removal of the temporary home cannot name them.
        const auto removeStray = qScopeGuard([stray, arrived] {
            ::unlink(stray.constData());
            ::unlink(arrived.constData());
        });
        QCOMPARE(::rename(QFile::encodeName(writeJpeg(folder + "/plain.jpg", 8, 8, Qt::green)).constData(),
                          stray.constData()), 0);
        const QByteArray content = bytesAt(stray);
        if (lookAlike)
            writeJpeg(folder + QStringLiteral("/caf\uFFFD.jpg"), 16, 16, Qt::blue);
        const QUrl strayUrl = lg::FileNames::urlOf(lg::FileNames::fromNative(stray));
        currentFolderURL = QUrl::fromLocalFile(folder);
        shownContent(true);
        thumbnailvc *grid = thumbnailGrid();
        QVERIFY(reloadAndWait(grid));
        lg::Alert::setResponder([](const lg::AlertSpec &) { return 0; });
        QGuiApplication::clipboard()->clear();

        if (cut) {
            lg::Clipboard::writeFiles({strayUrl}, true);   // as a file manager's Cut leaves it
        } else {
            int row = -1;
            for (int i = 0; i < grid->itemsModel()->rowCount(); ++i)
                if (grid->itemsModel()->entry(i)->url == strayUrl)
                    row = i;
            QVERIFY(row >= 0);
            grid->collectionview->selectionModel()->setCurrentIndex(grid->itemsModel()->index(row, 0),
                                                                    QItemSelectionModel::ClearAndSelect);
            QMenu *menu = itemmenus::popUpContextMenu(gridBrowseView(), row, QPoint(5, 5));
            QAction *copy = action(menu, QStringLiteral("actionCopy"));
            QVERIFY(copy && copy->isEnabled());
            copy->trigger();
            menu->close();
        }
        const QMimeData *held = QGuiApplication::clipboard()->mimeData();
        QVERIFY(held);
        const QByteArray listed = held->data(QStringLiteral("text/uri-list"));
        QVERIFY2(listed.contains("/caf%E9.jpg\r\n") && !listed.contains("%EF%BF%BD"), listed.constData());
        QCOMPARE(lg::Clipboard::readFiles().urls, QList<QUrl>{strayUrl});

        currentFolderURL = QUrl::fromLocalFile(target);
        QVERIFY(reloadAndWait(grid));
        QMenu *menu = itemmenus::popUpContextMenu(gridBrowseView(), -1, QPoint(5, 5));
        QAction *paste = action(menu, QStringLiteral("actionPaste"));
        QVERIFY(paste && paste->isEnabled());
        QSignalSpy finished(ItemFileCommands::instance(), &ItemFileCommands::batchFinished);
        paste->trigger();
        menu->close();
        QVERIFY(finished.wait(10000));
        QTRY_VERIFY(!isFileOperationRunning);
        QCOMPARE(lg::Alert::shownAlerts().size(), 0);
        QCOMPARE(bytesAt(arrived), content);
        struct stat st {};
        QCOMPARE(::lstat(stray.constData(), &st) == 0, !cut);
        QVERIFY(!QFileInfo::exists(target + QStringLiteral("/caf\uFFFD.jpg")));   // never the look-alike
        if (lookAlike)
            QVERIFY(QFileInfo::exists(folder + QStringLiteral("/caf\uFFFD.jpg")));
    }

    void theRenameEditorStaysWithItsFileThroughAReload()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("editing"));
        writeJpeg(folder + "/b.jpg", 8, 8);
        writeJpeg(folder + "/c.jpg", 8, 8);
        currentFolderURL = QUrl::fromLocalFile(folder);
        shownContent();
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
        const QStringList names = filesIn(folder);
        QVERIFY2(names == (QStringList{"a.jpg", "b.jpg", "c.jpg"}) || names == (QStringList{"a.jpg", "c.jpg", "renamed.jpg"}),
                 qPrintable(names.join(QLatin1Char(','))));
    }
    void aReloadWhileTypingKeepsTheEditorAndTheTypedNameOnItsFile_data()
    {
        QTest::addColumn<bool>("grid");
        QTest::newRow("grid") << true;
        QTest::newRow("list") << false;
    }
    void aReloadWhileTypingKeepsTheEditorAndTheTypedNameOnItsFile()
    {
        QFETCH(bool, grid);
        const QString folder = lg::test::freshFolder(QStringLiteral("typing"));
        writeJpeg(folder + "/b.jpg", 8, 8);
        writeJpeg(folder + "/c.jpg", 8, 8);
        currentFolderURL = QUrl::fromLocalFile(folder);
        shownContent(grid);
        QAbstractItemView *view = grid ? static_cast<QAbstractItemView *>(thumbnailGrid()->collectionview)
                                       : static_cast<QAbstractItemView *>(listController()->tblview);
        ShownItemsModel *model = grid ? thumbnailGrid()->itemsModel() : listController()->itemsModel();
        const auto reload = [grid] { return grid ? reloadAndWait(thumbnailGrid()) : reloadAndWait(listController()); };
        QVERIFY(reload());
        view->setFocus();
        view->setCurrentIndex(model->index(model->rowOfPath(folder + "/b.jpg"), 0));
        QTest::keyClick(view, Qt::Key_F2);
        auto *editor = qobject_cast<QLineEdit *>(QApplication::focusWidget());
        QVERIFY(editor);
        QCOMPARE(editor->objectName(), QStringLiteral("renameEditor"));
        editor->selectAll();
        QTest::keyClicks(editor, QStringLiteral("holi"));

        // Another program adds a file that sorts first; the folder reloads.
        writeJpeg(folder + "/a.jpg", 8, 8);
        QVERIFY(reload());
        QCOMPARE(model->rowOfPath(folder + "/b.jpg"), 1);
        const QModelIndex nameIndex = model->index(1, grid ? 0 : int(ShownItemsModel::NameColumn));
        auto *kept = qobject_cast<QLineEdit *>(view->indexWidget(nameIndex));
        QVERIFY(kept);
        QCOMPARE(kept->text(), QStringLiteral("holi"));
        QCOMPARE(QApplication::focusWidget(), kept);
        QVERIFY(!view->indexWidget(model->index(0, grid ? 0 : int(ShownItemsModel::NameColumn))));

        // The user goes on typing where the cursor was, and commits.
        QTest::keyClicks(kept, QStringLiteral("day.jpg"));
        QTest::keyClick(kept, Qt::Key_Return);
        QTRY_COMPARE(filesIn(folder), (QStringList{"a.jpg", "c.jpg", "holiday.jpg"}));
        QVERIFY(lg::Alert::shownAlerts().isEmpty());

        // A file renamed outside before the folder reloads: the rename says so.
        QVERIFY(reload());
        view->setFocus();
        view->setCurrentIndex(model->index(model->rowOfPath(folder + "/c.jpg"), 0));
        QTest::keyClick(view, Qt::Key_F2);
        auto *third = qobject_cast<QLineEdit *>(QApplication::focusWidget());
        QVERIFY(third);
        QVERIFY(QFile::rename(folder + "/c.jpg", folder + "/theirs.jpg"));
        third->setText(QStringLiteral("mine.jpg"));
        QTest::keyClick(third, Qt::Key_Return);
        QTRY_COMPARE(lg::Alert::shownAlerts().size(), 1);
        QCOMPARE(lg::Alert::shownAlerts().first().title,
                 QStringLiteral("The item \u201Cc.jpg\u201D is no longer there. It may have been renamed, moved or "
                                "deleted by another program."));
        QCOMPARE(filesIn(folder), (QStringList{"a.jpg", "holiday.jpg", "theirs.jpg"}));
    }

    void filesDroppedOnTheGridAreCopiedAfterTheSearchQuestion()
    {
        const QString here = lg::test::freshFolder(QStringLiteral("dropgrid"));
        const QString there = lg::test::freshFolder(QStringLiteral("dropsource"));
        writeJpeg(here + "/old.jpg", 8, 8);
        lg::test::writeFile(there + "/new.jpg", "dropped");
        currentFolderURL = QUrl::fromLocalFile(here);
        ViewController *content = shownContent(true, {800, 600});
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

    void theEnablingRulesOnlyEverDisable_data()
    {
        QTest::addColumn<ItemMenuSnapshot>("snapshot");
        QTest::addColumn<bool>("grid");
        QTest::addColumn<QStringList>("enabled");
        ItemMenuSnapshot base;
        base.hasCurrentFolder = true;
        base.clipboardHasMediaFile = true;

        ItemMenuSnapshot empty = base;
        QTest::newRow("empty space, nothing selected")
            << empty << true
            << QStringList{"actionRefresh", "actionShow", "actionFullscreenView", "actionPaste"};
        QTest::newRow("the list has no Show") << empty << false
                                              << QStringList{"actionRefresh", "actionFullscreenView", "actionPaste"};
        ItemMenuSnapshot two = base;
        two.selectedCount = 2;
        QTest::newRow("empty space, two selected")
            << two << false
            << QStringList{"actionView", "actionRefresh", "actionOpenWithFileManager", "actionStartSlideShow",
                           "actionFullscreenView", "actionCopy", "actionPaste", "actionDuplicate",
                           "actionMoveToTrash", "actionMoveTo", "actionCopyTo", "actionProperties"};
        ItemMenuSnapshot image = base;
        image.overItem = true;
        image.selectedCount = 1;
        image.clickedIsImage = true;
        image.hasApplications = true;
        QTest::newRow("an image") << image << false << itemMenuActionNames(false);
        ItemMenuSnapshot video = image;
        video.clickedIsImage = false;
        video.hasApplications = false;
        video.infoPaneShown = true;
        video.clipboardHasMediaFile = false;
        QTest::newRow("a video, pane shown, clipboard without media")
            << video << false
            << QStringList{"actionView", "actionRefresh", "actionOpenWithFileManager", "actionStartSlideShow",
                           "actionFullscreenView", "actionCopy", "actionDuplicate", "actionMoveToTrash",
                           "actionMoveTo", "actionCopyTo"};
        ItemMenuSnapshot library = image;
        library.folderIsPhotoLibrary = true;
        QTest::newRow("a Photos library")
            << library << false
            << QStringList{"actionView", "actionRefresh", "actionOpenWithApplication", "actionStartSlideShow",
                           "actionFullscreenView", "actionSetAsWallpaper", "actionCopy", "actionCopyTo",
                           "actionProperties"};
        ItemMenuSnapshot noFolder = image;
        noFolder.hasCurrentFolder = false;
        QTest::newRow("no current folder")
            << noFolder << false
            << QStringList{"actionView", "actionRefresh", "actionOpenWithFileManager", "actionOpenWithApplication",
                           "actionStartSlideShow", "actionFullscreenView", "actionSetAsWallpaper", "actionCopy",
                           "actionProperties"};
    }
    void theEnablingRulesOnlyEverDisable()
    {
        QFETCH(ItemMenuSnapshot, snapshot);
        QFETCH(bool, grid);
        QFETCH(QStringList, enabled);
        const QHash<QString, bool> result = itemMenuEnabling(snapshot, grid);
        QStringList on;
        for (const QString &name : itemMenuActionNames(grid))
            if (result.value(name))
                on.append(name);
        QCOMPARE(on, enabled);
    }

    void rightClicksOpenTheMenuOfTheItemOrOfEmptySpace()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("menus"));
        for (const char *name : {"a.jpg", "b.jpg", "c.jpg"})
            writeJpeg(folder + QLatin1Char('/') + QLatin1String(name), 40, 30);
        currentFolderURL = QUrl::fromLocalFile(folder);
        ViewController *content = shownContent(true, {1000, 700});
        thumbnailvc *grid = thumbnailGrid();
        QVERIFY(reloadAndWait(grid));
        GridView *view = grid->collectionview;

        // On the second item: it becomes the selection; wallpaper is offered for an image.
        QTest::mouseClick(view->viewport(), Qt::RightButton, {}, view->visualRect(view->model()->index(1, 0)).center());
        auto *menu = grid->findChild<QMenu *>(QStringLiteral("gridContextMenu"));
        QVERIFY(menu && menu->isVisible());
        QCOMPARE(selectedItemIndex, 1);
        QVERIFY(action(menu, QStringLiteral("actionSetAsWallpaper"))->isEnabled());
        QVERIFY(action(menu, QStringLiteral("actionShow"))->isEnabled());
        QVERIFY(!action(menu, QStringLiteral("actionPaste"))->isEnabled());   // nothing on the clipboard
        menu->close();

        // The pane is shown: Properties is off. Empty space with nothing selected.
        action(menu, QStringLiteral("actionProperties"))->trigger();
        QVERIFY(!content->splitview->widget(1)->isHidden());
        view->clearSelection();
        lg::Clipboard::writeFiles({QUrl::fromLocalFile(folder + QStringLiteral("/a.jpg"))});
        QTest::mouseClick(view->viewport(), Qt::RightButton, {}, QPoint(view->viewport()->width() - 3,
                                                                          view->viewport()->height() - 3));
        QVERIFY(menu->isVisible());
        QVERIFY(action(menu, QStringLiteral("actionPaste"))->isEnabled());
        QVERIFY(!action(menu, QStringLiteral("actionCopy"))->isEnabled());
        menu->close();

        // The list: no "Show"; its own menu.
        content->showListView();
        listVc *list = listController();
        QVERIFY(reloadAndWait(list));
        ListTableView *table = list->tblview;
        QTest::mouseClick(table->viewport(), Qt::RightButton, {}, table->visualRect(table->model()->index(2, 0)).center());
        auto *listMenu = list->findChild<QMenu *>(QStringLiteral("tblviewviewMenu"));
        QVERIFY(listMenu && listMenu->isVisible());
        QVERIFY(!action(listMenu, QStringLiteral("actionShow")));
        QCOMPARE(selectedItemIndex, 2);
        QVERIFY(!action(listMenu, QStringLiteral("actionProperties"))->isEnabled());
        listMenu->close();

        // No menu while the overlay shows.
        listMenu->clear();
        isBusy = true;
        QTest::mouseClick(table->viewport(), Qt::RightButton, {}, table->visualRect(table->model()->index(0, 0)).center());
        QVERIFY(listMenu->actions().isEmpty());
    }

    void copyPutsTheSelectionInShownOrderAndNothingEmptiesTheClipboard()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("copy"));
        for (int i = 0; i < 10; ++i)
            writeJpeg(folder + QStringLiteral("/p%1.jpg").arg(i), 8, 8);
        currentFolderURL = QUrl::fromLocalFile(folder);
        contentController()->showListView();
        listVc *list = listController();
        QVERIFY(reloadAndWait(list));
        QItemSelectionModel *selection = list->tblview->selectionModel();
        for (int row : {5, 2, 9})
            selection->select(list->itemsModel()->index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        list->copyItem_menu();
        const QList<QUrl> expected{itemList.at(2).url.value(), itemList.at(5).url.value(), itemList.at(9).url.value()};
        QCOMPARE(lg::Clipboard::readFiles().urls, expected);
        QCOMPARE(copiedURLs, expected);

        selection->clearSelection();
        list->copyItem_menu();
        QVERIFY(lg::Clipboard::readFiles().urls.isEmpty());
        QVERIFY(copiedURLs.isEmpty());
    }

    void openWithListsTheTypesApplicationsAndOpensTheClickedItem()
    {
        const QString marker = lg::test::homeFolder() + QStringLiteral("/opened.jpg");
        const QString folder = lg::test::freshFolder(QStringLiteral("openwith"));
        writeJpeg(folder + QStringLiteral("/one.jpg"), 10, 10, Qt::red);
        writeJpeg(folder + QStringLiteral("/two.jpg"), 20, 20, Qt::blue);
        currentFolderURL = QUrl::fromLocalFile(folder);
        thumbnailvc *grid = thumbnailGrid();
        QVERIFY(reloadAndWait(grid));
        QMenu *menu = itemmenus::popUpContextMenu(gridBrowseView(), 1, QPoint(10, 10));
        QVERIFY(action(menu, QStringLiteral("actionOpenWithApplication"))->isEnabled());
        QStringList ids;
        for (const lg::ApplicationInfo &app : itemmenus::recommendedApps(true))
            ids.append(app.id);
        QVERIFY2(ids.size() >= 2, qPrintable(ids.join(QLatin1Char(','))));
        QCOMPARE(ids.mid(0, 2), (QStringList{"lgeditor.desktop", "lgviewer.desktop"}));
        QMenu *apps = action(menu, QStringLiteral("actionOpenWithApplication"))->menu();
        QVERIFY(apps);
        QCOMPARE(apps->actions().first()->objectName(), QStringLiteral("actionOpenWith_lgeditor.desktop"));
        menu->close();

        // The current item changes meanwhile: the listed file is still the one opened.
        selectedItemIndex = 0;
        apps->actions().first()->trigger();
        // cp makes the file before it writes it: wait for the whole copy.
        QTRY_COMPARE(QFileInfo(marker).size(), QFileInfo(folder + QStringLiteral("/two.jpg")).size());
    }

    void wallpaperGoesToTheDesktopsCommandsAndAFailureIsTold()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("wallpaper"));
        writeJpeg(folder + QStringLiteral("/sky.jpg"), 10, 10);
        currentFolderURL = QUrl::fromLocalFile(folder);
        thumbnailvc *grid = thumbnailGrid();
        QVERIFY(reloadAndWait(grid));
        QList<lg::ExternalCall> calls;
        lg::Workspace::setRunnerForTesting([&calls](const lg::ExternalCall &call, QString *) {
            calls.append(call);
            return true;
        });
        QMenu *menu = itemmenus::popUpContextMenu(gridBrowseView(), 0, QPoint(10, 10));
        lg::Workspace::setDesktopForTesting(QStringLiteral("GNOME"));
        action(menu, QStringLiteral("actionSetAsWallpaper"))->trigger();
        QVERIFY(!calls.isEmpty());
        QVERIFY(calls.last().arguments.join(QLatin1Char(' ')).contains(QStringLiteral("sky.jpg")));
        QVERIFY(lg::Alert::shownAlerts().isEmpty());

        lg::Workspace::setDesktopForTesting(QStringLiteral("NoSuchDesktop"));
        action(menu, QStringLiteral("actionSetAsWallpaper"))->trigger();
        QCOMPARE(lg::Alert::shownAlerts().size(), 1);
        QCOMPARE(lg::Alert::shownAlerts().first().title, QStringLiteral("The wallpaper could not be set."));
        lg::Workspace::setDesktopForTesting(std::nullopt);
    }
};

LG_TEST(TestItemFileCommands)
#include "test_itemfilecommands.moc"
