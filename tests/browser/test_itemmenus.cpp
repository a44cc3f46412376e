// The context menus of the grid and the list: the enabling rules, the menus a
// right click opens on an item and on empty space, Copy, open with another
// application and the wallpaper.
#include "browser/BrowserFixtures.h"
#include "browser/GridView.h"
#include "browser/ItemMenuRules.h"
#include "browser/ItemMenus.h"
#include "browser/ListTableView.h"
#include "browser/ShownItemsModel.h"
#include "browser/ViewController.h"
#include "browser/listVc.h"
#include "browser/thumbnailvc.h"
#include "platform/Alert.h"
#include "platform/Clipboard.h"
#include "platform/Workspace.h"

#include <QAction>
#include <QMenu>
#include <QSplitter>
#include <QStandardPaths>

Q_DECLARE_METATYPE(ItemMenuSnapshot)

using namespace browsertest;

namespace {

QAction *action(QMenu *menu, const QString &name)
{
    for (QAction *item : menu->actions())
        if (item->objectName() == name)
            return item;
    return menu->findChild<QAction *>(name);
}

} // namespace

class TestItemMenus : public QObject
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
        lg::Alert::setResponder([](const lg::AlertSpec &) { return 0; });
        lg::Alert::clearShownAlerts();
        lg::Clipboard::writeFiles({});
    }
    void cleanup()
    {
        lg::Workspace::setRunnerForTesting({});
        for (QWidget *popup = QApplication::activePopupWidget(); popup; popup = QApplication::activePopupWidget())
            popup->close();
    }
    void cleanupTestCase() { resetSharedState(); }

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
        ViewController *content = contentController();
        content->resize(1000, 700);
        content->show();
        QVERIFY(QTest::qWaitForWindowExposed(content));
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
        QTRY_VERIFY(QFileInfo::exists(marker));
        QCOMPARE(QFileInfo(marker).size(), QFileInfo(folder + QStringLiteral("/two.jpg")).size());
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
        const QByteArray desktop = qgetenv("XDG_CURRENT_DESKTOP");
        QMenu *menu = itemmenus::popUpContextMenu(gridBrowseView(), 0, QPoint(10, 10));
        qputenv("XDG_CURRENT_DESKTOP", "GNOME");
        action(menu, QStringLiteral("actionSetAsWallpaper"))->trigger();
        QVERIFY(!calls.isEmpty());
        QVERIFY(calls.last().arguments.join(QLatin1Char(' ')).contains(QStringLiteral("sky.jpg")));
        QVERIFY(lg::Alert::shownAlerts().isEmpty());

        qputenv("XDG_CURRENT_DESKTOP", "NoSuchDesktop");
        action(menu, QStringLiteral("actionSetAsWallpaper"))->trigger();
        QCOMPARE(lg::Alert::shownAlerts().size(), 1);
        QCOMPARE(lg::Alert::shownAlerts().first().title, QStringLiteral("The wallpaper could not be set."));
        qputenv("XDG_CURRENT_DESKTOP", desktop);
    }
};

LG_TEST(TestItemMenus)
#include "test_itemmenus.moc"
