// What is loaded of a module is the bytes that were checked, by a name other
// processes can open: a sealed memory copy, or where the system refuses to
// run code from memory files, a file copy in a folder only the user may change.
#include "tests/platform/modules/ModulesTesting.h"

#include <QtTest>

#include <sys/stat.h>

using namespace modulestest;
using lg::image::Module;

class ModuleCopyTest : public QObject
{
    Q_OBJECT

private:
    QString m_folder;
    QString m_dng;

private Q_SLOTS:
    void initTestCase()
    {
        m_folder = freshFolder(QStringLiteral("modules"));
        DngSpec spec;
        spec.picture = quadrants(QSize(60, 40));
        spec.previewSize = QSize(30, 20);
        const QString preview = writeJpeg(QDir(m_folder).filePath(QStringLiteral("preview.jpg")),
                                          spec.picture.scaled(spec.previewSize));
        spec.previewJpeg = readAll(preview);
        m_dng = writeDng(QDir(m_folder).filePath(QStringLiteral("r.dng")), spec);
    }

    // The module is loaded by a name that another process, such as a
    // debugger or a profiler, can open while the program runs, and that holds
    // the bytes that were checked: never /proc/self/..., which names the
    // opener's own handles. Where the system refuses to run code from memory
    // files, that is a file copy in a folder only the user may change.
    void theLoadedModuleHasANameOthersCanOpen_data()
    {
        QTest::addColumn<bool>("memoryRefused");
        QTest::newRow("sealed memory copy") << false;
        QTest::newRow("memory files refused") << true;
    }

    void theLoadedModuleHasANameOthersCanOpen()
    {
        QFETCH(bool, memoryRefused);
        const QString root = freshFolder(QStringLiteral("named"));
        const QString program = installHelper(root, stubModule("good"));
        QVERIFY(!program.isEmpty());
        Helper helper;
        QVERIFY(helper.start(program, root));
        if (memoryRefused)
            QCOMPARE(helper.ask(QStringLiteral("nomemexec")), QStringList {QStringLiteral("nomemexec set")});
        QCOMPARE(joined(heifLines(helper.ask(QStringLiteral("heif ") + program))), QStringLiteral("heif 4321x1"));
        const QStringList said = helper.ask(QStringLiteral("object"));
        QCOMPARE(said.size(), 1);
        QVERIFY2(said[0].startsWith(QLatin1String("object /")), qPrintable(said[0]));
        const QString name = said[0].mid(7);
        QVERIFY2(!name.startsWith(QLatin1String("/proc/self/")), qPrintable(name));
        QVERIFY2(name != root + QStringLiteral("/lib/lumengallery/lumengallery_heif.so"), "the module file itself was loaded");
        // Opened here, in another process, as gdb and perf open it.
        QCOMPARE(readAll(name), readAll(stubModule("good")));
        if (memoryRefused) {
            struct stat st = {};
            QCOMPARE(::stat(QFile::encodeName(QFileInfo(name).path()).constData(), &st), 0);
            QCOMPARE(int(st.st_mode & 0777), 0700);
        } else {
            QVERIFY2(name.startsWith(QStringLiteral("/proc/%1/fd/").arg(helper.process.processId())), qPrintable(name));
        }
    }

    // Where the system refuses to run code from memory files, modules run from
    // copies of their files, which the log says once; bytes written over the
    // module file after its check still never run, and a module that cannot
    // be loaded from its copy is refused, never loaded another way.
    void whereMemoryFilesMayNotRunOnlyWhatWasCheckedRuns()
    {
        const QString root = freshFolder(QStringLiteral("no-memory-exec"));
        const QString program = installHelper(root, stubModule("good"));
        QVERIFY(!program.isEmpty());
        const QString modules = root + QStringLiteral("/lib/lumengallery");
        const QString installed = modules + QStringLiteral("/lumengallery_heif.so");
        QVERIFY(copyFile(realModules + QStringLiteral("/lumengallery_raw.so"), modules + QStringLiteral("/lumengallery_raw.so")));
        Helper helper;
        QVERIFY(helper.start(program, root));
        QCOMPARE(helper.ask(QStringLiteral("nomemexec")), QStringList {QStringLiteral("nomemexec set")});
        QCOMPARE(helper.ask(QStringLiteral("swap ") + stubModule("foreign") + QLatin1Char('\t') + installed),
                 QStringList {QStringLiteral("swap set")});

        // The foreign stand-in answers 1234x5; the one checked 4321x1.
        const QStringList heif = helper.ask(QStringLiteral("heif ") + program);
        QCOMPARE(joined(heifLines(heif)), QStringLiteral("heif 4321x1"));
        QVERIFY(readAll(installed) == readAll(stubModule("foreign")));
        QStringList log = logLines(heif);
        QCOMPARE(log.size(), 1);
        QVERIFY2(log[0].contains(QLatin1String("does not run code from memory files: the codec modules run from copies "
                                               "of their files")),
                 qPrintable(log[0]));
        // Another module loads the same way, without a second word.
        QVERIFY(!m_dng.isEmpty());
        const QStringList raw = helper.ask(QStringLiteral("show ") + m_dng);
        QCOMPARE(joined(raw), QStringLiteral("show 60x40"));
        const QStringList maps = helper.ask(QStringLiteral("maps"));
        QVERIFY(!maps.isEmpty());
        for (const QString &line : maps)
            QVERIFY2(!line.contains(modules) && !line.contains(QLatin1String("/memfd:")), qPrintable(line));
    }

    // A module written over in place after its bytes were checked and before
    // they are loaded: what is loaded is what was checked.
    void aModuleWrittenOverBetweenItsCheckAndItsLoadIsLoadedAsChecked()
    {
        const QString root = freshFolder(QStringLiteral("swapped"));
        const QString program = installHelper(root, stubModule("good"));
        QVERIFY(!program.isEmpty());
        Helper helper;
        QVERIFY(helper.start(program, root));
        const QString installed = root + QStringLiteral("/lib/lumengallery/lumengallery_heif.so");
        QCOMPARE(helper.ask(QStringLiteral("swap ") + stubModule("foreign") + QLatin1Char('\t') + installed),
                 QStringList{QStringLiteral("swap set")});

        // The foreign stand-in answers 1234x5; this build's answers 4321x1.
        QCOMPARE(joined(heifLines(helper.ask(QStringLiteral("heif ") + program))), QStringLiteral("heif 4321x1"));
    }
};

LG_TEST(ModuleCopyTest)
#include "test_modulecopy.moc"
