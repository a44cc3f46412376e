// Opening a video never holds the main thread while the FFmpeg and Qt
// Multimedia modules load for it: the loads run on a worker, the window keeps
// answering, its placeholder shows meanwhile, and the newest item asked for
// wins. Every test starts with no module loaded; the load hook stands in for
// a slow disk.
#include "app/Essentials.h"
#include "platform/modules/ModulePreload.h"
#include "platform/modules/Modules.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TestSupport.h"
#include "viewer/VideoPlayer.h"
#include "viewer/ViewerCanvas.h"
#include "tests/viewer/ViewerFixtures.h"
#include "viewer/viewimagevc.h"

#include <QMutex>
#include <QSemaphore>
#include <QThread>
#include <QTimer>

#include <atomic>

using namespace viewertest;
namespace fx = lg::test::fixtures;
using lg::image::Module;

namespace {

// Holds every module load (on whatever thread it runs) until the main
// thread's event loop has turned a few times, at most waitMs.
class SlowLoads
{
public:
    explicit SlowLoads(int waitMs = 5000)
    {
        lg::image::setModuleLoadHookForTesting([this, waitMs](Module module) {
            {
                QMutexLocker lock(&m_mutex);
                m_loads << module;
                if (QThread::currentThread() == QCoreApplication::instance()->thread())
                    m_onMainThread = true;
            }
            if (m_gate.tryAcquire(1, waitMs))
                m_gate.release();   // open for the loads after it
            else
                m_heldTheWindow = true;
        });
        m_ticker.setInterval(5);
        QObject::connect(&m_ticker, &QTimer::timeout, [this] {
            if (++m_ticks == 3)
                m_gate.release();
        });
    }
    ~SlowLoads() { lg::image::setModuleLoadHookForTesting({}); }

    // The window's timer starts now; the loads go on after its third tick.
    void startTicking() { m_ticker.start(); }
    bool heldTheWindow() const { return m_heldTheWindow; }
    bool ranOnMainThread()
    {
        QMutexLocker lock(&m_mutex);
        return m_onMainThread;
    }
    QList<Module> loads()
    {
        QMutexLocker lock(&m_mutex);
        return m_loads;
    }

private:
    QSemaphore m_gate;
    QTimer m_ticker;
    int m_ticks = 0;
    std::atomic<bool> m_heldTheWindow {false};
    QMutex m_mutex;
    QList<Module> m_loads;
    bool m_onMainThread = false;
};

} // namespace

class VideoLoadingTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        // Every module is loaded afresh (the libraries stay mapped).
        lg::image::setModuleFoldersForTesting({});
    }

    void theWindowAnswersWhileAVideosModulesLoad()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("slow"));
        const QString clip = fx::writeVideo(folder + QStringLiteral("/clip.mp4"),
                                            QStringLiteral("color=c=red:s=64x48:d=1"));
        if (clip.isEmpty())
            QSKIP("ffmpeg is not installed");
        QVERIFY(!lg::image::moduleLoaded(Module::Player));
        SlowLoads slow;
        slow.startTicking();
        itemList = {itemFor(clip, false)};
        selectedItemIndex = 0;
        viewimagevc *viewer = shownViewer();

        // Shown, and nothing loaded yet: the picture area stands in, no player.
        QCOMPARE(viewer->lblfilename->text(), QStringLiteral("clip.mp4"));
        QVERIFY(viewer->videoPlayer == nullptr);
        QVERIFY(viewer->avKitPlayer->isHidden());
        QVERIFY(!viewer->imgview->isHidden());

        QTRY_VERIFY_WITH_TIMEOUT(viewer->videoPlayer != nullptr, 15000);
        QVERIFY(!slow.heldTheWindow());
        QVERIFY(!slow.ranOnMainThread());
        QVERIFY(slow.loads().contains(Module::Player));
        QVERIFY(lg::image::moduleLoaded(Module::Video));
        QCOMPARE(viewer->playerItem, QUrl::fromLocalFile(clip));
        QVERIFY(!viewer->avKitPlayer->isHidden());
        QVERIFY(viewer->boxForImgview->isHidden());
        viewer->hide();
    }

    void aPictureChosenWhileAVideoLoadsStaysOnShow()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("newest"));
        const QString clip = fx::writeVideo(folder + QStringLiteral("/clip.mp4"),
                                            QStringLiteral("color=c=red:s=64x48:d=1"));
        if (clip.isEmpty())
            QSKIP("ffmpeg is not installed");
        const QString picture = writePicture(folder + QStringLiteral("/a.png"), {64, 48}, Qt::blue);
        SlowLoads slow;
        itemList = {itemFor(clip, false), itemFor(picture, true)};
        selectedItemIndex = 0;
        viewimagevc *viewer = shownViewer();
        selectedItemIndex = 1;
        viewer->showItem(QUrl::fromLocalFile(picture), true);
        slow.startTicking();

        // The video's modules are ready, and its late answer is dropped.
        QTRY_VERIFY_WITH_TIMEOUT(lg::image::moduleLoaded(Module::Player), 15000);
        QTRY_VERIFY(viewer->imgview->hasImage());
        QTest::qWait(200);
        QVERIFY(viewer->videoPlayer == nullptr);
        QVERIFY(viewer->avKitPlayer->isHidden());
        QCOMPARE(viewer->imgview->pictureKey(), picture);
        QCOMPARE(viewerItemURL.value_or(QUrl()), QUrl::fromLocalFile(picture));
        viewer->hide();
    }
};

LG_TEST(VideoLoadingTest)
#include "test_videoloading.moc"
