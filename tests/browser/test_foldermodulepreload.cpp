// A folder's first screen is followed by the loading, in the background, of
// the codec modules its files need, so that the first video opened waits for
// none; a folder of pictures Qt reads itself loads nothing. Every row starts
// with no module loaded.
#include "BrowserFixtures.h"
#include "browser/GridView.h"
#include "browser/ShownItemsModel.h"
#include "browser/thumbnailvc.h"
#include "platform/modules/ModulePreload.h"
#include "platform/modules/Modules.h"
#include "tests/support/Fixtures.h"

#include <QMutex>
#include <QThread>

#include <atomic>

using namespace browsertest;
using lg::image::Module;

class FolderModulePreloadTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        lg::image::setModuleFoldersForTesting({});
        thumbnailCache().clear();
    }
    void cleanup() { lg::image::setModuleLoadHookForTesting({}); }

    void aFolderHasItsModulesLoadedAfterItsFirstScreen_data()
    {
        QTest::addColumn<bool>("withVideo");
        QTest::newRow("pictures and a video") << true;
        QTest::newRow("pictures only") << false;
    }
    void aFolderHasItsModulesLoadedAfterItsFirstScreen()
    {
        QFETCH(bool, withVideo);
        const QString folder = lg::test::freshFolder(QStringLiteral("preload"));
        writeJpeg(folder + QStringLiteral("/a.jpg"), 320, 240);
        writeJpeg(folder + QStringLiteral("/b.jpg"), 320, 240, Qt::blue);
        if (withVideo
            && lg::test::fixtures::writeVideo(folder + QStringLiteral("/clip.mp4"),
                                              QStringLiteral("color=c=red:s=64x48:d=1"))
                   .isEmpty())
            QSKIP("ffmpeg is not installed");
        QVERIFY(!lg::image::moduleLoaded(Module::Player));

        // What each load saw: whether the first screen was drawn, and its thread.
        // The thumbnails of the video load its frame module themselves when
        // they need it; the player's module is loaded for nothing on screen.
        std::atomic<bool> firstScreen {false};
        QMutex mutex;
        QList<Module> loads;
        bool early = false, onMainThread = false;
        lg::image::setModuleLoadHookForTesting([&](Module module) {
            QMutexLocker lock(&mutex);
            loads << module;
            early = early || (module == Module::Player && !firstScreen);
            onMainThread = onMainThread || QThread::currentThread() == QCoreApplication::instance()->thread();
        });

        shownContent();
        thumbnailvc *grid = thumbnailGrid();
        grid->firsttime = false;
        GridView *view = grid->collectionview;
        ShownItemsModel *model = grid->itemsModel();
        QObject watch;
        QObject::connect(view, &GridView::painted, &watch, [&] {
            if (!isListingPending() && model->showsActiveList() && model->rowCount() > 0
                && view->lastPaintPending() == 0)
                firstScreen = true;
        });
        currentFolderURL = QUrl::fromLocalFile(folder);
        QVERIFY(reloadAndWait(grid));
        QTRY_VERIFY_WITH_TIMEOUT(firstScreen, 15000);

        if (withVideo) {
            // Nothing was opened: the player's module came by itself.
            QTRY_VERIFY_WITH_TIMEOUT(lg::image::moduleLoaded(Module::Player), 15000);
            QTRY_VERIFY(lg::image::moduleLoaded(Module::Video));
            QMutexLocker lock(&mutex);
            QVERIFY(loads.contains(Module::Player));
            QVERIFY(!early);
            QVERIFY(!onMainThread);
        } else {
            QTRY_VERIFY(!thumbnailCache().isWorking());
            QTest::qWait(200);
            QMutexLocker lock(&mutex);
            QVERIFY(loads.isEmpty());
            QVERIFY(!lg::image::moduleLoaded(Module::Player));
            QVERIFY(!lg::image::moduleLoaded(Module::Video));
        }
        currentFolderURL.reset();
    }
};

LG_TEST(FolderModulePreloadTest)
#include "test_foldermodulepreload.moc"
