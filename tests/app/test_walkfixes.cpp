// Faults found walking through the program as a new user: keys in the viewer,
// a click on the selected grid item, captions beside icon buttons, the editor
// with a video shown, the information pane's toggle, the view after leaving the
// collage, and where panels start (starting them makes no folders).
#include "app/Essentials.h"
#include "app/homeVc.h"
#include "app/mainWindowController.h"
#include "app/mainvc.h"
#include "browser/GridView.h"
#include "browser/ViewController.h"
#include "browser/thumbnailvc.h"
#include "collage/collagevc.h"
#include "controls/ZLFlatButton.h"
#include "model/FolderMonitor.h"
#include "model/Saver.h"
#include "platform/desktop/Alert.h"
#include "platform/desktop/Panels.h"
#include "platform/desktop/Paths.h"
#include "tests/model/CaptureStdout.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TestSupport.h"
#include "viewer/editImagevc.h"
#include "viewer/viewimagevc.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QSplitter>
#include <QStyleHints>
#include <QToolButton>

namespace {

void showHub()
{
    mainWindowController *window = mainWindow();
    window->setContentViewController(contentHub());
    window->resize(1100, 700);
    window->show();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
}

bool reloadGrid(const QString &folder)
{
    currentFolderURL = QUrl::fromLocalFile(folder);
    contentController()->showThumbnailView();
    QSignalSpy finished(thumbnailGrid(), &thumbnailvc::reloadFinished);
    thumbnailGrid()->refreshData();
    return !finished.isEmpty() || finished.wait(10000);
}

// The folder the next save panel starts in (the panel is cancelled).
QString saveDirectory(const std::function<void()> &openPanel)
{
    QString asked = QStringLiteral("<no panel>");
    lg::Panels::setSaveResponder([&asked](const lg::SavePanelSpec &spec) {
        asked = spec.directory;
        return QUrl();
    });
    openPanel();
    lg::test::settle();
    // Some callers draw their picture in the background before the panel opens.
    (void)QTest::qWaitFor([&asked] { return asked != QStringLiteral("<no panel>"); }, 5000);
    lg::Panels::setSaveResponder({});
    return asked;
}

} // namespace

class WalkFixesTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        resetSharedState();
        lg::Alert::clearShownAlerts();
        lg::Alert::setResponder([](const lg::AlertSpec &) { return 0; });
        QDir(lg::Paths::pictures()).removeRecursively();
    }
    void cleanupTestCase() { resetSharedState(); }

    void theInfoPaneToggleFollowsThePane()
    {
        mainvc *hub = contentHub();
        QWidget *pane = contentController()->splitview->widget(1);
        QVERIFY(pane->isHidden());
        QCOMPARE(hub->btnrightsplit->imageNormalColor(), neutralGrey());
        contentController()->toggleInfoPane();
        QCOMPARE(hub->btnrightsplit->imageNormalColor(), accentOrange());
        contentController()->toggleInfoPane();
        QCOMPARE(hub->btnrightsplit->imageNormalColor(), neutralGrey());
    }

    void theViewerTakesTheKeysAndStepsWithTheArrows()
    {
        showHub();
        const QString folder = lg::test::freshFolder(QStringLiteral("keys"));
        for (const char *name : {"a.jpg", "b.jpg", "c.jpg"})
            lg::test::fixtures::writeJpeg(folder + QLatin1Char('/') + QLatin1String(name), QImage(8, 8, QImage::Format_RGB32));
        QVERIFY(reloadGrid(folder));
        QCOMPARE(itemList.size(), 3);
        GridView *view = thumbnailGrid()->collectionview;
        view->setFocus();
        selectedItemIndex = 0;
        contentController()->viewimage();
        viewimagevc *viewer = imageViewer();
        QTRY_VERIFY(viewer->isVisible());
        QTRY_VERIFY(viewer->hasFocus());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
        QCOMPARE(selectedItemIndex, 1);
        QCOMPARE(currentScreenMode, ScreenViewer);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Left);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Left);
        QCOMPARE(selectedItemIndex, 2);
        contentController()->buttonbackClicked();
    }

    void theEditCaptionWithAVideoAlertsOverTheViewer()
    {
        showHub();
        const QString video = lg::test::writeFile(lg::test::freshFolder(QStringLiteral("video")) + "/clip.mp4");
        viewerItemURL = QUrl::fromLocalFile(video);
        viewimagevc *viewer = imageViewer();
        QSignalSpy edits(viewer->btneditImage, &QAbstractButton::clicked);
        QTest::mouseClick(viewer->btneditlabel, Qt::LeftButton);
        QCOMPARE(edits.count(), 1);
        QCOMPARE(lg::Alert::shownAlerts().value(0).title, QStringLiteral("This Image can not be edited."));
        QVERIFY(!editImageController || !editImageController->isVisible());
    }

    void theCollageCaptionOpensTheCollage()
    {
        showHub();
        mainvc *hub = contentHub();
        QSignalSpy opens(hub->btncollage, &QAbstractButton::clicked);
        QTest::mouseClick(hub->lblcollage, Qt::LeftButton);
        QCOMPARE(opens.count(), 1);
        QCOMPARE(currentScreenMode, ScreenCollage);
        hub->closeCollagevc();
    }

    // Only a click on the name of an item already selected in a view that had
    // the keyboard renames; any other click just selects, so Copy copies.
    void aClickRenamesOnlyTheNameInAFocusedGrid_data()
    {
        QTest::addColumn<bool>("focusedBefore");
        QTest::addColumn<bool>("onName");
        QTest::addColumn<bool>("renames");
        QTest::newRow("first click from the sidebar") << false << true << false;
        QTest::newRow("on the picture") << true << false << false;
        QTest::newRow("on the name") << true << true << true;
    }
    void aClickRenamesOnlyTheNameInAFocusedGrid()
    {
        QFETCH(bool, focusedBefore);
        QFETCH(bool, onName);
        QFETCH(bool, renames);
        showHub();
        const QString folder = lg::test::freshFolder(QStringLiteral("click"));
        lg::test::fixtures::writeJpeg(folder + "/a.jpg", QImage(8, 8, QImage::Format_RGB32));
        lg::test::fixtures::writeJpeg(folder + "/b.jpg", QImage(8, 8, QImage::Format_RGB32));
        QVERIFY(reloadGrid(folder));
        thumbnailvc *grid = thumbnailGrid();
        GridView *view = grid->collectionview;
        const QModelIndex first = view->model()->index(0, 0);
        view->selectionModel()->setCurrentIndex(first, QItemSelectionModel::ClearAndSelect);
        QApplication::styleHints()->setMouseDoubleClickInterval(1);
        view->clearFocus();
        if (focusedBefore)
            view->setFocus(Qt::OtherFocusReason);
        const QRect item = view->visualRect(first);
        const QFontMetrics font(view->font());
        const int nameMiddle = item.bottom() - std::max(3, int(item.width() * 0.04)) - font.height() * 85 / 100
            - font.height() / 2 - 2;
        const QPoint at = onName ? QPoint(item.center().x(), nameMiddle) : item.center();
        if (!focusedBefore) // the press moves the keyboard here, as a real click does
            view->setFocus(Qt::MouseFocusReason);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
        QApplication::styleHints()->setMouseDoubleClickInterval(400);
        if (renames) {
            QTRY_VERIFY(view->findChild<QLineEdit *>(QStringLiteral("renameEditor")));
            QTest::keyClick(view->findChild<QLineEdit *>(QStringLiteral("renameEditor")), Qt::Key_Escape);
            return;
        }
        QVERIFY(!(view->editTriggers() & QAbstractItemView::SelectedClicked));
        QVERIFY(view->selectionModel()->isSelected(first));
    }

    void leavingTheCollageReloadsAndWatchesTheFolder()
    {
        mainvc *hub = contentHub();
        currentFolderURL = QUrl::fromLocalFile(lg::test::freshFolder(QStringLiteral("shown")));
        currentScreenMode = ScreenGrid;
        hub->btncollage->click();
        hub->stopMonitorWithSender();

        lg::test::CaptureStdout capture;
        hub->closeCollagevc();
        const QByteArray out = capture.finish();
        QVERIFY(out.contains("reload change\n"));
        QVERIFY(hub->monitor && hub->monitor->isValid());
    }

    void panelsStartInPicturesOnlyWhenItExists()
    {
        const QString home = lg::Paths::home();
        QCOMPARE(lg::Paths::picturesOrHome(), home);

        QString asked;
        lg::Panels::setOpenResponder([&asked](const lg::OpenPanelSpec &spec) {
            asked = spec.directory;
            return QList<QUrl>();
        });
        mainWindow()->showhomevc();
        homeScreen()->btnAddLibrary->click();
        lg::test::settle();
        lg::Panels::setOpenResponder({});
        QCOMPARE(asked, home);
        QVERIFY(!QFileInfo::exists(lg::Paths::pictures()));

        QVERIFY(QDir().mkpath(lg::Paths::pictures()));
        QCOMPARE(lg::Paths::picturesOrHome(), lg::Paths::pictures());
    }

    void savePanelsStartWhereTheCallerSays()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("saving"));
        const QString home = lg::Paths::home();
        Saver saver;
        const auto open = [&saver] { saver.showSavePanel([](const QSize &) { return QImage(); }, QSize(4, 4)); };
        saver.startFolder = folder;
        QCOMPARE(saveDirectory(open), folder);
        saver.startFolder = folder + QStringLiteral("/gone");
        QCOMPARE(saveDirectory(open), home);

        // The collage saves into the current folder.
        currentFolderURL = QUrl::fromLocalFile(folder);
        QCOMPARE(saveDirectory([] { collageMaker()->btnsave(); }), folder);
    }
};

LG_TEST(WalkFixesTest)
#include "test_walkfixes.moc"
