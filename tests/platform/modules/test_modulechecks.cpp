// What a module file must be before any of its code runs, and what the log
// and the window say of one that is refused: tried on a small program that
// loads modules as the program does (helper/moduleshelper.cpp), given
// damaged, foreign, linked or rewritten modules.
#include "tests/platform/modules/ModulesTesting.h"

#include "ModuleBuild.h"

#include <QtTest>

using namespace modulestest;
using lg::image::Module;

class ModuleChecksTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // A module that would end the program, or run in a program of another
    // build, or is not the file this build made whatever its note says, is
    // refused before any of its code runs (its constructor included); the
    // program goes on.
    void aModuleThatCannotBeTrustedIsRefusedBeforeItRuns_data()
    {
        QTest::addColumn<QString>("module");
        QTest::addColumn<QString>("shape");      // how it is put or changed in the folder
        QTest::addColumn<qint64>("keptBytes");   // -1: all
        QTest::addColumn<QString>("logged");     // in the reason; empty: loaded
        QTest::addColumn<QString>("told");
        const QString real = realModules + QStringLiteral("/lumengallery_heif.so");
        const QString damaged = QStringLiteral("The HEIC module of this version is damaged.");
        const QString notMade = QStringLiteral(" is damaged: what it loads is not what this build made");
        QTest::newRow("cut to half") << real << QString() << QFileInfo(real).size() / 2 << QStringLiteral(" is damaged: ")
                                     << damaged;
        QTest::newRow("cut after its header") << real << QString() << qint64(200) << QStringLiteral(" is damaged: ")
                                              << damaged;
        QTest::newRow("4 KB of zeros in its code") << real << QStringLiteral("zero code") << qint64(-1) << notMade
                                                   << damaged;
        QTest::newRow("its dynamic section zeroed") << real << QStringLiteral("zero dynamic") << qint64(-1) << notMade
                                                    << damaged;
        QTest::newRow("its string table pointed outside it") << real << QStringLiteral("string table elsewhere")
                                                             << qint64(-1) << notMade << damaged;
        QTest::newRow("a foreign file with this build's note") << stubModule("foreign") << QString() << qint64(-1)
                                                               << notMade << damaged;
        QTest::newRow("a symbol missing") << stubModule("missingsymbol") << QString() << qint64(-1)
                                          << QStringLiteral("undefined symbol: lumengallery_function_nobody_defines")
                                          << QStringLiteral("a library it needs is missing");
        QTest::newRow("a FIFO") << QString() << QStringLiteral("fifo") << qint64(-1)
                                << QStringLiteral("lumengallery_heif.so is not a file") << damaged;
        QTest::newRow("another build") << stubModule("otherbuild") << QString() << qint64(-1)
                                       << QStringLiteral(" is of build 0.9.0+0123456789abcdef, this program of build " LG_MODULE_BUILD_ID)
                                       << QStringLiteral("belongs to another version of Lumen Gallery.");
        QTest::newRow("a link out of its folder") << stubModule("good") << QStringLiteral("link out") << qint64(-1)
                                                  << QStringLiteral(", outside the module folder")
                                                  << QStringLiteral("The HEIC module is a link to a file outside its folder, so it is not used.");
        QTest::newRow("a link to a link out of its folder") << stubModule("good") << QStringLiteral("link twice")
                                                           << qint64(-1) << QStringLiteral(", outside the module folder")
                                                           << QStringLiteral("is a link to a file outside its folder");
        QTest::newRow("a link loop") << stubModule("good") << QStringLiteral("link loop") << qint64(-1)
                                     << QStringLiteral("lumengallery_heif.so is a link that leads round in a loop")
                                     << QStringLiteral("The HEIC module is a link that leads round in a loop, so it is not used.");
        QTest::newRow("its build note cut short") << stubModule("good") << QStringLiteral("note cut") << qint64(-1)
                                                  << QStringLiteral(" is damaged: its build note is cut short or damaged")
                                                  << damaged;
        QTest::newRow("its build note damaged") << stubModule("good") << QStringLiteral("note damaged") << qint64(-1)
                                                << QStringLiteral(" is damaged: its build note is cut short or damaged")
                                                << damaged;
        QTest::newRow("larger than any the build makes") << stubModule("good") << QString() << (qint64(512) << 20)
                                                         << QStringLiteral("larger than any module this build makes")
                                                         << damaged;
        QTest::newRow("of this build") << stubModule("good") << QString() << qint64(-1) << QString() << QString();
        QTest::newRow("a link within its folder") << stubModule("good") << QStringLiteral("link within") << qint64(-1)
                                                  << QString() << QString();
    }

    void aModuleThatCannotBeTrustedIsRefusedBeforeItRuns()
    {
        QFETCH(QString, module);
        QFETCH(QString, shape);
        QFETCH(qint64, keptBytes);
        QFETCH(QString, logged);
        QFETCH(QString, told);
        const QString root = freshFolder(QStringLiteral("refused"));
        const QString program = installHelper(root, module);
        QVERIFY(!program.isEmpty());
        const QString folder = root + QStringLiteral("/lib/lumengallery");
        const QString installed = folder + QStringLiteral("/lumengallery_heif.so");
        const QByteArray installedBytes = QFile::encodeName(installed);
        if (shape == QLatin1String("fifo"))
            QCOMPARE(::mkfifo(installedBytes.constData(), 0644), 0);
        if (shape.startsWith(QLatin1String("zero ")) || shape == QLatin1String("string table elsewhere"))
            QVERIFY(damageModule(installed, shape));
        if (shape.startsWith(QLatin1String("note ")))
            QVERIFY(damageModule(installed, shape));
        if (shape == QLatin1String("link loop")) {
            QVERIFY(QFile::remove(installed));
            QCOMPARE(::symlink("loop.so", installedBytes.constData()), 0);
            QCOMPARE(::symlink("lumengallery_heif.so", QFile::encodeName(folder + QStringLiteral("/loop.so")).constData()), 0);
        } else if (shape.startsWith(QLatin1String("link"))) {
            // The module itself moves, and a link takes its place.
            const QString elsewhere = shape == QLatin1String("link within") ? folder : root + QStringLiteral("/elsewhere");
            QVERIFY(makeFolder(elsewhere));
            const QString target = elsewhere + QStringLiteral("/lumengallery_heif.so.1");
            QVERIFY(QFile::rename(installed, target));
            if (shape == QLatin1String("link twice")) {
                QCOMPARE(::symlink("../../elsewhere/lumengallery_heif.so.1",
                                   QFile::encodeName(folder + QStringLiteral("/lumengallery_heif.so.1")).constData()), 0);
                QCOMPARE(::symlink("lumengallery_heif.so.1", installedBytes.constData()), 0);
            } else {
                const QString text = shape == QLatin1String("link within") ? QStringLiteral("lumengallery_heif.so.1") : target;
                QCOMPARE(::symlink(QFile::encodeName(text).constData(), installedBytes.constData()), 0);
            }
        }
        if (keptBytes >= 0)
            QVERIFY(QFile::resize(installed, keptBytes));
        const QString marker = root + QStringLiteral("/its code ran");
        Helper helper;
        QVERIFY(helper.start(program, root, marker));

        const QStringList answer = helper.ask(QStringLiteral("heif ") + program);
        const QStringList lines = heifLines(answer);
        // A load that fails here is a refusal, never a reason to load another way.
        for (const QString &line : logLines(answer))
            QVERIFY2(!line.contains(QLatin1String("memory files")), qPrintable(line));
        if (logged.isEmpty()) {
            QCOMPARE(joined(lines), QStringLiteral("heif 4321x1"));
            QVERIFY(QFileInfo::exists(marker));
            return;
        }
        QVERIFY2(lines.size() == 2, qPrintable(joined(lines)));
        QVERIFY2(lines[0].startsWith(QLatin1String("problem HEIC and AVIF pictures cannot be shown | ")) && lines[0].contains(told),
                 qPrintable(lines[0]));
        QVERIFY2(lines[1].startsWith(QLatin1String("heif none: ")) && lines[1].contains(logged), qPrintable(lines[1]));
        QVERIFY2(!QFileInfo::exists(marker), "the refused module's code ran");
        // Still running, and asked again, it does not try again.
        QCOMPARE(joined(helper.ask(QStringLiteral("heif ") + program)), lines[1]);
    }

    // An install that writes over the module file in place (as cmake's does)
    // while the program runs changes the very file the program holds open:
    // what it then reads is not the build's, and is refused, not run.
    void aModuleRewrittenInPlaceWhileRunningIsNotRun()
    {
        const QString root = freshFolder(QStringLiteral("in-place"));
        const QString program = installHelper(root, realModules + QStringLiteral("/lumengallery_heif.so"));
        QVERIFY(!program.isEmpty());
        Helper helper;
        QVERIFY(helper.start(program, root));
        QVERIFY(damageModule(root + QStringLiteral("/lib/lumengallery/lumengallery_heif.so"), QStringLiteral("zero code")));

        const QStringList lines = heifLines(helper.ask(QStringLiteral("heif ") + program));
        QVERIFY2(lines.size() == 2, qPrintable(joined(lines)));
        QVERIFY2(lines[0].contains(QLatin1String("The HEIC module of this version is damaged.")), qPrintable(lines[0]));
        QVERIFY2(lines[1].contains(QLatin1String("what it loads is not what this build made")), qPrintable(lines[1]));
        QCOMPARE(helper.ask(QStringLiteral("maps")), QStringList());
    }

    // The module was not there when the program started; the update brings
    // one of its own build, which this program cannot use: it asks for a restart.
    void anUpdateAsksForARestartWhenItsModuleCannotBeReached()
    {
        const QString root = freshFolder(QStringLiteral("restart"));
        const QString program = installHelper(root, QString());
        QVERIFY(!program.isEmpty());
        Helper helper;
        QVERIFY(helper.start(program, root));
        QVERIFY(replaceByRename(QStringLiteral(LG_MODULES_HELPER), program));
        QVERIFY(replaceByRename(stubModule("otherbuild"), root + QStringLiteral("/lib/lumengallery/lumengallery_heif.so")));

        const QStringList lines = heifLines(helper.ask(QStringLiteral("heif ") + program));
        QVERIFY2(lines.size() == 2, qPrintable(joined(lines)));
        QCOMPARE(lines[0], QStringLiteral("problem HEIC and AVIF pictures cannot be shown | Lumen Gallery was updated while "
                                          "it was running, and the HEIC module of the running version can no longer be "
                                          "used. Restart Lumen Gallery to show them."));
        QVERIFY2(lines[1].startsWith(QLatin1String("heif none: ")), qPrintable(lines[1]));
    }

    // A module whose links a tool rewrote after the build (patchelf, as some
    // packagers run it) is said to have been changed after it was built, not
    // to be damaged, and no reinstall is offered: one brings the same file back.
    void aModuleChangedAfterItWasBuiltIsSaidSo_data()
    {
        QTest::addColumn<QStringList>("patch");
        QTest::newRow("patchelf --set-rpath") << QStringList {QStringLiteral("--set-rpath"), QStringLiteral("/opt/lumengallery/lib")};
        QTest::newRow("patchelf --add-needed") << QStringList {QStringLiteral("--add-needed"), QStringLiteral("libm.so.6")};
    }

    void aModuleChangedAfterItWasBuiltIsSaidSo()
    {
        QFETCH(QStringList, patch);
        if (!hasTool(QStringLiteral("patchelf")))
            QSKIP("patchelf is not installed");
        const QString root = freshFolder(QStringLiteral("patched"));
        const QString program = installHelper(root, stubModule("good"));
        QVERIFY(!program.isEmpty());
        const QString installed = root + QStringLiteral("/lib/lumengallery/lumengallery_heif.so");
        QString error;
        QVERIFY2(run(QStringLiteral("patchelf"), patch << installed, &error), qPrintable(error));
        QVERIFY(readAll(installed) != readAll(stubModule("good")));
        Helper helper;
        QVERIFY(helper.start(program, root));

        const QStringList lines = heifLines(helper.ask(QStringLiteral("heif ") + program));
        QVERIFY2(lines.size() == 2, qPrintable(joined(lines)));
        QCOMPARE(lines[0], QStringLiteral("problem HEIC and AVIF pictures cannot be shown | The HEIC module was changed "
                                          "after it was built, so it is not used."));
        QVERIFY2(lines[1].startsWith(QLatin1String("heif none: ")) && lines[1].contains(QLatin1String(" was changed after it was built")),
                 qPrintable(lines[1]));
    }

    // A module written over in place while it is read (an install under way),
    // even with the same bytes, is said to have changed while it was read,
    // never to be damaged.
    void aModuleRewrittenWhileItIsReadIsSaidToHaveChanged()
    {
        const QString root = freshFolder(QStringLiteral("rewritten"));
        const QString program = installHelper(root, stubModule("good"));
        QVERIFY(!program.isEmpty());
        const QString installed = root + QStringLiteral("/lib/lumengallery/lumengallery_heif.so");
        Helper helper;
        QVERIFY(helper.start(program, root));
        QCOMPARE(helper.ask(QStringLiteral("rewrite ") + stubModule("good") + QLatin1Char('\t') + installed),
                 QStringList {QStringLiteral("rewrite set")});

        const QStringList lines = heifLines(helper.ask(QStringLiteral("heif ") + program));
        QVERIFY2(lines.size() == 2, qPrintable(joined(lines)));
        QCOMPARE(lines[0], QStringLiteral("problem HEIC and AVIF pictures cannot be shown | The HEIC module changed while "
                                          "it was being read, so it is not used. Restarting Lumen Gallery may help."));
        QVERIFY2(lines[1].startsWith(QLatin1String("heif none: ")) && lines[1].contains(QLatin1String("changed while it was being read")),
                 qPrintable(lines[1]));
    }
};

LG_TEST(ModuleChecksTest)
#include "test_modulechecks.moc"
