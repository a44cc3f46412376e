// An animated GIF's frames come out of a decode worker as out of a decode in
// the program; a worker that holds past its grant, never returns or crashes
// in the middle of an animation leaves the frames it sent and words for the
// log, and one that lies about its frames is stopped.
#include "platform/image/AnimationFrames.h"
#include "platform/image/DecodeWorkers.h"
#include "platform/runtime/Dispatch.h"
#include "tests/support/Fixtures.h"
#include "tests/support/StandInWorkers.h"
#include "tests/support/TestSupport.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <thread>

using lg::test::markedGif;

Q_DECLARE_METATYPE(lg::DecodeEnd)

class AnimationFramesTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_folder;

private Q_SLOTS:
    void init() { lg::test::decodeInStandInWorkers(); }
    void cleanup() { lg::test::decodeHereAgain(); }

    // Frames drawn over the ones before them, with delays of their own and
    // none: the same pixels and delays from a worker as in the program.
    void anAnimationComesFromAWorkerAsFromTheProgram_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("tool");
        QTest::newRow("delays of its own") << QStringList {"-delay", "10", "-size", "16x12", "xc:red", "-delay", "30",
                                                           "xc:lime", "-delay", "0", "xc:blue", "-loop", "0"}
                                           << QStringLiteral("convert");
        QTest::newRow("drawn over the frames before") << QStringList {"-v", "error", "-f", "lavfi", "-i",
                                                                      "testsrc=s=64x48:r=10:d=3", "-y"}
                                                      << QStringLiteral("ffmpeg");
    }
    void anAnimationComesFromAWorkerAsFromTheProgram()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, tool);
        if (!lg::test::fixtures::hasTool(tool))
            QSKIP("the tool that makes the GIF is not installed");
        const QString path = m_folder.filePath(QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('-'))
                                               + QStringLiteral(".gif"));
        QCOMPARE(QProcess::execute(tool, arguments << path), 0);
        lg::image::setDecodeWorkerProgramForTesting({});
        lg::image::setDecodesInThisProcess(true);
        const lg::image::AnimationFrames here = lg::image::readAnimation(path);
        lg::image::setDecodesInThisProcess(false);
        lg::DecodeReport report;
        const lg::image::AnimationFrames there = lg::image::readAnimation(path, &report);
        QVERIFY(here.images.size() > 2);
        QCOMPARE(there.images.size(), here.images.size());
        QCOMPARE(there.delaysMs, here.delaysMs);
        QCOMPARE(there.totalSeconds, here.totalSeconds);
        for (qsizetype i = 0; i < here.images.size(); ++i)
            QVERIFY2(there.images.at(i) == here.images.at(i), qPrintable(QString::number(i)));
        QVERIFY(report.words.isEmpty());
        // It came from a worker, which waits for the next request.
        QVERIFY(!lg::image::decodeWorkerIds().isEmpty());
    }

    // The stand-in sends two frames, then holds past its grant, never
    // returns or crashes: the two frames stay, with words for the log.
    void anAnimationCutShortKeepsTheFramesThatCame_data()
    {
        QTest::addColumn<QString>("mark");
        QTest::addColumn<lg::DecodeEnd>("end");
        QTest::addColumn<QString>("words");
        QTest::newRow("past its grant") << QStringLiteral("allocate 400") << lg::DecodeEnd::OverGrant
                                        << QStringLiteral("its decode needs more than the");
        QTest::newRow("never returns") << QStringLiteral("hang") << lg::DecodeEnd::TimedOut
                                       << QStringLiteral("its decode ran past 20 seconds");
        QTest::newRow("crashes") << QStringLiteral("crash") << lg::DecodeEnd::Crashed
                                 << QStringLiteral("the decoder ended abnormally on it");
    }
    void anAnimationCutShortKeepsTheFramesThatCame()
    {
        QFETCH(QString, mark);
        QFETCH(lg::DecodeEnd, end);
        QFETCH(QString, words);
        // Time passes a thousand times faster for the watchdog of one that never returns.
        QElapsedTimer real;
        real.start();
        const qint64 pace = mark == QStringLiteral("hang") ? 1000 : 1;
        lg::image::setDecodeClockForTesting([&real, pace] { return real.elapsed() * pace; });
        lg::DecodeReport report;
        const lg::image::AnimationFrames frames = lg::image::readAnimation(markedGif(m_folder.path(), mark), &report);
        QCOMPARE(frames.images.size(), 2);
        QCOMPARE(frames.delaysMs, (QList<int> {100, 100}));
        QCOMPARE(report.end, end);
        QVERIFY2(report.words.startsWith(words), qPrintable(report.words));
        QVERIFY(real.elapsed() < 5000);
    }

    // A worker that sends frames without end, each claiming to show for a
    // million seconds, is stopped at the animation's bytes with delays a GIF
    // can hold; one that sends a frame of another size is stopped there.
    void aWorkerThatLiesAboutItsFramesIsStopped_data()
    {
        QTest::addColumn<QString>("mark");
        QTest::addColumn<int>("frames");
        QTest::addColumn<int>("longestDelay");
        QTest::addColumn<QString>("words");
        QTest::newRow("frames without end") << QStringLiteral("flood") << 32 << lg::image::longestAnimationFrameDelayMs
                                            << QString();
        QTest::newRow("a frame of another size") << QStringLiteral("oddsize") << 2 << 100
                                                 << QStringLiteral("its decoder gave a frame of another size");
    }
    void aWorkerThatLiesAboutItsFramesIsStopped()
    {
        QFETCH(QString, mark);
        QFETCH(int, frames);
        QFETCH(int, longestDelay);
        QFETCH(QString, words);
        lg::DecodeReport report;
        const lg::image::AnimationFrames read = lg::image::readAnimation(markedGif(m_folder.path(), mark), &report);
        QCOMPARE(read.images.size(), frames);
        QCOMPARE(*std::max_element(read.delaysMs.begin(), read.delaysMs.end()), longestDelay);
        QCOMPARE(report.words, words);
    }

    // The quit, and a caller giving the animation up, end a worker that
    // never returns at once.
    void theQuitOrTheCallerEndsAnAnimationAtOnce_data()
    {
        QTest::addColumn<bool>("quit");
        QTest::newRow("the quit") << true;
        QTest::newRow("the caller gives up") << false;
    }
    void theQuitOrTheCallerEndsAnAnimationAtOnce()
    {
        QFETCH(bool, quit);
        const QString path = markedGif(m_folder.path(), QStringLiteral("hang"));
        std::atomic<bool> waiting {false}, giveUp {false};
        lg::image::setDecodeClockForTesting([&waiting] {
            waiting = true;
            return qint64(0);
        });
        std::atomic<int> count {-1};
        std::thread decode([&] { count = int(lg::image::readAnimation(path, nullptr, &giveUp).images.size()); });
        QTRY_VERIFY(waiting.load());
        QElapsedTimer clock;
        clock.start();
        if (quit)
            lg::beginShutdown();
        else
            giveUp = true;
        decode.join();
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(count.load() <= 2);
    }
};

LG_TEST(AnimationFramesTest)
#include "test_animationframes.moc"
