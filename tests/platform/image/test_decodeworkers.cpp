// The decode workers: a picture made in a real worker, and stand-in decodes
// that hold more than their grant, never return, crash, or try to write and
// to reach the network; the quit ends a worker at once.
#include "platform/image/DecodeWorkers.h"
#include "platform/image/ImageSource.h"
#include "platform/image/VideoInfo.h"
#include "platform/modules/Modules.h"
#include "platform/runtime/Dispatch.h"
#include "tests/support/CaptureStdout.h"
#include "tests/support/Fixtures.h"
#include "tests/support/StandInWorkers.h"
#include "tests/support/TestSupport.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

using lg::test::markedPicture;

struct Opened
{
    explicit Opened(const QString &path) : fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC)) {}
    ~Opened() { ::close(fd); }
    int fd;
};

lg::image::WorkerReply thumbnailInWorker(const QString &path, qint64 grant, int timeLimitMs = 20000)
{
    lg::image::WorkerTask task;
    task.maxSide = 8;
    task.extension = QStringLiteral("png");
    const Opened file(path);
    return lg::image::decodeInWorker(task, file.fd, grant, timeLimitMs);
}

} // namespace

Q_DECLARE_METATYPE(lg::image::WorkerEnd)

class DecodeWorkersTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_folder;

private Q_SLOTS:
    void init() { lg::test::decodeInStandInWorkers(); }
    void cleanup() { lg::test::decodeHereAgain(); }

    void aThumbnailIsMadeInTheProgramsOwnWorker()
    {
        lg::image::setDecodeWorkerProgramForTesting({});
        QImage picture(800, 600, QImage::Format_RGB32);
        picture.fill(Qt::darkGreen);
        const QString path = m_folder.filePath(QStringLiteral("photo.jpg"));
        QVERIFY(picture.save(path, "jpeg"));
        const std::optional<QImage> thumbnail = lg::ImageSource(path).thumbnail(200);
        QVERIFY(thumbnail);
        QCOMPARE(thumbnail->size(), QSize(200, 150));
        QVERIFY(qGray(thumbnail->pixel(100, 75)) > 40);
        // It came from a worker, which waits for the next request.
        QVERIFY(!lg::image::decodeWorkerIds().isEmpty());
        QVERIFY(!lg::image::decodeWorkerIds().contains(::getpid()));
    }

    // Every kind of picture comes out of a worker as it comes out of a
    // decode in the program.
    void everyKindIsDecodedInAWorkerAsInTheProgram()
    {
        lg::image::setDecodeWorkerProgramForTesting({});
        const QList<lg::test::fixtures::Fixture> kinds = lg::test::fixtures::imageFormatSet(m_folder.filePath(QStringLiteral("kinds")));
        QVERIFY(kinds.size() > 10);
        for (const lg::test::fixtures::Fixture &kind : kinds) {
            lg::image::setDecodesInThisProcess(true);
            const std::optional<QImage> here = lg::ImageSource(kind.path).thumbnail(40);
            lg::image::setDecodesInThisProcess(false);
            const lg::ImageSource source(kind.path);
            const std::optional<QImage> there = source.thumbnail(40);
            QVERIFY2(here.has_value() == there.has_value(), qPrintable(kind.name));
            if (here) {
                QVERIFY2(here->size() == there->size(), qPrintable(kind.name));
                QCOMPARE(source.pixelSize(), lg::ImageSource(kind.path).pixelSize());
            }
        }
    }

    void aDecodeHoldsNoMoreThanItsGrant_data()
    {
        QTest::addColumn<int>("allocatedMB");
        QTest::addColumn<qint64>("grantMB");
        QTest::addColumn<lg::image::WorkerEnd>("end");
        QTest::newRow("within its grant") << 40 << qint64(64) << lg::image::WorkerEnd::Done;
        QTest::newRow("past its grant") << 300 << qint64(64) << lg::image::WorkerEnd::OverGrant;
        QTest::newRow("past a small grant by little") << 120 << qint64(8) << lg::image::WorkerEnd::OverGrant;
    }

    void aDecodeHoldsNoMoreThanItsGrant()
    {
        QFETCH(int, allocatedMB);
        QFETCH(qint64, grantMB);
        QFETCH(lg::image::WorkerEnd, end);
        const QString path = markedPicture(m_folder.path(), QStringLiteral("allocate %1").arg(allocatedMB));
        const lg::image::WorkerReply reply = thumbnailInWorker(path, grantMB << 20);
        QCOMPARE(reply.end, end);
        QCOMPARE(reply.image.isNull(), end != lg::image::WorkerEnd::Done);
        // The next request is served all the same.
        QCOMPARE(thumbnailInWorker(markedPicture(m_folder.path(), QStringLiteral("allocate 1")), 8 << 20).end,
                 lg::image::WorkerEnd::Done);
    }

    // A plain decode of a picture (an editor's, a collage's) that needs more
    // than its prediction is tried once more with a larger grant, as the
    // grid's thumbnails and the viewer's pictures are.
    void aPlainDecodePastItsPredictionIsTriedOnceMore_data()
    {
        QTest::addColumn<bool>("whole");   // image(), else thumbnail()
        QTest::newRow("a thumbnail") << false;
        QTest::newRow("the picture") << true;
    }
    void aPlainDecodePastItsPredictionIsTriedOnceMore()
    {
        QFETCH(bool, whole);
        // What the workers waiting hold is no room for the decode.
        lg::image::endIdleDecodeWorkers();
        const lg::ImageSource source(markedPicture(m_folder.path(), QStringLiteral("allocate 64")));
        QVERIFY(source.thumbnailDecodeBytes(0) < 8 << 20);
        const std::optional<QImage> made = whole ? source.image() : source.thumbnail(8);
        QVERIFY(made);
        QCOMPARE(made->size(), QSize(1, 1));
    }

    void aDecodeThatNeverReturnsEndsAtItsTime()
    {
        // Time passes a thousand times faster for the watchdog.
        QElapsedTimer real;
        real.start();
        lg::image::setDecodeClockForTesting([&real] { return real.elapsed() * 1000; });
        const lg::image::WorkerReply reply = thumbnailInWorker(markedPicture(m_folder.path(), QStringLiteral("hang")),
                                                               8 << 20, lg::image::thumbnailDecodeTimeLimitMs);
        QCOMPARE(reply.end, lg::image::WorkerEnd::TimedOut);
        QVERIFY(real.elapsed() < 5000);
    }

    void aCrashEndsTheRequestNotTheProgram()
    {
        const QList<pid_t> before = lg::image::decodeWorkerIds();
        QCOMPARE(thumbnailInWorker(markedPicture(m_folder.path(), QStringLiteral("crash")), 8 << 20).end,
                 lg::image::WorkerEnd::Crashed);
        // The worker that died is gone; a new one serves the next request.
        const lg::image::WorkerReply next = thumbnailInWorker(markedPicture(m_folder.path(), QStringLiteral("allocate 1")), 8 << 20);
        QCOMPARE(next.end, lg::image::WorkerEnd::Done);
        QCOMPARE(next.image.size(), QSize(1, 1));
        QVERIFY(lg::image::decodeWorkerIds().size() <= before.size() + 1);
    }

    void theQuitEndsADecodeAtOnce()
    {
        const QString path = markedPicture(m_folder.path(), QStringLiteral("hang"));
        std::atomic<int> end {-1};
        // The watchdog first looks at its clock once the worker has the request.
        std::atomic<bool> waiting {false};
        lg::image::setDecodeClockForTesting([&waiting] {
            waiting = true;
            return qint64(0);
        });
        std::thread decode([&] { end = int(thumbnailInWorker(path, 8 << 20).end); });
        QTRY_VERIFY(waiting.load());
        QElapsedTimer clock;
        clock.start();
        lg::beginShutdown();
        decode.join();
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(lg::image::WorkerEnd(end.load()), lg::image::WorkerEnd::Stopped);
    }

    // Where the system runs no code from memory files, a worker runs its
    // modules from the copies the program keeps, as the program itself does,
    // though it may write none: a picture that needs ImageMagick, which the
    // program never loads itself, is made in a worker all the same. The test
    // runs itself again in a process namespace where memory files may not
    // run code (vm.memfd_noexec=2).
    void whereMemoryFilesRunNoCodeAWorkerRunsItsModulesFromCopies()
    {
        const QByteArray inside = "LG_TEST_MEMORY_FILES_RUN_NO_CODE";
        if (qEnvironmentVariableIsEmpty(inside.constData())) {
            const QStringList wrapper = {QStringLiteral("--pid"), QStringLiteral("--fork"), QStringLiteral("--mount"),
                                         QStringLiteral("--mount-proc"), QStringLiteral("--"), QStringLiteral("sh"),
                                         QStringLiteral("-c"),
                                         QStringLiteral("echo 2 > /proc/sys/vm/memfd_noexec && exec \"$@\""),
                                         QStringLiteral("sh")};
            if (!lg::test::fixtures::run(QStringLiteral("unshare"), wrapper + QStringList {QStringLiteral("true")}))
                QSKIP("memory files cannot be kept from running code here");
            QProcess run;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QString::fromLatin1(inside), QStringLiteral("1"));
            run.setProcessEnvironment(environment);
            run.setProcessChannelMode(QProcess::MergedChannels);
            run.start(QStringLiteral("unshare"), wrapper + QStringList {QCoreApplication::applicationFilePath(),
                                                                        QString::fromLatin1(QTest::currentTestFunction())});
            QVERIFY(run.waitForFinished(120000));
            const QString said = QString::fromLocal8Bit(run.readAll());
            QVERIFY2(run.exitCode() == 0 && said.contains(QLatin1String("PASS   : DecodeWorkersTest::whereMemory")), qPrintable(said));
            return;
        }
        QVERIFY2(::syscall(SYS_memfd_create, "probe", 0x10U /* MFD_EXEC */) < 0, "memory files run code here");
        lg::image::setDecodeWorkerProgramForTesting({});
        const QString psd = lg::test::fixtures::convert(lg::test::fixtures::writeQtImage(m_folder.filePath(QStringLiteral("p.png")),
                                                                                         lg::test::fixtures::scene(QSize(64, 48)), "png"),
                                                        m_folder.filePath(QStringLiteral("picture.psd")));
        QVERIFY2(!psd.isEmpty(), "convert is not installed");
        lg::DecodeReport report;
        const std::optional<QImage> thumbnail = lg::ImageSource(psd).thumbnail(32, lg::ThumbnailUse::Shown, {}, &report);
        QVERIFY2(thumbnail, qPrintable(report.words));
        QCOMPARE(thumbnail->size(), QSize(32, 24));
        QVERIFY(!lg::image::moduleLoaded(lg::image::Module::Magick));
    }

    void aWorkerWritesNothingAndReachesNoNetwork()
    {
        const lg::image::WorkerReply reply =
            thumbnailInWorker(markedPicture(m_folder.path(), QStringLiteral("confinement")), 8 << 20);
        QCOMPARE(reply.end, lg::image::WorkerEnd::Done);
        QCOMPARE(reply.facts.colorModel, QStringLiteral("write network"));
        QVERIFY(!QFile::exists(QStringLiteral("/tmp/lumengallery-standin-written")));
    }

    // Two files whose streams begin alike, one with a header that claims a
    // smaller picture than its stream (refused), decoded side by side again
    // and again: what one decode asks of its stream is never the other's, in
    // workers and in a process that decodes several at once.
    void filesWhoseStreamsBeginAlikeAreDecodedEachAsItsOwn_data()
    {
        QTest::addColumn<bool>("inWorkers");
        QTest::newRow("in workers") << true;
        QTest::newRow("in one process") << false;
    }
    void filesWhoseStreamsBeginAlikeAreDecodedEachAsItsOwn()
    {
        QFETCH(bool, inWorkers);
        if (!lg::test::fixtures::hasTool(QStringLiteral("heif-enc")))
            QSKIP("heif-enc is not installed");
        lg::image::setDecodeWorkerProgramForTesting({});
        lg::image::setDecodesInThisProcess(!inWorkers);
        const QString honest = lg::test::fixtures::writeHeic(m_folder.filePath(QStringLiteral("honest.heic")),
                                                             lg::test::fixtures::scene(QSize(256, 128)));
        QVERIFY(!honest.isEmpty());
        const QString lying = lg::test::writeFile(m_folder.filePath(QStringLiteral("lying.heic")),
                                                  lg::test::fixtures::withIspe(lg::test::readAll(honest), QSize(128, 64)));
        // One thread decodes the honest file, three the other one.
        constexpr int rounds = 40;
        std::atomic<int> honestShown {0}, lyingShown {0};
        std::vector<std::thread> decodes;
        for (int thread = 0; thread < 4; ++thread) {
            decodes.emplace_back([&, thread] {
                for (int round = 0; round < rounds; ++round) {
                    if (lg::ImageSource(thread == 0 ? honest : lying).thumbnail(64, lg::ThumbnailUse::Cached))
                        ++(thread == 0 ? honestShown : lyingShown);
                }
            });
        }
        for (std::thread &decode : decodes)
            decode.join();
        QCOMPARE(honestShown.load(), rounds);
        QCOMPARE(lyingShown.load(), 0);
    }

    // A video's size, turn, length and names come out of a worker as out of
    // the program; one past the pixel limit gives none either way.
    void aVideoIsProbedInAWorkerAsInTheProgram_data()
    {
        QTest::addColumn<int>("rotation");
        QTest::addColumn<qint64>("pixelLimit");
        QTest::newRow("upright") << 0 << qint64(0);
        QTest::newRow("stored sideways") << 90 << qint64(0);
        QTest::newRow("past the pixel limit") << 0 << qint64(64 * 48 - 1);
    }
    void aVideoIsProbedInAWorkerAsInTheProgram()
    {
        QFETCH(int, rotation);
        QFETCH(qint64, pixelLimit);
        if (!lg::test::fixtures::hasTool(QStringLiteral("ffmpeg")))
            QSKIP("ffmpeg is not installed");
        lg::image::setDecodeWorkerProgramForTesting({});
        const QString path = lg::test::fixtures::writeVideo(
            m_folder.filePath(QStringLiteral("clip%1.mp4").arg(rotation)), QStringLiteral("color=c=red:s=64x48:r=10:d=2"),
            {"-c:v", "libx264", "-pix_fmt", "yuv420p", "-metadata", "creation_time=2024-05-01T10:20:30Z"});
        QVERIFY(!path.isEmpty());
        if (rotation)
            QVERIFY(lg::test::fixtures::setMp4Rotation(path, rotation));
        lg::VideoInfo::setFramePixelLimitForTesting(pixelLimit);
        lg::image::setDecodesInThisProcess(true);
        const std::optional<lg::VideoProbe> here = lg::VideoInfo::probe(path);
        lg::image::setDecodesInThisProcess(false);
        const std::optional<lg::VideoProbe> there = lg::VideoInfo::probe(path);
        lg::VideoInfo::setFramePixelLimitForTesting(0);
        // A worker read it, and waits for the next request.
        QVERIFY(!lg::image::decodeWorkerIds().isEmpty());
        QCOMPARE(there.has_value(), pixelLimit == 0);
        QCOMPARE(here.has_value(), there.has_value());
        if (!here)
            return;
        QCOMPARE(there->size, here->size);
        QCOMPARE(there->rotation, rotation);
        QCOMPARE(there->rotation, here->rotation);
        QCOMPARE(there->durationSeconds, here->durationSeconds);
        QCOMPARE(there->codec, QStringLiteral("h264"));
        QCOMPARE(there->codec, here->codec);
        QVERIFY(there->creationTime.startsWith(QStringLiteral("2024-05-01T10:20:30")));
        QCOMPARE(there->creationTime, here->creationTime);
    }

    // A probe that holds past its small grant, never returns or crashes
    // gives none and says why; the quit ends one at once.
    void aVideoProbeThatFailsGivesNoneAndSaysWhy_data()
    {
        QTest::addColumn<QString>("mark");
        QTest::addColumn<QString>("words");
        QTest::newRow("past its grant") << QStringLiteral("allocate 300")
                                        << QStringLiteral("its decode needs more than the 128 MB it may hold");
        QTest::newRow("never returns") << QStringLiteral("hang") << QStringLiteral("its decode ran past 5 seconds");
        QTest::newRow("crashes") << QStringLiteral("crash") << QStringLiteral("the decoder ended abnormally on it");
        QTest::newRow("the quit comes") << QStringLiteral("hang quit") << QString();
    }
    void aVideoProbeThatFailsGivesNoneAndSaysWhy()
    {
        QFETCH(QString, mark);
        QFETCH(QString, words);
        const QString path = lg::test::writeFile(m_folder.filePath(QString(mark).replace(QLatin1Char(' '), QLatin1Char('-')) + QStringLiteral(".mp4")),
                                                 "standin:" + mark.toLatin1() + '.');
        // Time passes a thousand times faster for the watchdog of one that
        // never returns; a quit comes once the worker has the request.
        const bool quit = mark.endsWith(QStringLiteral("quit"));
        const qint64 pace = mark == QStringLiteral("hang") ? 1000 : 1;
        QElapsedTimer real;
        real.start();
        lg::image::setDecodeClockForTesting([&real, quit, pace] {
            if (quit && !lg::isShuttingDown()) {
                real.restart();
                lg::beginShutdown();
            }
            return quit ? qint64(0) : real.elapsed() * pace;
        });
        lg::test::CaptureStdout output;
        const std::optional<lg::VideoProbe> probe = lg::VideoInfo::probe(path);
        const QByteArray said = output.finish();
        QVERIFY(!probe);
        QVERIFY2(real.elapsed() < 1000 * (quit ? 1 : 5), qPrintable(QString::number(real.elapsed())));
        if (!words.isEmpty())
            QVERIFY2(said.contains(QStringLiteral("The video %1 was not read: %2.").arg(path, words).toUtf8()), said.constData());
    }
};

LG_TEST(DecodeWorkersTest)
#include "test_decodeworkers.moc"
