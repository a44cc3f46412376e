// Faults a first walk through the browser found: a press-and-drag on an item
// that was not selected, the selection after a rename and after a change of
// the info line, and closing the preferences window from the keyboard.
#include "app/preferencesWindowController.h"
#include "browser/BrowserFixtures.h"
#include "browser/GridView.h"
#include "browser/ItemEditing.h"
#include "browser/ItemMenus.h"
#include "browser/ViewController.h"
#include "browser/thumbnailvc.h"
#include "platform/desktop/Clipboard.h"

#include <QApplication>
#include <QDrag>
#include <QLineEdit>
#include <QStandardItemModel>

using namespace browsertest;

class TestWalkFixes3 : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        resetSharedState();
        setListingBudget(1000);
    }
    void cleanup() { setItemDragRunnerForTesting({}); }
    void cleanupTestCase() { resetSharedState(); }

    void gridPressesDragItemsOrSpanTheBandAndTheSelectionFollowsItsFile()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("walk"));
        for (const char *name : {"b.jpg", "c.jpg", "d.jpg"})
            writeJpeg(folder + QLatin1Char('/') + QLatin1String(name), 8, 8);
        currentFolderURL = QUrl::fromLocalFile(folder);
        shownContent();
        thumbnailvc *grid = thumbnailGrid();
        QVERIFY(reloadAndWait(grid));
        GridView *view = grid->collectionview;
        QWidget *port = view->viewport();
        view->setCurrentIndex(view->model()->index(0, 0));

        QList<QList<QUrl>> drags;
        setItemDragRunnerForTesting([&drags](QDrag *drag) {
            drags.append(lg::Clipboard::readFiles(drag->mimeData()).urls);
            return Qt::CopyAction;
        });
        const auto pressAndDrag = [&](QPoint from) {
            const QPoint to = from + QPoint(QApplication::startDragDistance() + 8, 4);
            QTest::mousePress(port, Qt::LeftButton, {}, from);
            QTest::mouseMove(port, to);
            QTest::mouseRelease(port, Qt::LeftButton, {}, to);
        };
        // An item not selected before the press leaves at once, alone.
        pressAndDrag(view->visualRect(view->model()->index(2, 0)).center());
        QCOMPARE(drags, QList<QList<QUrl>>{{QUrl::fromLocalFile(folder + QStringLiteral("/d.jpg"))}});
        QCOMPARE(selectedItemIndex, 2);
        // Empty space starts no drag.
        pressAndDrag(QPoint(port->width() - 4, port->height() - 4));
        QCOMPARE(drags.size(), 1);

        // The info line changes; the selection stays.
        view->setCurrentIndex(view->model()->index(1, 0));
        itemmenus::setInfoLineMode(1);
        QCOMPARE(view->selectionModel()->selectedIndexes(), QModelIndexList{view->model()->index(1, 0)});
        QCOMPARE(selectedItemIndex, 1);
        itemmenus::setInfoLineMode(0);

        // The current item renamed to sort last stays current after the reload.
        const QModelIndex first = view->model()->index(0, 0);
        view->setCurrentIndex(first);
        QCOMPARE(selectedItemIndex, 0);
        view->edit(first);
        auto *editor = view->findChild<QLineEdit *>(QStringLiteral("renameEditor"));
        QVERIFY(editor);
        editor->setText(QStringLiteral("z.jpg"));
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_VERIFY(QFileInfo::exists(folder + QStringLiteral("/z.jpg")));   // committed when the queue runs
        QVERIFY(reloadAndWait(grid));
        QCOMPARE(selectedItemIndex, 2);
        QCOMPARE(view->selectionModel()->selectedIndexes(), QModelIndexList{view->model()->index(2, 0)});
    }

    void escapeAndCtrlWClosePreferences_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::newRow("Escape") << int(Qt::Key_Escape) << int(Qt::NoModifier);
        QTest::newRow("Ctrl+W") << int(Qt::Key_W) << int(Qt::ControlModifier);
    }
    void escapeAndCtrlWClosePreferences()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        preferencesWindowController *window = preferencesWindow();
        window->showWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : window, Qt::Key(key),
                        Qt::KeyboardModifiers(modifiers));
        QVERIFY(!window->isVisible());
    }
};

LG_TEST(TestWalkFixes3)
#include "test_walkfixes3.moc"
