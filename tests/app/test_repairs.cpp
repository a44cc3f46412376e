// Repairs in the application shell: the one dark look of every window and
// dialog, the launch with files named on the command line, the information
// pane after the full-image layout and resizes before the hub first shows.
#include "app/AppDelegate.h"
#include "app/Essentials.h"
#include "app/FileHandover.h"
#include "app/Startup.h"
#include "app/homeVc.h"
#include "app/mainWindowController.h"
#include "app/mainvc.h"
#include "app/splitvc.h"
#include "browser/ShownItemsModel.h"
#include "controls/PopoverMaxTypeVC.h"
#include "controls/ZLFlatButton.h"
#include "outreach/StartupVc.h"
#include "platform/desktop/Alert.h"
#include "tests/outreach/LoopbackServer.h"
#include "browser/ViewController.h"
#include "platform/runtime/ControllerRegistry.h"
#include "platform/desktop/Settings.h"
#include "platform/runtime/Timer.h"
#include "sidebar/DropView.h"
#include "tests/support/TestSupport.h"
#include "viewer/viewimagevc.h"

#include <QColorDialog>
#include <QAbstractButton>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QResizeEvent>
#include <QSplitter>
#include <QToolTip>

namespace {

void settle()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

} // namespace

class RepairsTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { resetSharedState(); }
    void cleanup()
    {
        mainWindow()->setWindowState(Qt::WindowNoState);
        mainWindow()->hide();
    }
    void cleanupTestCase() { resetSharedState(); }

    void everyDialogDrawsLightTextOnDark_data()
    {
        QTest::addColumn<QString>("kind");
        for (const char *kind : {"message box", "file chooser", "colour panel", "menu", "main window"})
            QTest::newRow(kind) << QString::fromLatin1(kind);
    }
    void everyDialogDrawsLightTextOnDark()
    {
        QFETCH(QString, kind);
        applyApplicationLook();
        QFileDialog chooser;
        chooser.setOption(QFileDialog::DontUseNativeDialog);
        QMessageBox alert;
        QColorDialog colours;
        QMenu menu;
        const QHash<QString, QWidget *> widgets{{"message box", &alert}, {"file chooser", &chooser},
                                                {"colour panel", &colours}, {"menu", &menu}, {"main window", mainWindow()}};
        const QPalette pal = widgets.value(kind)->palette();
        for (auto [ground, ink] : {std::pair{QPalette::Window, QPalette::WindowText},
                                   std::pair{QPalette::Base, QPalette::Text},
                                   std::pair{QPalette::Button, QPalette::ButtonText}}) {
            QVERIFY2(pal.color(ground).lightnessF() < 0.3, qPrintable(pal.color(ground).name()));
            QVERIFY2(pal.color(ink).lightnessF() > 0.7, qPrintable(pal.color(ink).name()));
        }
        QVERIFY(QToolTip::palette().color(QPalette::ToolTipBase).lightnessF() < 0.3);
        QVERIFY(QToolTip::palette().color(QPalette::ToolTipText).lightnessF() > 0.7);
    }

    // The alert's icon and the hover hints are drawn in the dark look too.
    void alertIconsAndHintsAreDark_data()
    {
        QTest::addColumn<int>("style");
        QTest::newRow("informational") << int(lg::AlertSpec::Style::Informational);
        QTest::newRow("warning") << int(lg::AlertSpec::Style::Warning);
        QTest::newRow("critical") << int(lg::AlertSpec::Style::Critical);
    }
    void alertIconsAndHintsAreDark()
    {
        QFETCH(int, style);
        applyApplicationLook();
        QWidget window;
        window.resize(640, 420);
        window.show();
        lg::Alert::show(&window, {QStringLiteral("Title"), QString(), {}, lg::AlertSpec::Style(style)});
        auto *box = window.findChild<QMessageBox *>();
        QVERIFY(box);
        const QImage icon = box->iconPixmap().toImage();
        QVERIFY(!icon.isNull());
        // Nothing light but the text: no white highlights or light grounds.
        int light = 0;
        for (int y = 0; y < icon.height(); ++y)
            for (int x = 0; x < icon.width(); ++x)
                if (QColor c = icon.pixelColor(x, y); c.alpha() > 128 && c.lightnessF() > 0.8)
                    ++light;
        QCOMPARE(light, 0);
        lg::Alert::closeAll();

        PopoverMaxTypeVC hint;
        hint.setAnimates(false);
        hint.showHint(QStringLiteral("Add folders"), &window, Qt::BottomEdge);
        const QImage drawn = hint.grab().toImage();
        QVERIFY(QColor(drawn.pixel(drawn.width() / 2, drawn.height() - 4)).lightnessF() < 0.3);
        QVERIFY(hint.message->palette().color(QPalette::WindowText).lightnessF() > 0.7);
    }

    // Each of the program's alert texts, shown over the main window at its
    // minimum size: the sheet stays inside the window, its text wraps inside the
    // sheet and the whole of it shows.
    void alertTextsFitTheirSheetAtTheSmallestWindow_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("buttons");
        const QStringList ok{QStringLiteral("OK")}, yesNo{QStringLiteral("Yes"), QStringLiteral("No")};
        const QStringList clash{QStringLiteral("Replace"), QStringLiteral("Make a Copy"), QStringLiteral("Stop")};
        const QString none;
        QTest::newRow("folder to Trash") << QStringLiteral("Are you sure you want to move the selected Folder to Trash? All the items from within the folder will be deleted.") << none << yesNo;
        QTest::newRow("sub-folder") << QStringLiteral("Sub-folder cannot be removed") << QStringLiteral("The selected folder is not a Parent folder and cannot be removed from this tree structure. You can only remove the bookmarks you have added.") << ok;
        QTest::newRow("remove bookmark") << QStringLiteral("Remove bookmark?") << QStringLiteral("Are you sure you want to remove the selected bookmark?") << QStringList{QStringLiteral("OK"), QStringLiteral("Cancel")};
        QTest::newRow("name taken") << QStringLiteral("The name \u201CSummer holidays in the mountains, day trips\u201D is already taken. Please choose a different name.") << none << ok;
        QTest::newRow("rename error") << QStringLiteral("An error occurred while renaming file.") << none << ok;
        QTest::newRow("system folder") << QStringLiteral("You cannot rename System folders!") << none << ok;
        QTest::newRow("move folder") << QStringLiteral("Moving a folder into another folder will physically move the folder and all its contents to the destination folder. Are you sure you want to move the selected folder?") << none << yesNo;
        QTest::newRow("folder exists") << QStringLiteral("A folder with the same name already exists in the destination folder. Do you want to overwrite the destination folder?") << none << QStringList{QStringLiteral("Replace"), QStringLiteral("Keep both"), QStringLiteral("Cancel")};
        QTest::newRow("move items") << QStringLiteral("Are you sure you want to move the selected items to the destination folder?") << none << yesNo;
        QTest::newRow("file exists") << QStringLiteral("File already exists") << QStringLiteral("A file or folder with the same name already exists in the destination folder. Do you want to replace it with the one you have selected?") << clash;
        QTest::newRow("delete files") << QStringLiteral("Are you sure you want to delete the selected files? All the files will be physically deleted and moved to trash.") << none << yesNo;
        QTest::newRow("search results") << QStringLiteral("Adding new files to the current folder will remove the Search results. Do you want to continue?") << none << QStringList{QStringLiteral("No"), QStringLiteral("Yes")};
        QTest::newRow("copy or move") << QStringLiteral("You are draggng and dropping files to the seleced folder. Do you want to Copy or Move these files?") << none << QStringList{QStringLiteral("Copy"), QStringLiteral("Move"), QStringLiteral("Cancel")};
        QTest::newRow("outside home") << homeVc::rejectionMessage() << none << ok;
        QTest::newRow("stop adding") << QStringLiteral("Are you sure you want to Stop importing folders to view photos and videos?") << none << yesNo;
        QTest::newRow("already added") << QStringLiteral("Some of the folders can not be added because they are already added to the bookmark list.") << none << ok;
        QTest::newRow("not a folder") << DropView::notFolderMessage << none << ok;
        QTest::newRow("delete file") << QStringLiteral("Are you sure you want to delete the selected file? The selected file will be physically deleted and moved to trash.") << none << yesNo;
        QTest::newRow("save edit") << QStringLiteral("Save changes?") << QStringLiteral("Do you want to save a copy of this image with the changes you have selected?") << yesNo;
        QTest::newRow("collage") << QStringLiteral("Do you want to save the changes?") << QStringLiteral("Your changes will be lost if you don\u2019t save them.") << yesNo;
        QTest::newRow("Photos running") << QStringLiteral("Photos App is running.") << QStringLiteral("Please quit Photos App to continue adding Photos Library.") << QStringList{QStringLiteral("Quit & Retry"), QStringLiteral("Skip Photos Library")};
        QTest::newRow("Photos import") << QStringLiteral("Photos library import is not available") << QStringLiteral("Files cannot be imported into a Photos library on this system.") << ok;
        QTest::newRow("failed items") << QStringLiteral("Some items could not be processed.") << QStringLiteral("3 items could not be processed.\n\u201CIMG_20240612_184512_panorama_stitched_final.jpg\u201D: The item is no longer where it was copied or cut from.\n\u201CIMG_20240612_184513.jpg\u201D: Permission denied.\n\u201CTrip\u201D: The item was not wholly moved: 2 items that arrived or changed while they were moved stayed in \u201C/home/someone/Pictures/Trip\u201D: \u201CTrip/IMG_0001.jpg\u201D and \u201CTrip/IMG_0002.jpg\u201D. The copy is at \u201C/media/card/Trip\u201D; where an item of the same name is there too, that copy is the older one.") << ok;
        QTest::newRow("no file manager") << QStringLiteral("\u201CA folder with a rather long name for its photos\u201D could not be shown in the File Manager.") << QStringLiteral("No file manager is installed.") << ok;
        QTest::newRow("a path without blanks") << QStringLiteral("The picture could not be saved.") << QStringLiteral("/home/someone/Pictures/Holidays/2024/Mountains/IMG_20240612_184512_panorama_stitched.jpg: No space left on device") << ok;
    }
    void alertTextsFitTheirSheetAtTheSmallestWindow()
    {
        QFETCH(QString, title);
        QFETCH(QString, text);
        QFETCH(QStringList, buttons);
        applyApplicationLook();
        mainWindowController *window = mainWindow();
        window->resize(window->minimumSize());
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        lg::Alert::show(window, {title, text, buttons, lg::AlertSpec::Style::Informational});
        QMessageBox *box = window->findChild<QMessageBox *>();
        QVERIFY(box);
        QTRY_VERIFY(box->isVisible());
        QTest::qWait(50);   // the layout requests that follow the showing
        QVERIFY2(box->width() <= window->width() && box->height() <= window->height(),
                 qPrintable(QStringLiteral("%1 x %2").arg(box->width()).arg(box->height())));
        const QRect sheet = box->rect();
        for (auto [name, wanted] : {std::pair{"qt_msgbox_label", title}, std::pair{"qt_msgbox_informativelabel", text}}) {
            if (wanted.isEmpty())
                continue;
            auto *label = box->findChild<QLabel *>(QLatin1String(name));
            QVERIFY(label && label->isVisible());
            QCOMPARE(label->text().remove(QChar(0x200B)), wanted);   // all of it, nothing elided
            QVERIFY2(sheet.contains(label->geometry()), name);
            // Wrapped at the label's width, the text is no wider than the label
            // and no taller than it.
            const QRect needed = label->fontMetrics().boundingRect(QRect(0, 0, label->contentsRect().width(), 100000),
                                                                  Qt::TextWordWrap, label->text());
            QVERIFY2(needed.width() <= label->contentsRect().width(), name);
            QVERIFY2(needed.height() <= label->contentsRect().height(),
                     qPrintable(QStringLiteral("%1: %2 of %3 px shown").arg(QLatin1String(name))
                                    .arg(label->contentsRect().height()).arg(needed.height())));
        }
        for (QAbstractButton *button : box->buttons())
            QVERIFY2(sheet.contains(QRect(button->mapTo(box, QPoint()), button->size())), qPrintable(button->text()));
        lg::Alert::closeAll();
    }

    void filesNamedAtLaunchTakeThePlaceOfTheHomeScreen()
    {
        // A later run (the welcome screen was passed) started with a file.
        lg::Settings::setValue(firstRunKey, 1);
        lg::Settings::setValue(QStringLiteral("startstatus"), false);
        lg::Settings::setValue(QStringLiteral("autocheckforupdate"), 2);
        const QString file =
            lg::test::writeFile(lg::test::freshFolder(QStringLiteral("launch")) + QStringLiteral("/a.jpg"));
        lg::FakeClock clock;
        AppDelegate delegate;
        QStringList handedOver;
        delegate.fileHandover->handOver = [&](const QStringList &paths) { handedOver += paths; };

        scheduleLaunch(delegate, {file});
        settle();
        QVERIFY(delegate.appstart);
        // The hub takes the home screen's place at once, without waiting for
        // the batch to close.
        QCOMPARE(handedOver, QStringList{file});
        QCOMPARE(mainWindow()->contentViewController(), static_cast<QWidget *>(contentHub()));
        QVERIFY(mainWindow()->isVisible());
        QCOMPARE(int(currentScreenMode), int(ScreenGrid));
        clock.advance(0);  // the home screen never appeared: nothing hides the window
        QVERIFY(!openedFromFinder);
        QVERIFY(mainWindow()->isVisible());

        clock.advance(FileHandover::batchDelayMs);
        QCOMPARE(handedOver, QStringList{file});
        QVERIFY(mainWindow()->isVisible());

        // The home screen shown later (the sidebar emptied) stays up.
        mainWindow()->showhomevc();
        clock.advance(0);
        QVERIFY(mainWindow()->isVisible());
    }

    void leavingTheFullImageLayoutRestoresTheInformationPane_data()
    {
        QTest::addColumn<bool>("paneShown");
        QTest::addColumn<int>("from");
        QTest::newRow("hidden, from the grid") << false << int(ScreenGrid);
        QTest::newRow("shown, from the grid") << true << int(ScreenGrid);
        QTest::newRow("hidden, from the viewer") << false << int(ScreenViewer);
        QTest::newRow("shown, from the list") << true << int(ScreenList);
    }
    void leavingTheFullImageLayoutRestoresTheInformationPane()
    {
        QFETCH(bool, paneShown);
        QFETCH(int, from);
        mainWindowController *window = mainWindow();
        window->setContentViewController(contentHub());
        window->show();
        ViewController *content = contentController();
        if (from == ScreenList)
            content->showListView();
        else if (from == ScreenViewer)
            content->viewimage();
        QCOMPARE(int(currentScreenMode), from);
        QWidget *pane = content->splitview->widget(1);
        if (pane->isHidden() == paneShown)
            content->toggleInfoPane();

        contentHub()->btnfullimage();
        QCOMPARE(int(currentScreenMode), int(ScreenFullImage));
        QVERIFY(pane->isHidden());
        imageViewer()->closeViewer();
        QCOMPARE(pane->isHidden(), !paneShown);
        QCOMPARE(int(currentScreenMode), from);
    }

    void resizingBeforeTheHubShowsMakesNoScreen()
    {
        lg::FakeClock clock;
        mainWindowController *window = mainWindow();
        window->showhomevc();
        for (const QSize size : {QSize(900, 600), QSize(1000, 700)}) {
            window->resize(size);
            QResizeEvent event(size, window->size());
            QCoreApplication::sendEvent(window, &event);
        }
        clock.advance(1000);  // the end of the live resize
        QCOMPARE(int(currentScreenMode), int(ScreenHome));
        for (const char *name : {"ViewController", "viewimagevc", "collagevc", "mainvc"})
            QVERIFY2(!lg::ControllerRegistry::existing(QString::fromLatin1(name)), name);
    }

    void aNewsletterCodeCountsWhateverTheHttpStatus()
    {
        lg::Alert::setResponder([](const lg::AlertSpec &) { return 0; });
        lg::test::LoopbackServer server;
        server.respond("/wp-content/plugins/newsletter-api/add.php/", {500, "1", "application/json"});
        lg::Settings::setValue(QStringLiteral("deployment/newsletterEndpoint"), server.baseUrl());
        StartupVc *screen = welcomeScreen();
        screen->txtfield->setText(QStringLiteral("ann@mail.de"));
        screen->btnSubscribe();
        QTRY_COMPARE(lg::Alert::shownAlerts().size(), 1);
        QCOMPARE(lg::Alert::shownAlerts().first().title, QStringLiteral("Already Subscribed"));
        lg::Settings::remove(QStringLiteral("deployment/newsletterEndpoint"));
        lg::Alert::setResponder({});
    }

    void hiddenFoldersAndTheInfoLine_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("hidden");
        QTest::newRow("trailing slash") << "/a/.hidden/" << true;
        QTest::newRow("visible, slash") << "/a/b/" << false;
        QTest::newRow("parent step") << "/a/.x/.." << false;
    }
    void hiddenFoldersAndTheInfoLine()
    {
        QFETCH(QString, path);
        QFETCH(bool, hidden);
        QCOMPARE(isHiddenURL(QUrl::fromLocalFile(path)), hidden);

        // A mode outside 0 to 2 keeps the line that showed.
        InitialDirectory item = Metadata::init(QUrl::fromLocalFile(lg::test::writeFile(
            lg::test::freshFolder(QStringLiteral("info")) + QStringLiteral("/a.jpg"))));
        infoLineMode = 2;
        const QString date = ShownItemsModel::gridInfoLine(item, std::nullopt);
        QVERIFY(!date.isEmpty());
        infoLineMode = 7;
        QCOMPARE(ShownItemsModel::gridInfoLine(item, std::nullopt), date);
        infoLineMode = 0;
    }

    void layoutsHintsAndLimitsOfTheHub()
    {
        // A view pinned again, or in turn with another, fills the one cell.
        QWidget container;
        QWidget first;
        QWidget second;
        for (QWidget *view : {&first, &second, &first, &second})
            pinViewToContainerEdges(&container, view);
        auto *grid = qobject_cast<QGridLayout *>(container.layout());
        QVERIFY(grid);
        QCOMPARE(grid->rowCount(), 1);
        QCOMPARE(grid->count(), 2);

        // No window yet: no limit taken from the split view's own width.
        splitvc *split = splitController();
        split->resize(300, 200);
        split->viewDidAppear();
        QCOMPARE(split->item->maximumWidth(), QWIDGETSIZE_MAX);

        // The hub's and the viewer's hints stand on the same side of their buttons.
        mainWindowController *window = mainWindow();
        window->setContentViewController(contentHub());
        window->resize(1100, 700);
        window->show();
        contentController()->viewimage();
        viewimagevc *viewer = imageViewer();
        viewer->tooltipVc->setAnimates(false);
        viewer->mouseEntered(viewer->btnback);
        QCOMPARE(viewer->tooltipVc->shownEdge(), Qt::TopEdge);
        viewer->mouseExited(viewer->btnback);
    }
};

LG_TEST(RepairsTest)
#include "test_repairs.moc"
