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
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QUrl>

#include <csignal>
#include <ctime>
#include <sys/types.h>
#include <sys/wait.h>
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
        // A second one during the shutdown asks again instead of ending the
        // program in the middle of a write.
        struct sigaction now {};
        QCOMPARE(::sigaction(signalNumber, nullptr, &now), 0);
        QVERIFY(now.sa_handler != SIG_DFL);
        QCOMPARE(::kill(::getpid(), signalNumber), 0);
        QTRY_COMPARE(quit.count(), 2);
    }

    // The handler object goes early in the program's teardown: a repeat that
    // comes after it, while the rest of the teardown runs, is still only a
    // repeat (this very process would end otherwise).
    void aRepeatDuringTheRestOfTheTeardownIsStillOnlyARepeat()
    {
        {
            QuitSignals handler;
            QVERIFY(handler.isInstalled());
            QSignalSpy quit(&handler, &QuitSignals::quitRequested);
            QCOMPARE(::kill(::getpid(), SIGINT), 0);
            QTRY_COMPARE(quit.count(), 1);
        }
        QCOMPARE(::kill(::getpid(), SIGINT), 0);
        QTest::qWait(20);
        struct sigaction now {};
        QCOMPARE(::sigaction(SIGINT, nullptr, &now), 0);
        QVERIFY(now.sa_handler != SIG_DFL);
        // A new handler takes over as usual.
        QuitSignals again;
        QVERIFY(again.isInstalled());
        QSignalSpy quit(&again, &QuitSignals::quitRequested);
        QCOMPARE(::kill(::getpid(), SIGINT), 0);
        QTRY_COMPARE(quit.count(), 1);
    }

    // Only a repeat long after the first signal (a program stuck for good)
    // takes the default action; one within the grace does not. Each case in a
    // forked child that only sends itself the signals.
    void aRepeatEndsTheProgramOnlyAfterTheGrace_data()
    {
        QTest::addColumn<int>("graceMs");
        QTest::addColumn<bool>("killed");
        QTest::newRow("within the grace") << QuitSignals::defaultGraceMs << false;
        QTest::newRow("after the grace") << 0 << true;
    }
    void aRepeatEndsTheProgramOnlyAfterTheGrace()
    {
        QFETCH(int, graceMs);
        QFETCH(bool, killed);
        QuitSignals handler(nullptr, graceMs);
        QVERIFY(handler.isInstalled());
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            ::kill(::getpid(), SIGTERM);
            struct timespec pause {0, 2000000};
            ::nanosleep(&pause, nullptr);
            ::kill(::getpid(), SIGTERM);
            ::_exit(7);
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        if (killed) {
            QVERIFY(WIFSIGNALED(status));
            QCOMPARE(WTERMSIG(status), SIGTERM);
        } else {
            QVERIFY(WIFEXITED(status));
            QCOMPARE(WEXITSTATUS(status), 7);
        }
        // What the child's handler wrote reaches this process's pipe: drained here.
        QTest::qWait(20);
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

    // A quit of any kind while a question is open (each kind of question the
    // program asks without a "Cancel" button) closes it as its do-nothing
    // answer, does nothing the question was about, and ends the program within
    // the usual bound; a repeated signal does not cut the shutdown short. The
    // paste's "File already exists" and the Move to Trash question are the
    // real ones, asked by a paste over a file of the shown folder and by a
    // Move to Trash of its items; the others are asked with their own words
    // and buttons ("*" marks the answers that would act).
    void aQuitClosesAnOpenQuestionAsItsDoNothingAnswer_data()
    {
        QTest::addColumn<QString>("question");   // title|button|button..., or "paste" or "trash"
        QTest::addColumn<QString>("doNothing");
        QTest::addColumn<int>("way");            // a signal, or 0: the Quit command, -1: Ctrl+Q
        const struct
        {
            const char *name;
            const char *question;
            const char *doNothing;
        } questions[] = {
            {"already exists", "paste", "Stop"},
            {"trash", "trash", "No"},
            {"folder move", "Moving a folder into another folder will physically move the folder and all its "
                            "contents.|*Yes|No", "No"},
            {"save changes", "Save changes?|*Yes|No", "No"},
            {"stop adding", "Are you sure you want to Stop importing folders to view photos and videos?|*Yes|No", "No"},
        };
        const struct
        {
            const char *name;
            int way;
        } ways[] = {{"SIGTERM", SIGTERM}, {"SIGINT", SIGINT}, {"SIGHUP", SIGHUP}, {"Ctrl+Q", -1}, {"Quit", 0}};
        for (const auto &question : questions) {
            for (const auto &way : ways)
                QTest::addRow("%s, %s", question.name, way.name)
                    << QString::fromUtf8(question.question) << QString::fromLatin1(question.doNothing) << way.way;
        }
    }
    void aQuitClosesAnOpenQuestionAsItsDoNothingAnswer()
    {
        QFETCH(QString, question);
        QFETCH(QString, doNothing);
        QFETCH(int, way);
        constexpr int quitAfterMs = 600;
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        constexpr int quitBoundMs = 15000;
#else
        constexpr int quitBoundMs = 3000;
#endif
        const QString program = lg::test::applicationPath();
        QVERIFY2(QFileInfo(program).isExecutable(), qPrintable(program + QStringLiteral(" is not built")));
        static int run = 0;
        Child child(QStringLiteral("asking-%1").arg(++run));
        // What answering anything but the do-nothing button would act on.
        const QString acted = lg::test::writeFile(child.saved + QStringLiteral("/photo.jpg"), "picture");
        const bool paste = question == QLatin1String("paste");
        const bool trash = question == QLatin1String("trash");
        QProcessEnvironment environment = lg::test::childEnvironment(child.home);
        if (trash) {
            environment.insert(QStringLiteral("LG_TRASH_FOR_TESTING"), QStringLiteral("1"));
        } else if (paste) {
            // Pasted over the shown folder's photo.jpg: Replace or Make a Copy would change the folder.
            const QString elsewhere = child.home + QStringLiteral("/Elsewhere");
            QVERIFY(QDir().mkpath(elsewhere));
            environment.insert(QStringLiteral("LG_PASTE_FOR_TESTING"),
                               lg::test::writeFile(elsewhere + QStringLiteral("/photo.jpg"), "another picture"));
        } else {
            environment.insert(QStringLiteral("LG_ASK_FOR_TESTING"), question);
            environment.insert(QStringLiteral("LG_ASK_ACTS_ON_FOR_TESTING"), acted);
        }
        if (way == 0)
            environment.insert(QStringLiteral("LG_QUIT_AFTER_MS"), QString::number(quitAfterMs));
        if (way == -1)
            environment.insert(QStringLiteral("LG_PRESS_QUIT_KEY_AFTER_MS"), QString::number(quitAfterMs));
        child.process.setProcessEnvironment(environment);
        const bool real = paste || trash;
        child.process.start(program, real ? QStringList{child.saved} : QStringList());
        QVERIFY(child.process.waitForStarted(10000));
        QTRY_VERIFY2_WITH_TIMEOUT(child.output.contains("Asking"), child.output.constData(), 30000);
        const pid_t pid = pid_t(child.process.processId());
        QVERIFY(pid > 0);
        if (way > 0) {
            QCOMPARE(::kill(pid, way), 0);
            QTest::qWait(20);
            // A second one while the shutdown runs: it must not end the program by force.
            if (child.process.state() != QProcess::NotRunning)
                ::kill(pid, way);
        }
        QTRY_VERIFY2_WITH_TIMEOUT(child.process.state() == QProcess::NotRunning, child.output.constData(),
                                  quitBoundMs + (way > 0 ? 0 : quitAfterMs));
        child.output += child.process.readAll();
        QVERIFY2(child.process.exitStatus() == QProcess::NormalExit, child.output.constData());
        QCOMPARE(child.process.exitCode(), 0);
        if (!real) {
            QVERIFY2(child.output.contains("Answered " + doNothing.toUtf8()), child.output.constData());
            QCOMPARE(child.output.count("Answered"), 1);
        }
        QCOMPARE(lg::test::readAll(acted), QByteArray("picture"));
        QCOMPARE(QDir(child.saved).entryList(QDir::Files), QStringList{QStringLiteral("photo.jpg")});
        QCOMPARE(lg::test::savedRootsIn(child.settingsFile), std::optional<QStringList>(QStringList{child.saved}));
    }

    // A lost display (the X server gone at a logout or in a crash, xkill)
    // ends the program as SIGTERM does, within the same bound and with the
    // same exit status: a paste in the works stops and leaves nothing in the
    // folder, and the folder list is saved.
    void aLostDisplayEndsTheProgramAsSigtermDoes()
    {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        constexpr int quitBoundMs = 15000;
#else
        constexpr int quitBoundMs = 3000;
#endif
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        if (xvfb.isEmpty())
            QSKIP("Xvfb is not installed.");
        const QString program = lg::test::applicationPath();
        QVERIFY2(QFileInfo(program).isExecutable(), qPrintable(program + QStringLiteral(" is not built")));
        QProcess server;
        server.start(xvfb, {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
                            QStringLiteral("tcp"), QStringLiteral("-screen"), QStringLiteral("0"),
                            QStringLiteral("800x600x24")});
        QVERIFY(server.waitForStarted(10000));
        auto stopServer = qScopeGuard([&server] {
            server.kill();
            server.waitForFinished(5000);
        });
        QByteArray display;
        QTRY_VERIFY_WITH_TIMEOUT((display += server.readAllStandardOutput()).contains('\n'), 20000);
        display = display.trimmed();

        Child child(QStringLiteral("lost display"));
        const QString pasted = lg::test::writeFile(child.home + QStringLiteral("/Elsewhere/clip.mov"),
                                                   QByteArray(100000, 'c'));
        QProcessEnvironment environment = lg::test::childEnvironment(child.home);
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.insert(QStringLiteral("DISPLAY"), QStringLiteral(":") + QString::fromLatin1(display));
        environment.insert(QStringLiteral("LG_PASTE_FOR_TESTING"), pasted);
        environment.insert(QStringLiteral("LG_STALL_COPY_FOR_TESTING"), QStringLiteral("1"));
        child.process.setProcessEnvironment(environment);
        child.process.start(program, {child.saved});
        QVERIFY(child.process.waitForStarted(10000));
        QTRY_VERIFY2_WITH_TIMEOUT(child.output.contains("Copying"), child.output.constData(), 30000);

        server.kill();   // the display is gone
        QElapsedTimer sinceLost;
        sinceLost.start();
        QTRY_VERIFY2_WITH_TIMEOUT(child.process.state() == QProcess::NotRunning, child.output.constData(),
                                  quitBoundMs);
        child.output += child.process.readAll();
        qInfo("the program ended %lld ms after its display was lost", sinceLost.elapsed());
        QVERIFY2(child.process.exitStatus() == QProcess::NormalExit, child.output.constData());
        QVERIFY2(child.process.exitCode() == 0, child.output.constData());
        QCOMPARE(QDir(child.saved).entryList(QDir::Hidden | QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot),
                 QStringList{});
        QCOMPARE(lg::test::readAll(pasted).size(), 100000);
        QCOMPARE(lg::test::savedRootsIn(child.settingsFile), std::optional<QStringList>(QStringList{child.saved}));
    }

    // A question without a do-nothing button ("Keep" / "Remove"): only the
    // answer that acts does anything; the other leaves the file as it was.
    void onlyTheAnswerThatActsActs_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("removed");
        QTest::newRow("Keep") << QStringLiteral("Keep") << false;
        QTest::newRow("Remove") << QStringLiteral("Remove") << true;
    }
    void onlyTheAnswerThatActsActs()
    {
        QFETCH(QString, answer);
        QFETCH(bool, removed);
        const QString program = lg::test::applicationPath();
        QVERIFY2(QFileInfo(program).isExecutable(), qPrintable(program + QStringLiteral(" is not built")));
        Child child(QStringLiteral("answering-") + answer);
        const QString acted = lg::test::writeFile(child.saved + QStringLiteral("/leftover.jpg"), "picture");
        QProcessEnvironment environment = lg::test::childEnvironment(child.home);
        environment.insert(QStringLiteral("LG_ASK_FOR_TESTING"), QStringLiteral("A leftover was found.|Keep|*Remove"));
        environment.insert(QStringLiteral("LG_ASK_ACTS_ON_FOR_TESTING"), acted);
        environment.insert(QStringLiteral("LG_ANSWER_FOR_TESTING"), answer);
        child.process.setProcessEnvironment(environment);
        child.process.start(program, {});
        QVERIFY(child.process.waitForStarted(10000));
        QTRY_VERIFY2_WITH_TIMEOUT(child.output.contains("Answered"), child.output.constData(), 30000);
        QCOMPARE(::kill(pid_t(child.process.processId()), SIGTERM), 0);
        QVERIFY(child.process.waitForFinished(30000));
        child.output += child.process.readAll();
        QVERIFY2(child.output.contains("Answered " + answer.toUtf8()), child.output.constData());
        QCOMPARE(QFileInfo::exists(acted), !removed);
    }
};

LG_TEST(TestQuitSignals)
#include "test_quitsignals.moc"
