// Termination signals quit the way the Quit command does: in the test program
// itself, and in the application started with a folder and then sent a signal
// (logout, Ctrl+C, a closed terminal), which must end cleanly with the folder
// list saved; killed outright, it keeps what was saved when the list changed.
#include "app/QuitSignals.h"
#include "tests/app/ChildApplication.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QUrl>

#include <csignal>
#include <sys/types.h>
#include <unistd.h>

namespace {

// The application in a home of its own: a later run with one folder saved.
struct Child
{
    QString home;
    QString settingsFile;
    QString saved;
    QProcess process;
    QByteArray output;

    explicit Child(const QString &name)
    {
        home = lg::test::freshFolder(name);
        for (const char *sub : {"/.config/lumengallery", "/.cache", "/.local/share", "/.local/state", "/.runtime"})
            QDir().mkpath(home + QLatin1String(sub));
        QFile::setPermissions(home + QStringLiteral("/.runtime"),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        saved = home + QStringLiteral("/Trip");
        QDir().mkpath(saved);
        settingsFile = home + QStringLiteral("/.config/lumengallery/lumengallery.json");
        const QJsonObject settings{{QStringLiteral("Firstrun"), 1},
                                   {QStringLiteral("startstatus"), false},
                                   {QStringLiteral("autocheckforupdate"), 2},
                                   {QStringLiteral("arrPaths"), QJsonArray{saved}}};
        lg::test::writeFile(settingsFile, QJsonDocument(settings).toJson());

        process.setProcessEnvironment(lg::test::childEnvironment(home));
        process.setProcessChannelMode(QProcess::MergedChannels);
        QObject::connect(&process, &QProcess::readyRead, &process, [this] { output += process.readAll(); });
    }
    ~Child()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
};

} // namespace

class TestQuitSignals : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void aSignalAsksForAQuitOnTheMainThread_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }
    void aSignalAsksForAQuitOnTheMainThread()
    {
        QFETCH(int, signalNumber);
        QuitSignals handler;
        QVERIFY(handler.isInstalled());
        QSignalSpy quit(&handler, &QuitSignals::quitRequested);
        QCOMPARE(::kill(::getpid(), signalNumber), 0);
        QVERIFY(quit.isEmpty());   // nothing runs inside the signal handler
        QTRY_COMPARE(quit.count(), 1);
        QCOMPARE(quit.first().first().toInt(), signalNumber);
        // A second one would end a program stuck before its quit.
        struct sigaction now {};
        QCOMPARE(::sigaction(signalNumber, nullptr, &now), 0);
        QVERIFY(now.sa_handler == SIG_DFL);
    }

    void aSignalIgnoredAtTheStartStaysIgnored()
    {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        struct sigaction before {};
        QCOMPARE(::sigaction(SIGHUP, &ignore, &before), 0);
        {
            QuitSignals handler;
            QVERIFY(handler.isInstalled());
            QSignalSpy quit(&handler, &QuitSignals::quitRequested);
            QCOMPARE(::kill(::getpid(), SIGHUP), 0);   // as under nohup: nothing happens
            QCoreApplication::processEvents();
            QTest::qWait(50);
            QVERIFY(quit.isEmpty());
        }
        struct sigaction now {};
        QCOMPARE(::sigaction(SIGHUP, &before, &now), 0);
        QVERIFY(now.sa_handler == SIG_IGN);   // and it is still ignored once the handler has gone
    }

    void oneHandlerAtATimeAndThePreviousHandlersComeBack()
    {
        struct sigaction before[3] {};
        for (int i = 0; i < 3; ++i)
            QCOMPARE(::sigaction(QuitSignals::handledSignals[i], nullptr, &before[i]), 0);
        {
            QuitSignals first;
            QuitSignals second;
            QVERIFY(first.isInstalled());
            QVERIFY(!second.isInstalled());
        }
        // The second one's end took nothing from the first; the first's end
        // put back what was there before.
        for (int i = 0; i < 3; ++i) {
            struct sigaction now {};
            QCOMPARE(::sigaction(QuitSignals::handledSignals[i], nullptr, &now), 0);
            QVERIFY(now.sa_handler == before[i].sa_handler);
        }
        QuitSignals again;
        QVERIFY(again.isInstalled());
    }

    void theApplicationKeepsItsFoldersWhenEnded_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGHUP") << int(SIGHUP);
        QTest::newRow("SIGKILL") << int(SIGKILL);
    }
    void theApplicationKeepsItsFoldersWhenEnded()
    {
        QFETCH(int, signalNumber);
        const QString program = lg::test::applicationPath();
        QVERIFY2(QFileInfo(program).isExecutable(), qPrintable(program + QStringLiteral(" is not built")));
        Child child(QStringLiteral("child-") + QString::fromLatin1(QTest::currentDataTag()));
        // Started with a folder from the file manager, which joins the folder
        // saved before.
        const QString handed = child.home + QStringLiteral("/Holiday");
        QVERIFY(QDir().mkpath(handed));
        QImage picture(16, 12, QImage::Format_RGB32);
        picture.fill(Qt::darkGreen);
        QVERIFY(picture.save(handed + QStringLiteral("/a.png")));
        child.process.start(program, {handed});
        QVERIFY(child.process.waitForStarted(10000));
        const QByteArray monitoring = "Monitoring " + QUrl::fromLocalFile(handed).toString().toUtf8();
        QTRY_VERIFY2_WITH_TIMEOUT(child.output.contains(monitoring), child.output.constData(), 30000);
        const QStringList expected{child.saved, handed};

        if (signalNumber == SIGKILL) {
            // No quit at all: the list was saved when the folder came in.
            QTRY_COMPARE_WITH_TIMEOUT(lg::test::savedRootsIn(child.settingsFile), std::optional<QStringList>(expected), 10000);
            QCOMPARE(::kill(pid_t(child.process.processId()), SIGKILL), 0);
            QVERIFY(child.process.waitForFinished(10000));
            QCOMPARE(child.process.exitStatus(), QProcess::CrashExit);
        } else {
            QCOMPARE(::kill(pid_t(child.process.processId()), signalNumber), 0);
            QVERIFY(child.process.waitForFinished(30000));
            QVERIFY2(child.process.exitStatus() == QProcess::NormalExit, child.output.constData());
            QCOMPARE(child.process.exitCode(), 0);
        }
        QCOMPARE(lg::test::savedRootsIn(child.settingsFile), std::optional<QStringList>(expected));
    }
};

LG_TEST(TestQuitSignals)
#include "test_quitsignals.moc"
