// Quitting while a large folder is still being listed: the application (the
// real program, in a child process, with the folder saved and handed over at
// launch) is ended at many moments of the listing and of the work that follows
// it, through the Quit command and through each termination signal sent from
// outside. Every time it must end soon and cleanly, with nothing meant for the
// main thread run on another, and with its folder list saved.
#include "tests/app/ChildApplication.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QUrl>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <optional>
#include <sys/types.h>
#include <unistd.h>

namespace {

// Large enough that its listing takes a good part of a second on eight cores;
// its sub-folders keep the sidebar's scan busy meanwhile.
constexpr int folderSize = 100000;
constexpr int subFolders = 2000;
// How long a quit may take, from the request to the end of the process. The
// program takes well under a second; the sanitizers and a busy machine slow
// everything down several times.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int quitBoundMs = 15000;
#else
constexpr int quitBoundMs = 3000;
#endif

} // namespace

class TestQuitDuringWork : public QObject
{
    Q_OBJECT

    QString m_home;
    QString m_settingsFile;
    QString m_folder;
    qint64 m_slowestQuitMs = 0;
    int m_runs = 0;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QFileInfo(lg::test::applicationPath()).isExecutable(), qPrintable(lg::test::applicationPath() + QStringLiteral(" is not built")));
        m_home = lg::test::freshFolder(QStringLiteral("quit-home"));
        for (const char *sub : {"/.config/lumengallery", "/.cache", "/.local/share", "/.local/state", "/.runtime"})
            QVERIFY(QDir().mkpath(m_home + QLatin1String(sub)));
        QFile::setPermissions(m_home + QStringLiteral("/.runtime"),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        m_settingsFile = m_home + QStringLiteral("/.config/lumengallery/lumengallery.json");
        // Empty files named like pictures: what costs the listing is the count.
        m_folder = m_home + QStringLiteral("/Camera Roll");
        QVERIFY(QDir().mkpath(m_folder));
        for (int i = 0; i < folderSize; ++i) {
            const QByteArray path = QFile::encodeName(m_folder + QStringLiteral("/IMG_%1.jpg").arg(i, 6, 10, QLatin1Char('0')));
            const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
            QVERIFY2(fd >= 0, path.constData());
            ::close(fd);
        }
        for (int i = 0; i < subFolders; ++i)
            QVERIFY(QDir().mkdir(m_folder + QStringLiteral("/Event %1").arg(i, 4, 10, QLatin1Char('0'))));
    }

    void cleanupTestCase()
    {
        qInfo("%d quits, the slowest signal to end took %lld ms", m_runs, m_slowestQuitMs);
    }

    // Each way of quitting at its own spread of moments, the four spreads
    // interleaved: together they cover the first one and a half seconds after
    // the window shows, closer together early on, while the folder is listed.
    void quittingWhileTheFolderIsListedEndsCleanlyWithTheFoldersSaved_data()
    {
        QTest::addColumn<int>("signalNumber");   // 0: the Quit command
        QTest::addColumn<int>("delayMs");
        const struct
        {
            const char *name;
            int signalNumber;
        } ways[] = {{"Quit", 0}, {"SIGTERM", SIGTERM}, {"SIGINT", SIGINT}, {"SIGHUP", SIGHUP}};
        constexpr int moments = 8;
        for (int way = 0; way < 4; ++way) {
            for (int moment = 0; moment < moments; ++moment) {
                const double at = (moment + way / 4.0) / moments;   // 0 to 1, all 32 apart
                const int delay = 50 + int(1450 * at * at);
                QTest::addRow("%s at %d ms", ways[way].name, delay) << ways[way].signalNumber << delay;
            }
        }
    }
    void quittingWhileTheFolderIsListedEndsCleanlyWithTheFoldersSaved()
    {
        QFETCH(int, signalNumber);
        QFETCH(int, delayMs);
        // A later run with the folder saved, started from the file manager
        // with it: the window shows it and its listing begins.
        const QJsonObject settings{{QStringLiteral("Firstrun"), 1},
                                   {QStringLiteral("startstatus"), false},
                                   {QStringLiteral("autocheckforupdate"), 2},
                                   {QStringLiteral("arrPaths"), QJsonArray{m_folder}}};
        lg::test::writeFile(m_settingsFile, QJsonDocument(settings).toJson());

        QProcess process;
        QByteArray output;
        QProcessEnvironment environment = lg::test::childEnvironment(m_home);
        if (signalNumber == 0)
            environment.insert(QStringLiteral("LG_QUIT_AFTER_MS"), QString::number(delayMs));
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::MergedChannels);
        QObject::connect(&process, &QProcess::readyRead, &process, [&] { output += process.readAll(); });
        auto cleanup = qScopeGuard([&] {
            if (process.state() != QProcess::NotRunning) {
                process.kill();
                process.waitForFinished(5000);
            }
        });

        process.start(lg::test::applicationPath(), {m_folder});
        QVERIFY(process.waitForStarted(10000));
        QElapsedTimer sinceQuit;
        if (signalNumber == 0) {
            // The Quit command comes delayMs after the launch sequence has
            // shown the window.
            sinceQuit.start();
            QVERIFY2(process.waitForFinished(delayMs + quitBoundMs + 20000), output.constData());
        } else {
            const QByteArray monitoring = "Monitoring " + QUrl::fromLocalFile(m_folder).toString().toUtf8();
            QTRY_VERIFY2_WITH_TIMEOUT(output.contains(monitoring), output.constData(), 30000);
            // The moment itself is what is under test: the child runs on its
            // own clock meanwhile.
            QTest::qWait(delayMs);
            QCOMPARE(::kill(pid_t(process.processId()), signalNumber), 0);
            sinceQuit.start();
            QVERIFY2(process.waitForFinished(quitBoundMs), output.constData());
            m_slowestQuitMs = std::max(m_slowestQuitMs, sinceQuit.elapsed());
        }
        output += process.readAll();
        ++m_runs;

        QVERIFY2(process.exitStatus() == QProcess::NormalExit, output.constData());
        QCOMPARE(process.exitCode(), 0);
        // Widget code run on a worker makes Qt say so before it crashes.
        QVERIFY2(!output.contains("different thread") && !output.contains("from another thread"), output.constData());
        QCOMPARE(lg::test::savedRootsIn(m_settingsFile), std::optional<QStringList>(QStringList{m_folder}));
    }
};

LG_TEST(TestQuitDuringWork)
#include "test_quitduringwork.moc"
