// Faults from a new user's walk: the view after leaving the collage, where
// panels start (and that starting them makes no folders), and alert widths.
#include "app/Essentials.h"
#include "app/homeVc.h"
#include "app/mainWindowController.h"
#include "app/mainvc.h"
#include "collage/collagevc.h"
#include "model/FolderMonitor.h"
#include "model/Saver.h"
#include "platform/Alert.h"
#include "platform/Panels.h"
#include "platform/Paths.h"
#include "tests/model/CaptureStdout.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QTest>
#include <QToolButton>

namespace {

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
    lg::Panels::setSaveResponder({});
    return asked;
}

} // namespace

class TestWalkFixes2 : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        resetSharedState();
        lg::Alert::setResponder([](const lg::AlertSpec &) { return 0; });
        lg::Alert::clearShownAlerts();
        QDir(lg::Paths::pictures()).removeRecursively();
    }
    void cleanupTestCase() { resetSharedState(); }

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
        saver.startFolder.clear();
        QCOMPARE(saveDirectory(open), home);

        // The collage saves into the current folder.
        currentFolderURL = QUrl::fromLocalFile(folder);
        QCOMPARE(saveDirectory([] { collageMaker()->btnsave(); }), folder);
    }
};

LG_TEST(TestWalkFixes2)
#include "test_walkfixes2.moc"
