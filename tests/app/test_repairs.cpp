// Repairs in the application shell: the one dark look of every window and
// dialog, the launch with files named on the command line, the information
// pane after the full-image layout and resizes before the hub first shows.
#include "app/AppDelegate.h"
#include "app/Essentials.h"
#include "app/FileHandover.h"
#include "app/Startup.h"
#include "app/mainWindowController.h"
#include "app/mainvc.h"
#include "browser/ViewController.h"
#include "platform/ControllerRegistry.h"
#include "platform/Settings.h"
#include "platform/Timer.h"
#include "tests/support/TestSupport.h"
#include "viewer/viewimagevc.h"

#include <QColorDialog>
#include <QFileDialog>
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
        std::unique_ptr<QWidget> made;
        QWidget *widget = nullptr;
        if (kind == QLatin1String("message box")) {
            made = std::make_unique<QMessageBox>(QMessageBox::Warning, QStringLiteral("t"), QStringLiteral("x"));
        } else if (kind == QLatin1String("file chooser")) {
            auto *dialog = new QFileDialog;
            dialog->setOption(QFileDialog::DontUseNativeDialog);
            made.reset(dialog);
        } else if (kind == QLatin1String("colour panel")) {
            made = std::make_unique<QColorDialog>();
        } else if (kind == QLatin1String("menu")) {
            made = std::make_unique<QMenu>();
        } else {
            widget = mainWindow();
        }
        if (!widget)
            widget = made.get();
        const QPalette pal = widget->palette();
        for (auto [ground, ink] : {std::pair{QPalette::Window, QPalette::WindowText},
                                   std::pair{QPalette::Base, QPalette::Text},
                                   std::pair{QPalette::Button, QPalette::ButtonText}}) {
            QVERIFY2(pal.color(ground).lightnessF() < 0.3, qPrintable(pal.color(ground).name()));
            QVERIFY2(pal.color(ink).lightnessF() > 0.7, qPrintable(pal.color(ink).name()));
        }
        QVERIFY(QToolTip::palette().color(QPalette::ToolTipBase).lightnessF() < 0.3);
        QVERIFY(QToolTip::palette().color(QPalette::ToolTipText).lightnessF() > 0.7);
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
        QCOMPARE(int(currentScreenMode), int(ScreenHome));
        clock.advance(0);  // the home screen has appeared
        QVERIFY(!openedFromFinder);
        QVERIFY2(!mainWindow()->isVisible(), "the home screen stays up while the files wait");

        clock.advance(FileHandover::batchDelayMs);
        QCOMPARE(handedOver, QStringList{file});
        QCOMPARE(mainWindow()->contentViewController(), static_cast<QWidget *>(contentHub()));
        QVERIFY(mainWindow()->isVisible());
        QCOMPARE(int(currentScreenMode), int(ScreenGrid));
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
};

LG_TEST(RepairsTest)
#include "test_repairs.moc"
